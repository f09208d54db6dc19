// The exported FFT analysers: floors, sine levels, channel handling, history and buffer checks.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "dsp.h"

namespace {

const double kPi = std::acos(-1.0);

struct EffectDeleter {
    void operator()(dsp_effect* effect) const { termFft(effect); }
};
using Analyser = std::unique_ptr<dsp_effect, EffectDeleter>;

// Interleaved PCM from one generator per channel; 32767 is 1.0 after conversion.
template <class Left, class Right>
std::vector<int16_t> stereo(uint32_t frames, Left left, Right right) {
    std::vector<int16_t> pcm(2 * frames);
    for (uint32_t i = 0; i < frames; ++i) {
        pcm[2 * i] = int16_t(std::lround(left(i) * 32767.0));
        pcm[2 * i + 1] = int16_t(std::lround(right(i) * 32767.0));
    }
    return pcm;
}

std::vector<int16_t> sine(uint32_t frames, double cyclesPerSample) {
    std::vector<int16_t> pcm(frames);
    for (uint32_t i = 0; i < frames; ++i) pcm[i] = int16_t(std::lround(std::sin(2 * kPi * cyclesPerSample * i) * 32767.0));
    return pcm;
}

uint32_t peakBin(const float* spectrum, uint32_t bins) {
    uint32_t best = 1;
    for (uint32_t k = 1; k < bins; ++k)
        if (spectrum[k] > spectrum[best]) best = k;
    return best;
}

class FftAnalyserSine : public ::testing::TestWithParam<std::tuple<uint32_t, uint32_t>> {};

TEST_P(FftAnalyserSine, FullScaleSineOnABinReadsAQuarterOfTheSize) {
    const auto [n, k] = GetParam();
    Analyser block(initFft(n, 1, 1, 200));
    const std::vector<int16_t> pcm = sine(n, double(k) / n);
    std::vector<float> out(n / 2);
    ASSERT_EQ(doFft(block.get(), pcm.data(), out.data(), n * 2), n / 2);
    EXPECT_NEAR(out[k], 20 * std::log10(n / 4.0), 0.01) << "n=" << n << " bin " << k;
    EXPECT_EQ(peakBin(out.data(), n / 2), k);
}

INSTANTIATE_TEST_SUITE_P(SizesAndBins, FftAnalyserSine,
                         ::testing::Values(std::make_tuple(16u, 3u), std::make_tuple(16384u, 8000u)));

TEST(FftAnalyser, SilenceSitsOnTheFloorAndShortBlocksArePadded) {
    std::vector<int16_t> silence(2 * 256, 0);
    std::vector<float> floor(512, 0.0f);
    Analyser shortTime(initFftAnalyze(256, 2, 512, 1024));
    ASSERT_TRUE(doFftAnalyze(shortTime.get(), silence.data(), floor.data(), 256 * 4));
    for (uint32_t k = 0; k < 512; ++k) ASSERT_EQ(floor[k], -120.0f) << "value " << k;

    Analyser block(initFft(64, 1, 1, 96));
    const std::vector<int16_t> pcm = sine(64, 4.0 / 64);
    std::vector<float> out(32, 1.0f);
    ASSERT_EQ(doFft(block.get(), pcm.data(), out.data(), 0), 32u);
    for (float v : out) ASSERT_EQ(v, -96.0f);
    // Half a block: the second half is zeros, not what the previous call left in the buffers.
    std::vector<float> full(32), half(32);
    doFft(block.get(), pcm.data(), full.data(), 64 * 2);
    doFft(block.get(), pcm.data(), half.data(), 32 * 2);
    EXPECT_LT(half[4], full[4] - 3.0f);
    EXPECT_GT(half[4], full[4] - 9.0f);
}

TEST(FftAnalyser, MonoAnalysisOfStereoMixesTheChannels) {
    constexpr uint32_t n = 256;
    Analyser block(initFft(n, 2, 1, 96));
    std::vector<float> out(n, 5.0f);
    const auto x = [](uint32_t i) { return 0.5 * std::sin(2 * kPi * 20.0 * i / n); };
    const auto minusX = [&](uint32_t i) { return -x(i); };
    const std::vector<int16_t> cancelling = stereo(n, x, minusX);
    ASSERT_EQ(doFft(block.get(), cancelling.data(), out.data(), n * 4), n / 2);
    for (uint32_t k = 0; k < n / 2; ++k) ASSERT_EQ(out[k], -96.0f) << "value " << k;
    EXPECT_EQ(out[n / 2], 5.0f) << "only one spectrum is written";
}

TEST(FftAnalyser, StereoAnalysisWritesBothSpectra) {
    constexpr uint32_t n = 512;
    const std::vector<int16_t> pcm = stereo(
        n, [](uint32_t i) { return std::sin(2 * kPi * 5.0 * i / n); },
        [](uint32_t i) { return 0.25 * std::sin(2 * kPi * 90.0 * i / n); });
    std::vector<float> out(n);
    Analyser block(initFft(n, 2, 2, 120));
    ASSERT_EQ(doFft(block.get(), pcm.data(), out.data(), n * 4), n / 2) << "n/2 even for two spectra";
    EXPECT_EQ(peakBin(out.data(), n / 2), 5u);
    EXPECT_EQ(peakBin(out.data() + n / 2, n / 2), 90u);
    EXPECT_NEAR(out[n / 2 + 90], 20 * std::log10(0.25 * n / 4), 0.01);
}

TEST(FftAnalyser, NullBuffersAreRefusedAndEitherTermEndsEither) {
    std::vector<int16_t> pcm(64, 100);
    std::vector<float> out(64, 3.0f);
    Analyser block(initFft(32, 1, 1, 96));
    EXPECT_EQ(doFft(block.get(), nullptr, out.data(), 64), 0u);
    EXPECT_EQ(doFft(block.get(), pcm.data(), nullptr, 64), 0u);
    EXPECT_TRUE(termFftAnalyze(block.release())) << "either term function ends either analyser";
}

TEST(FftAnalyser, OversizedBlocksAreCutToTheConfiguredSize) {
    constexpr uint32_t n = 64;
    Analyser block(initFft(n, 1, 1, 96));
    Analyser shortTime(initFftAnalyze(16, 1, n, n));
    const std::vector<int16_t> pcm = sine(4 * n, 3.0 / n);
    std::vector<float> exact(n / 2), oversized(n / 2);
    doFft(block.get(), pcm.data(), exact.data(), n * 2);
    EXPECT_EQ(doFft(block.get(), pcm.data(), oversized.data(), n * 8), n / 2);
    EXPECT_EQ(exact, oversized);
    EXPECT_TRUE(doFftAnalyze(shortTime.get(), pcm.data(), oversized.data(), n * 8));
}

// A chain that reconfigures an analyser (other block sizes) must not make it read or write
// outside its buffers; the analysis keeps its own frame length and the chain yields no frames.
TEST(FftAnalyser, InAChainItYieldsNoFramesAndStaysInBounds) {
    for (const bool shortTime : {false, true}) {
        dsp_chain* chain = dspCreate(256, 1, 44100);
        dsp_effect* effect = shortTime ? initFftAnalyze(256, 1, 256, 512) : initFft(256, 1, 1, 96);
        ASSERT_EQ(dspAdd(chain, effect, 1), 1u);
        std::vector<int16_t> pcm(4096, 1000);
        std::vector<float> out(4096, 0.0f);
        EXPECT_EQ(dspSend(chain, pcm.data(), pcm.data(), 512), 0u);
        EXPECT_EQ(dspGetDstRate(chain), 44100u);
        for (uint32_t size : {128u, 200u, 64u, 1000u}) {
            dspAdjust(chain, size, 1, 44100);
            dsp_effect* handle = dspGetHandle(chain, 0);
            if (shortTime) {
                EXPECT_TRUE(doFftAnalyze(handle, pcm.data(), out.data(), size * 2)) << "size " << size;
            } else {
                EXPECT_EQ(doFft(handle, pcm.data(), out.data(), size * 2), 128u) << "size " << size;
            }
        }
        dspDestroy(chain);
    }
}

}  // namespace
