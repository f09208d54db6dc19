#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp.h"

namespace {

constexpr uint32_t kRate = 48000;
constexpr uint32_t kBlock = 1024;

// Default levels: onsets above -30 dB rising by 20 %, slices end below -40 dB, at least 50 ms.
struct Slicer {
    explicit Slicer(uint32_t channels = 1, float minLengthSec = 0.05f)
        : handle(initWaveSlice(kBlock, channels, kRate, -30.0f, -40.0f, 20.0f, minLengthSec)), channels(channels) {}
    ~Slicer() { termWaveSlice(handle); }

    void push(const std::vector<int16_t>& pcm) {
        const size_t perBlock = size_t{kBlock} * channels;
        for (size_t at = 0; at < pcm.size(); at += perBlock) {
            const size_t n = std::min(perBlock, pcm.size() - at);
            ASSERT_TRUE(doWaveSlice(handle, &pcm[at], uint32_t(n * 2)));
        }
    }

    std::vector<DspSliceRecord> slices() {
        std::vector<DspSliceRecord> out;
        const DspSliceRecord* record = getWaveSlice(handle, 0);
        for (; record != nullptr; record = record->next) out.push_back(*record);
        return out;
    }

    dsp_effect* handle;
    uint32_t channels;
};

// Mono signal: silence, then a 6 kHz tone of `amplitude` for each [start, end) span in seconds.
std::vector<int16_t> bursts(double seconds, std::vector<std::pair<double, double>> spans, double amplitude = 0.5) {
    std::vector<int16_t> pcm(size_t(seconds * kRate), 0);
    for (auto [start, end] : spans)
        for (size_t i = size_t(start * kRate); i < size_t(end * kRate) && i < pcm.size(); ++i)
            pcm[i] = int16_t(std::lround(amplitude * 32767.0 * std::sin(2.0 * M_PI * 6000.0 * i / kRate)));
    return pcm;
}

}  // namespace

TEST(WaveSlice, IsolatedBurstGivesOneSliceFromTheValleyToTheFall) {
    Slicer slicer;
    slicer.push(bursts(1.5, {{0.5, 0.8}}));
    const auto slices = slicer.slices();
    ASSERT_EQ(slices.size(), 1u);
    // The valley is the last silent frame before the envelope rises.
    EXPECT_NEAR(slices[0].startTime, 0.5, 2.0 / kRate);
    // The end is the first frame below -40 dB: after the burst, within the 33 Hz lowpass's decay.
    EXPECT_GT(slices[0].endTime, 0.8);
    EXPECT_LT(slices[0].endTime, 0.9);
}

TEST(WaveSlice, SecondOnsetSplitsAtTheValleyBetween) {
    Slicer slicer;
    std::vector<int16_t> pcm = bursts(2.0, {{0.3, 0.6}, {1.0, 1.3}});
    // A quiet tone between the bursts keeps the envelope above the off level.
    const auto quiet = bursts(2.0, {{0.6, 1.0}}, 0.05);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t(pcm[i] + quiet[i]);
    slicer.push(pcm);
    const auto slices = slicer.slices();
    ASSERT_EQ(slices.size(), 2u);
    EXPECT_NEAR(slices[0].startTime, 0.3, 2.0 / kRate);
    EXPECT_FLOAT_EQ(slices[0].endTime, slices[1].startTime);
    EXPECT_GT(slices[1].startTime, 0.6);
    EXPECT_LE(slices[1].startTime, 1.0 + 0.001);  // the envelope lags the signal slightly
    EXPECT_GT(slices[1].endTime, 1.3);
}

TEST(WaveSlice, EndSoonerThanTheMinimumLengthDoesNotCloseTheSlice) {
    Slicer slicer(1, 0.5f);
    slicer.push(bursts(1.0, {{0.2, 0.25}}));
    // The fall came too early: the slice ends at the first quiet frame more than the minimum
    // length (24000 frames) after its start.
    const auto slices = slicer.slices();
    ASSERT_EQ(slices.size(), 1u);
    EXPECT_NEAR(slices[0].startTime, 0.2, 2.0 / kRate);
    const double startFrame = std::round(double(slices[0].startTime) * kRate);
    EXPECT_FLOAT_EQ(slices[0].endTime, float((startFrame + 24001) * (1.0 / kRate)));
}

TEST(WaveSlice, QueriesCloseTheOpenSliceAndClampTheIndex) {
    Slicer slicer;
    const auto pcm = bursts(1.0, {{0.2, 1.0}});
    slicer.push(std::vector<int16_t>(pcm.begin(), pcm.begin() + kRate / 2));
    const DspSliceRecord* first = getWaveSlice(slicer.handle, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_FLOAT_EQ(first->endTime, 0.5f);  // split at the query position
    EXPECT_EQ(getWaveSlice(slicer.handle, 0), first);
    EXPECT_EQ(getWaveSlice(slicer.handle, 7), first);  // past the end: the last record
    EXPECT_EQ(first->next, nullptr);
    EXPECT_EQ(first->prev, nullptr);
}

TEST(WaveSlice, StereoIsJudgedOnTheMonoMix) {
    const auto mono = bursts(1.2, {{0.4, 0.7}});
    std::vector<int16_t> same(mono.size() * 2), opposite(mono.size() * 2);
    for (size_t i = 0; i < mono.size(); ++i) {
        same[2 * i] = same[2 * i + 1] = mono[i];
        opposite[2 * i] = mono[i];
        opposite[2 * i + 1] = int16_t(-mono[i]);
    }
    Slicer a(2), b(2);
    a.push(same);
    b.push(opposite);
    const auto got = a.slices();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_NEAR(got[0].startTime, 0.4, 2.0 / kRate);
    EXPECT_TRUE(b.slices().empty());  // the channels cancel in the mix: silence
    EXPECT_EQ(getWaveSlice(b.handle, 5), nullptr);
}

