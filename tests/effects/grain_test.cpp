// The pitch shifter and the time stretcher: their grain engines against the plain sample models
// at every processor level, and the exported effects on tones, PCM and chains.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <type_traits>
#include <vector>

#include "convert/convert.h"
#include "dsp.h"
#include "effects/pitch_shift_effect.h"
#include "effects/pitch_shifter.h"
#include "effects/stretch_effect.h"
#include "effects/stretcher.h"
#include "support/grain_model.h"
#include "support/levels.h"
#include "support/signals.h"
#include "support/spectrum.h"
#include "support/test_effects.h"

using namespace dsptest;

namespace {

// Frequency of the strongest component of x[from, from + n) between lo and hi Hz at 44.1 kHz,
// scanned in 2 Hz steps, then 0.1 Hz around the best.
double dominantFrequency(const std::vector<float>& x, size_t from, size_t n, double lo, double hi) {
    const std::vector<double> part(x.begin() + from, x.begin() + from + n);
    double best = lo, bestPower = -1;
    const auto scan = [&](double first, double last, double step) {
        for (double hz = first; hz <= last; hz += step) {
            const double p = powerAt(part, hz, 44100.0);
            if (p > bestPower) bestPower = p, best = hz;
        }
    };
    scan(lo, hi, 2.0);
    scan(best - 2.0, best + 2.0, 0.1);
    return best;
}

// Bytes out of one exported call: doStretch says, doPitchShift gives as many as it took.
uint32_t send(bool stretch, dsp_effect* h, const int16_t* in, int16_t* out, uint32_t bytes) {
    return stretch ? doStretch(h, in, out, bytes) : (doPitchShift(h, in, out, bytes) ? bytes : 0);
}

// Random amounts (past the clamps, bypass, `extreme`) and levels between random blocks, some past
// one 32768-sample chunk, short ones after a jump to a longer stretch (old grains read past the
// block): in bounds (sanitizer build), nothing past 4x the input, every sample as the model's.
template <class Engine, class Model>
void expectModel(void (Engine::*set)(float), void (Model::*setModel)(float), uint32_t seed, float lo, float hi,
                 float extreme) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> amounts(lo, hi), level(-12.0f, 6.0f), unit(-1.0f, 1.0f);
    const float times[][2] = {{0.05f, 0.01f}, {0.01f, 0.0005f}, {0.002f, 0.00001f}, {0.02f, 0.03f}};  // grain, hop
    for (const auto& t : times) {
        Engine engine;
        Model model;
        const float start = amounts(rng);
        ASSERT_TRUE(engine.setup(44100, start, 0.0f, t[0], t[1]));
        model.init(44100, start, 0.0f, t[0], t[1]);
        for (int block = 0; block < 40; ++block) {
            const uint32_t n = block % 7 == 3 ? 33000 + rng() % 4000 : 1 + rng() % 600;
            std::vector<float> in(n), got(4 * size_t{n} + 1, 7.0f), want(4 * size_t{n});
            for (float& v : in) v = unit(rng);
            uint32_t produced = n;  // the shifter keeps the length
            if constexpr (std::is_same_v<Engine, dsp::Stretcher>) produced = engine.process(in.data(), got.data(), n);
            else engine.process(in.data(), got.data(), n);
            ASSERT_EQ(got[4 * size_t{n}], 7.0f) << "block " << block;
            ASSERT_EQ(produced, model.process(in.data(), want.data(), n)) << "block " << block;
            for (uint32_t i = 0; i < produced; ++i)
                ASSERT_EQ(got[i], want[i]) << "grain " << t[0] << " block " << block << " index " << i;
            if (const uint32_t change = rng() % 5; change != 4) {
                const float amount = change == 0 ? 0.0f : change == 1 ? extreme : amounts(rng);
                (engine.*set)(amount);
                (model.*setModel)(amount);
            }
            if (block % 5 == 0) engine.setOutLevel(level(rng));
            model.gain = engine.outGain();
        }
    }
}

}  // namespace

TEST(GrainEngines, RandomChangesBetweenRandomBlocksMatchTheSampleModels) {
    for (const dsp::cpu::Isa isa : levels()) {
        SCOPED_TRACE(testing::Message() << "processor level " << int(isa));
        const dsp::cpu::ForceLevel force(isa);
        expectModel(&dsp::PitchShifter::setPitch, &grainref::PitchModel::setPitch, 20261205, -1500, 1500, 1500);
        expectModel(&dsp::Stretcher::setScale, &grainref::StretchModel::setScale, 5122026, -3000, 4000, -2000);
    }
}

// Each channel of a stereo shifter has its own engine: two different channels come out as two
// mono shifters give them.
TEST(GrainEngines, StereoPitchShiftEqualsTwoMonoShifters) {
    const std::vector<float> left = noise(3000, 11), right = noise(3000, 12);
    std::vector<float> outL(3000), outR(3000), monoL(3000), monoR(3000);
    const auto make = [](uint32_t ch) { return dsp::PitchShiftEffect::create(1000, ch, 44100, 500, 0, 0.01f, 0.002f); };
    const std::unique_ptr<dsp::PitchShiftEffect> stereo(make(2)), monoLeft(make(1)), monoRight(make(1));
    for (uint32_t at = 0; at < 3000; at += 1000) {
        stereo->processBlock(&left[at], &right[at], &outL[at], &outR[at], 1000);
        monoLeft->processBlock(&left[at], nullptr, &monoL[at], nullptr, 1000);
        monoRight->processBlock(&right[at], nullptr, &monoR[at], nullptr, 1000);
    }
    EXPECT_EQ(outL, monoL);
    EXPECT_EQ(outR, monoR);
}

// A sine moves to f x 2^(cents/1200) (clamped to an octave), or keeps f and changes length by
// 2^(-scale/1000). Grains a hop apart read hop x (1 - ratio) or hop x (1/factor - 1) samples
// apart: whole cycles at these frequencies, else the tone is pulled by up to rate / (2 hop).
struct ToneCase {
    bool stretch;
    float amount;  // cents, or the stretch scale
    double inHz, outHz;
    uint32_t frames, outFrames, window;  // window: samples measured from a quarter of the output
    double toleranceHz;
};

class GrainTone : public ::testing::TestWithParam<ToneCase> {};

TEST_P(GrainTone, SineComesOutAtTheExpectedFrequencyAndLength) {
    const ToneCase c = GetParam();
    const uint32_t block = 4096;
    dsp_effect* h = (c.stretch ? initStretch : initPitchShift)(block, 1, 44100, c.amount, 0.0f, 0.05f, 0.01f);
    ASSERT_NE(h, nullptr);
    const std::vector<float> tone = sine(c.frames, c.inHz, 44100.0);
    std::vector<int16_t> in(c.frames), chunk(4 * block);
    for (size_t i = 0; i < in.size(); ++i) in[i] = int16_t(std::lround(tone[i] * 32767.0));
    std::vector<float> output;
    for (uint32_t at = 0; at < c.frames; at += block) {
        const uint32_t written = send(c.stretch, h, &in[at], chunk.data(), std::min(block, c.frames - at) * 2);
        for (uint32_t i = 0; i < written / 2; ++i) output.push_back(chunk[i] / 32768.0f);
    }
    (c.stretch ? termStretch : termPitchShift)(h);
    ASSERT_EQ(output.size(), c.outFrames);
    const size_t from = output.size() / 4;
    EXPECT_NEAR(dominantFrequency(output, from, c.window, 100.0, 1500.0), c.outHz, c.toleranceHz);
    EXPECT_GT(rms(output, from, output.size() - 1000), 0.3);  // a 0.5 sine: 0.354
}

constexpr double kHop = 44100.0 / 440.0, kMinorThird = 1.1892071150, kStretched = 4 * kHop;  // kHop: a cycle a hop
INSTANTIATE_TEST_SUITE_P(
    Amounts, GrainTone,
    ::testing::Values(ToneCase{false, 1500, 4 * kHop, 8 * kHop, 44100, 44100, 32768, 8 * kHop * 0.002},
                      ToneCase{false, 300, kHop / (kMinorThird - 1), kHop / (kMinorThird - 1) * kMinorThird, 44100,
                               44100, 32768, kHop / (kMinorThird - 1) * kMinorThird * 0.002},
                      ToneCase{true, 1000, kStretched, kStretched, 81920, 40960, 16384, 1.0},
                      ToneCase{true, -2000, kStretched, kStretched, 81920, 327680, 16384, 1.0}));

// One exported call at -20 dB: the output length (stretch: trunc(frames x 2^(-scale/1000)), the
// scale clamped to -2000 ... 3000), nothing past it, and the content: amount 0 passes every float
// untouched whatever the level (PCM as the bare conversions give it); a hop past the grain: silence.
enum class Content { Any, Exact, Silent };
struct PcmCase {
    bool stretch;
    float amount, grainTime, hopTime;
    uint32_t channels, frames, outFrames;
    Content content;
};

class GrainPcm : public ::testing::TestWithParam<PcmCase> {};

TEST_P(GrainPcm, OutputLengthAndContent) {
    const PcmCase c = GetParam();
    dsp_effect* h =
        (c.stretch ? initStretch : initPitchShift)(c.frames, c.channels, 44100, c.amount, -20, c.grainTime, c.hopTime);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(getStretchDstSize(h, c.frames), c.stretch ? c.outFrames : 0u);  // 0: not a stretcher
    const auto in = pcmNoise(size_t{c.frames} * c.channels, 2);
    std::vector<int16_t> out(size_t{c.frames} * c.channels * 4 + 8, 0x5a5a), want(out.size(), 0x5a5a);
    EXPECT_EQ(send(c.stretch, h, in.data(), out.data(), c.frames * c.channels * 2), c.outFrames * c.channels * 2);
    const size_t n = size_t{c.outFrames} * c.channels;
    if (c.content == Content::Any) std::copy_n(out.begin(), n, want.begin());
    if (c.content == Content::Silent) std::fill_n(want.begin(), n, 0);
    if (c.content == Content::Exact) {
        std::vector<float> l(c.frames), r(c.frames);
        dsp::pcmToFloat(in.data(), c.frames * c.channels * 2, l.data(), r.data(), c.channels);
        dsp::floatToPcm(l.data(), r.data(), c.frames, want.data(), c.channels);
    }
    EXPECT_EQ(out, want);
    (c.stretch ? termStretch : termPitchShift)(h);
}

INSTANTIATE_TEST_SUITE_P(Amounts, GrainPcm,
                         ::testing::Values(PcmCase{true, -1000, 0.05f, 0.01f, 2, 441, 882, Content::Any},
                                           PcmCase{true, -3000, 0.05f, 0.01f, 1, 100, 400, Content::Any},
                                           PcmCase{true, 5000, 0.05f, 0.01f, 2, 100, 12, Content::Any},
                                           PcmCase{true, -1000, 0.01f, 0.02f, 2, 1000, 2000, Content::Silent},
                                           PcmCase{true, 0, 0.05f, 0.01f, 2, 1000, 1000, Content::Exact},
                                           PcmCase{false, 700, 0.01f, 0.02f, 2, 1000, 1000, Content::Silent},
                                           PcmCase{false, 0, 0.05f, 0.01f, 1, 5000, 5000, Content::Exact},
                                           PcmCase{false, 0, 0.05f, 0.01f, 2, 5000, 5000, Content::Exact}));

// Raising a chained stretcher's scale between dspSend calls: the effect behind was configured for
// the longest block, so nothing overruns, and each call returns what the factor in force gave.
TEST(Stretch, RaisingTheScaleInAChainNeverOverrunsTheEffectsBehind) {
    const uint32_t size = 1000;
    dsp_chain* chain = dspCreate(size, 2, 44100);
    auto* gain = new GainEffect(0.5f);
    gain->configure(size, 2, 44100);
    ASSERT_EQ(dspAdd(chain, initStretch(size, 2, 44100, 3000.0f, 0.0f, 0.02f, 0.005f), 1), 1u);
    ASSERT_EQ(dspAdd(chain, reinterpret_cast<dsp_effect*>(gain), 2), 2u);
    const auto in = pcmNoise(2 * size, 6);
    std::vector<int16_t> out(2 * 4 * size + 16, 0x7777);
    uint32_t expectFrames = dspGetDstSize(chain, size);  // the factor in force for the next call
    EXPECT_EQ(expectFrames, 125u);
    for (float scale : {3000.0f, 1000.0f, -1000.0f, -2000.0f, -2000.0f, 0.0f, -1500.0f}) {
        ASSERT_TRUE(setStretchScale(dspGetHandle(chain, 0), scale));
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
    auto withFill = [&in](float fill) {
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
    EXPECT_EQ(withFill(0.5f), withFill(-0.25f));
}
