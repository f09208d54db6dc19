#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

#include "tables/function_table.h"

using dsp::sineTable;

namespace {

constexpr double kPi = 3.141592653589793;

TEST(SineTable, HoldsOnePeriodAt1024Steps) {
    EXPECT_EQ(sineTable.size, 1024u);
    EXPECT_EQ(sineTable.mask, 1023u);
    EXPECT_EQ(sineTable.period, 6.283185307179586);
    EXPECT_EQ(sineTable.step, 6.283185307179586 / 1024);
    // 1024 / (2 pi) rounded to single precision, bit for bit.
    EXPECT_EQ(sineTable.indexScale, 162.97466f);
    EXPECT_EQ(sineTable.indexScale, static_cast<float>(162.97466172610083));
}

TEST(SineTable, EntriesAreTheSineRoundedToFloat) {
    for (uint32_t i = 0; i <= 1024; ++i) {
        const float expected = static_cast<float>(std::sin(i * (2 * kPi / 1024)));
        ASSERT_EQ(sineTable.values[i], expected) << "entry " << i;
    }
    EXPECT_EQ(sineTable.values[0], 0.0f);
    EXPECT_EQ(sineTable.values[256], 1.0f);
    EXPECT_EQ(sineTable.values[768], -1.0f);
    EXPECT_NEAR(sineTable.values[1024], 0.0f, 1e-15);  // the start of the next period
}

struct LookupCase {
    const char* name;
    float x;
    float expected;
    float tolerance;
};

class SineLookup : public testing::TestWithParam<LookupCase> {};

TEST_P(SineLookup, MatchesTheSine) {
    const LookupCase& c = GetParam();
    EXPECT_NEAR(sineTable.lookup(c.x), c.expected, c.tolerance) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Points, SineLookup,
    testing::Values(LookupCase{"zero", 0.0f, 0.0f, 0.0f}, LookupCase{"quarter", float(kPi / 2), 1.0f, 1e-6f},
                    LookupCase{"period", float(2 * kPi), 0.0f, 1e-6f},
                    // Negative arguments extrapolate backward from the entry above with the slope of
                    // the step after it: off by up to one step squared (3.8e-5).
                    LookupCase{"negative quarter", float(-kPi / 2), -1.0f, 3.8e-5f},
                    LookupCase{"far negative", float(-101 * kPi / 2), -1.0f, 5e-5f}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (ch == ' ') ch = '_';
        return name;
    });

TEST(SineTable, LookupIsPeriodicAndHalfwayIsTheMean) {
    EXPECT_NEAR(sineTable.lookup(float(2 * kPi)), sineTable.lookup(0.0f), 1e-6f);
    for (uint32_t k : {0u, 1u, 100u, 255u, 511u, 700u, 1023u}) {
        // An argument whose scaled index is exactly k + 0.5.
        const float x = float((k + 0.5) / double(sineTable.indexScale));
        const long double u = (long double)x * sineTable.indexScale;
        const double frac = double(u - k);
        const double expected = sineTable.values[k] + (double(sineTable.values[k + 1]) - sineTable.values[k]) * frac;
        EXPECT_NEAR(frac, 0.5, 1e-4) << "entry " << k;
        EXPECT_NEAR(sineTable.lookup(x), expected, 1e-7) << "entry " << k;
        EXPECT_NEAR(sineTable.lookup(x), 0.5 * (double(sineTable.values[k]) + sineTable.values[k + 1]), 2e-6)
            << "entry " << k;
    }
}

TEST(SineTable, InterpolatesWithinLinearError) {
    // Linear interpolation over steps of 2 pi / 1024 is off by at most step^2 / 8 ~ 4.7e-6; the
    // backward extrapolation for negative arguments by up to step^2 ~ 3.8e-5. The single-precision
    // index scale adds a phase error growing with |x|.
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> arg(-200.0f, 200.0f);
    for (int n = 0; n < 20000; ++n) {
        const float x = arg(rng);
        const double tolerance = (x < 0 ? 3.8e-5 : 5e-6) + 2e-5 * std::fabs(x) / 200;
        ASSERT_NEAR(sineTable.lookup(x), std::sin(double(x)), tolerance) << "x = " << x;
    }
}

TEST(SineTable, ValueAtMasksTheIndex) {
    EXPECT_EQ(sineTable.valueAt(256), 1.0f);
    EXPECT_EQ(sineTable.valueAt(1024), sineTable.values[0]);
    EXPECT_EQ(sineTable.valueAt(1024 * 7 + 768), -1.0f);
    EXPECT_EQ(sineTable.valueAt(0xffffffffu), sineTable.values[1023]);
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
