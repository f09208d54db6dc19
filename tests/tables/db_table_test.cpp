// The decibel table against closed-form 10^(dB/20).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "tables/db_table.h"

namespace {

double amplitude(double db) { return std::pow(10.0L, static_cast<long double>(db) / 20.0L); }

// Linear interpolation over 100/2048 dB steps of an exponential: relative error at most
// (ln 10 / 20 * step)^2 / 8 ~ 3.9e-6, plus float rounding of the table and the result.
constexpr double kInterpolationTolerance = 5e-6;

}  // namespace

TEST(DbTable, InterpolatedGainFollowsTheDecibelLawAcrossTheRange) {
    const dsp::DbTable& table = dsp::dbTable();
    // 0 dB lands just below the entry for 0 dB, because 20.48 is not exact in single precision.
    EXPECT_EQ(table.gainFor(0.0f), 0.99999987f);
    for (int k = 0; k < 20000; ++k) {
        const float db = -50.0f + k * 0.005f + 0.0013f;
        const double expected = amplitude(db);
        const float got = table.gainFor(db);
        ASSERT_NEAR(got, expected, expected * kInterpolationTolerance) << "level " << db << " dB";
    }
}

// Outside -50..+50 dB the level mutes below and is capped above, never wrapping round.
TEST(DbTable, LevelsOutsideTheTableMuteBelowAndCapAbove) {
    const dsp::DbTable& table = dsp::dbTable();
    const float ceiling = table.gainFor(50.0f);
    EXPECT_NEAR(ceiling, 316.22776, 316.22776 * kInterpolationTolerance);
    const float inf = std::numeric_limits<float>::infinity();
    for (float db : {50.001f, 60.0f, inf}) EXPECT_EQ(table.gainFor(db), ceiling) << "level " << db << " dB";
    for (float db : {-50.001f, -60.0f, -1000.0f, -inf, std::numeric_limits<float>::quiet_NaN()})
        EXPECT_EQ(table.gainFor(db), 0.0f) << "level " << db << " dB";
}
