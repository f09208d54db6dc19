#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp.h"
#include "effects/grain_kernels.h"
#include "effects/grain_test_util.h"
#include "effects/stretch_effect.h"
#include "support/grain_model.h"
#include "effects/stretcher.h"
#include "support/test_effects.h"

using namespace graintest;
using namespace dsptest;

struct SizeCase {
    float scale;
    uint32_t channels, frames, outFrames;
};

class StretchSize : public ::testing::TestWithParam<SizeCase> {};

// Output frames = trunc(frames x 2^(-scale/1000)), scale clamped to -2000 ... 3000; doStretch
// returns channels x 2 bytes per output frame.
TEST_P(StretchSize, OutputLengthFollowsTheClampedScale) {
    const SizeCase c = GetParam();
    dsp_effect* h = initStretch(c.frames, c.channels, 44100, c.scale, 0.0f, 0.05f, 0.01f);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(getStretchDstSize(h, c.frames), c.outFrames);
    const auto in = pcmNoise(size_t{c.frames} * c.channels, 2);
    std::vector<int16_t> out(size_t{c.frames} * c.channels * 4 + 8, 0x5a5a);
    EXPECT_EQ(doStretch(h, in.data(), out.data(), c.frames * c.channels * 2), c.outFrames * c.channels * 2);
    for (size_t i = size_t{c.outFrames} * c.channels; i < out.size(); ++i)
        ASSERT_EQ(out[i], 0x5a5a) << "written past the output at " << i;
    termStretch(h);
}

INSTANTIATE_TEST_SUITE_P(Scales, StretchSize,
                         ::testing::Values(SizeCase{-1000, 2, 441, 882}, SizeCase{-3000, 1, 100, 400},
                                           SizeCase{5000, 2, 100, 12}));

struct ToneCase {
    float scale;
    double factor;
};

class StretchTone : public ::testing::TestWithParam<ToneCase> {};

// A stretched sine keeps its frequency while its length changes by the factor. Grains a hop
// apart start hop x (1/f - 1) input samples apart; 400.9 Hz makes that whole cycles for these
// factors (otherwise the mix drifts in phase from grain to grain and pulls the tone).
constexpr double kAligned = 4 * 44100.0 / 440.0;
TEST_P(StretchTone, SineKeepsItsFrequencyAndChangesLength) {
    const ToneCase c = GetParam();
    const uint32_t block = 4096, frames = 20 * block;
    dsp_effect* h = initStretch(block, 1, 44100, c.scale, 0.0f, 0.05f, 0.01f);
    ASSERT_NE(h, nullptr);
    const auto tone = sine(frames, kAligned, 44100.0);
    std::vector<int16_t> in(frames), chunk(4 * block);
    for (size_t i = 0; i < frames; ++i) in[i] = int16_t(std::lround(tone[i] * 32767.0));
    std::vector<float> output;
    for (uint32_t at = 0; at < frames; at += block) {
        const uint32_t bytes = doStretch(h, &in[at], chunk.data(), block * 2);
        for (uint32_t i = 0; i < bytes / 2; ++i) output.push_back(chunk[i] / 32768.0f);
    }
    termStretch(h);
    EXPECT_EQ(output.size(), size_t(20 * uint32_t(block * c.factor)));
    const size_t from = output.size() / 4, to = output.size() - 1000;
    EXPECT_NEAR(dominantFrequency(output, from, 16384, 44100.0, 100.0, 1500.0), kAligned, 1.0) << "scale " << c.scale;
    EXPECT_GT(rms(output, from, to), 0.2);
}

INSTANTIATE_TEST_SUITE_P(Scales, StretchTone,
                         ::testing::Values(ToneCase{1000, 0.5}, ToneCase{-2000, 4.0}));

TEST(Stretch, HopLongerThanGrainGivesSilenceOfTheStretchedLength) {
    dsp_effect* h = initStretch(1000, 2, 44100, -1000.0f, 0.0f, 0.01f, 0.02f);
    ASSERT_NE(h, nullptr);
    const auto in = pcmNoise(2000, 3);
    std::vector<int16_t> out(8000, 99);
    ASSERT_EQ(doStretch(h, in.data(), out.data(), 4000), 8000u);
    for (size_t i = 0; i < 4000; ++i) ASSERT_EQ(out[i], 0) << "index " << i;
    termStretch(h);
}

// Random scales (beyond the clamps too) between blocks of random lengths, including short
// blocks after a jump to a longer stretch, where old grains read past the block's end: reads
// stay in bounds (sanitizer build), output never exceeds 4x the input, and every sample
// matches the sample-by-sample model.
using StretchLoops = GrainLoops;

TEST_P(StretchLoops, RandomScaleChangesBetweenRandomBlocksMatchTheSampleModel) {
    std::mt19937 rng(5122026);
    std::uniform_real_distribution<float> scales(-3000.0f, 4000.0f), unit(-1.0f, 1.0f);
    struct Setup { float grainTime, hopTime; };
    for (Setup setup : {Setup{0.05f, 0.01f}, Setup{0.01f, 0.0005f}, Setup{0.002f, 0.00001f}, Setup{0.02f, 0.03f}}) {
        dsp::Stretcher engine;
        grainref::StretchModel model;
        const float start = scales(rng);
        engine.setup(44100, start, 0.0f, setup.grainTime, setup.hopTime);
        model.init(44100, start, 0.0f, setup.grainTime, setup.hopTime);
        for (int block = 0; block < 40; ++block) {
            const uint32_t n = block % 9 == 4 ? 33000 + rng() % 4000 : 1 + rng() % 500;
            std::vector<float> in(n), got(4 * size_t{n} + 1, 7.0f), want(4 * size_t{n});
            for (float& v : in) v = unit(rng);
            const uint32_t produced = engine.process(in.data(), got.data(), n);
            ASSERT_EQ(produced, model.process(in.data(), want.data(), n)) << "block " << block;
            ASSERT_LE(produced, 4 * n);
            ASSERT_EQ(got[4 * size_t{n}], 7.0f);
            for (uint32_t i = 0; i < produced; ++i)
                ASSERT_EQ(got[i], want[i]) << "grain " << setup.grainTime << " block " << block << " index " << i;
            const int change = rng() % 5;
            const float s = change == 0 ? 0.0f : change == 1 ? -2000.0f : scales(rng);
            if (change != 4) engine.setScale(s), model.setScale(s);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Loops, StretchLoops, ::testing::Range(0, 4));

// Raising the scale of a chained stretcher through dspGetHandle between dspSend calls: the
// effect behind it was configured for the longest block any scale gives, so nothing overruns
// (sanitizer build), and each call returns what the factor in force produced.
TEST(Stretch, RaisingTheScaleInAChainNeverOverrunsTheEffectsBehind) {
    const uint32_t size = 1000;
    dsp_chain* chain = dspCreate(size, 2, 44100);
    dsp_effect* h = initStretch(size, 2, 44100, 3000.0f, 0.0f, 0.02f, 0.005f);
    auto* gain = new dsptest::GainEffect(0.5f);
    gain->configure(size, 2, 44100);
    ASSERT_EQ(dspAdd(chain, h, 1), 1u);
    ASSERT_EQ(dspAdd(chain, reinterpret_cast<dsp_effect*>(gain), 2), 2u);
    EXPECT_EQ(dspGetDstSize(chain, size), 125u);
    const auto in = pcmNoise(2 * size, 6);
    std::vector<int16_t> out(2 * 4 * size + 16, 0x7777);
    uint32_t expectFrames = 125;  // factor in force for the next call
    for (float scale : {3000.0f, 1000.0f, -1000.0f, -2000.0f, -2000.0f, 0.0f, -1500.0f}) {
        dsp_effect* stretcher = dspGetHandle(chain, 0);
        ASSERT_TRUE(setStretchScale(stretcher, scale));
        const uint32_t reported = dspGetDstSize(chain, size);
        EXPECT_EQ(dspSend(chain, in.data(), out.data(), 4 * size), expectFrames * 4) << "scale " << scale;
        expectFrames = reported;
        ASSERT_EQ(out[2 * 4 * size], 0x7777);
    }
    EXPECT_EQ(dspSend(chain, in.data(), out.data(), 4 * size), expectFrames * 4);
    dspDestroy(chain);
}

// A scale set while the chain ran mono reaches the idle right engine one chunk late, so after
// the switch to stereo it writes fewer frames than the left one; the output must not depend on
// what the fresh output buffers held (two fill patterns stand for the heap's contents).
TEST(Stretch, OutputAfterAMonoStretchDoesNotDependOnFreshBufferContents) {
    const auto in = pcmNoise(96, 8);
    auto run = [&in](float fill) {
        dsp_chain* chain = dspCreate(24, 2, 11025);
        dspAdd(chain, initResampler(24, 2, 2, 11025, 8000, 1, 80.0f, 40.0f, true), 0);
        dsp_effect* s = initStretch(37, 1, 8000, 1000.0f, 0.0f, 0.05f, 0.01f);
        dspAdd(chain, s, 3);
        dspAdjust(chain, 20, 1, 24000);
        setStretchScale(s, 430.0f);
        std::vector<int16_t> out(4 * 96);
        dspSend(chain, in.data(), out.data(), 10);
        dspAdjust(chain, 48, 2, 22050);
        auto* effect = reinterpret_cast<dsp::StretchEffect*>(s);
        for (float* buffer : {effect->outBufL, effect->outBufR}) std::fill_n(buffer, effect->outCapacity, fill);
        out.resize(dspSend(chain, in.data(), out.data(), 108) / 2);
        dspDestroy(chain);
        return out;
    };
    EXPECT_EQ(run(0.5f), run(-0.25f));
}
