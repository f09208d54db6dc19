// Signals, measurements and fixtures shared by the pitch-shift and time-stretch tests.
#pragma once
#include <cmath>
#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "convert/convert.h"
#include "effects/grain_kernels.h"
#include "support/signals.h"

namespace graintest {

using dsptest::kTwoPi;

// Power of x[from, from + n) at `hz` under a Hann window (Goertzel recurrence).
inline double goertzelPower(const std::vector<float>& x, size_t from, size_t n, double hz, double rate) {
    const double coeff = 2.0 * std::cos(kTwoPi * hz / rate);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(kTwoPi * double(i) / double(n - 1));
        const double s0 = w * x[from + i] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return s1 * s1 + s2 * s2 - coeff * s1 * s2;
}

// Frequency of the strongest component between lo and hi Hz: a 2 Hz scan refined to 0.1 Hz.
inline double dominantFrequency(const std::vector<float>& x, size_t from, size_t n, double rate, double lo,
                                double hi) {
    double best = lo, bestPower = -1;
    for (double hz = lo; hz <= hi; hz += 2.0) {
        const double p = goertzelPower(x, from, n, hz, rate);
        if (p > bestPower) bestPower = p, best = hz;
    }
    const double centre = best;
    for (double hz = centre - 2.0; hz <= centre + 2.0; hz += 0.1) {
        const double p = goertzelPower(x, from, n, hz, rate);
        if (p > bestPower) bestPower = p, best = hz;
    }
    return best;
}

// Runs a test once per processor level (0 portable ... 3 AVX-512) this machine has.
class GrainLoops : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        if (GetParam() > static_cast<int>(dsp::cpu::detected())) GTEST_SKIP() << "processor lacks this level";
    }
    const dsp::cpu::ForceLevel force{static_cast<dsp::cpu::Isa>(GetParam())};
};

// PCM through the bare conversions to float and back.
inline std::vector<int16_t> roundTrip(const std::vector<int16_t>& pcm, uint32_t channels) {
    const uint32_t frames = uint32_t(pcm.size() / channels);
    std::vector<float> l(frames), r(frames);
    std::vector<int16_t> out(pcm.size());
    dsp::pcmToFloat(pcm.data(), uint32_t(pcm.size() * 2), l.data(), r.data(), channels);
    dsp::floatToPcm(l.data(), r.data(), frames, out.data(), channels);
    return out;
}

}  // namespace graintest
