// The vector dB path gives the very bits of the double-precision formula.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "analysis/magnitude_db.h"

namespace {

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
            std::vector<float> fast(bins), exact(bins);
            dsp::magnitudesDb(packed.data(), fast.data(), bins - round, floor, clamp);
            for (uint32_t k = 0; k < bins - round; ++k) {
                const double magnitude = std::sqrt(double(packed[2 * k]) * packed[2 * k] +
                                                   double(packed[2 * k + 1]) * packed[2 * k + 1]);
                float db = magnitude == 0.0 ? floor : float(20.0 * std::log10(magnitude));
                if (clamp && db < floor) db = floor;
                exact[k] = db;
            }
            for (uint32_t k = 0; k < bins - round; ++k)
                ASSERT_EQ(std::memcmp(&fast[k], &exact[k], sizeof(float)), 0)
                    << "round " << round << " bin " << k << ": expected " << exact[k] << ", actual " << fast[k];
        }
    }
}

}  // namespace
