// dsptool effect `chorus`: voices swept around a base delay by one sine oscillator.
#include <cmath>
#include <cstdlib>
#include <memory>

#include "arguments.h"
#include "registry.h"

namespace {

constexpr int kMaxVoices = 64;
constexpr double kLineSamples = 65536;  // taps further back than this wrap around

struct ChorusSettings {
    double voices = 3, delayMs = 20, depthMs = 3, speedS = 2, mixPct = 30, dryPct = 70;
};

class ChorusTool : public dsptool::ToolEffect {
public:
    explicit ChorusTool(const ChorusSettings& s) : s_(s) {}

    dsp_effect* create(const dsptool::StreamFormat& in, std::string& error) override {
        if ((s_.delayMs + s_.depthMs) * 0.001 * in.rate >= kLineSamples) {
            error = "chorus: DELAY_MS + DEPTH_MS must stay below " + std::to_string(kLineSamples * 1000 / in.rate) +
                    " ms at " + std::to_string(in.rate) + " Hz";
            return nullptr;
        }
        dsp_effect* e = initChorus(in.blockFrames, in.channels, in.rate, static_cast<uint32_t>(s_.voices),
                                   float(s_.delayMs), float(s_.depthMs), float(s_.speedS), float(s_.mixPct),
                                   float(s_.dryPct));
        if (e == nullptr) error = "chorus: out of memory";
        return e;
    }

private:
    ChorusSettings s_;
};

std::unique_ptr<dsptool::ToolEffect> parseChorus(const std::vector<std::string>& args, std::string& error) {
    ChorusSettings s;
    const dsptool::NumberField fields[] = {
        {"VOICES", &s.voices, 0, kMaxVoices, "an integer from 0 to 64", true},
        {"DELAY_MS", &s.delayMs, 0, 1e6, "a number of milliseconds >= 0"},
        {"DEPTH_MS", &s.depthMs, 0, 1e6, "a number of milliseconds >= 0"},
        {"SPEED_S", &s.speedS, 0, 1e6, "a number of seconds >= 0"},
        {"MIX_PCT", &s.mixPct, -1000, 1000, "a percentage from -1000 to 1000"},
        {"DRY_PCT", &s.dryPct, -1000, 1000, "a percentage from -1000 to 1000"},
    };
    if (!dsptool::parseFields("chorus", args, 0, fields, error)) return nullptr;
    if (s.depthMs > s.delayMs) {
        error = "chorus: DEPTH_MS must not exceed DELAY_MS (the sweep would reach before the present)";
        return nullptr;
    }
    return std::make_unique<ChorusTool>(s);
}

const dsptool::Registration chorus(dsptool::EffectInfo{
    "chorus", "chorus [VOICES [DELAY_MS [DEPTH_MS [SPEED_S [MIX_PCT [DRY_PCT]]]]]]",
    "      Chorus: voices read from a delay line, swept by one sine oscillator at evenly spaced phases.\n"
    "      VOICES    number of voices 0..64 (default 3)\n"
    "      DELAY_MS  base delay in ms (default 20)\n"
    "      DEPTH_MS  sweep amplitude in ms, at most DELAY_MS (default 3)\n"
    "      SPEED_S   sweep period in seconds, 0 holds each voice at a fixed delay (default 2)\n"
    "      MIX_PCT   level of each voice in percent; the voices add up (default 30)\n"
    "      DRY_PCT   level of the dry signal in percent (default 70)",
    "3 20 3 2 30 70", parseChorus});

}  // namespace
