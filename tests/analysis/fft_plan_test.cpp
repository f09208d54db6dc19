// FFT plans: window, history, dB output and smoothing, checked against closed forms and
// direct sums in double precision.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "analysis/fft_plan.h"

namespace {

const double kPi = std::acos(-1.0);

// dB magnitudes of bins 0..n/2-1 of the windowed frame, bin 0 combining DC and Nyquist.
std::vector<double> naiveDb(const std::vector<double>& frame) {
    const size_t n = frame.size();
    std::vector<double> db(n / 2);
    for (size_t k = 0; k < n / 2; ++k) {
        double re = 0, im = 0;
        for (size_t j = 0; j < n; ++j) {
            const double w = 0.5 * (1 - std::cos(2 * kPi * (j - 0.5) / n));
            re += w * frame[j] * std::cos(2 * kPi * double(j * k % n) / n);
            im += w * frame[j] * std::sin(2 * kPi * double(j * k % n) / n);
        }
        if (k == 0) {
            double nyquist = 0;
            for (size_t j = 0; j < n; ++j)
                nyquist += 0.5 * (1 - std::cos(2 * kPi * (j - 0.5) / n)) * frame[j] * ((j & 1) ? -1 : 1);
            im = nyquist;
        }
        db[k] = 20 * std::log10(std::sqrt(re * re + im * im));
    }
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

class FftPlanFloor : public ::testing::TestWithParam<std::tuple<uint32_t, bool>> {};

TEST_P(FftPlanFloor, ZerosGiveTheFloorEverywhere) {
    const auto [n, smooth] = GetParam();
    auto plan = std::make_unique<dsp::DirectFftPlan>();
    ASSERT_TRUE(plan->setup(n, n, n, 120.0f));
    std::vector<float> zeros(n, 0.0f), out(n / 2, 1.0f);
    plan->transform(zeros.data());
    ASSERT_EQ(plan->magnitudeDb(out.data(), smooth), n / 2);
    for (uint32_t k = 0; k < n / 2; ++k) ASSERT_EQ(out[k], -120.0f) << "bin " << k;
}

INSTANTIATE_TEST_SUITE_P(SizesAndSmoothing, FftPlanFloor,
                         ::testing::Combine(::testing::Values(8u, 256u, 16384u), ::testing::Bool()));

TEST(FftPlan, ConstantAndAlternatingFramesPutTheSameValueInBinZero) {
    for (uint32_t n : {4u, 8u, 1024u}) {
        auto plan = std::make_unique<dsp::DirectFftPlan>();
        ASSERT_TRUE(plan->setup(n, n, n, 200.0f));
        const double x = 0.25;
        const double expected = 20 * std::log10(x * n / 2);  // the window sums to n/2
        std::vector<float> constant(n, float(x)), alternating(n), out(n / 2);
        for (uint32_t j = 0; j < n; ++j) alternating[j] = float((j & 1) ? -x : x);

        plan->transform(constant.data());
        plan->magnitudeDb(out.data(), false);
        EXPECT_NEAR(out[0], expected, 1e-4) << "constant, n=" << n;

        plan->transform(alternating.data());
        plan->magnitudeDb(out.data(), false);
        EXPECT_NEAR(out[0], expected, 1e-4) << "alternating, n=" << n;
        if (n > 4) {
            EXPECT_GT(out[n / 2 - 1], out[n / 4]) << "the top bin rises, n=" << n;
        }
    }
}

TEST(FftPlan, DbValuesMatchDirectSumsAndClampAtTheFloor) {
    constexpr uint32_t n = 512;
    auto plan = std::make_unique<dsp::DirectFftPlan>();
    ASSERT_TRUE(plan->setup(n, n, n, 60.0f));
    std::mt19937 rng(3);
    std::normal_distribution<double> noise(0.0, 1e-4);
    std::vector<double> frame(n);
    for (uint32_t j = 0; j < n; ++j) frame[j] = 0.5 * std::sin(2 * kPi * 37.25 * j / n) + noise(rng);
    std::vector<float> input(frame.begin(), frame.end()), out(n / 2);
    for (uint32_t j = 0; j < n; ++j) frame[j] = input[j];
    plan->transform(input.data());
    plan->magnitudeDb(out.data(), false);
    expectDbNear(out.data(), naiveDb(frame), -60.0, 1e-4, "noisy sine");
}

TEST(FftPlan, SmoothingKeepsTheLowCosineContentScaledByAQuarterOfTheSize) {
    constexpr uint32_t n = 256;
    constexpr uint32_t bins = n / 2;
    auto plan = std::make_unique<dsp::DirectFftPlan>();
    ASSERT_TRUE(plan->setup(n, n, n, 400.0f));
    std::mt19937 rng(11);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    std::vector<float> input(n), raw(bins), smooth(bins);
    for (float& x : input) x = dist(rng);
    plan->transform(input.data());
    plan->magnitudeDb(raw.data(), false);
    plan->transform(input.data());
    plan->magnitudeDb(smooth.data(), true);
    // Unscaled type-III transform, keep indices below bins/4, unscaled type-II transform back.
    std::vector<double> coefficients(bins, 0.0);
    for (uint32_t k = 0; k < bins / 4; ++k)
        for (uint32_t j = 0; j < bins; ++j) coefficients[k] += raw[j] * std::cos(kPi * j * (k + 0.5) / bins);
    for (uint32_t k = 0; k < bins; ++k) {
        double value = 0;
        for (uint32_t j = 0; j < bins / 4; ++j) value += coefficients[j] * std::cos(kPi * (j + 0.5) * k / bins);
        ASSERT_NEAR(smooth[k], std::max(value, -400.0), 1e-5 * bins * bins * 10) << "bin " << k;
    }
    // A slowly varying curve survives: the smoothed values sit near bins/2 times the raw ones.
    double rawMean = 0, smoothMean = 0;
    for (uint32_t k = 0; k < bins; ++k) {
        rawMean += raw[k];
        smoothMean += smooth[k];
    }
    EXPECT_NEAR(smoothMean / rawMean, bins / 2.0, bins * 0.02);
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
    const float newest = plan->history()[historyLen - 1];
    EXPECT_EQ(newest, float(stream.back()));
    EXPECT_EQ(plan->history()[historyLen - 1 - hop * 5], float(stream[stream.size() - 1 - hop * 5]));
}

TEST(FftPlan, SmallerSetupKeepsBuffersTablesAndHistory) {
    auto plan = std::make_unique<dsp::FftPlan>();
    ASSERT_TRUE(plan->setup(256, 2048, 2048, 96.0f));
    std::vector<float> block(256, 0.5f), out(1024);
    for (int i = 0; i < 8; ++i) plan->transform(block.data());
    const float* window = plan->window();
    const float* work = plan->work();
    const float* history = plan->history();
    const uint32_t tableSize = plan->fftTables().twiddleSize();
    ASSERT_EQ(tableSize, 2048u / 4);

    ASSERT_TRUE(plan->setup(128, 1024, 256, 80.0f));
    EXPECT_EQ(plan->window(), window);
    EXPECT_EQ(plan->work(), work);
    EXPECT_EQ(plan->history(), history);
    EXPECT_EQ(plan->history()[1023], 0.5f) << "history contents survive";
    EXPECT_NEAR(plan->window()[128], 0.5 * (1 - std::cos(2 * kPi * 127.5 / 256)), 1e-7);
    EXPECT_EQ(plan->floorLevel(), -80.0f);

    std::vector<float> fresh(128, 0.0f);
    plan->transform(fresh.data());
    EXPECT_EQ(plan->magnitudeDb(out.data(), false), 128u);
    EXPECT_EQ(plan->fftTables().twiddleSize(), tableSize) << "tables not rebuilt for a smaller size";

    ASSERT_TRUE(plan->setup(128, 1024, 4096, 80.0f));
    EXPECT_EQ(plan->fftTables().twiddleSize(), 0u) << "a larger frame invalidates the tables";
}

TEST(FftPlan, UnreadyPlanDoesNothing) {
    auto plan = std::make_unique<dsp::FftPlan>();
    std::vector<float> in(8, 1.0f), out(4, 7.0f);
    plan->transform(in.data());
    EXPECT_EQ(plan->magnitudeDb(out.data(), false), 0u);
    EXPECT_EQ(out[0], 7.0f);
}

}  // namespace
