// dsptool effect `stretch`: granular time stretch, the pitch kept.
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "arguments.h"
#include "registry.h"

namespace {

using dsptool::parseNumber;

struct StretchSettings {
    double scale = 0, grainMs = 50, hopMs = 10, gainDb = 0;
};

// The library's length factor for a scale: 2^(-scale/1000) as a float, scale clamped.
double lengthFactor(double scale) {
    scale = std::min(3000.0, std::max(-2000.0, double(float(scale))));
    return double(float(std::pow(2.0, -scale * 0.001)));
}

class StretchTool : public dsptool::ToolEffect {
public:
    explicit StretchTool(const StretchSettings& s) : s_(s), factor_(lengthFactor(s.scale)) {}

    dsp_effect* create(const dsptool::StreamFormat& in, std::string& error) override {
        dsp_effect* e = initStretch(in.blockFrames, in.channels, in.rate, float(s_.scale), float(s_.gainDb),
                                    float(s_.grainMs * 0.001), float(s_.hopMs * 0.001));
        if (e == nullptr) error = "stretch: out of memory";
        return e;
    }

    // The chain configures what follows for 4x the block (the longest any scale gives).
    dsptool::StreamFormat output(const dsptool::StreamFormat& in) const override {
        dsptool::StreamFormat out = in;
        out.blockFrames = in.blockFrames * 4;
        out.totalFrames = s_.scale == 0 ? in.totalFrames : uint64_t(double(in.totalFrames) * factor_);
        return out;
    }

    // The scale never changes while dsptool streams, so the one-chunk lag after a scale change
    // never applies: each block gives at most trunc(frames x f) frames (chunks truncate apart).
    uint64_t maxOutputFrames(uint64_t inFrames) const override {
        return s_.scale == 0 ? inFrames : uint64_t(double(inFrames) * factor_);
    }

private:
    StretchSettings s_;
    double factor_;
};

// AMOUNT: a scale (-2000..3000), "len=L" (output L times as long, 0.125..4) or "tempo=T"
// (T times as fast, 0.25..8).
bool parseAmount(const std::string& text, double& scale, std::string& error) {
    double v;
    if (text.rfind("len=", 0) == 0 || text.rfind("tempo=", 0) == 0) {
        const bool tempo = text[0] == 't';
        if (!parseNumber(text.substr(tempo ? 6 : 4), v) || v < (tempo ? 0.25 : 0.125) || v > (tempo ? 8 : 4)) {
            error = std::string("stretch: ") + (tempo ? "tempo must be from 0.25 to 8" : "len must be from 0.125 to 4") +
                    ", got '" + text + "'";
            return false;
        }
        scale = tempo ? 1000.0 * std::log2(v) : -1000.0 * std::log2(v);
        return true;
    }
    if (!parseNumber(text, v) || v < -2000 || v > 3000) {
        error = "stretch: AMOUNT must be a scale from -2000 to 3000, len=L or tempo=T, got '" + text + "'";
        return false;
    }
    scale = v;
    return true;
}

std::unique_ptr<dsptool::ToolEffect> parseStretch(const std::vector<std::string>& args, std::string& error) {
    StretchSettings s;
    if (args.empty()) {
        error = "stretch: AMOUNT is required";
        return nullptr;
    }
    if (!parseAmount(args[0], s.scale, error)) return nullptr;
    const dsptool::NumberField fields[] = {
        {"GRAIN_MS", &s.grainMs, 0.1, 10000, "a grain length in ms from 0.1 to 10000"},
        {"HOP_MS", &s.hopMs, 0.1, 10000, "a hop in ms from 0.1 to 10000"},
        {"GAIN_DB", &s.gainDb, -120, 40, "a level in dB from -120 to 40"},
    };
    if (!dsptool::parseFields("stretch", args, 1, fields, error)) return nullptr;
    return std::make_unique<StretchTool>(s);
}

const dsptool::Registration stretch(dsptool::EffectInfo{
    "stretch", "stretch AMOUNT [GRAIN_MS [HOP_MS [GAIN_DB]]]",
    "      Time stretch keeping the pitch: windowed grains copy the input at the output's own pace.\n"
    "      AMOUNT    one of: a scale S from -2000 to 3000, the output lasting 2^(-S/1000) times the input\n"
    "                (1000 = half as long, -1000 = twice as long, 0 passes the input untouched);\n"
    "                len=L   the output L times as long, 0.125..4 (len=2 is S = -1000);\n"
    "                tempo=T T times as fast, 0.25..8 (tempo=2 is S = 1000)\n"
    "      GRAIN_MS  grain time in ms; grains last 1.533 x this (default 50)\n"
    "      HOP_MS    output time between grain starts in ms; above the grain length gives silence (default 10)\n"
    "      GAIN_DB   output level in dB (default 0)",
    "len=1.25", parseStretch});

}  // namespace
