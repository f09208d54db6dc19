// dsptool effect `rate`: sample-rate conversion with the resampler effect.
#include <cmath>
#include <cstdlib>
#include <memory>
#include <numeric>

#include "arguments.h"
#include "registry.h"

namespace {

using dsptool::parseNumber;

struct RateSettings {
    uint32_t rate = 0;
    uint32_t interpolation = 1;  // cubic
    // 90 dB at the lower Nyquist frequency, the passband (0.1 dB ripple) to 0.8 of it: order 19
    // for the library's Chebyshev design, where 80 dB over 2 octaves (order 6) cut music above
    // a quarter of the lower Nyquist frequency.
    double stopbandDb = 90.0, slopeDbPerOctave = 90.0 / std::log2(1.25);
    bool filterOn = true;
};

// Output frames the converter gives for one block of `frames` input frames (truncated).
uint64_t converted(uint64_t frames, uint32_t from, uint32_t to) {
    return static_cast<uint64_t>(std::trunc(static_cast<double>(to) * static_cast<double>(frames) / from));
}

class RateTool : public dsptool::ToolEffect {
public:
    explicit RateTool(const RateSettings& s) : s_(s) {}

    dsp_effect* create(const dsptool::StreamFormat& in, std::string& error) override {
        from_ = in.rate;
        dsp_effect* e = initResampler(in.blockFrames, in.channels, in.channels, in.rate, s_.rate, s_.interpolation,
                                      float(s_.stopbandDb), float(s_.slopeDbPerOctave), s_.filterOn);
        if (e == nullptr) error = "rate: out of memory (or unsupported channel count)";
        return e;
    }

    dsptool::StreamFormat output(const dsptool::StreamFormat& in) const override {
        dsptool::StreamFormat out = in;
        from_ = in.rate;
        out.rate = s_.rate;
        out.blockFrames = static_cast<uint32_t>(converted(in.blockFrames, in.rate, s_.rate));
        // Each block converts on its own: full blocks, then the rest. With blocks of a multiple
        // of blockQuantum() frames nothing is lost and this is trunc(total x RATE / rate).
        if (in.blockFrames > 0)
            out.totalFrames = (in.totalFrames / in.blockFrames) * out.blockFrames +
                              converted(in.totalFrames % in.blockFrames, in.rate, s_.rate);
        return out;
    }

    // rate / gcd(rate, RATE) input frames convert to exactly RATE / gcd output frames.
    uint64_t blockQuantum(const dsptool::StreamFormat& in) const override {
        return in.rate == 0 ? 1 : in.rate / std::gcd(in.rate, s_.rate);
    }

    uint64_t maxOutputFrames(uint64_t inFrames) const override {
        return from_ != 0 ? converted(inFrames, from_, s_.rate) + 1 : inFrames;
    }

private:
    RateSettings s_;
    mutable uint32_t from_ = 0;  // input rate, learnt from output() or create()
};

std::unique_ptr<dsptool::ToolEffect> parseRate(const std::vector<std::string>& args, std::string& error) {
    RateSettings s;
    int numbers = 0;
    for (const std::string& a : args) {
        if (a == "linear") { s.interpolation = 0; continue; }
        if (a == "cubic") { s.interpolation = 1; continue; }
        if (a == "nofilter") { s.filterOn = false; continue; }
        double v;
        if (!(numbers == 0 ? dsptool::parseHertz(a, v) : parseNumber(a, v))) {
            error = "rate: unexpected argument '" + a + "'";
            return nullptr;
        }
        switch (numbers++) {
            case 0:
                if (v < 1000 || v > 768000 || v != std::floor(v)) {
                    error = "rate: RATE must be a whole number of Hz from 1000 to 768000 (or 48k...), got '" + a + "'";
                    return nullptr;
                }
                s.rate = static_cast<uint32_t>(v);
                break;
            case 1:
                if (v <= 0.2 || v > 200) {
                    error = "rate: STOPBAND_DB must be above 0.2 and at most 200 dB, got '" + a + "'";
                    return nullptr;
                }
                s.stopbandDb = v;
                break;
            case 2:
                if (v < 1 || v > 1000) {
                    error = "rate: SLOPE_DB_PER_OCTAVE must be from 1 to 1000, got '" + a + "'";
                    return nullptr;
                }
                s.slopeDbPerOctave = v;
                break;
            default:
                error = "rate: too many numbers";
                return nullptr;
        }
    }
    if (numbers == 0) {
        error = "rate: RATE (Hz) is required";
        return nullptr;
    }
    return std::make_unique<RateTool>(s);
}

const dsptool::Registration rate(dsptool::EffectInfo{
    "rate", "rate RATE [linear|cubic] [nofilter] [STOPBAND_DB [SLOPE_DB_PER_OCTAVE]]",
    "      Converts to RATE Hz (1000..768000; 48k = 48000). Interpolation: cubic convolution\n"
    "      (default) or linear. A Chebyshev lowpass (0.1 dB ripple) at the higher rate reaches\n"
    "      STOPBAND_DB (default 90) at half the lower rate; its passband ends\n"
    "      STOPBAND_DB / SLOPE_DB_PER_OCTAVE octaves below (default 279.6 dB/octave: the passband\n"
    "      reaches 0.8 of the lower Nyquist frequency; order 19). nofilter: interpolation only,\n"
    "      which leaves images (and aliases) of the band: about -40 dB for content at a twentieth\n"
    "      of the input rate, -27 dB at a quarter, towards 0 dB near its Nyquist frequency.\n"
    "      Cubic output lags by two input samples.",
    "48000 cubic",
    parseRate});

}  // namespace
