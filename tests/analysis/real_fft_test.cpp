// The real FFT and the cosine transforms against their definitions as sums, evaluated in
// double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "analysis/real_fft.h"
#include "support/signals.h"

namespace {

const double kPi = std::acos(-1.0);

// R[k] = sum a[j] cos(2πjk/n), I[k] = sum a[j] sin(2πjk/n), packed with DC and Nyquist first.
std::vector<double> naivePackedDft(const std::vector<float>& a) {
    const size_t n = a.size();
    std::vector<double> cosTable(n), sinTable(n);
    for (size_t i = 0; i < n; ++i) {
        cosTable[i] = std::cos(2 * kPi * double(i) / double(n));
        sinTable[i] = std::sin(2 * kPi * double(i) / double(n));
    }
    std::vector<double> packed(n);
    for (size_t k = 0; k <= n / 2; ++k) {
        double re = 0, im = 0;
        size_t phase = 0;
        for (size_t j = 0; j < n; ++j) {
            re += a[j] * cosTable[phase];
            im += a[j] * sinTable[phase];
            phase += k;
            if (phase >= n) phase -= n;
        }
        if (k == 0) packed[0] = re;
        else if (k == n / 2) packed[1] = re;
        else {
            packed[2 * k] = re;
            packed[2 * k + 1] = im;
        }
    }
    return packed;
}

// Float rounding grows with log2(n) and the size of the values (about sqrt(n) for these frames).
double tolerance(uint32_t n) { return 4e-7 * std::log2(double(n)) * std::sqrt(double(n)) * 2; }

void expectNear(const std::vector<float>& actual, const std::vector<double>& expected, double tol) {
    ASSERT_EQ(actual.size(), expected.size());
    int reported = 0;
    for (size_t i = 0; i < actual.size(); ++i) {
        if (std::fabs(actual[i] - expected[i]) > tol && reported++ < 8)
            ADD_FAILURE() << "n=" << actual.size() << " index " << i << ": expected " << expected[i]
                          << ", actual " << actual[i];
    }
}

std::unique_ptr<dsp::FftTables> freshTables() { return std::make_unique<dsp::FftTables>(); }

class RealFftSizes : public ::testing::TestWithParam<uint32_t> {};

TEST_P(RealFftSizes, ForwardMatchesTheSumsAndInverseReturnsHalfSizeTimesInput) {
    const uint32_t n = GetParam();
    auto tables = freshTables();
    const std::vector<float> original = dsptest::noise(n, 7919 + n, 1.0f);
    std::vector<float> a = original;
    dsp::realFft(a.data(), n, *tables);
    expectNear(a, naivePackedDft(original), tolerance(n));
    dsp::realFftInverse(a.data(), n, *tables);
    std::vector<double> expected(n);
    for (uint32_t i = 0; i < n; ++i) expected[i] = original[i] * (n / 2.0);
    // Both passes round: the error grows with the n/2 gain of the round trip.
    expectNear(a, expected, 1e-6 * std::log2(double(n)) * n);
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, RealFftSizes,
                         ::testing::Values(4u, 8u, 16u, 128u, 2048u, 16384u));

TEST(RealFft, TablesBuiltForALargerSizeServeSmallerOnes) {
    auto tables = freshTables();
    std::vector<float> big = dsptest::noise(16384, 5, 1.0f);
    dsp::realFft(big.data(), 16384, *tables);
    for (uint32_t n : {4u, 64u, 8192u}) {
        std::vector<float> a = dsptest::noise(n, n, 1.0f);
        const std::vector<double> expected = naivePackedDft(a);
        dsp::realFft(a.data(), n, *tables);
        expectNear(a, expected, tolerance(n));
    }
}

class CosineTransformSizes : public ::testing::TestWithParam<uint32_t> {};

TEST_P(CosineTransformSizes, BothDirectionsMatchTheirSums) {
    const uint32_t n = GetParam();
    auto tables = freshTables();
    for (bool reverse : {false, true}) {
        std::vector<float> a = dsptest::noise(n, n + (reverse ? 1 : 0), 1.0f);
        std::vector<double> expected(n);
        for (uint32_t k = 0; k < n; ++k) {
            double sum = 0;
            for (uint32_t j = 0; j < n; ++j) {
                const double angle = reverse ? kPi * (j + 0.5) * k / n : kPi * j * (k + 0.5) / n;
                sum += a[j] * std::cos(angle);
            }
            expected[k] = sum;
        }
        dsp::cosineTransform(a.data(), n, reverse, *tables);
        SCOPED_TRACE(reverse ? "reverse" : "forward");
        expectNear(a, expected, tolerance(n));
    }
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, CosineTransformSizes,
                         ::testing::Values(4u, 8u, 16u, 256u, 8192u));

}  // namespace
