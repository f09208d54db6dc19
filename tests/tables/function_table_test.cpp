#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "tables/function_table.h"

using dsp::sineTable;

namespace {

constexpr double kPi = 3.141592653589793;

TEST(SineTable, EntriesAreOnePeriodOfTheSineRoundedToFloat) {
    for (uint32_t i = 0; i <= 1024; ++i)
        ASSERT_EQ(sineTable.values[i], static_cast<float>(std::sin(i * (2 * kPi / 1024)))) << "entry " << i;
    EXPECT_EQ(sineTable.valueAt(1024 * 7 + 768), -1.0f);  // the index is masked
    EXPECT_EQ(sineTable.valueAt(0xffffffffu), sineTable.values[1023]);
}

TEST(SineTable, InterpolatesWithinLinearError) {
    EXPECT_EQ(sineTable.lookup(0.0f), 0.0f);
    // Linear interpolation over steps of 2 pi / 1024 is off by at most step^2 / 8 ~ 4.7e-6; negative
    // arguments extrapolate backward from the entry above with the slope of the step after it, off
    // by up to step^2 ~ 3.8e-5. The single-precision index scale adds a phase error growing with |x|.
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> arg(-200.0f, 200.0f);
    for (int n = 0; n < 20000; ++n) {
        const float x = arg(rng);
        const double tolerance = (x < 0 ? 3.8e-5 : 5e-6) + 2e-5 * std::fabs(x) / 200;
        ASSERT_NEAR(sineTable.lookup(x), std::sin(double(x)), tolerance) << "x = " << x;
    }
}

}  // namespace
