// dsptool effect `hqups`: converts to 48000 Hz and adds harmonics above the source's band.
#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <numeric>

#include "arguments.h"
#include "registry.h"

namespace {

constexpr uint32_t kOutputRate = 48000;
// Converter settings: cubic interpolation and a lowpass reaching 80 dB at the source's
// Nyquist frequency a third of an octave above its passband edge.
constexpr uint32_t kInterpolation = 1;
constexpr float kStopbandDb = 80.0f;
constexpr float kSlopeDbPerOctave = 240.0f;

// Output frames for `frames` input frames at `rate` Hz in one block, as the converter counts.
uint64_t convertedFrames(uint64_t frames, uint32_t rate) {
    return rate == 0 ? 0 : static_cast<uint64_t>(static_cast<double>(kOutputRate) * frames / rate);
}

class HqupsToolEffect : public dsptool::ToolEffect {
public:
    HqupsToolEffect(double harmonics, double mix, double cutoff, int active)
        : harmonics_(harmonics), mix_(mix), cutoff_(cutoff), active_(active) {}

    dsp_effect* create(const dsptool::StreamFormat& in, std::string& error) override {
        rate_ = in.rate;
        // By default a quarter of the lower of the two rates: below 24000 Hz for every input.
        const double cutoff = cutoff_ > 0.0 ? cutoff_ : std::min(in.rate, kOutputRate) / 4.0;
        if (cutoff >= kOutputRate / 2.0) {
            error = "hqups: CUTOFF_HZ must be below 24000";
            return nullptr;
        }
        if (active_ == 1 && convertedFrames(in.blockFrames, in.rate) < 110) {
            error = "hqups: active mode needs blocks of at least 110 frames at 48000 Hz";
            return nullptr;
        }
        dsp_effect* e = initHqupsBySrcsize(in.blockFrames, in.channels, in.channels, in.rate,
                                           static_cast<float>(harmonics_), static_cast<float>(mix_),
                                           static_cast<uint32_t>(cutoff), kInterpolation, kStopbandDb,
                                           kSlopeDbPerOctave, static_cast<uint32_t>(active_), true);
        if (e == nullptr) error = "out of memory";
        return e;
    }

    // Every block converts on its own (its output length truncated): full blocks, then the rest.
    dsptool::StreamFormat output(const dsptool::StreamFormat& in) const override {
        rate_ = in.rate;
        dsptool::StreamFormat out = in;
        out.rate = kOutputRate;
        out.blockFrames = static_cast<uint32_t>(convertedFrames(in.blockFrames, in.rate));
        if (in.blockFrames > 0)
            out.totalFrames = (in.totalFrames / in.blockFrames) * out.blockFrames +
                              convertedFrames(in.totalFrames % in.blockFrames, in.rate);
        return out;
    }

    // rate / gcd(rate, 48000) input frames convert to a whole number of output frames.
    uint64_t blockQuantum(const dsptool::StreamFormat& in) const override {
        return in.rate == 0 ? 1 : in.rate / std::gcd(in.rate, kOutputRate);
    }

    // Rounding up covers any split into blocks; before the rate is known, assume 8000 Hz.
    uint64_t maxOutputFrames(uint64_t inFrames) const override {
        const uint32_t rate = rate_ != 0 ? std::min<uint32_t>(rate_, kOutputRate) : 8000;
        return (inFrames * kOutputRate + rate - 1) / rate + 1;
    }

private:
    double harmonics_;
    double mix_;
    double cutoff_;  // 0: a quarter of the input rate, at most 12000 Hz
    int active_;
    mutable uint32_t rate_ = 0;
};

std::unique_ptr<dsptool::ToolEffect> parseHqups(const std::vector<std::string>& args, std::string& error) {
    double harmonics = 0.3, mix = 50.0, cutoff = 0.0, active = 0.0;
    const dsptool::NumberField fields[] = {
        {"HARMONICS", &harmonics, -1.0, 1.0, "a number from -1 to 1"},
        {"MIX", &mix, 0.0, 1000.0, "a percentage from 0 to 1000"},
        {"CUTOFF_HZ", &cutoff, std::numeric_limits<double>::denorm_min(), std::nextafter(24000.0, 0.0),
         "a number of Hz from 0 to 24000 (k for kHz)", false, true},
        {"ACTIVE", &active, 0.0, 1.0, "0 or 1", true},
    };
    if (!dsptool::parseFields("hqups", args, 0, fields, error)) return nullptr;
    return std::make_unique<HqupsToolEffect>(harmonics, mix, cutoff, static_cast<int>(active));
}

const dsptool::Registration hqups(dsptool::EffectInfo{
    "hqups", "hqups [HARMONICS [MIX [CUTOFF_HZ [ACTIVE]]]]",
    "      Converts to 48000 Hz (cubic, 80 dB lowpass at the source's Nyquist frequency) and adds\n"
    "      harmonics of the top of the band above the source's band limit.\n"
    "      HARMONICS  bend of the transfer curve, -1..1; 0 adds nothing (default 0.3)\n"
    "      MIX        level of the harmonics in percent, 0..1000 (default 50)\n"
    "      CUTOFF_HZ  highpass before the curve, below 24000 (default a quarter of the input rate, at most 12000)\n"
    "      ACTIVE     1: harmonics only above the band edge measured on the spectrum (blocks of\n"
    "                 at least 110 output frames); 0: everywhere above CUTOFF_HZ (default 0)",
    "0.3 50",
    parseHqups});

}  // namespace
