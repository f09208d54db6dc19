// IIR filter effect: type selection, response against the closed-form Chebyshev magnitude,
// history across chain reconfiguration, stereo independence and handle checks.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp.h"
#include "support/test_effects.h"

namespace {

std::vector<int16_t> tone(uint32_t frames, uint32_t channels, double freq, double rate, double amp, double phaseR = 0.0) {
    std::vector<int16_t> pcm(size_t{frames} * channels);
    for (uint32_t i = 0; i < frames; ++i)
        for (uint32_t c = 0; c < channels; ++c)
            pcm[size_t{i} * channels + c] =
                static_cast<int16_t>(std::lround(amp * 32767.0 * std::sin(2.0 * M_PI * freq * i / rate + c * phaseR)));
    return pcm;
}

double rms(const std::vector<int16_t>& pcm, size_t from, size_t step = 1, size_t offset = 0) {
    double sum = 0.0;
    size_t n = 0;
    for (size_t i = from * step + offset; i < pcm.size(); i += step, ++n) sum += double(pcm[i]) * pcm[i];
    return std::sqrt(sum / n) / 32767.0;
}

// Chebyshev type I lowpass magnitude under the bilinear transform, closed form.
double chebyshevLowpass(int order, double rippleDb, double rate, double cutoff, double freq) {
    const double eps = std::sqrt(std::pow(10.0, rippleDb / 10.0) - 1.0);
    const double x = std::tan(M_PI * freq / rate) / std::tan(M_PI * cutoff / rate);
    const double t = x <= 1.0 ? std::cos(order * std::acos(x)) : std::cosh(order * std::acosh(x));
    return 1.0 / std::sqrt(1.0 + eps * eps * t * t);
}

TEST(IirFilterEffect, OnlyTypeOneIsHighpass) {
    // A constant input settles to the DC gain: 0 for the highpass, -1 dB for an even-order lowpass.
    const std::vector<int16_t> dc(8192, 16000);
    for (int32_t type : {0, 1, 2, -1, 1000}) {
        dsp_effect* e = initIirFilter(8192, 1, 44100, 4, 1000.0f, type);
        ASSERT_NE(e, nullptr);
        std::vector<int16_t> out(dc.size());
        ASSERT_TRUE(doIirFilter(e, dc.data(), out.data(), 8192 * 2));
        const double expected = type == 1 ? 0.0 : 16000.0 * std::pow(10.0, -1.0 / 20.0);
        EXPECT_NEAR(out.back(), expected, 2.0) << "type " << type;
        EXPECT_TRUE(termIirFilter(e));
    }
}

TEST(IirFilterEffect, ToneGainFollowsChebyshevMagnitude) {
    const uint32_t rate = 44100, frames = 16384;
    struct Case { int order; float cutoff; double freq; } cases[] = {
        {4, 2000.0f, 500.0}, {4, 2000.0f, 4000.0}, {5, 5000.0f, 7000.0}, {3, 10000.0f, 7000.0}, {6, 1000.0f, 1300.0}};
    for (const Case& c : cases) {
        dsp_effect* e = initIirFilter(frames, 1, rate, c.order, c.cutoff, 0);
        const std::vector<int16_t> in = tone(frames, 1, c.freq, rate, 0.8);
        std::vector<int16_t> out(frames);
        doIirFilter(e, in.data(), out.data(), frames * 2);
        termIirFilter(e);
        const double expected = chebyshevLowpass(c.order, 1.0, rate, c.cutoff, c.freq);
        const double got = rms(out, 4096) / rms(in, 4096);
        EXPECT_NEAR(20.0 * std::log10(got), 20.0 * std::log10(expected), 0.05)
            << "order " << c.order << " cutoff " << c.cutoff << " tone " << c.freq;
    }
}

TEST(IirFilterEffect, StereoChannelsAreIndependentWithEqualCoefficients) {
    const uint32_t frames = 3000;
    const std::vector<int16_t> stereo = tone(frames, 2, 3000.0, 48000, 0.7, 1.3);
    std::vector<int16_t> left(frames), right(frames);
    for (uint32_t i = 0; i < frames; ++i) {
        left[i] = stereo[2 * i];
        right[i] = stereo[2 * i + 1];
    }
    dsp_effect* s = initIirFilter(frames, 2, 48000, 5, 2500.0f, 1);
    dsp_effect* l = initIirFilter(frames, 1, 48000, 5, 2500.0f, 1);
    dsp_effect* r = initIirFilter(frames, 1, 48000, 5, 2500.0f, 1);
    std::vector<int16_t> outS(stereo.size()), outL(frames), outR(frames);
    for (uint32_t at = 0; at < frames; at += 1000) {  // history runs on across calls
        doIirFilter(s, &stereo[2 * at], &outS[2 * at], 1000 * 4);
        doIirFilter(l, &left[at], &outL[at], 1000 * 2);
        doIirFilter(r, &right[at], &outR[at], 1000 * 2);
    }
    for (uint32_t i = 0; i < frames; ++i) {
        ASSERT_EQ(outS[2 * i], outL[i]) << "left frame " << i;
        ASSERT_EQ(outS[2 * i + 1], outR[i]) << "right frame " << i;
    }
    for (dsp_effect* e : {s, l, r}) termIirFilter(e);
}

TEST(IirFilterEffect, ChainKeepsHistoryOnNewBlockSizeAndResetsOnNewRate) {
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> dist(-20000, 20000);
    std::vector<int16_t> a(2048), b(1024), c(1024);
    for (auto* v : {&a, &b, &c})
        for (int16_t& x : *v) x = static_cast<int16_t>(dist(gen));

    dsp_chain* chain = dspCreate(1024, 2, 44100);
    ASSERT_EQ(dspAdd(chain, initIirFilter(1024, 2, 44100, 6, 3000.0f, 0), 1), 1u);
    dsp_effect* ref = initIirFilter(1024, 2, 44100, 6, 3000.0f, 0);
    std::vector<int16_t> got(2048), want(2048);

    ASSERT_EQ(dspSend(chain, a.data(), got.data(), 2048 * 2), 2048u * 2);
    doIirFilter(ref, a.data(), want.data(), 2048 * 2);
    ASSERT_EQ(got, want);

    dspAdjust(chain, 512, 2, 44100);  // smaller blocks, same rate: history continues
    ASSERT_EQ(dspSend(chain, b.data(), got.data(), 1024 * 2), 1024u * 2);
    doIirFilter(ref, b.data(), want.data(), 1024 * 2);
    for (size_t i = 0; i < b.size(); ++i) ASSERT_EQ(got[i], want[i]) << "sample " << i;
    termIirFilter(ref);

    dspAdjust(chain, 512, 2, 48000);  // new rate: redesigned, history cleared
    EXPECT_EQ(dspGetDstRate(chain), 48000u);
    dsp_effect* fresh = initIirFilter(512, 2, 48000, 6, 3000.0f, 0);
    dspSend(chain, c.data(), got.data(), 1024 * 2);
    doIirFilter(fresh, c.data(), want.data(), 1024 * 2);
    for (size_t i = 0; i < c.size(); ++i) ASSERT_EQ(got[i], want[i]) << "sample " << i;
    termIirFilter(fresh);
    dspDestroy(chain);
}

TEST(IirFilterEffect, RejectsOtherKindsAndNull) {
    std::vector<int16_t> pcm(64, 1000), out(64, 0);
    EXPECT_FALSE(doIirFilter(nullptr, pcm.data(), out.data(), 128));
    EXPECT_FALSE(termIirFilter(nullptr));
    dsptest::GainEffect other(1.0f);
    other.configure(64, 1, 44100);
    auto* handle = reinterpret_cast<dsp_effect*>(static_cast<dsp::DspEffect*>(&other));
    EXPECT_FALSE(doIirFilter(handle, pcm.data(), out.data(), 128));
    EXPECT_FALSE(termIirFilter(handle));
    EXPECT_EQ(out, std::vector<int16_t>(64, 0));
    EXPECT_EQ(other.configureCalls, 1);  // still alive and untouched
}

}  // namespace
