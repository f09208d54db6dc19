#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "tables/function_table.h"

using dsp::sineTable;

namespace {

constexpr double kPi = 3.141592653589793;

TEST(SineTable, EntriesAreOnePeriodOfTheSineRoundedToFloat) {
    EXPECT_EQ(sineTable.size, 1024u);
    EXPECT_EQ(sineTable.mask, 1023u);
    EXPECT_EQ(sineTable.step, 6.283185307179586 / 1024);
    // 1024 / (2 pi) rounded to single precision, bit for bit.
    EXPECT_EQ(sineTable.indexScale, static_cast<float>(162.97466172610083));
    for (uint32_t i = 0; i <= 1024; ++i)
        ASSERT_EQ(sineTable.values[i], static_cast<float>(std::sin(i * (2 * kPi / 1024)))) << "entry " << i;
    EXPECT_EQ(sineTable.values[256], 1.0f);
    EXPECT_EQ(sineTable.valueAt(1024 * 7 + 768), -1.0f);  // the index is masked
    EXPECT_EQ(sineTable.valueAt(0xffffffffu), sineTable.values[1023]);
}

TEST(SineTable, InterpolatesWithinLinearError) {
    EXPECT_EQ(sineTable.lookup(0.0f), 0.0f);
    EXPECT_NEAR(sineTable.lookup(float(kPi / 2)), 1.0f, 1e-6f);
    EXPECT_NEAR(sineTable.lookup(float(-101 * kPi / 2)), -1.0f, 5e-5f);
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

// The table class is generic: any periodic function tabulates and interpolates the same way.
class SawTable : public dsp::FunctionTable {
public:
    explicit SawTable(uint32_t steps) { build(steps, 4.0, 0.25); }
    double eval(double x) const override { return x / 4.0; }  // rises 0 to 1 over the period
};

TEST(FunctionTable, TabulatesOtherFunctions) {
    const SawTable saw(16);
    EXPECT_EQ(saw.indexScale, 4.0f);
    EXPECT_EQ(saw.values[16], 1.0f);
    EXPECT_FLOAT_EQ(saw.lookup(1.1f), 0.275f);
    EXPECT_FLOAT_EQ(saw.lookup(5.1f), 0.275f);  // one period on, the same phase
    EXPECT_EQ(saw.valueAt(17), saw.values[1]);
}

}  // namespace
