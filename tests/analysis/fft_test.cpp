// The real FFT, the cosine transforms and the FFT plans (window, history, dB output, smoothing)
// against their definitions as sums in double precision, and the vector dB path against the
// very bits of its double-precision formula.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "analysis/fft_plan.h"
#include "analysis/magnitude_db.h"
#include "analysis/real_fft.h"
#include "support/signals.h"

namespace {

const double kPi = std::acos(-1.0);

// R[k] = sum a[j] cos(2πjk/n), I[k] = sum a[j] sin(2πjk/n), packed with DC and Nyquist first.
template <class T>
std::vector<double> naivePackedDft(const std::vector<T>& a) {
    const size_t n = a.size();
    std::vector<std::complex<double>> turn(n);  // e^(2πi m/n)
    for (size_t m = 0; m < n; ++m) turn[m] = std::polar(1.0, 2 * kPi * double(m) / double(n));
    std::vector<double> packed(n);
    for (size_t k = 0; k <= n / 2; ++k) {
        std::complex<double> sum = 0.0;
        for (size_t j = 0; j < n; ++j) sum += double(a[j]) * turn[j * k % n];
        packed[k == n / 2 ? 1 : 2 * k] = sum.real();
        if (k != 0 && k != n / 2) packed[2 * k + 1] = sum.imag();
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

class RealFftSizes : public ::testing::TestWithParam<uint32_t> {};

TEST_P(RealFftSizes, ForwardMatchesTheSumsAndInverseReturnsHalfSizeTimesInput) {
    const uint32_t n = GetParam();
    auto tables = std::make_unique<dsp::FftTables>(), large = std::make_unique<dsp::FftTables>();
    const std::vector<float> original = dsptest::noise(n, 7919 + n, 1.0f);
    const std::vector<double> sums = naivePackedDft(original);
    std::vector<float> a = original, b = original, big(16384);
    dsp::realFft(a.data(), n, *tables);
    expectNear(a, sums, tolerance(n));
    dsp::realFftInverse(a.data(), n, *tables);
    std::vector<double> expected(n);
    for (uint32_t i = 0; i < n; ++i) expected[i] = original[i] * (n / 2.0);
    // Both passes round: the error grows with the n/2 gain of the round trip.
    expectNear(a, expected, 1e-6 * std::log2(double(n)) * n);
    // Tables built for the largest size serve this one too.
    dsp::realFft(big.data(), 16384, *large);
    dsp::realFft(b.data(), n, *large);
    expectNear(b, sums, tolerance(n));
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, RealFftSizes, ::testing::Values(4u, 8u, 16u, 128u, 2048u, 16384u));

// Unscaled cosine transforms as sums: type II forward, type III reverse.
template <class T>
std::vector<double> cosineSums(const std::vector<T>& a, bool reverse) {
    const size_t n = a.size();
    std::vector<double> sums(n, 0.0);
    for (size_t k = 0; k < n; ++k)
        for (size_t j = 0; j < n; ++j)
            sums[k] += a[j] * std::cos(reverse ? kPi * (j + 0.5) * k / n : kPi * j * (k + 0.5) / n);
    return sums;
}

class CosineTransformSizes : public ::testing::TestWithParam<uint32_t> {};

TEST_P(CosineTransformSizes, BothDirectionsMatchTheirSums) {
    const uint32_t n = GetParam();
    auto tables = std::make_unique<dsp::FftTables>();
    for (bool reverse : {false, true}) {
        std::vector<float> a = dsptest::noise(n, n + (reverse ? 1 : 0), 1.0f);
        const std::vector<double> expected = cosineSums(a, reverse);
        dsp::cosineTransform(a.data(), n, reverse, *tables);
        SCOPED_TRACE(reverse ? "reverse" : "forward");
        expectNear(a, expected, tolerance(n));
    }
}

INSTANTIATE_TEST_SUITE_P(PowersOfTwo, CosineTransformSizes, ::testing::Values(4u, 8u, 16u, 256u, 8192u));

// dB magnitudes of bins 0..n/2-1 of the Hann-windowed frame: bin 0 combines DC and Nyquist,
// which the packed spectrum holds side by side.
std::vector<double> naiveDb(std::vector<double> frame) {
    const size_t n = frame.size();
    for (size_t j = 0; j < n; ++j) frame[j] *= 0.5 * (1 - std::cos(2 * kPi * (j - 0.5) / n));
    const std::vector<double> packed = naivePackedDft(frame);
    std::vector<double> db(n / 2);
    for (size_t k = 0; k < n / 2; ++k) db[k] = 20 * std::log10(std::hypot(packed[2 * k], packed[2 * k + 1]));
    return db;
}

// dB values compared through their magnitudes, so quiet bins get the absolute tolerance of
// loud ones; no value may lie below the floor.
void expectDbNear(const float* out, const std::vector<double>& expectedDb, double floor, double absTol,
                  const std::string& context) {
    for (size_t k = 0; k < expectedDb.size(); ++k) {
        const double expected = std::max(expectedDb[k], floor);
        ASSERT_GE(out[k], float(floor)) << context << " bin " << k;
        ASSERT_NEAR(std::pow(10.0, out[k] / 20), std::pow(10.0, expected / 20), absTol)
            << context << " bin " << k << ": expected " << expected << " dB, actual " << out[k] << " dB";
    }
}

TEST(FftPlan, SlidingFramesAreTheNewestSamplesOfTheHistory) {
    constexpr uint32_t n = 64, hop = 16, historyLen = 96;
    auto plan = std::make_unique<dsp::FftPlan>();
    ASSERT_TRUE(plan->setup(hop, historyLen, n, 300.0f));
    std::vector<double> stream;
    std::vector<float> out(n / 2);
    for (uint32_t call = 0; call < 7; ++call) {
        std::vector<float> block(hop);
        for (uint32_t i = 0; i < hop; ++i) {
            block[i] = float(std::sin(0.37 * (stream.size() + 1)) * 0.8);
            stream.push_back(block[i]);
        }
        plan->transform(block.data());
        plan->magnitudeDb(out.data(), false);
        std::vector<double> frame(n, 0.0);  // the history starts as zeros
        for (uint32_t j = 0; j < n; ++j) {
            const int64_t at = int64_t(stream.size()) - n + j;
            if (at >= 0) frame[j] = stream[size_t(at)];
        }
        expectDbNear(out.data(), naiveDb(frame), -300.0, 1e-4, "call " + std::to_string(call));
    }
}

// A noisy sine's dB values clamp at a -60 dB floor; smoothed with a floor out of reach they keep
// the low cosine content of the raw values.
TEST(FftPlan, DbValuesMatchDirectSumsClampAtTheFloorAndSmoothingKeepsTheLowCosineContent) {
    constexpr uint32_t n = 256, bins = n / 2;
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 1e-4);
    std::vector<float> input(n), raw(bins), smooth(bins);
    for (uint32_t j = 0; j < n; ++j) input[j] = float(0.5 * std::sin(2 * kPi * 37.25 * j / n) + noise(rng));
    auto plan = std::make_unique<dsp::DirectFftPlan>();
    ASSERT_TRUE(plan->setup(n, n, n, 60.0f));
    plan->transform(input.data());
    plan->magnitudeDb(raw.data(), false);
    expectDbNear(raw.data(), naiveDb(std::vector<double>(input.begin(), input.end())), -60.0, 1e-4, "noisy sine");
    ASSERT_TRUE(plan->setup(n, n, n, 400.0f));
    plan->transform(input.data());
    plan->magnitudeDb(raw.data(), false);
    plan->transform(input.data());
    plan->magnitudeDb(smooth.data(), true);
    // Forward, keep indices below bins/4, reverse.
    std::vector<double> coefficients = cosineSums(raw, false);
    std::fill(coefficients.begin() + bins / 4, coefficients.end(), 0.0);
    const std::vector<double> expected = cosineSums(coefficients, true);
    for (uint32_t k = 0; k < bins; ++k)
        ASSERT_NEAR(smooth[k], std::max(expected[k], -400.0), 1e-5 * bins * bins * 10) << "bin " << k;
}

TEST(MagnitudeDb, VectorPathMatchesTheFormulaBitForBit) {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> exponent(-60.0, 12.0), sign(-1.0, 1.0);
    constexpr uint32_t bins = 1 << 16;
    std::vector<float> packed(2 * bins);
    for (int round = 0; round < 24; ++round) {
        for (float& x : packed) x = float(sign(rng) * std::pow(10.0, exponent(rng) / 2));
        // Exact zeros, pure real and pure imaginary bins, values near 1 (close to 0 dB).
        for (uint32_t k = 0; k < bins; k += 97) packed[2 * k] = packed[2 * k + 1] = 0.0f;
        for (uint32_t k = 5; k < bins; k += 89) packed[2 * k + 1] = 0.0f;
        for (uint32_t k = 7; k < bins; k += 83) packed[2 * k] = 0.0f;
        for (uint32_t k = 11; k < bins; k += 79) packed[2 * k] = float(1.0 + sign(rng) * 1e-6);
        for (bool clamp : {false, true}) {
            const float floor = round % 2 ? -96.0f : -0.0f;
            std::vector<float> fast(bins);
            dsp::magnitudesDb(packed.data(), fast.data(), bins - round, floor, clamp);
            for (uint32_t k = 0; k < bins - round; ++k) {
                const double magnitude = std::sqrt(double(packed[2 * k]) * packed[2 * k] +
                                                   double(packed[2 * k + 1]) * packed[2 * k + 1]);
                float exact = magnitude == 0.0 ? floor : float(20.0 * std::log10(magnitude));
                if (clamp && exact < floor) exact = floor;
                ASSERT_EQ(std::memcmp(&fast[k], &exact, sizeof(float)), 0)
                    << "round " << round << " bin " << k << ": expected " << exact << ", actual " << fast[k];
            }
        }
    }
}

}  // namespace
