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
        error = dsptool::checkGrainTimes("stretch", in.rate, s_.grainMs, s_.hopMs);
        if (!error.empty()) return nullptr;
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

// AMOUNT: a bare number is the length factor, as other command-line tools take it (0.125..4,
// also "len=L"); "tempo=T" T times as fast (0.25..8); "scale=S" the library's own unit
// (-2000..3000, length 2^(-S/1000)).
bool parseAmount(const std::string& text, double& scale, std::string& error) {
    const size_t eq = text.find('=');
    const std::string key = eq == std::string::npos ? "len" : text.substr(0, eq);
    const std::string number = eq == std::string::npos ? text : text.substr(eq + 1);
    struct Form {
        const char* key;
        double low, high;
        const char* range;
    };
    static const Form forms[] = {{"len", 0.125, 4, "a length factor from 0.125 to 4"},
                                 {"tempo", 0.25, 8, "tempo=T from 0.25 to 8"},
                                 {"scale", -2000, 3000, "scale=S from -2000 to 3000"}};
    for (const Form& f : forms) {
        double v;
        if (key != f.key) continue;
        if (!parseNumber(number, v) || v < f.low || v > f.high) break;
        scale = key == "scale" ? v : key == "tempo" ? 1000.0 * std::log2(v) : -1000.0 * std::log2(v);
        return true;
    }
    error = "stretch: AMOUNT must be a length factor from 0.125 to 4 (or len=L), tempo=T from 0.25 to 8 or "
            "scale=S from -2000 to 3000, got '" + text + "'";
    return false;
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
    "      AMOUNT    one of: L, the output L times as long, 0.125..4 (2 = twice as long, 1 passes the\n"
    "                input untouched; also len=L); tempo=T, T times as fast, 0.25..8; scale=S, the\n"
    "                library's unit: the output 2^(-S/1000) times as long, S from -2000 to 3000\n"
    "      GRAIN_MS  grain time in ms; grains last 1.533 x this (default 50)\n"
    "      HOP_MS    output time between grain starts in ms, at most the grain length (default 10)\n"
    "      GAIN_DB   output level in dB (default 0)",
    "len=1.25", parseStretch});

}  // namespace
