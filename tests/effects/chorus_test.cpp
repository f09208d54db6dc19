#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "dsp.h"
#include "cpu/cpu.h"
#include "effects/chorus_effect.h"
#include "support/chorus_model.h"
#include "support/signals.h"

using dsptest::ChorusModel;

namespace {

dsp::ChorusEffect* asChorus(dsp_effect* handle) { return reinterpret_cast<dsp::ChorusEffect*>(handle); }

// Every nonzero sample of `out` beyond index 0 must be listed in `taps` with its value.
void expectTaps(const std::vector<float>& out, const std::vector<std::pair<uint32_t, float>>& taps) {
    std::vector<float> expected(out.size(), 0.0f);
    expected[0] = out[0];
    for (auto [lag, value] : taps) expected[lag] += value;
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(out[i], expected[i]) << "lag " << i;
}

TEST(Chorus, TapFollowsTheSineSweep) {
    // 1000 Hz: one sample per millisecond exactly, so the phase is i mod 500 for a 0.5 s period
    // and returns to exactly 0 at every 500th sample, where the tap is exactly the base delay.
    dsp::ChorusLine line;
    ASSERT_TRUE(line.setup(1000, 1, 20.0f, 5.0f, 0.5f, 50.0f, 0.0f));
    const std::vector<float> in = dsptest::noise(2000, 7, 1.0f);
    std::vector<float> out(in.size());
    line.process(in.data(), out.data(), 2000);
    for (uint32_t i : {500u, 1000u, 1500u}) EXPECT_EQ(out[i], float(in[i - 20] * 0.5)) << "sample " << i;
    for (uint32_t i = 30; i < 2000; ++i) {
        const double lag = std::sin(dsptest::kTwoPi * (i % 500) / 500) * 5 + 20;
        if (std::fabs(lag - std::round(lag)) < 0.01) continue;  // interpolation may fall either side
        ASSERT_EQ(out[i], float(in[i - uint32_t(lag)] * 0.5)) << "sample " << i << ", lag " << lag;
    }
}

// On a stopped three-voice chorus (lags 882, 1072, 691 at 44.1 kHz) a mix sets one voice at
// once; a reconfiguration gives the stored mix to every voice. A voice index outside the range
// is refused and changes neither the levels nor the stored mix.
TEST(Chorus, MixSetsOneVoiceAndReconfigureGivesItToAll) {
    dsp_effect* handle = initChorus(2048, 1, 44100, 3, 20.0f, 5.0f, 0.0f, 50.0f, 100.0f);
    ASSERT_NE(handle, nullptr);
    const auto response = [&] {
        std::vector<float> in(1200, 0.0f), out(1200);
        in[0] = 1.0f;
        asChorus(handle)->processBlock(in.data(), nullptr, out.data(), nullptr, 1200);
        return out;
    };
    for (int32_t voice : {3, -1, INT32_MIN, INT32_MAX}) EXPECT_FALSE(setChorusMix(handle, voice, 90.0f)) << voice;
    ASSERT_TRUE(setChorusMix(handle, 1, 10.0f));
    expectTaps(response(), {{882, 0.5f}, {1072, 0.1f}, {691, 0.5f}});
    asChorus(handle)->configure(2048, 1, 44100);
    expectTaps(response(), {{882, 0.1f}, {1072, 0.1f}, {691, 0.1f}});
    EXPECT_TRUE(termChorus(handle));
}

// The optimised engine against the literal model: random parameters, block splits, both tap
// paths, mono and stereo, setters between blocks. Every output bit must agree.
struct ModelCase {
    uint32_t seed, rate, voices;
    float delayMs, depthMs, speed;
    uint32_t channels;
    bool vectorTaps;  // at this machine's level, else the portable loops
};

class ChorusAgainstModel : public testing::TestWithParam<ModelCase> {};

TEST_P(ChorusAgainstModel, BitExact) {
    const ModelCase& c = GetParam();
    const dsp::cpu::ForceLevel force(c.vectorTaps ? dsp::cpu::detected() : dsp::cpu::Isa::Portable);
    std::mt19937 rng(c.seed);
    const uint32_t block = 1500;
    dsp_effect* handle = initChorus(block, c.channels, c.rate, c.voices, c.delayMs, c.depthMs, c.speed, 40.0f, 80.0f);
    ASSERT_NE(handle, nullptr);
    dsp::ChorusEffect* chorus = asChorus(handle);
    std::vector<ChorusModel> models(c.channels, ChorusModel(c.rate, c.voices, c.delayMs, c.depthMs, c.speed, 40, 80));
    const std::vector<float> left = dsptest::noise(60000, c.seed, 1.0f), right = dsptest::noise(60000, c.seed + 1, 1.0f);
    std::vector<float> outL(block), outR(block), want(block);
    std::uniform_int_distribution<uint32_t> length(0, block), action(0, 9);
    for (uint32_t at = 0; at < left.size();) {
        const uint32_t n = std::min<uint32_t>(length(rng), uint32_t(left.size()) - at);
        const int mode = int(action(rng));
        if (c.channels == 2 && mode == 0) {  // channels driven one at a time
            chorus->processChannel(0, &left[at], outL.data(), n);
            chorus->processChannel(1, &right[at], outR.data(), n);
        } else {
            chorus->processBlock(&left[at], &right[at], outL.data(), outR.data(), n);
        }
        for (uint32_t ch = 0; ch < c.channels; ++ch) {
            models[ch].process(ch == 0 ? &left[at] : &right[at], want.data(), n);
            const std::vector<float>& got = ch == 0 ? outL : outR;
            for (uint32_t i = 0; i < n; ++i)
                ASSERT_EQ(got[i], want[i]) << "channel " << ch << ", sample " << at + i;
        }
        at += n;
        const float value = std::uniform_real_distribution<float>(-5.0f, 40.0f)(rng);
        const auto both = [&](auto api, auto model, float v) {
            api(handle, v);
            for (auto& m : models) (m.*model)(v);
        };
        if (mode == 1) both(setChorusDelaytime, &ChorusModel::setDelay, value);
        if (mode == 2) both(setChorusDepth, &ChorusModel::setDepth, value);
        if (mode == 3 && c.speed != 0.0f) both(setChorusSpeed, &ChorusModel::setSpeed, value * 0.1f);
        if (mode == 5) both(setChorusOrgMix, &ChorusModel::setOrgMix, value);
        if (mode == 4 && c.voices > 0) {
            const uint32_t voice = rng() % c.voices;
            setChorusMix(handle, int32_t(voice), value);
            for (auto& m : models) m.setMix(voice, value);
        }
    }
    termChorus(handle);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChorusAgainstModel,
    testing::Values(ModelCase{1, 44100, 3, 20.0f, 5.0f, 2.0f, 2, true}, ModelCase{1, 44100, 3, 20.0f, 5.0f, 2.0f, 2, false},
                    ModelCase{4, 44100, 17, 1.0f, 9.0f, -1.5f, 2, false}, ModelCase{5, 22050, 0, 10.0f, 2.0f, 1.0f, 2, true},
                    ModelCase{6, 44100, 2, 2000.0f, 1500.0f, 3.0f, 1, true}));

// No channels or a channel past the second process nothing; hostile parameters are accepted
// and processing stays in bounds.
TEST(Chorus, SurvivesMissingChannelsAndHostileParameters) {
    dsp_effect* none = initChorus(16, 0, 44100, 3, 20.0f, 5.0f, 2.0f, 50.0f, 100.0f);
    int16_t sample = 7;
    float x[16] = {};
    EXPECT_FALSE(doChorus(none, &sample, &sample, 2));  // nothing to process: false, not a division by zero
    EXPECT_EQ(asChorus(none)->processChannel(2, x, x, 16), 0u);  // no third engine
    termChorus(none);
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    const float hostile[][5] = {{nan, nan, nan, nan, nan},  {inf, -inf, inf, inf, -inf}, {-1e30f, 1e30f, 1e-30f, 1e30f, 1e30f},
                                {1e9f, 0.0f, -1e-9f, 100.0f, 0.0f}, {0.0f, 3e38f, 3e38f, -3e38f, 3e38f}};
    std::vector<int16_t> pcm(2 * 256, -32768);
    for (const auto& p : hostile)
        for (uint32_t rate : {0u, 1u, 44100u, 0xffffffffu}) {
            dsp_effect* h = initChorus(256, 2, rate, 3, p[0], p[1], p[2], p[3], p[4]);
            ASSERT_NE(h, nullptr);
            for (int n = 0; n < 3; ++n) EXPECT_TRUE(doChorus(h, pcm.data(), pcm.data(), 4 * 256 + 100));
            EXPECT_TRUE(setChorusSpeed(h, p[3]));
            EXPECT_TRUE(doChorus(h, pcm.data(), pcm.data(), 4 * 256));
            termChorus(h);
        }
}

}  // namespace
