#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kBlock = 512;

// Step response of the 33 Hz second-order Butterworth lowpass (bilinear transform with
// prewarping), evaluated in double from the textbook closed form.
std::vector<double> butterworthStep(double amplitude, size_t frames) {
    const double k = std::tan(M_PI * 33.0 / kRate);
    const double norm = 1.0 / (1.0 + std::sqrt(2.0) * k + k * k);
    const double b0 = k * k * norm, b1 = 2.0 * b0, b2 = b0;
    const double a1 = 2.0 * (k * k - 1.0) * norm, a2 = (1.0 - std::sqrt(2.0) * k + k * k) * norm;
    std::vector<double> y(frames);
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    for (size_t n = 0; n < frames; ++n) {
        const double x = amplitude;
        y[n] = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1;
        x1 = x;
        y2 = y1;
        y1 = y[n];
    }
    return y;
}

std::vector<float> envelopeOf(const std::vector<int16_t>& pcm, uint32_t channels, uint32_t block) {
    dsp_effect* handle = initEnvAnalyze(block, channels, kRate);
    EXPECT_NE(handle, nullptr);
    const size_t frames = pcm.size() / channels;
    std::vector<float> left, right;
    std::vector<float> out(2 * block);
    for (size_t at = 0; at < frames; at += block) {
        const uint32_t n = uint32_t(std::min<size_t>(block, frames - at));
        EXPECT_TRUE(doEnvAnalyze(handle, &pcm[at * channels], out.data(), n * 2 * channels));
        left.insert(left.end(), out.begin(), out.begin() + n);
        if (channels == 2) right.insert(right.end(), out.begin() + n, out.begin() + 2 * n);
    }
    termEnvAnalyze(handle);
    if (channels == 2) left.insert(left.end(), right.begin(), right.end());
    return left;
}

}  // namespace

// Either sign rises to the same level: the follower rectifies both halves of the wave.
TEST(Envelope, StepFollowsTheButterworthResponseAcrossBlocks) {
    for (int16_t v : {int16_t(10000), int16_t(-10000), int16_t(32767)}) {
        const size_t frames = kRate / 2;
        const std::vector<int16_t> pcm(frames, v);
        // Odd block sizes put block edges in the middle of the rise.
        const std::vector<float> env = envelopeOf(pcm, 1, 333);
        const double target = 2.5 * std::abs(v);
        const std::vector<double> expected = butterworthStep(target, frames);
        double peak = 0;
        for (size_t n = 0; n < frames; ++n) {
            ASSERT_NEAR(env[n], std::trunc(expected[n]), 1.0) << "v=" << v << " frame " << n;
            ASSERT_EQ(env[n], std::trunc(env[n]));
            peak = std::max(peak, double(env[n]));
        }
        EXPECT_GT(peak, target * 1.03) << "second-order Butterworth overshoots by about 4 %";
        EXPECT_NEAR(env[frames - 1], std::trunc(target), 1.0);
    }
}

TEST(Envelope, StereoChannelsAreIndependentAndLeftComesFirst) {
    const size_t frames = 3000;
    std::vector<int16_t> stereo(2 * frames), left(frames), right(frames);
    for (size_t i = 0; i < frames; ++i) {
        left[i] = stereo[2 * i] = int16_t(i % 200 * 100);
        right[i] = stereo[2 * i + 1] = int16_t(-5000);
    }
    const std::vector<float> both = envelopeOf(stereo, 2, kBlock);
    std::vector<float> expected = envelopeOf(left, 1, kBlock);
    const std::vector<float> r = envelopeOf(right, 1, kBlock);
    expected.insert(expected.end(), r.begin(), r.end());
    EXPECT_EQ(both, expected);
}

TEST(Envelope, NullOutputStillAdvancesTheState) {
    const std::vector<int16_t> pcm(2 * kBlock, 12000);
    dsp_effect* skipping = initEnvAnalyze(kBlock, 1, kRate);
    dsp_effect* writing = initEnvAnalyze(kBlock, 1, kRate);
    std::vector<float> a(kBlock, -1.0f), b(kBlock);
    EXPECT_TRUE(doEnvAnalyze(skipping, pcm.data(), nullptr, kBlock * 2));
    EXPECT_TRUE(doEnvAnalyze(writing, pcm.data(), b.data(), kBlock * 2));
    EXPECT_TRUE(doEnvAnalyze(skipping, pcm.data() + kBlock, a.data(), kBlock * 2 + 1));  // partial frame ignored
    EXPECT_TRUE(doEnvAnalyze(writing, pcm.data() + kBlock, b.data(), kBlock * 2));
    EXPECT_EQ(a, b);
    termEnvAnalyze(skipping);
    termEnvAnalyze(writing);
}

TEST(Envelope, RefusesSpectrumAnalysers) {
    int16_t pcm[8] = {};
    float out[8] = {};
    // A spectrum analyser shares the kind but has no envelope engines: nothing is written.
    dsp_effect* spectrum = initFft(64, 1, 1, 96);
    out[0] = 123.0f;
    EXPECT_FALSE(doEnvAnalyze(spectrum, pcm, out, 8));
    EXPECT_EQ(out[0], 123.0f);
    EXPECT_TRUE(termEnvAnalyze(spectrum));  // the same operation as termFft
}
