// The fade engines' timing and scheduling, as the gain applied to ones against 10^(dB/20) of the
// level the ramp should have reached; then the fader effect through its exported functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "dsp.h"
#include "effects/fade_engine.h"
#include "support/signals.h"

namespace {

constexpr uint32_t kRate = 44100, kBlock = 1024;
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

// The gain stays put over [from, to).
void expectHeld(const std::vector<float>& out, uint32_t from, uint32_t to) {
    const auto moved = std::find_if(out.begin() + from, out.begin() + to, [&](float v) { return v != out[from]; });
    EXPECT_EQ(moved, out.begin() + to) << "held from " << from << ", moved at " << moved - out.begin();
}

struct Span {
    uint32_t start, end;
    float target;
};

void expectSchedule(const dsp::FadeEngine& engine, const std::vector<Span>& expected) {
    size_t i = 0;
    for (const dsp::FadeAction* a = engine.firstPending(); a != nullptr; a = a->next, ++i) {
        ASSERT_LT(i, expected.size()) << "more actions than expected";
        EXPECT_EQ(a->start, expected[i].start) << "action " << i;
        EXPECT_EQ(a->end, expected[i].end) << "action " << i;
        EXPECT_NEAR(a->target, expected[i].target, 1e-3) << "action " << i;
    }
    EXPECT_EQ(i, expected.size());
}

}  // namespace

// Times become trunc(t * rate) samples for common rates (the decimal time, not its float);
// negative and NaN times give 0, huge ones saturate. A reconfiguration at another rate keeps
// pending actions at their times in seconds; past the counter's range they saturate in order.
TEST(FadeEngine, TimesBecomeSamplesOfTheRate) {
    for (uint32_t rate : {11025u, 44100u, 48000u}) {
        dsp::FadeEngine engine;
        engine.setup(256, rate, 0.0f);
        for (uint32_t ms : {1u, 100u, 1500u, 60000u})
            EXPECT_EQ(engine.toSamples(ms * 0.001f), uint64_t{ms} * rate / 1000) << ms << " ms at " << rate << " Hz";
        EXPECT_EQ(engine.toSamples(-1.0f), 0u);
        EXPECT_EQ(engine.toSamples(std::numeric_limits<float>::quiet_NaN()), 0u);
        EXPECT_EQ(engine.toSamples(1e9f), 4294967295u);
    }
    dsp::FadeEngine faster;
    faster.setup(4096, 8000, 0.0f);
    faster.add(1.0f, 2.0f, -6.0f);
    faster.add(80000.0f, 100000.0f, -12.0f);   // its end passes 2^32 samples at 48 kHz
    faster.add(500000.0f, 530000.0f, -18.0f);  // wholly past it: dropped
    faster.setup(4096, 48000, 0.0f);
    expectSchedule(faster, {{48000, 96000, -6.0f}, {3840000000u, 4294967295u, -12.0f}});
}

// Edits give a schedule and its gains, in every chunking and after a restart mid-ramp (position
// 0, the initial level, every action again). A ramp covers start..end-1, then holds one step
// short of its target; the next starts from the exact target. A new action cuts what it overlaps
// at the level reached, replaces what it covers, splits one it lies inside; a deleted span
// removes or cuts likewise. Probes: a sample and the dB reached there (-inf: muted).
constexpr float kDelete = NAN;
struct ScheduleCase {
    const char* name;
    std::vector<Span> edits;  // start and end in milliseconds, target in dB or kDelete
    std::vector<Span> schedule;
    std::vector<std::pair<uint32_t, double>> probes = {};
    std::vector<std::pair<uint32_t, uint32_t>> held = {};
};
struct Chunking {
    uint32_t chunk, restartAfter;
};

class FadeEngineSchedule : public ::testing::TestWithParam<std::tuple<ScheduleCase, Chunking>> {};

TEST_P(FadeEngineSchedule, EditsGiveTheScheduleAndItsGains) {
    const auto& [c, chunking] = GetParam();
    dsp::FadeEngine engine;
    engine.setup(4096, kRate, 0.0f);
    for (const Span& a : c.edits)
        ASSERT_TRUE(std::isnan(a.target) ? engine.remove(a.start / 1000.0f, a.end / 1000.0f)
                                         : engine.add(a.start / 1000.0f, a.end / 1000.0f, a.target));
    if (chunking.restartAfter != 0) {
        run(engine, chunking.restartAfter);
        engine.setup(4096, kRate, 0.0f);
    }
    expectSchedule(engine, c.schedule);
    const std::vector<float> out = run(engine, 5 * kRate, chunking.chunk);
    for (auto [at, db] : c.probes) expectDb(out, at, db);
    for (auto [from, to] : c.held) expectHeld(out, from, to);
}

constexpr double kStep = 20.0 / kRate;  // dB per sample of a 20 dB ramp over a second
const ScheduleCase kSchedules[] = {
    ScheduleCase{"DownAndUp",
                 {{1000, 2000, -20.0f}, {3000, 4000, 0.0f}},
                 {{44100, 88200, -20.0f}, {132300, 176400, 0.0f}},
                 {{0, 0.0}, {44101, -kStep}, {66150, -10.0}, {88199, -20.0 + kStep}, {132300, -20.0},
                  {132301, -20.0 + kStep}, {154350, -10.0}, {176399, -kStep}},
                 {{0, 44101}, {88199, 132300}, {176399, 5 * kRate}}},
    // below -50 dB the gain mutes, above +50 dB it is capped
    ScheduleCase{"PastTheTable",
                 {{1000, 2000, -60.0f}, {3000, 4000, 60.0f}},
                 {{44100, 88200, -60.0f}, {132300, 176400, 60.0f}},
                 {{80840, -50.0 + 3 * 10 * kStep}, {80860, -INFINITY}, {135990, -60.0 + 3690 * 6 * kStep},
                  {172700, -60.0 + 40400 * 6 * kStep}, {172730, 50.0}},
                 {{80860, 135960}, {172730, 5 * kRate}}},
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
                 {{22050, 308700, -1.0f}}},
    // nothing happens through the deleted span
    ScheduleCase{"DeleteCovered",
                 {{1000, 2000, -20.0f}, {3000, 4000, -6.0f}, {500, 2500, kDelete}},
                 {{132300, 176400, -6.0f}},
                 {{88200, 0.0}, {132300, 0.0}, {154350, -3.0}}},
    // a gap held at the level reached (one step short of -5 dB), the rest from exactly -5 dB
    ScheduleCase{"DeleteInside",
                 {{1000, 3000, -20.0f}, {1500, 2500, kDelete}},
                 {{44100, 66150, -5.0f}, {110250, 132300, -20.0f}},
                 {{88200, -5.0 + 5.0 / 22050}, {110250, -5.0}, {121275, -12.5}},
                 {{66149, 110250}}},
};

// Blocks of 4096, single samples (the plain per-sample path), odd chunks, one block, and blocks
// of 4096 after a restart at 1.0023 s: name suffixes 0 to 4.
INSTANTIATE_TEST_SUITE_P(
    Edits, FadeEngineSchedule,
    ::testing::Combine(::testing::ValuesIn(kSchedules),
                       ::testing::Values(Chunking{4096, 0}, Chunking{1, 0}, Chunking{777, 0}, Chunking{5 * kRate, 0},
                                         Chunking{4096, 44200})),
    [](const auto& info) { return std::string(std::get<0>(info.param).name) + std::to_string(info.index % 5); });

// Half a second in, actions that start or end at or before the position, or that do not run
// forward, are refused and leave the schedule alone. Deleting while a ramp runs cuts it where
// the span starts; deleting all empties the schedule.
TEST(FadeEngine, RefusesEditsInThePastAndCutsTheRampItDeletesFrom) {
    dsp::FadeEngine engine;
    EXPECT_FALSE(engine.add(1.0f, 3.0f, -20.0f)) << "an engine before init takes nothing";
    engine.setup(4096, kRate, 0.0f);
    ASSERT_TRUE(engine.add(1.0f, 3.0f, -20.0f));
    run(engine, kRate / 2);
    const float refused[][2] = {{0.5f, 1.0f}, {-1.0f, 1.0f}, {1.0f, 1.0f}, {1.0f, 0.75f}, {NAN, 1.0f}};  // start, end
    for (const auto& r : refused) {
        EXPECT_FALSE(engine.add(r[0], r[1], 0.0f)) << r[0] << " .. " << r[1];
        EXPECT_FALSE(engine.remove(r[0], r[1])) << r[0] << " .. " << r[1];
    }
    expectSchedule(engine, {{44100, 132300, -20.0f}});
    run(engine, kRate / 2 + 100);
    ASSERT_TRUE(engine.inRamp);
    ASSERT_TRUE(engine.remove(2.0f, 4.0f));
    expectSchedule(engine, {{44100, 88200, -10.0f}});
    const std::vector<float> out = run(engine, 2 * kRate);
    expectHeld(out, 88099, 2 * kRate);
    expectDb(out, 88099, -10.0 + 10.0 / kRate);
    EXPECT_TRUE(engine.add(4.0f, 5.0f, 0.0f));
    EXPECT_TRUE(engine.remove(3.5f, 6.0f));
    EXPECT_FALSE(engine.pending);
    EXPECT_EQ(engine.pendingCount(), 0u);
}

// Gains of the cross-fade curve (centre, edge, unity and fade widths) at a position against the
// piecewise-linear-in-dB law: dB, or kSilent, or kUnity exactly.
TEST(CrossFadeEngine, CurveGainsFollowThePiecewiseDecibelLaw) {
    constexpr double kSilent = NAN, kUnity = INFINITY;
    const struct {
        float centre, edge, unity, fade, position;
        double gainA, gainB;
    } cases[] = {{-1, -40, 0.05f, 0.8f, 0.0f, -1.0, -1.0},
                 {-1, -40, 0.05f, 0.8f, 0.05f, 0.0, -1.0 - 0.05 * 39 / 0.8},
                 {-1, -40, 0.05f, 0.8f, -0.8f, -40.0, kUnity},
                 {-1, -40, 0.05f, 0.8f, 0.81f, kUnity, kSilent},
                 {-1, -40, 0.05f, 0.0f, 0.01f, -0.8, kSilent},  // a hard switch
                 {-1, -40, 0.0f, 0.8f, 0.001f, kUnity, -1.0 - 0.001 * 39 / 0.8},
                 {-1, -40, -0.05f, -0.8f, 0.4f, kUnity, -20.5},
                 {-6, -30, 0.5f, 2.0f, 1.5f, kUnity, -6.0 - 1.5 * 12}};
    for (const auto& c : cases) {
        dsp::CrossFadeEngine engine;
        engine.setCurve(c.centre, c.edge, c.unity, c.fade);
        engine.gainFor(c.position);
        for (auto [got, want] : {std::pair{engine.gainA, c.gainA}, {engine.gainB, c.gainB}}) {
            const double expected = std::isnan(want) ? 0.0 : std::isinf(want) ? 1.0 : amplitude(want);
            EXPECT_NEAR(got, expected, std::isfinite(want) ? expected * kTolerance : 0.0) << "position " << c.position;
        }
    }
}

// A ramped position is clamped to +-1; an initial position is used as given.
TEST(CrossFadeEngine, RampedPositionsClampWhileTheInitialOneDoesNot) {
    dsp::CrossFadeEngine engine;
    engine.setCurve(-1.0f, -40.0f, 0.05f, 3.0f);  // B still audible out to position 3
    engine.setup(1024, kRate, 2.0f);
    EXPECT_NEAR(engine.gainB, amplitude(-1.0 - 2.0 * 13), amplitude(-27) * kTolerance);
    engine.add(0.5f, 1.0f, -3.0f);  // from 2 to -3: clamped at -1 from 0.8 s
    engine.add(2.0f, 3.0f, 3.0f);   // from -3 to 3: clamped at +1 from 2 + 2/3 s
    std::vector<float> a(3 * kRate, 1.0f), b(3 * kRate, 0.0f), out(3 * kRate), levels(3 * kRate);
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

// doFade scales by the fader of its index; doCrossFade weights each input through its own fader
// (-6 and -20 dB): +1 gives A, -1 B, 0 both at -1 dB. The output may be either input. Null
// buffers and out-of-range indexes are refused; refused times still report true.
TEST(Fader, FadeAndCrossFadeApplyTheirGainsInPlaceOrNotAndRefuseBadArguments) {
    struct Case {
        int index;  // 2: doCrossFade
        float position;
        double gainA, gainB;
    };
    const double a6 = amplitude(-6.0), a20 = amplitude(-20.0);
    const Case cases[] = {{0, 0.0f, a6, 0.0}, {1, 0.0f, a20, 0.0}, {2, 1.0f, a6, 0.0}, {2, -1.0f, 0.0, a20},
                          {2, 0.0f, amplitude(-7.0), amplitude(-21.0)}};
    const std::vector<int16_t> a = dsptest::pcmNoise(2 * kBlock, 1, 16000), b = dsptest::pcmNoise(2 * kBlock, 2, 16000);
    for (const Case& c : cases)
        for (int target = 0; target < 3; ++target) {
            dsp_effect* fader = initFader(kBlock, 2, kRate, c.position, -6.0f, -20.0f);
            std::vector<int16_t> inA = a, inB = b, out(a.size());
            int16_t* dst = target == 0 ? out.data() : target == 1 ? inA.data() : inB.data();
            ASSERT_TRUE(c.index == 2 ? doCrossFade(fader, inA.data(), inB.data(), dst, kBlock * 4)
                                     : doFade(fader, uint32_t(c.index), inA.data(), dst, kBlock * 4));
            for (size_t i = 0; i < a.size(); ++i)
                ASSERT_NEAR(dst[i], a[i] * c.gainA + b[i] * c.gainB, c.index == 2 ? 1.5 : 1.01)
                    << "call " << c.index << ", position " << c.position << ", target " << target << ", sample " << i;
            termFader(fader);
        }
    std::vector<int16_t> out(2 * kBlock);
    dsp_effect* fader = initFader(kBlock, 2, kRate, 0.0f, 0.0f, 0.0f);
    EXPECT_FALSE(doFade(fader, 2, a.data(), out.data(), kBlock * 4));
    EXPECT_FALSE(doFade(fader, 0, nullptr, out.data(), kBlock * 4));
    EXPECT_FALSE(doCrossFade(fader, a.data(), nullptr, out.data(), kBlock * 4));
    EXPECT_FALSE(setFaderAction(fader, 2, 1.0f, 2.0f, -6.0f));
    EXPECT_FALSE(delFaderAction(fader, 7, 1.0f, 2.0f));
    EXPECT_TRUE(setFaderAction(fader, 0, 2.0f, 1.0f, -6.0f));
    EXPECT_TRUE(termFader(fader));
}
