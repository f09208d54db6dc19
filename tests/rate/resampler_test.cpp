// Resampler effect through the C API: byte counts, channels, a size no buffer holds, and its
// place in a chain (it changes the block length and rate for the effects behind it).
#include <gtest/gtest.h>

#include <vector>

#include "chain/dsp_effect.h"
#include "dsp.h"
#include "support/signals.h"

namespace {

dsp_effect* resampler(uint32_t size, uint32_t channels, uint32_t src, uint32_t dst, uint32_t interpolation = 1,
                      bool filterOn = true) {
    return initResampler(size, channels, channels, src, dst, interpolation, 80.0f, 40.0f, filterOn);
}

TEST(Resampler, ByteCountsTruncatePerCall) {
    dsp_effect* e = resampler(3000, 2, 44100, 48000);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(getResamplerDstSize(e, 1000), 1088u);
    EXPECT_EQ(getResamplerDstSize(e, 3000), 3265u);
    const std::vector<int16_t> in = dsptest::pcmNoise(6000, 1, 25000);
    std::vector<int16_t> out(2 * 3265);
    uint32_t total = 0;
    for (int call = 0; call < 3; ++call) total += doResampler(e, &in[2000 * call], out.data(), 4000);
    EXPECT_EQ(total, 3264u * 4);
    EXPECT_EQ(doResampler(e, in.data(), out.data(), 12000), 3265u * 4);
    EXPECT_EQ(doResampler(e, in.data(), out.data(), 12003), 3265u * 4);  // partial frame ignored
    termResampler(e);
}

TEST(Resampler, StereoEqualsTwoMonoAndChannelCountsConvert) {
    const uint32_t frames = 5000;
    const std::vector<int16_t> stereo = dsptest::pcmNoise(2 * frames, 4, 25000);
    std::vector<int16_t> left(frames), right(frames);
    for (uint32_t i = 0; i < frames; ++i) left[i] = stereo[2 * i], right[i] = stereo[2 * i + 1];
    for (uint32_t interpolation : {0u, 1u}) {
        dsp_effect* s = resampler(frames, 2, 44100, 32000, interpolation);
        dsp_effect* l = resampler(frames, 1, 44100, 32000, interpolation);
        dsp_effect* r = resampler(frames, 1, 44100, 32000, interpolation);
        dsp_effect* toStereo = initResampler(frames, 1, 2, 44100, 32000, interpolation, 80.0f, 40.0f, true);
        const uint32_t n = getResamplerDstSize(s, frames);
        std::vector<int16_t> outS(2 * n), outL(n), outR(n), dup(2 * n);
        ASSERT_EQ(doResampler(s, stereo.data(), outS.data(), frames * 4), n * 4);
        ASSERT_EQ(doResampler(l, left.data(), outL.data(), frames * 2), n * 2);
        ASSERT_EQ(doResampler(r, right.data(), outR.data(), frames * 2), n * 2);
        ASSERT_EQ(doResampler(toStereo, left.data(), dup.data(), frames * 2), n * 4);
        for (uint32_t j = 0; j < n; ++j) {
            ASSERT_EQ(outS[2 * j], outL[j]) << "interp " << interpolation << " frame " << j;
            ASSERT_EQ(outS[2 * j + 1], outR[j]) << "interp " << interpolation << " frame " << j;
            ASSERT_TRUE(dup[2 * j] == outL[j] && dup[2 * j + 1] == outL[j]) << "frame " << j;
        }
        for (dsp_effect* e : {s, l, r, toStereo}) termResampler(e);
    }
}

// 1 Hz -> 4 MHz: 1000 frames would need 4e9 output frames, more than a buffer can hold.
TEST(Resampler, OutputTooLargeForAnyBufferCountsAsOutOfMemory) {
    EXPECT_EQ(initResampler(1000, 1, 1, 1, 4000000, 0, 80.0f, 40.0f, true), nullptr);
}

TEST(Resampler, ChainCarriesConvertedLengthAndRate) {
    dsp_chain* chain = dspCreate(1000, 2, 44100);
    ASSERT_EQ(dspAdd(chain, resampler(1000, 2, 44100, 48000), 1), 1u);
    ASSERT_EQ(dspAdd(chain, initIirFilter(1000, 2, 44100, 4, 3000.0f, 0), 2), 2u);
    EXPECT_EQ(dspGetDstSize(chain, 1000), 1088u);
    EXPECT_EQ(dspGetDstRate(chain), 48000u);
    auto* behind = reinterpret_cast<dsp::DspEffect*>(dspGetHandle(chain, 1));
    dspAdjust(chain, 1000, 2, 8000);  // 1000 frames at 8000 Hz become 6000 behind the resampler
    EXPECT_EQ(dspGetDstSize(chain, 1000), 6000u);
    EXPECT_EQ(behind->inSize, 6000u);
    dspDestroy(chain);
}

}  // namespace
