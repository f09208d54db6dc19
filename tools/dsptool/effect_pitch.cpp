// dsptool effect `pitch`: granular pitch shift by up to an octave either way, same length.
#include <cmath>
#include <cstdlib>
#include <memory>

#include "arguments.h"
#include "registry.h"

namespace {

struct PitchSettings {
    double cents = 0, grainMs = 50, hopMs = 10, gainDb = 0;
};

class PitchTool : public dsptool::ToolEffect {
public:
    explicit PitchTool(const PitchSettings& s) : s_(s) {}

    dsp_effect* create(const dsptool::StreamFormat& in, std::string& error) override {
        error = dsptool::checkGrainTimes("pitch", in.rate, s_.grainMs, s_.hopMs);
        if (!error.empty()) return nullptr;
        dsp_effect* e = initPitchShift(in.blockFrames, in.channels, in.rate, float(s_.cents), float(s_.gainDb),
                                       float(s_.grainMs * 0.001), float(s_.hopMs * 0.001));
        if (e == nullptr) error = "pitch: out of memory";
        return e;
    }

private:
    PitchSettings s_;
};

std::unique_ptr<dsptool::ToolEffect> parsePitch(const std::vector<std::string>& args, std::string& error) {
    PitchSettings s;
    const dsptool::NumberField fields[] = {
        {"CENTS", &s.cents, -1200, 1200, "a number of cents from -1200 to 1200"},
        {"GRAIN_MS", &s.grainMs, 0.1, 10000, "a grain length in ms from 0.1 to 10000"},
        {"HOP_MS", &s.hopMs, 0.1, 10000, "a hop in ms from 0.1 to 10000"},
        {"GAIN_DB", &s.gainDb, -120, 40, "a level in dB from -120 to 40"},
    };
    if (args.empty()) {
        error = "pitch: CENTS is required";
        return nullptr;
    }
    if (!dsptool::parseFields("pitch", args, 0, fields, error)) return nullptr;
    return std::make_unique<PitchTool>(s);
}

const dsptool::Registration pitch(dsptool::EffectInfo{
    "pitch", "pitch CENTS [GRAIN_MS [HOP_MS [GAIN_DB]]]",
    "      Pitch shift without changing the length: overlapping windowed grains read at the pitch ratio.\n"
    "      CENTS     shift in cents, -1200..1200 (1200 = one octave up); 0 passes the input untouched\n"
    "      GRAIN_MS  grain time in ms; grains last 1.533 x this (default 50)\n"
    "      HOP_MS    time between grain starts in ms, at most the grain length (default 10)\n"
    "      GAIN_DB   output level in dB (default 0)",
    "300", parsePitch});

}  // namespace
