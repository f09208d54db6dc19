// The building blocks of the harmonic synthesis engine: Kaiser FIR designs against scipy and
// closed-form responses, its vector kernels against the reference, the delay line, the
// transfer curve against the Bezier it samples, and the element-wise kernels.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <vector>

#include "exciter/aligned_array.h"
#include "exciter/allpass_delay.h"
#include "exciter/harmonics_kernels.h"
#include "exciter/kaiser_fir.h"
#include "exciter/transfer_curve.h"
#include "exciter/kaiser_reference.h"
#include "support/signals.h"

namespace {

using dsp::ResultVariant;

constexpr double kPi = 3.141592653589793;

std::complex<double> dtft(const float* coef, int count, double freq, double rate) {
    std::complex<double> sum = 0.0;
    const double w = 2.0 * kPi * freq / rate;
    for (int k = 0; k < count; ++k) sum += static_cast<double>(coef[k]) * std::polar(1.0, -w * k);
    return sum;
}

using dsptest::noise;

// ---- Kaiser FIR designs ------------------------------------------------------------------

class KaiserDesign : public ::testing::TestWithParam<KaiserReference> {};

TEST_P(KaiserDesign, CoefficientsAndResponseMatchScipy) {
    const KaiserReference& ref = GetParam();
    dsp::KaiserFir fir;
    fir.setup(ref.attenuationDb, ref.taps, ref.type);
    fir.designBand(static_cast<float>(kKaiserReferenceRate), ref.f1, ref.f2);
    const float* c = fir.coefficients();
    for (int k = 0; k <= ref.taps; ++k) {
        EXPECT_NEAR(c[k], ref.coef[k], 2e-7 + 1e-6 * std::fabs(ref.coef[k])) << ref.name << " tap " << k;
        EXPECT_EQ(c[k], c[ref.taps - k]) << ref.name << " symmetry at tap " << k;
    }
    for (std::size_t i = 0; i < kKaiserReferenceFreqs.size(); ++i) {
        const double got = std::abs(dtft(c, ref.taps + 1, kKaiserReferenceFreqs[i], kKaiserReferenceRate));
        EXPECT_NEAR(got, ref.magnitude[i], 2e-6) << ref.name << " at " << kKaiserReferenceFreqs[i] << " Hz";
    }
}

INSTANTIATE_TEST_SUITE_P(Scipy, KaiserDesign, ::testing::ValuesIn(kKaiserReferences),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Transfer curve -------------------------------------------------------------------------

// y on the quadratic Bezier (0,0) - (cx,cy) - (1,1) at abscissa x, by solving x(t) = x for t.
double bezierAt(double h, double x) {
    const double cx = 0.5 - std::cos(kPi / 4) * h, cy = 0.5 + std::sin(kPi / 4) * h;
    const double a = 1.0 - 2.0 * cx, b = 2.0 * cx;  // x(t) = a t^2 + b t
    const double t = std::fabs(a) < 1e-12 ? x / b : (-b + std::sqrt(b * b + 4.0 * a * x)) / (2.0 * a);
    return 2.0 * (1.0 - t) * cy * t + t * t;
}

// Inside full scale the curve follows the Bezier; at and beyond it, it saturates.
TEST(TransferCurve, FollowsTheBezierItSamplesAndSaturatesAtFullScale) {
    for (float h : {0.1f, 0.3f, -0.2f, 0.0f, 0.45f}) {
        dsp::TransferCurve curve;
        curve.buildFromHarmonics(h);
        for (double x = 0.0; x < 1.0; x += 0.01) {
            const float in = static_cast<float>(x);
            float out;
            curve.applyCurve(&in, &out, 1);
            EXPECT_NEAR(out, bezierAt(h, x), 2e-3) << "h " << h << " x " << x;
        }
        const std::vector<float> big = {1.0f, 1.5f, 100.0f, -1.0f, -3.0f, INFINITY, -INFINITY};
        std::vector<float> out(big.size());
        curve.applyCurve(big.data(), out.data(), static_cast<uint32_t>(big.size()));
        for (std::size_t i = 0; i < big.size(); ++i) ASSERT_EQ(out[i], big[i] > 0 ? 1.0f : -1.0f) << big[i];
    }
}

TEST(TransferCurve, PointsAtTheEndsOrAtExistingAbscissasAreIgnored) {
    dsp::TransferCurve curve;
    curve.setup();
    EXPECT_EQ(curve.addPoint(0.5f, 0.8f), 3);
    for (float x : {0.0f, 1.0f, 1.7f, -0.4f, 0.5f}) EXPECT_EQ(curve.addPoint(x, 0.1f), 3) << x;
    // The kept curve: (0,0) - (0.5,0.8) - (1,1), y clamped to [-1, 1] when given.
    const std::vector<float> x = {0.25f, 0.5f, 0.75f, -0.25f};
    std::vector<float> y(4);
    curve.applyCurve(x.data(), y.data(), 4);
    EXPECT_FLOAT_EQ(y[0], 0.4f);
    EXPECT_FLOAT_EQ(y[1], 0.8f);
    EXPECT_FLOAT_EQ(y[2], 0.9f);
    EXPECT_FLOAT_EQ(y[3], -0.4f);
    EXPECT_EQ(curve.addPoint(0.9f, 7.0f), 4);
    const float at = 0.9f;
    float clamped;
    curve.applyCurve(&at, &clamped, 1);
    EXPECT_EQ(clamped, 1.0f);
}

// ---- Element-wise kernels ----------------------------------------------------------------

class ElementKernels : public ::testing::TestWithParam<ResultVariant> {};

TEST_P(ElementKernels, MatchExactArithmeticWithinOneRounding) {
    const ResultVariant set = GetParam();
    for (uint32_t n : {0u, 3u, 8u, 17u}) {
        // Offset by one float: the kernels must not rely on alignment of arbitrary pointers.
        for (uint32_t offset : {0u, 1u}) {
            const std::vector<float> a = noise(n + offset, 100 + n), src = noise(n + offset, 200 + n);
            std::vector<float> b = noise(n + offset, 300 + n), dst = noise(n + offset, 400 + n);
            const std::vector<float> b0 = b, dst0 = dst;
            const float gain = 0.37f;
            dsp::kernels::subtractInto(set, a.data() + offset, b.data() + offset, n);
            dsp::kernels::addScaled(set, dst.data() + offset, src.data() + offset, gain, n);
            for (uint32_t i = offset; i < n + offset; ++i) {
                ASSERT_EQ(b[i], a[i] - b0[i]) << "n " << n << " i " << i;
                const double exact = static_cast<double>(gain) * src[i] + dst0[i];
                // Two float roundings at most: a few units in the last place of the operands.
                ASSERT_NEAR(dst[i], exact, 3e-7) << "n " << n << " i " << i;
                if (set == ResultVariant::Reference) {
                    ASSERT_EQ(dst[i], static_cast<float>(exact)) << "i " << i;
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sets, ElementKernels, ::testing::Values(ResultVariant::Reference, ResultVariant::Amd3dnow, ResultVariant::Sse));

TEST(ElementKernels, VectorFormsRoundTheProductSeparatelyOnlyOverWholeSteps) {
    // gain * src is inexact in float; the reference rounds once, the vector steps twice. With
    // these values the two differ, which shows exactly which elements each form covers.
    const float gain = 0.7559108138084412f, s = 0.9752318263053894f, d = -0.7116807699203491f;
    const float once = static_cast<float>(static_cast<double>(gain) * s + d);
    const float twice = gain * s + d;
    ASSERT_NE(once, twice);
    for (ResultVariant set : {ResultVariant::Amd3dnow, ResultVariant::Sse, ResultVariant::Reference}) {
        for (uint32_t n : {11u, 15u, 16u}) {
            std::vector<float> dst(n, d), src(n, s);
            dsp::kernels::addScaled(set, dst.data(), src.data(), gain, n);
            // 3DNow! steps of 4, SSE steps of 8, the reference for the rest.
            const uint32_t whole = set == ResultVariant::Amd3dnow ? (n & ~3u) : set == ResultVariant::Sse ? (n & ~7u) : 0u;
            for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(dst[i], i < whole ? twice : once) << "n " << n << " i " << i;
        }
    }
}

TEST(ElementKernels, ThreeDNowFormHasNoDenormals) {
    // 1e-39 is denormal in float: 3DNow! reads it as zero, and 2^-100 * 2^-30 = 2^-130 is a
    // denormal result it flushes to zero; the other forms keep both.
    const float tiny = 1e-39f, small = std::ldexp(1.0f, -100), gain = std::ldexp(1.0f, -30);
    ASSERT_EQ(std::fpclassify(tiny), FP_SUBNORMAL);
    for (ResultVariant set : {ResultVariant::Reference, ResultVariant::Amd3dnow, ResultVariant::Sse}) {
        std::vector<float> a(8, tiny), b(8, 0.0f), dst(8, 0.0f), src(8, small);
        dsp::kernels::subtractInto(set, a.data(), b.data(), 8);
        dsp::kernels::addScaled(set, dst.data(), src.data(), gain, 8);
        const bool flushes = set == ResultVariant::Amd3dnow;
        for (int i = 0; i < 8; ++i) {
            ASSERT_EQ(b[i], flushes ? 0.0f : tiny) << static_cast<int>(set) << " i " << i;
            ASSERT_EQ(dst[i], flushes ? 0.0f : std::ldexp(1.0f, -130)) << static_cast<int>(set) << " i " << i;
        }
        // The denormal mode ends with the call: ordinary arithmetic keeps denormals.
        volatile float x = small;
        ASSERT_EQ(x * gain, std::ldexp(1.0f, -130));
    }
}

}  // namespace
