// Butterworth and Chebyshev cascades against closed-form coefficients and against responses
// computed independently with scipy.signal (gen_filter_refs.py -> filter_refs.inc), and the IIR
// filter effect's type selection.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <vector>

#include "dsp.h"
#include "filters/biquad_cascade.h"
#include "support/levels.h"
#include "support/signals.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace {

// The tables' rows: designs with |H| at referenceFrequencies(), and impulse responses of some.
struct FilterRef { bool chebyshev, highpass; int order; float rate, cutoff, ripple; double mag[15]; };
struct ImpulseRef { int design; double h[48]; };
#include "filters/filter_refs.inc"

// DC, the cutoff, Nyquist, then 12 frequencies spaced logarithmically from 20 Hz to 98 % of
// Nyquist (numpy's geomspace).
std::vector<double> referenceFrequencies(const FilterRef& r) {
    std::vector<double> f = {0.0, r.cutoff, r.rate / 2.0};
    for (int i = 0; i < 12; ++i) f.push_back(20.0 * std::pow(0.49 * r.rate / 20.0, i / 11.0));
    return f;
}

using dsp::BiquadCascade;
using dsp::ButterworthFilter;
using dsp::ChebyshevFilter;
using dsptest::noise;

// |H(e^jw)| of the cascade from its coefficients, with the additive feedback convention.
double magnitudeAt(const BiquadCascade& f, double freq) {
    const double w = 2.0 * M_PI * freq / f.rate();
    const std::complex<double> z1 = std::polar(1.0, -w);
    const std::complex<double> z2 = z1 * z1;
    std::complex<double> h = 1.0;
    for (int s = 0; s < f.sectionCount(); ++s) {
        const dsp::BiquadSection c = f.section(s);
        h *= (c.b0 + c.b1 * z1 + c.b2 * z2) / (1.0 - c.a1 * z1 - c.a2 * z2);
    }
    return std::abs(h);
}

std::unique_ptr<BiquadCascade> makeDesign(const FilterRef& r) {
    if (r.chebyshev) {
        auto c = std::make_unique<ChebyshevFilter>();
        c->setOrder(r.order, r.highpass ? 1 : 0);
        c->designWithRipple(r.rate, r.cutoff, r.ripple);
        return c;
    }
    auto b = std::make_unique<ButterworthFilter>();
    b->setOrder(r.order, r.highpass ? 1 : 0);
    b->design(r.rate, r.cutoff);
    return b;
}

// Designs each filter given as the same Chebyshev cascade (a highpass for odd orders).
template <class... F>
void chebyshev(int order, float rate, float cutoff, float ripple, F&... filters) {
    for (ChebyshevFilter* f : {&filters...}) {
        f->setOrder(order, order % 2);
        f->designWithRipple(rate, cutoff, ripple);
    }
}

TEST(BiquadCascade, ButterworthOrder2AtQuarterRateMatchesClosedForm) {
    ButterworthFilter f;
    f.setOrder(2, 0);
    f.design(48000.0f, 12000.0f);
    ASSERT_EQ(f.sectionCount(), 1);
    const dsp::BiquadSection s = f.section(0);
    EXPECT_NEAR(s.a1, 0.0, 1e-15);  // t = tan(pi/4) is 1 within rounding
    EXPECT_NEAR(s.a2, -0.17157287525380988, 1e-16);
    EXPECT_NEAR(s.b0, 0.2928932188134524, 1e-16);
    EXPECT_NEAR(s.b1, 0.5857864376269049, 1e-16);
    EXPECT_EQ(s.b2, s.b0);
}

// Every reference design: the coefficients evaluate to scipy's response at DC, the cutoff,
// Nyquist and a logarithmic grid; process() runs the cascade it designed (impulse responses
// against scipy's sosfilt).
TEST(BiquadCascade, MagnitudeAndImpulseResponseMatchScipy) {
    for (size_t d = 0; d < sizeof(kFilterRefs) / sizeof(kFilterRefs[0]); ++d) {
        const FilterRef& r = kFilterRefs[d];
        auto f = makeDesign(r);
        const std::vector<double> freq = referenceFrequencies(r);
        for (int i = 0; i < 15; ++i) {
            EXPECT_NEAR(magnitudeAt(*f, freq[i]), r.mag[i], 1e-9 + 2e-6 * r.mag[i])
                << "design " << d << " (order " << r.order << (r.highpass ? " highpass" : " lowpass")
                << ") at " << freq[i] << " Hz";
        }
    }
    for (const ImpulseRef& ref : kImpulseRefs) {
        auto f = makeDesign(kFilterRefs[ref.design]);
        std::vector<float> x(48, 0.0f), y(48);
        x[0] = 1.0f;
        f->process(x.data(), y.data(), 48);
        for (int n = 0; n < 48; ++n)
            ASSERT_NEAR(y[n], ref.h[n], 2e-7) << "design " << ref.design << " sample " << n;
    }
}

TEST(BiquadCascade, IdentityBeforeDesignAndForOrderZero) {
    const std::vector<float> x = noise(257, 1, 1.0f);
    for (int order : {4, 3, 0, -2}) {
        ChebyshevFilter f;
        f.setOrder(order, 0);
        std::vector<float> y(x.size(), 9.0f);
        f.process(x.data(), y.data(), static_cast<uint32_t>(x.size()));
        f.design(44100.0f, 1000.0f);  // no sections for order <= 0: still identity
        if (order <= 0) f.process(x.data(), y.data(), static_cast<uint32_t>(x.size()));
        for (size_t i = 0; i < x.size(); ++i) ASSERT_EQ(y[i], x[i]) << "order " << order << " index " << i;
    }
}

// Split calls around a redesign to the same filter (history kept), in place, and two cascades
// run as a pair (whose lanes may differ in coefficients) all give the bits of one call on
// separate buffers, also while decaying into the denormal range: denormal inputs are read
// exactly, denormal outputs kept, and the caller's floating-point mode is left as it was.
TEST(BiquadCascade, InPlaceAndPairedProcessingEqualSeparateBuffers) {
    std::vector<float> x = noise(60000, 2, 1.0f), x2 = noise(60000, 3, 1.0f);
    std::fill(x.begin() + 2000, x.end(), 0.0f);
    std::fill(x2.begin() + 3000, x2.end(), 0.0f);
    x[40000] = x2[40000] = 1e-40f;
    x[40001] = -3e-42f;
    const uint32_t n = static_cast<uint32_t>(x.size());
    for (dsp::cpu::Isa level : dsptest::levels())  // 512-, 256- and 128-bit pair kernels
    for (int order : {1, 2, 5, 8, 17}) {
        const dsp::cpu::ForceLevel force(level);
        ChebyshevFilter a, b, c, d, e;
        chebyshev(order, 44100.0f, 3000.0f, 1.0f, a, b, c);
        chebyshev(order, 44100.0f, 5000.0f, 0.5f, d, e);
        std::vector<float> sep(n), inPlace = x, pairL(n), pairR(n), sepR(n);
#if defined(__SSE__)
        const unsigned mode = _mm_getcsr() & ~0x3Fu;  // not the sticky exception flags
#endif
        a.process(x.data(), sep.data(), 1000);
        a.designWithRipple(44100.0f, 3000.0f, 1.0f);
        a.process(x.data() + 1000, sep.data() + 1000, n - 1000);
#if defined(__SSE__)
        EXPECT_EQ(_mm_getcsr() & ~0x3Fu, mode);
#endif
        b.process(inPlace.data(), inPlace.data(), n);
        e.process(x2.data(), sepR.data(), n);
        BiquadCascade::processPair(c, x.data(), pairL.data(), d, x2.data(), pairR.data(), 1234);
        BiquadCascade::processPair(c, x.data() + 1234, pairL.data() + 1234, d, x2.data() + 1234,
                                   pairR.data() + 1234, n - 1234);
        bool sawFloatDenormal = false;
        for (size_t i = 0; i < n; ++i) {
            ASSERT_EQ(inPlace[i], sep[i]) << "order " << order << " index " << i;
            ASSERT_EQ(pairL[i], sep[i]) << dsp::cpu::name(level) << " order " << order << " index " << i;
            ASSERT_EQ(pairR[i], sepR[i]) << dsp::cpu::name(level) << " order " << order << " index " << i;
            sawFloatDenormal = sawFloatDenormal || std::fpclassify(sep[i]) == FP_SUBNORMAL;
        }
        EXPECT_TRUE(sawFloatDenormal) << "order " << order;
    }
}

TEST(IirFilterEffect, OnlyTypeOneIsHighpass) {
    // A constant input settles to the DC gain: 0 for the highpass, -1 dB for an even-order lowpass.
    const std::vector<int16_t> dc(8192, 16000);
    for (int32_t type : {0, 1, 2, -1, 1000}) {
        dsp_effect* e = initIirFilter(8192, 1, 44100, 4, 1000.0f, type);
        std::vector<int16_t> out(dc.size());
        ASSERT_TRUE(doIirFilter(e, dc.data(), out.data(), 8192 * 2));
        const double expected = type == 1 ? 0.0 : 16000.0 * std::pow(10.0, -1.0 / 20.0);
        EXPECT_NEAR(out.back(), expected, 2.0) << "type " << type;
        EXPECT_TRUE(termIirFilter(e));
    }
}

}  // namespace
