#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "convert/convert.h"
#include "dsp.h"
#include "memory/fastmem.h"
#include "support/test_effects.h"

using dsptest::GainEffect;
using dsptest::RepeatEffect;

namespace {

dsp_effect* handle(dsp::DspEffect* effect) { return reinterpret_cast<dsp_effect*>(effect); }

GainEffect* configuredGain(uint32_t size, uint32_t channels, uint32_t rate, float gain = 1.0f,
                           std::vector<int>* order = nullptr, int id = 0) {
    auto* effect = new GainEffect(gain, order, id);
    effect->configure(size, channels, rate);
    effect->configureCalls = 0;
    return effect;
}

// What one sample becomes after the reference conversions around a gain stage.
int16_t through(int16_t sample, float gain) {
    float value;
    dsp::variant::reference::pcmToFloat(&sample, 2, &value, nullptr, 1);
    value *= gain;
    int16_t out;
    dsp::variant::reference::floatToPcm(&value, nullptr, 1, &out, 1);
    return out;
}

}  // namespace

TEST(Chain, OrdersByUnsignedPriorityWithTiesInInsertionOrder) {
    std::vector<int> order;
    dsp_chain* chain = dspCreate(64, 2, 44100);
    const uint32_t priorities[] = {5, 1, 5, 3, 4294967295u, 0};
    GainEffect* effects[6];
    for (int i = 0; i < 6; ++i) {
        effects[i] = configuredGain(64, 2, 44100, 1.0f, &order, i);
        EXPECT_EQ(dspAdd(chain, handle(effects[i]), priorities[i]), uint32_t(i + 1));
    }
    const int expected[] = {5, 1, 3, 0, 2, 4};  // 0, 1, 3, 5 (first), 5 (second), 4294967295
    for (int i = 0; i < 6; ++i) EXPECT_EQ(dspGetHandle(chain, i), handle(effects[expected[i]])) << "position " << i;
    EXPECT_EQ(dspGetHandle(chain, 6), nullptr);

    std::vector<int16_t> pcm(128, 100);
    EXPECT_EQ(dspSend(chain, pcm.data(), pcm.data(), 256), 256u);
    EXPECT_EQ(order, std::vector<int>(std::begin(expected), std::end(expected)));
    dspDestroy(chain);
}

TEST(Chain, RefusesNullAndUnconfiguredEffects) {
    dsp_chain* chain = dspCreate(64, 2, 44100);
    GainEffect unconfigured(1.0f);
    EXPECT_EQ(dspAdd(chain, handle(&unconfigured), 0), 0u);
    EXPECT_EQ(dspAdd(chain, nullptr, 0), 0u);
    EXPECT_EQ(dspGetHandle(chain, 0), nullptr);
    GainEffect* orphan = configuredGain(64, 2, 44100);
    EXPECT_EQ(dspAdd(nullptr, handle(orphan), 0), 0u);  // still the caller's
    delete orphan;
    dspDestroy(chain);
}

TEST(Chain, HeadIsConfiguredFromTheChainFormatAndFollowersFromTheirPredecessor) {
    // Empty, the chain reports its own format; adjusting it only records the new one.
    dsp_chain* chain = dspCreate(64, 2, 32000);
    EXPECT_EQ(dspGetDstSize(chain, 33), 33u);
    EXPECT_EQ(dspGetDstChannels(chain), 2u);
    EXPECT_EQ(dspGetDstRate(chain), 32000u);
    dspAdjust(chain, 100, 1, 22050);
    auto* gain = configuredGain(100, 1, 22050);
    auto* repeat = new RepeatEffect(2);
    repeat->configure(512, 2, 8000);
    auto* behind = configuredGain(512, 2, 8000);
    ASSERT_EQ(dspAdd(chain, handle(gain), 1), 1u);
    EXPECT_EQ(gain->configureCalls, 0);  // format already matches
    ASSERT_EQ(dspAdd(chain, handle(repeat), 2), 2u);
    ASSERT_EQ(dspAdd(chain, handle(behind), 3), 3u);
    EXPECT_EQ(behind->inSize, 200u);
    EXPECT_EQ(behind->inChannels, 1u);
    EXPECT_EQ(behind->inRate, 44100u);
    EXPECT_EQ(dspGetDstSize(chain, 70), 140u);
    EXPECT_EQ(dspGetDstChannels(chain), 1u);
    EXPECT_EQ(dspGetDstRate(chain), 44100u);

    // A lower priority than every other makes the new effect the head, configured from the chain.
    auto* first = configuredGain(7, 2, 96000);
    ASSERT_EQ(dspAdd(chain, handle(first), 0), 4u);
    EXPECT_EQ(first->inRate, 22050u);

    std::vector<int16_t> in(100), out(200);
    std::iota(in.begin(), in.end(), -50);
    EXPECT_EQ(dspSend(chain, in.data(), out.data(), 200), 400u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(out[i], through(in[i / 2], 1.0f)) << "sample " << i;
    dspDestroy(chain);
}

// An empty chain copies any byte count, whichever processor switch picks the copy.
TEST(Chain, EmptyChainCopiesEveryByteCount) {
    dsp_chain* chain = dspCreate(1024, 2, 44100);
    for (int which = 0; which < 2; ++which) {
        dspEnableSse(which == 1);
        for (uint32_t bytes : {0u, 3u, 33u, 4096u}) {
            std::vector<uint8_t> in(bytes + 8), out(bytes + 8, 0xEE);
            for (size_t i = 0; i < in.size(); ++i) in[i] = uint8_t(i * 37 + 11);
            EXPECT_EQ(dspSend(chain, reinterpret_cast<int16_t*>(in.data()), reinterpret_cast<int16_t*>(out.data()), bytes),
                      bytes);
            EXPECT_EQ(0, std::memcmp(in.data(), out.data(), bytes)) << "switch " << which << ", " << bytes << " bytes";
            for (size_t i = bytes; i < out.size(); ++i) ASSERT_EQ(out[i], 0xEE) << "wrote past " << bytes << " bytes";
        }
    }
    dspEnableSse(false);
    dspDestroy(chain);
}

// In place, a partial frame at the end is ignored; mono writes two bytes a frame; more bytes
// than the configured block are cut to the block (the standalone path shares this clamp).
TEST(Chain, SendCountsWholeFramesOfTheConfiguredBlock) {
    dsp_chain* chain = dspCreate(64, 2, 44100);
    dspAdd(chain, handle(configuredGain(64, 2, 44100, 0.5f)), 0);
    std::vector<int16_t> pcm = {32767, -32767, 1000, -1000, 7, 99};
    EXPECT_EQ(dspSend(chain, pcm.data(), pcm.data(), 11), 8u);
    EXPECT_EQ(pcm, (std::vector<int16_t>{through(32767, 0.5f), through(-32767, 0.5f), through(1000, 0.5f),
                                         through(-1000, 0.5f), 7, 99}));
    std::vector<int16_t> big(1024, 5);
    EXPECT_EQ(dspSend(chain, big.data(), big.data(), 2048), 256u);
    dspDestroy(chain);

    chain = dspCreate(16, 1, 44100);
    dspAdd(chain, handle(configuredGain(16, 1, 44100, 2.0f)), 0);
    std::vector<int16_t> in = {1, 2, 3, -4, 5}, out(6, 77);
    EXPECT_EQ(dspSend(chain, in.data(), out.data(), 10), 10u);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], through(in[i], 2.0f)) << i;
    EXPECT_EQ(out[5], 77);
    dspDestroy(chain);

    // A tail made for another channel count (a resampler created 1 -> 2 or 2 -> 1 at the chain's
    // format is never reconfigured) writes its own count, but dspSend counts its input channels.
    for (uint32_t channels : {1u, 2u}) {
        chain = dspCreate(64, channels, 8000);
        dspAdd(chain, initResampler(64, channels, 3 - channels, 8000, 16000, 0, 80.0f, 40.0f, false), 0);
        EXPECT_EQ(dspGetDstChannels(chain), 3 - channels);
        std::vector<int16_t> src(128, 3000), dst(264, 0x7777);
        EXPECT_EQ(dspSend(chain, src.data(), dst.data(), 128 * channels), 256u * channels);
        EXPECT_TRUE(dst[128 * (3 - channels) - 1] != 0x7777 && dst[128 * (3 - channels)] == 0x7777) << channels;
        dspDestroy(chain);
    }
}

// Shrinking keeps the buffers, growing past the size last configured replaces them; every
// buffer is 16-byte aligned and releasing returns them all.
TEST(EffectBase, ReusesBuffersAgainstTheSizeLastConfigured) {
    const uint32_t before = dsp::fastmemGetAllocatedSize();
    GainEffect effect(1.0f);
    effect.configure(100, 2, 44100);
    float* first = effect.inBufL;
    effect.configure(50, 2, 44100);
    EXPECT_EQ(effect.inBufL, first);
    for (float* buffer : {effect.inBufL, effect.inBufR, effect.outBufL, effect.outBufR, effect.auxBufL, effect.auxBufR})
        EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer) % 16, 0u);
    effect.releaseBuffers();
    EXPECT_FALSE(effect.configured);
    EXPECT_EQ(dsp::fastmemGetAllocatedSize(), before);
    effect.releaseBuffers();  // twice is harmless
}
