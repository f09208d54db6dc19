#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "dsp.h"
#include "effects/grain_kernels.h"
#include "effects/grain_test_util.h"
#include "support/grain_model.h"
#include "effects/pitch_shifter.h"

using namespace graintest;
using namespace dsptest;

namespace {

// Runs `input` (mono float) through initPitchShift/doPitchShift in blocks, as a host would.
std::vector<float> shiftPcm(const std::vector<float>& input, float cents, float outLevel = 0.0f,
                            float grainTime = 0.05f, float hopTime = 0.01f, uint32_t block = 4096) {
    dsp_effect* h = initPitchShift(block, 1, 44100, cents, outLevel, grainTime, hopTime);
    EXPECT_NE(h, nullptr);
    std::vector<int16_t> in(input.size()), out(input.size());
    for (size_t i = 0; i < input.size(); ++i) in[i] = int16_t(std::lround(input[i] * 32767.0));
    for (size_t at = 0; at < in.size(); at += block) {
        const uint32_t n = uint32_t(std::min<size_t>(block, in.size() - at));
        EXPECT_TRUE(doPitchShift(h, &in[at], &out[at], n * 2));
    }
    termPitchShift(h);
    std::vector<float> result(out.size());
    for (size_t i = 0; i < out.size(); ++i) result[i] = out[i] / 32768.0f;
    return result;
}

}  // namespace

// Pitch 0 leaves every float sample untouched, so the PCM comes out exactly as the bare
// conversions to float and back give it, whatever the level.
TEST(PitchShift, PitchZeroPassesThroughExactlyWhateverTheLevel) {
    const uint32_t frames = 5000;
    for (uint32_t channels : {1u, 2u}) {
        dsp_effect* h = initPitchShift(frames, channels, 44100, 0.0f, -20.0f, 0.05f, 0.01f);
        ASSERT_NE(h, nullptr);
        const auto in = pcmNoise(frames * channels, 7 + channels);
        std::vector<int16_t> out(in.size());
        ASSERT_TRUE(doPitchShift(h, in.data(), out.data(), frames * channels * 2));
        const auto trip = roundTrip(in, channels);
        for (size_t i = 0; i < in.size(); ++i) ASSERT_EQ(out[i], trip[i]) << "channels " << channels << " index " << i;
        // Any other pitch, however small, runs the grains (and so the level).
        ASSERT_TRUE(setPitchShiftPitch(h, 0.001f));
        ASSERT_TRUE(doPitchShift(h, in.data(), out.data(), frames * channels * 2));  // still bypassed
        ASSERT_TRUE(doPitchShift(h, in.data(), out.data(), frames * channels * 2));
        EXPECT_NE(std::memcmp(trip.data(), out.data(), in.size() * 2), 0);
        termPitchShift(h);
    }
}

struct ShiftCase {
    float cents;
    double inHz, expectHz;
};

class PitchShiftTone : public ::testing::TestWithParam<ShiftCase> {};

// A sine comes out at f x 2^(cents/1200) (clamped to an octave), same length. Grains a hop
// apart read positions hop x (1 - ratio) apart; the test frequencies make that a whole number
// of cycles, else the mix drifts in phase from grain to grain and the tone is pulled by up to
// rate / (2 hop).
constexpr double kAligned = 44100.0 / 440.0;  // one cycle per 440-sample hop
TEST_P(PitchShiftTone, SineComesOutAtTheShiftedFrequency) {
    const ShiftCase c = GetParam();
    const auto input = sine(44100, c.inHz, 44100.0);
    const auto output = shiftPcm(input, c.cents);
    ASSERT_EQ(output.size(), input.size());
    const double measured = dominantFrequency(output, 11025, 32768, 44100.0, 100.0, 1500.0);
    EXPECT_NEAR(measured, c.expectHz, c.expectHz * 0.002) << "cents " << c.cents;
    EXPECT_GT(rms(output, 11025, 44100), 0.1);
}

INSTANTIATE_TEST_SUITE_P(Cents, PitchShiftTone,
                         ::testing::Values(ShiftCase{1500, 4 * kAligned, 8 * kAligned},
                                           ShiftCase{300, kAligned / 0.1892071150, kAligned / 0.1892071150 * 1.1892071150}));

// Random pitches (including beyond the clamp) between blocks of random lengths, some longer than
// one 32768-sample chunk (a new pitch applies from the next chunk): reads stay in bounds
// (checked by the sanitizer build) and every sample matches the sample-by-sample model.
using PitchShiftLoops = GrainLoops;

TEST_P(PitchShiftLoops, RandomPitchChangesBetweenRandomBlocksMatchTheSampleModel) {
    std::mt19937 rng(20261205);
    std::uniform_real_distribution<float> cents(-1500.0f, 1500.0f), level(-12.0f, 6.0f), unit(-1.0f, 1.0f);
    struct Setup { float grainTime, hopTime; };
    for (Setup setup : {Setup{0.05f, 0.01f}, Setup{0.01f, 0.0005f}, Setup{0.002f, 0.00001f}, Setup{0.02f, 0.03f}}) {
        dsp::PitchShifter engine;
        grainref::PitchModel model;
        const float start = cents(rng);
        ASSERT_TRUE(engine.setup(44100, start, 0.0f, setup.grainTime, setup.hopTime));
        model.init(44100, start, 0.0f, setup.grainTime, setup.hopTime);
        for (int block = 0; block < 40; ++block) {
            const uint32_t n = block % 7 == 3 ? 33000 + rng() % 4000 : 1 + rng() % 700;
            std::vector<float> in(n), got(n), want(n);
            for (float& v : in) v = unit(rng);
            engine.process(in.data(), got.data(), n);
            model.process(in.data(), want.data(), n);
            for (uint32_t i = 0; i < n; ++i)
                ASSERT_EQ(got[i], want[i]) << "grain " << setup.grainTime << " block " << block << " index " << i;
            const int change = rng() % 4;
            if (change == 0) {
                engine.setPitch(0.0f), model.setPitch(0.0f);
            } else if (change != 3) {
                const float p = cents(rng);
                engine.setPitch(p), model.setPitch(p);
            }
            if (block % 5 == 0) engine.setOutLevel(level(rng));
            model.gain = engine.outGain();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Loops, PitchShiftLoops, ::testing::Range(0, 4));

