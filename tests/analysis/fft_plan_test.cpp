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

TEST(FftPlan, SmoothingKeepsTheLowCosineContent) {
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

}  // namespace
