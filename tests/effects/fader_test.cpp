// The fader effect through its exported functions: PCM in and out, argument refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kBlock = 1024;

double amplitude(double db) { return std::pow(10.0L, static_cast<long double>(db) / 20.0L); }

// Interleaved PCM of `frames` frames, each channel a constant.
std::vector<int16_t> constant(uint32_t frames, uint32_t channels, int16_t left, int16_t right = 0) {
    std::vector<int16_t> pcm(size_t{frames} * channels);
    for (uint32_t i = 0; i < frames; ++i) {
        pcm[size_t{i} * channels] = left;
        if (channels == 2) pcm[size_t{i} * 2 + 1] = right;
    }
    return pcm;
}

// What a 16-bit sample becomes after a gain: x/32767 * gain * 32767, truncated toward zero;
// allows one step either way for the rounding of the float stages.
void expectSample(int16_t got, int16_t in, double gain, const char* what, size_t at) {
    const double expected = in * gain;
    EXPECT_NEAR(got, expected, 1.01) << what << " at " << at;
}

}  // namespace

// Each fader scales its own index; each advances only with its own calls.
TEST(Fader, DoFadeAppliesTheFaderOfTheIndexStereo) {
    dsp_effect* fader = initFader(kBlock, 2, kRate, 0.0f, -6.0f, -20.0f);
    const std::vector<int16_t> in = constant(kBlock, 2, 20000, -12000);
    std::vector<int16_t> out(in.size());
    for (uint32_t index : {0u, 1u}) {
        ASSERT_TRUE(doFade(fader, index, in.data(), out.data(), kBlock * 4));
        const double gain = amplitude(index == 0 ? -6.0 : -20.0);
        for (size_t i = 0; i < out.size(); ++i) expectSample(out[i], in[i], gain, "doFade", i);
    }
    EXPECT_FALSE(doFade(fader, 2, in.data(), out.data(), kBlock * 4));
    termFader(fader);
}

// +1 gives A, -1 gives B, 0 gives both at about -1 dB, each input through its own fader.
TEST(Fader, DoCrossFadeWeightsTheFadedInputs) {
    struct Case {
        float position;
        double gainA, gainB;
    };
    const double centre = amplitude(-1.0);
    const Case cases[] = {{1.0f, 1.0, 0.0}, {-1.0f, 0.0, 1.0}, {0.0f, centre, centre}};
    for (const Case& c : cases) {
        dsp_effect* fader = initFader(kBlock, 2, kRate, c.position, -6.0f, 0.0f);
        const std::vector<int16_t> a = constant(kBlock, 2, 16000, -8000);
        const std::vector<int16_t> b = constant(kBlock, 2, -10000, 12000);
        std::vector<int16_t> out(a.size());
        ASSERT_TRUE(doCrossFade(fader, a.data(), b.data(), out.data(), kBlock * 4));
        const double fadeA = amplitude(-6.0);
        for (size_t i = 0; i < out.size(); ++i) {
            const double expected = a[i] * fadeA * c.gainA + b[i] * c.gainB;
            ASSERT_NEAR(out[i], expected, 1.5) << "position " << c.position << " sample " << i;
        }
        termFader(fader);
    }
}

// The output buffer may be either input.
TEST(Fader, DoCrossFadeInPlaceMatchesSeparateOutput) {
    std::vector<int16_t> a(2 * kBlock), b(2 * kBlock);
    for (uint32_t i = 0; i < 2 * kBlock; ++i) {
        a[i] = int16_t((i * 7919) % 30000 - 15000);
        b[i] = int16_t((i * 104729) % 30000 - 15000);
    }
    std::vector<int16_t> results[3];
    for (int mode = 0; mode < 3; ++mode) {
        dsp_effect* fader = initFader(kBlock, 2, kRate, 0.3f, -3.0f, -9.0f);
        std::vector<int16_t> aa = a, bb = b, out(a.size());
        int16_t* target = mode == 0 ? out.data() : mode == 1 ? aa.data() : bb.data();
        doCrossFade(fader, aa.data(), bb.data(), target, kBlock * 4);
        results[mode].assign(target, target + a.size());
        termFader(fader);
    }
    EXPECT_EQ(results[0], results[1]);
    EXPECT_EQ(results[0], results[2]);
}

// Null buffers and out-of-range indexes are refused; refused times still report true.
TEST(Fader, RefusesNullBuffersAndBadIndexes) {
    std::vector<int16_t> pcm(2 * kBlock, 1234), out(2 * kBlock, 77);
    dsp_effect* fader = initFader(kBlock, 2, kRate, 0.0f, 0.0f, 0.0f);
    EXPECT_FALSE(doFade(fader, 0, nullptr, out.data(), kBlock * 4));
    EXPECT_FALSE(doCrossFade(fader, pcm.data(), nullptr, out.data(), kBlock * 4));
    EXPECT_FALSE(setFaderAction(fader, 2, 1.0f, 2.0f, -6.0f));
    EXPECT_FALSE(delFaderAction(fader, 7, 1.0f, 2.0f));
    EXPECT_TRUE(setFaderAction(fader, 0, 2.0f, 1.0f, -6.0f));
    EXPECT_TRUE(termFader(fader));
}

