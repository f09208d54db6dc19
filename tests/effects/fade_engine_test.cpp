// Timing and scheduling of the fade engines, measured as the gain applied to a signal of ones
// and compared with 10^(dB/20) of the level the ramp should have reached.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "effects/fade_engine.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr double kTolerance = 5e-6;  // table interpolation, relative

double amplitude(double db) { return std::pow(10.0L, static_cast<long double>(db) / 20.0L); }

std::vector<float> run(dsp::FadeEngine& engine, uint32_t frames, uint32_t chunk = 4096) {
    std::vector<float> out(frames, 1.0f);
    for (uint32_t at = 0; at < frames; at += chunk)
        engine.process(out.data() + at, out.data() + at, std::min(chunk, frames - at));
    return out;
}

void expectDb(const std::vector<float>& out, uint32_t at, double db) {
    const double expected = amplitude(db);
    EXPECT_NEAR(out[at], expected, expected * kTolerance) << "sample " << at << ", expected " << db << " dB";
}

void expectHeld(const std::vector<float>& out, uint32_t from, uint32_t to, float value) {
    for (uint32_t i = from; i < to; ++i)
        if (out[i] != value) {
            ADD_FAILURE() << "sample " << i << ": expected " << value << ", got " << out[i];
            return;
        }
}

struct Span {
    uint32_t start, end;
    float target;
};

void expectSchedule(const dsp::FadeEngine& engine, const std::vector<Span>& expected) {
    std::vector<Span> got;
    for (const dsp::FadeAction* a = engine.firstPending(); a != nullptr; a = a->next) got.push_back({a->start, a->end, a->target});
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].start, expected[i].start) << "action " << i;
        EXPECT_EQ(got[i].end, expected[i].end) << "action " << i;
        EXPECT_NEAR(got[i].target, expected[i].target, 1e-3) << "action " << i;
    }
}

}  // namespace

// 0 dB, then (1 s, 2 s) to -20 dB and (3 s, 4 s) back to 0 dB, in several chunkings: the
// ramps cover samples start..end-1, the gain holds the value of end-1 (one step short of the
// target) until the next ramp, which starts from the exact target.
class FadeEngineRamp : public ::testing::TestWithParam<uint32_t> {};

TEST_P(FadeEngineRamp, RunsOverStartToEndMinusOneAndHoldsTheLastValue) {
    dsp::FadeEngine engine;
    engine.setup(4096, kRate, 0.0f);
    ASSERT_TRUE(engine.add(1.0f, 2.0f, -20.0f));
    ASSERT_TRUE(engine.add(3.0f, 4.0f, 0.0f));
    const std::vector<float> out = run(engine, 5 * kRate, GetParam());
    const double step = 20.0 / kRate;

    expectHeld(out, 0, 44101, 0.99999987f);  // the ramp's first sample is computed at 0 dB
    for (uint32_t p : {44101u, 50000u, 66150u, 88000u, 88199u}) expectDb(out, p, -(p - 44100.0) * step);
    EXPECT_GT(out[88199], 0.1f);
    EXPECT_LT(out[88199], amplitude(-20.0 + 1.5 * step));
    expectHeld(out, 88199, 132300, out[88199]);
    expectDb(out, 132300, -20.0);  // exact target, not the value held before
    for (uint32_t p : {132301u, 150000u, 176399u}) expectDb(out, p, -20.0 + (p - 132300.0) * step);
    expectHeld(out, 176399, 5 * kRate, out[176399]);
    EXPECT_NEAR(out[176399], amplitude(-step), 1e-5);  // within one ramp step of unity
}

INSTANTIATE_TEST_SUITE_P(Chunks, FadeEngineRamp, ::testing::Values(1u, 5u * kRate));

// Times become trunc(t * rate) samples for common rates (the decimal time, not its float).
TEST(FadeEngine, TimesConvertToSamplesOfCommonRates) {
    const uint32_t rates[] = {11025, 44100, 48000};
    const uint32_t millis[] = {1, 100, 1500, 60000};
    for (uint32_t rate : rates) {
        dsp::FadeEngine engine;
        engine.setup(256, rate, 0.0f);
        for (uint32_t ms : millis) {
            const uint32_t expected = uint32_t(uint64_t{ms} * rate / 1000);
            EXPECT_EQ(engine.toSamples(ms * 0.001f), expected) << ms << " ms at " << rate << " Hz";
        }
    }
    dsp::FadeEngine engine;
    engine.setup(256, kRate, 0.0f);
    EXPECT_EQ(engine.toSamples(-1.0f), 0u);
    EXPECT_EQ(engine.toSamples(std::numeric_limits<float>::quiet_NaN()), 0u);
    EXPECT_EQ(engine.toSamples(1e9f), 4294967295u);
}

// After half a second, actions that start or end at or before the position, or that do not
// run forward, are refused and leave the schedule and the gain alone.
TEST(FadeEngine, RefusesActionsAtOrBeforeThePositionOrRunningBackwards) {
    struct Case {
        float start, end;
    };
    const Case refused[] = {{0.5f, 1.0f}, {-1.0f, 1.0f}, {1.0f, 1.0f}, {1.0f, 0.75f}, {std::numeric_limits<float>::quiet_NaN(), 1.0f}};
    for (const Case& c : refused) {
        dsp::FadeEngine engine;
        EXPECT_FALSE(engine.add(1.0f, 2.0f, -6.0f)) << "an engine before init takes nothing";
        engine.setup(4096, kRate, -6.0f);
        run(engine, kRate / 2);
        EXPECT_FALSE(engine.add(c.start, c.end, 0.0f)) << c.start << " .. " << c.end;
        EXPECT_FALSE(engine.remove(c.start, c.end)) << c.start << " .. " << c.end;
        EXPECT_FALSE(engine.pending);
        const std::vector<float> out = run(engine, kRate);
        expectHeld(out, 0, kRate, out[0]);
        expectDb(out, 0, -6.0);
    }
    dsp::FadeEngine engine;
    engine.setup(4096, kRate, 0.0f);
    run(engine, kRate / 2);
    EXPECT_TRUE(engine.add(0.51f, 1.0f, 0.0f));
}

// Schedules after a sequence of edits: a new action cuts the actions it overlaps at the level
// they reached, replaces those it covers, splits one it lies inside, and keeps the order; a
// deleted span removes what it covers and cuts what it overlaps, leaving the level reached.
// Each probe is a sample and the level in dB the ramp must have reached there.
constexpr float kDelete = NAN;
struct ScheduleCase {
    const char* name;
    std::vector<Span> edits;  // start and end in milliseconds, target in dB or kDelete
    std::vector<Span> schedule;
    std::vector<std::pair<uint32_t, double>> probes;
};

class FadeEngineSchedule : public ::testing::TestWithParam<ScheduleCase> {};

TEST_P(FadeEngineSchedule, EditsGiveTheSchedule) {
    const ScheduleCase& c = GetParam();
    dsp::FadeEngine engine;
    engine.setup(4096, kRate, 0.0f);
    for (const Span& a : c.edits)
        ASSERT_TRUE(std::isnan(a.target) ? engine.remove(a.start / 1000.0f, a.end / 1000.0f)
                                         : engine.add(a.start / 1000.0f, a.end / 1000.0f, a.target));
    expectSchedule(engine, c.schedule);
    const std::vector<float> out = run(engine, 5 * kRate);
    for (auto [at, db] : c.probes) expectDb(out, at, db);
}

INSTANTIATE_TEST_SUITE_P(
    Edits, FadeEngineSchedule,
    ::testing::Values(
        // 1.25 s halfway to -10, 2.5 s halfway from -10 to -30, 3.75 s halfway from -30 to 0
        ScheduleCase{"Overlap",
                     {{1000, 2000, -20.0f}, {3000, 4000, 0.0f}, {1500, 3500, -30.0f}},
                     {{44100, 66150, -10.0f}, {66150, 154350, -30.0f}, {154350, 176400, 0.0f}},
                     {{55125, -5.0}, {110250, -20.0}, {165375, -15.0}}},
        ScheduleCase{"Inside",
                     {{1000, 3000, -20.0f}, {1500, 2500, 0.0f}},
                     {{44100, 66150, -5.0f}, {66150, 110250, 0.0f}, {110250, 132300, -20.0f}},
                     {{88200, -2.5}, {121275, -10.0}}},
        ScheduleCase{"CoversAll",
                     {{3000, 4000, -6.0f}, {1000, 2000, -20.0f}, {500, 7000, -1.0f}},
                     {{22050, 308700, -1.0f}},
                     {}},
        // nothing happens through the deleted span
        ScheduleCase{"DeleteCovered",
                     {{1000, 2000, -20.0f}, {3000, 4000, -6.0f}, {500, 2500, kDelete}},
                     {{132300, 176400, -6.0f}},
                     {{88200, 0.0}, {132300, 0.0}, {154350, -3.0}}},
        // a gap held at the level reached (one step short of -5 dB), the rest from exactly -5 dB
        ScheduleCase{"DeleteInside",
                     {{1000, 3000, -20.0f}, {1500, 2500, kDelete}},
                     {{44100, 66150, -5.0f}, {110250, 132300, -20.0f}},
                     {{88200, -5.0 + 5.0 / 22050}, {110249, -5.0 + 5.0 / 22050}, {110250, -5.0}, {121275, -12.5}}}),
    [](const auto& info) { return std::string(info.param.name); });

// Deleting while a ramp runs cuts it where the span starts; deleting all empties the schedule.
TEST(FadeEngine, DeletingDuringARampCutsIt) {
    dsp::FadeEngine engine;
    engine.setup(4096, kRate, 0.0f);
    engine.add(1.0f, 3.0f, -20.0f);
    run(engine, kRate + 100);
    ASSERT_TRUE(engine.inRamp);
    ASSERT_TRUE(engine.remove(2.0f, 4.0f));
    expectSchedule(engine, {{44100, 88200, -10.0f}});
    const std::vector<float> out = run(engine, 2 * kRate);
    expectHeld(out, 88099, 2 * kRate, out[88099]);
    expectDb(out, 88099, -10.0 + 10.0 / kRate);
    EXPECT_TRUE(engine.add(4.0f, 5.0f, 0.0f));
    EXPECT_TRUE(engine.remove(3.5f, 6.0f));
    EXPECT_FALSE(engine.pending);
    EXPECT_EQ(engine.pendingCount(), 0u);
}

// A reconfiguration restarts the schedule: position 0, initial level, pending actions run
// again at their times from the restart, kept in seconds when the rate changes; positions
// past the counter's range after a rate increase saturate, keeping the order.
TEST(FadeEngine, ReinitRestartsPendingActionsFromTheInitialLevel) {
    dsp::FadeEngine engine;
    engine.setup(4096, kRate, 0.0f);
    engine.add(1.0f, 2.0f, -20.0f);
    run(engine, kRate * 3 / 2);
    ASSERT_TRUE(engine.inRamp);
    engine.setup(4096, kRate, 0.0f);
    expectSchedule(engine, {{44100, 88200, -20.0f}});
    std::vector<float> out = run(engine, 3 * kRate);
    expectHeld(out, 0, 44101, 0.99999987f);
    expectDb(out, 66150, -10.0);
    expectDb(out, 88199, -20.0 + 20.0 / kRate);

    dsp::FadeEngine faster;
    faster.setup(4096, 8000, 0.0f);
    faster.add(1.0f, 2.0f, -6.0f);
    faster.add(80000.0f, 100000.0f, -12.0f);   // its end passes 2^32 samples at 48 kHz
    faster.add(500000.0f, 530000.0f, -18.0f);  // wholly past it: dropped
    faster.setup(4096, 48000, 0.0f);
    expectSchedule(faster, {{48000, 96000, -6.0f}, {3840000000u, 4294967295u, -12.0f}});
}

// Ramps may go past the table: above +50 dB the gain is capped, below -50 dB it mutes; single
// samples (the plain per-sample path), odd chunks and one block agree.
class FadeEngineBeyondTable : public ::testing::TestWithParam<uint32_t> {};

TEST_P(FadeEngineBeyondTable, RampsCapOrMute) {
    dsp::FadeEngine engine;
    engine.setup(4096, kRate, 0.0f);
    engine.add(1.0f, 2.0f, -60.0f);  // passes -50 dB at 1 + 5/6 s
    engine.add(3.0f, 4.0f, 60.0f);   // from -60: passes -50 dB at 3 + 1/12 s, +50 dB at 3 + 11/12 s
    const std::vector<float> out = run(engine, 5 * kRate, GetParam());
    EXPECT_NEAR(out[80840], amplitude(-50.0 + 10 * 60.0 / kRate), 1e-7);
    expectHeld(out, 80860, 135960, 0.0f);
    EXPECT_GT(out[135990], 0.0f);
    EXPECT_LT(out[135990], 0.0032f);
    const float cap = out[172730];
    EXPECT_NEAR(cap, 316.22776, 316.22776 * kTolerance);
    EXPECT_LT(out[172700], cap);
    expectHeld(out, 172730, 5 * kRate, cap);
}

INSTANTIATE_TEST_SUITE_P(Chunks, FadeEngineBeyondTable, ::testing::Values(1u, 777u));

struct CurveCase {
    const char* name;
    float centre, edge, unity, fade;
    float position;
    double gainA, gainB;  // dB, or NAN for silence, or INFINITY for unity exactly
};

class CrossFadeCurve : public ::testing::TestWithParam<CurveCase> {};

// Gains of the cross-fade curve against the piecewise-linear-in-dB law.
TEST_P(CrossFadeCurve, GainsFollowThePiecewiseDecibelLaw) {
    const CurveCase& c = GetParam();
    dsp::CrossFadeEngine engine;
    engine.setCurve(c.centre, c.edge, c.unity, c.fade);
    engine.gainFor(c.position);
    const auto check = [&](float got, double want, const char* input) {
        if (std::isnan(want)) EXPECT_EQ(got, 0.0f) << input << " should be silent";
        else if (std::isinf(want)) EXPECT_EQ(got, 1.0f) << input << " should be at unity";
        else EXPECT_NEAR(got, amplitude(want), amplitude(want) * kTolerance) << input << " at " << want << " dB";
    };
    check(engine.gainA, c.gainA, "A");
    check(engine.gainB, c.gainB, "B");
}

const double kSilent = NAN;
const double kUnity = INFINITY;

INSTANTIATE_TEST_SUITE_P(
    Curves, CrossFadeCurve,
    ::testing::Values(
        CurveCase{"DefaultCentre", -1, -40, 0.05f, 0.8f, 0.0f, -1.0, -1.0},
        CurveCase{"DefaultUnityEdge", -1, -40, 0.05f, 0.8f, 0.05f, 0.0, -1.0 - 0.05 * 39 / 0.8},
        CurveCase{"DefaultFadeEdge", -1, -40, 0.05f, 0.8f, -0.8f, -40.0, kUnity},
        CurveCase{"DefaultPastFade", -1, -40, 0.05f, 0.8f, 0.81f, kUnity, kSilent},
        CurveCase{"HardSwitchRight", -1, -40, 0.05f, 0.0f, 0.01f, -0.8, kSilent},
        CurveCase{"NoUnityWidthRight", -1, -40, 0.0f, 0.8f, 0.001f, kUnity, -1.0 - 0.001 * 39 / 0.8},
        CurveCase{"NegativeWidths", -1, -40, -0.05f, -0.8f, 0.4f, kUnity, -20.5},
        CurveCase{"WideCurve", -6, -30, 0.5f, 2.0f, 1.5f, kUnity, -6.0 - 1.5 * 12}),
    [](const auto& info) { return std::string(info.param.name); });

// A ramped position is clamped to +-1; an initial position is used as given.
TEST(CrossFadeEngine, RampedPositionsClampWhileTheInitialOneDoesNot) {
    dsp::CrossFadeEngine engine;
    engine.setCurve(-1.0f, -40.0f, 0.05f, 3.0f);  // B still audible out to position 3
    engine.setup(1024, kRate, 2.0f);
    EXPECT_NEAR(engine.gainB, amplitude(-1.0 - 2.0 * 13), amplitude(-27) * kTolerance);
    engine.add(0.5f, 1.0f, -3.0f);  // from 2 to -3: clamped at -1 from 0.8 s
    engine.add(2.0f, 3.0f, 3.0f);   // from -3 to 3: clamped at +1 from 2 + 2/3 s
    std::vector<float> a(3 * kRate, 1.0f), b(3 * kRate, 0.0f), out(3 * kRate);
    std::vector<float> levels(3 * kRate);
    for (uint32_t i = 0; i < 3 * kRate; ++i) {
        engine.mix(&a[i], &b[i], &out[i], 1);
        levels[i] = engine.level;
    }
    EXPECT_EQ(levels[22050], 1.0f);  // the line starts at 2: clamped from the first ramp sample
    EXPECT_NEAR(levels[22050 + 11025], -0.5f, 1e-5);  // inside the range the line itself
    for (uint32_t p : {39700u, 44099u, 100000u}) EXPECT_EQ(levels[p], -1.0f) << "sample " << p;
    for (uint32_t p : {118000u, 132299u}) EXPECT_EQ(levels[p], 1.0f) << "sample " << p;
    EXPECT_EQ(out[132299], 1.0f);  // A alone at +1
    EXPECT_NEAR(engine.gainB, amplitude(-14.0), amplitude(-14.0) * kTolerance);
}
