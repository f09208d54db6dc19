// The exported analysers: the envelope follower against the closed-form Butterworth step
// response, the FFT analysers' floors, sine levels, channel handling and buffer checks, and the
// wave slicer's onsets, ends and queries.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <vector>

#include "dsp.h"

namespace {

// Stereo frames: left and right samples alternating.
std::vector<int16_t> interleave(const std::vector<int16_t>& left, const std::vector<int16_t>& right) {
    std::vector<int16_t> pcm(2 * left.size());
    for (size_t i = 0; i < left.size(); ++i) {
        pcm[2 * i] = left[i];
        pcm[2 * i + 1] = right[i];
    }
    return pcm;
}

constexpr uint32_t kEnvelopeRate = 44100;

// Step response of the 33 Hz second-order Butterworth lowpass (bilinear transform with
// prewarping), evaluated in double from the textbook closed form.
std::vector<double> butterworthStep(double amplitude, size_t frames) {
    const double k = std::tan(M_PI * 33.0 / kEnvelopeRate);
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

// The left envelope, then the right one for stereo input.
std::vector<float> envelopeOf(const std::vector<int16_t>& pcm, uint32_t channels, uint32_t block) {
    dsp_effect* handle = initEnvAnalyze(block, channels, kEnvelopeRate);
    const size_t frames = pcm.size() / channels;
    std::vector<float> left, right, out(2 * block);
    for (size_t at = 0; at < frames; at += block) {
        const uint32_t n = uint32_t(std::min<size_t>(block, frames - at));
        EXPECT_TRUE(doEnvAnalyze(handle, &pcm[at * channels], out.data(), n * 2 * channels));
        left.insert(left.end(), out.begin(), out.begin() + n);
        if (channels == 2) right.insert(right.end(), out.begin() + n, out.begin() + 2 * n);
    }
    termEnvAnalyze(handle);
    left.insert(left.end(), right.begin(), right.end());
    return left;
}

// Either sign rises to the same level: the follower rectifies both halves of the wave.
TEST(Envelope, StepFollowsTheButterworthResponseAcrossBlocks) {
    for (int16_t v : {int16_t(10000), int16_t(-10000), int16_t(32767)}) {
        const size_t frames = kEnvelopeRate / 2;
        // Odd block sizes put block edges in the middle of the rise.
        const std::vector<float> env = envelopeOf(std::vector<int16_t>(frames, v), 1, 333);
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

// Stereo channels are independent, left first; a null output still advances the state.
TEST(Envelope, StereoChannelsAreIndependentAndANullOutputStillAdvances) {
    std::vector<int16_t> left(3000), right(3000, int16_t(-5000));
    for (size_t i = 0; i < left.size(); ++i) left[i] = int16_t(i % 200 * 100);
    std::vector<float> expected = envelopeOf(left, 1, 512);
    const std::vector<float> r = envelopeOf(right, 1, 512);
    expected.insert(expected.end(), r.begin(), r.end());
    EXPECT_EQ(envelopeOf(interleave(left, right), 2, 512), expected);
    dsp_effect* skipping = initEnvAnalyze(512, 1, kEnvelopeRate);
    std::vector<float> out(512, -1.0f);
    EXPECT_TRUE(doEnvAnalyze(skipping, left.data(), nullptr, 1024));
    EXPECT_TRUE(doEnvAnalyze(skipping, left.data() + 512, out.data(), 1025));  // partial frame ignored
    EXPECT_EQ(out, std::vector<float>(expected.begin() + 512, expected.begin() + 1024));
    termEnvAnalyze(skipping);
}

struct EffectDeleter {
    void operator()(dsp_effect* effect) const { termFft(effect); }
};
using Analyser = std::unique_ptr<dsp_effect, EffectDeleter>;

// round(amplitude * sin(2 pi cycles i / frames) * 32767): 1.0 is full scale.
std::vector<int16_t> sinePcm(uint32_t frames, double cycles, double amplitude = 1.0) {
    std::vector<int16_t> pcm(frames);
    for (uint32_t i = 0; i < frames; ++i)
        pcm[i] = int16_t(std::lround(amplitude * std::sin(2 * M_PI * cycles * i / frames) * 32767.0));
    return pcm;
}

uint32_t peakBin(const float* spectrum, uint32_t bins) {
    uint32_t best = 1;
    for (uint32_t k = 1; k < bins; ++k)
        if (spectrum[k] > spectrum[best]) best = k;
    return best;
}

TEST(FftAnalyser, FullScaleSineOnABinReadsAQuarterOfTheSize) {
    for (auto [n, k] : {std::pair{16u, 3u}, {16384u, 8000u}}) {
        Analyser block(initFft(n, 1, 1, 200));
        const std::vector<int16_t> pcm = sinePcm(n, k);
        std::vector<float> out(n / 2);
        ASSERT_EQ(doFft(block.get(), pcm.data(), out.data(), n * 2), n / 2);
        EXPECT_NEAR(out[k], 20 * std::log10(n / 4.0), 0.01) << "n=" << n << " bin " << k;
        EXPECT_EQ(peakBin(out.data(), n / 2), k);
    }
}

// Silence sits on the floor, short blocks are zero-padded, oversized ones cut to the configured
// size, null buffers refused. The analysers share one kind: any of their term calls ends any.
TEST(FftAnalyser, SilenceSitsOnTheFloorShortBlocksArePaddedAndOversizedOnesCut) {
    std::vector<int16_t> silence(2 * 256, 0);
    std::vector<float> floor(512, 0.0f);
    Analyser shortTime(initFftAnalyze(256, 2, 512, 1024));
    ASSERT_TRUE(doFftAnalyze(shortTime.get(), silence.data(), floor.data(), 256 * 4));
    for (uint32_t k = 0; k < 512; ++k) ASSERT_EQ(floor[k], -120.0f) << "value " << k;

    dsp_effect* block = initFft(64, 1, 1, 96);
    const std::vector<int16_t> pcm = sinePcm(4 * 64, 16);
    std::vector<float> out(32, 1.0f);
    ASSERT_EQ(doFft(block, pcm.data(), out.data(), 0), 32u);
    for (float v : out) ASSERT_EQ(v, -96.0f);
    // Half a block: the second half is zeros, not what the previous call left in the buffers.
    std::vector<float> full(32), half(32);
    doFft(block, pcm.data(), full.data(), 64 * 2);
    doFft(block, pcm.data(), half.data(), 32 * 2);
    EXPECT_LT(half[4], full[4] - 3.0f);
    EXPECT_GT(half[4], full[4] - 9.0f);
    EXPECT_EQ(doFft(block, pcm.data(), out.data(), 64 * 8), 32u);
    EXPECT_EQ(out, full);
    EXPECT_TRUE(doFftAnalyze(Analyser(initFftAnalyze(16, 1, 64, 64)).get(), pcm.data(), out.data(), 64 * 8));
    EXPECT_EQ(doFft(block, nullptr, out.data(), 64 * 2), 0u);
    EXPECT_EQ(doFft(block, pcm.data(), nullptr, 64 * 2), 0u);
    EXPECT_TRUE(termFftAnalyze(block));
    EXPECT_TRUE(termEnvAnalyze(initFft(64, 1, 1, 96)));
    EXPECT_TRUE(termFft(initEnvAnalyze(64, 1, 44100)));
}

// Stereo input analysed as mono is the mix (here cancelling); analysed as stereo it gives both
// spectra, left first.
TEST(FftAnalyser, MonoAnalysisOfStereoMixesTheChannelsAndStereoWritesBoth) {
    constexpr uint32_t n = 512;
    Analyser mono(initFft(n, 2, 1, 96)), stereo(initFft(n, 2, 2, 120));
    std::vector<float> out(n, 5.0f);
    const std::vector<int16_t> cancelling = interleave(sinePcm(n, 20, 0.5), sinePcm(n, 20, -0.5));
    ASSERT_EQ(doFft(mono.get(), cancelling.data(), out.data(), n * 4), n / 2);
    for (uint32_t k = 0; k < n / 2; ++k) ASSERT_EQ(out[k], -96.0f) << "value " << k;
    EXPECT_EQ(out[n / 2], 5.0f) << "only one spectrum is written";
    const std::vector<int16_t> pcm = interleave(sinePcm(n, 5), sinePcm(n, 90, 0.25));
    ASSERT_EQ(doFft(stereo.get(), pcm.data(), out.data(), n * 4), n / 2) << "n/2 even for two spectra";
    EXPECT_EQ(peakBin(out.data(), n / 2), 5u);
    EXPECT_EQ(peakBin(out.data() + n / 2, n / 2), 90u);
    EXPECT_NEAR(out[n / 2 + 90], 20 * std::log10(0.25 * n / 4), 0.01);
}

// A chain that reconfigures an analyser (other block sizes) must not make it read or write
// outside its buffers; the analysis keeps its own frame length and the chain yields no frames.
TEST(FftAnalyser, InAChainItYieldsNoFramesAndStaysInBounds) {
    for (const bool shortTime : {false, true}) {
        dsp_chain* chain = dspCreate(256, 1, 44100);
        ASSERT_EQ(dspAdd(chain, shortTime ? initFftAnalyze(256, 1, 256, 512) : initFft(256, 1, 1, 96), 1), 1u);
        std::vector<int16_t> pcm(4096, 1000);
        std::vector<float> out(4096, 0.0f);
        EXPECT_EQ(dspSend(chain, pcm.data(), pcm.data(), 512), 0u);
        EXPECT_EQ(dspGetDstRate(chain), 44100u);
        for (uint32_t size : {128u, 200u, 64u, 1000u}) {
            dspAdjust(chain, size, 1, 44100);
            dsp_effect* handle = dspGetHandle(chain, 0);
            const bool analysed = shortTime ? doFftAnalyze(handle, pcm.data(), out.data(), size * 2)
                                            : doFft(handle, pcm.data(), out.data(), size * 2) == 128u;
            EXPECT_TRUE(analysed) << "size " << size;
        }
        dspDestroy(chain);
    }
}

constexpr uint32_t kSliceRate = 48000;

// A new slicer with the default levels (onsets above -30 dB rising by 20 %, slices end below
// -40 dB, at least minLengthSec long), fed pcm in blocks of 1024 frames.
dsp_effect* sliced(const std::vector<int16_t>& pcm, uint32_t channels = 1, float minLengthSec = 0.05f) {
    dsp_effect* handle = initWaveSlice(1024, channels, kSliceRate, -30.0f, -40.0f, 20.0f, minLengthSec);
    for (size_t at = 0; at < pcm.size(); at += 1024 * channels)
        EXPECT_TRUE(doWaveSlice(handle, &pcm[at], uint32_t(std::min<size_t>(1024 * channels, pcm.size() - at) * 2)));
    return handle;
}

// The slicer's records, after which it is ended.
std::vector<DspSliceRecord> slicesOf(dsp_effect* handle) {
    std::vector<DspSliceRecord> out;
    for (const DspSliceRecord* r = getWaveSlice(handle, 0); r != nullptr; r = r->next) out.push_back(*r);
    termWaveSlice(handle);
    return out;
}

// Mono signal: silence, then a 6 kHz tone for each {start, end, amplitude}, times in seconds.
std::vector<int16_t> bursts(double seconds, const std::vector<std::array<double, 3>>& spans) {
    std::vector<int16_t> pcm(size_t(seconds * kSliceRate), 0);
    for (auto [start, end, amplitude] : spans)
        for (size_t i = size_t(start * kSliceRate); i < size_t(end * kSliceRate) && i < pcm.size(); ++i)
            pcm[i] = int16_t(std::lround(amplitude * 32767.0 * std::sin(2.0 * M_PI * 6000.0 * i / kSliceRate)));
    return pcm;
}

// Stereo is judged on the mono mix: the same burst on both channels slices as in mono, and
// opposite channels cancel into silence.
TEST(WaveSlice, IsolatedBurstGivesOneSliceFromTheValleyToTheFall) {
    const auto mono = bursts(1.5, {{0.5, 0.8, 0.5}});
    for (const auto& slices : {slicesOf(sliced(mono)), slicesOf(sliced(interleave(mono, mono), 2))}) {
        ASSERT_EQ(slices.size(), 1u);
        // The valley is the last silent frame before the envelope rises.
        EXPECT_NEAR(slices[0].startTime, 0.5, 2.0 / kSliceRate);
        // The end is the first frame below -40 dB: after the burst, within the 33 Hz lowpass's decay.
        EXPECT_GT(slices[0].endTime, 0.8);
        EXPECT_LT(slices[0].endTime, 0.9);
    }
    dsp_effect* opposite = sliced(interleave(mono, bursts(1.5, {{0.5, 0.8, -0.5}})), 2);
    EXPECT_EQ(getWaveSlice(opposite, 5), nullptr);
    EXPECT_TRUE(slicesOf(opposite).empty());
}

TEST(WaveSlice, SecondOnsetSplitsAtTheValleyBetween) {
    // A quiet tone between the bursts keeps the envelope above the off level.
    const auto slices = slicesOf(sliced(bursts(2.0, {{0.3, 0.6, 0.5}, {0.6, 1.0, 0.05}, {1.0, 1.3, 0.5}})));
    ASSERT_EQ(slices.size(), 2u);
    EXPECT_NEAR(slices[0].startTime, 0.3, 2.0 / kSliceRate);
    EXPECT_FLOAT_EQ(slices[0].endTime, slices[1].startTime);
    EXPECT_GT(slices[1].startTime, 0.6);
    EXPECT_LE(slices[1].startTime, 1.0 + 0.001);  // the envelope lags the signal slightly
    EXPECT_GT(slices[1].endTime, 1.3);
}

TEST(WaveSlice, EndSoonerThanTheMinimumLengthDoesNotCloseTheSlice) {
    const auto slices = slicesOf(sliced(bursts(1.0, {{0.2, 0.25, 0.5}}), 1, 0.5f));
    // The fall came too early: the slice ends at the first quiet frame more than the minimum
    // length (24000 frames) after its start.
    ASSERT_EQ(slices.size(), 1u);
    EXPECT_NEAR(slices[0].startTime, 0.2, 2.0 / kSliceRate);
    const double startFrame = std::round(double(slices[0].startTime) * kSliceRate);
    EXPECT_FLOAT_EQ(slices[0].endTime, float((startFrame + 24001) * (1.0 / kSliceRate)));
}

TEST(WaveSlice, QueriesCloseTheOpenSliceAndClampTheIndex) {
    dsp_effect* slicer = sliced(bursts(0.5, {{0.2, 1.0, 0.5}}));
    const DspSliceRecord* first = getWaveSlice(slicer, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_FLOAT_EQ(first->endTime, 0.5f);  // split at the query position
    EXPECT_EQ(getWaveSlice(slicer, 0), first);
    EXPECT_EQ(getWaveSlice(slicer, 7), first);  // past the end: the last record
    EXPECT_EQ(first->next, nullptr);
    EXPECT_EQ(first->prev, nullptr);
    termWaveSlice(slicer);
}

}  // namespace
