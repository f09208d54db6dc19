// Fader: stereo 44.1 kHz blocks of 4096 frames through the effect's block path (fader 0), idle
// (constant gain) and ramping (level and table lookup every sample), each against a plain
// scalar loop of the same arithmetic; and the same on silence after a loud passage.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "effects/fader_effect.h"
#include "tables/db_table.h"
#include "support/signals.h"

namespace {

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kRate = 44100;

void report(benchmark::State& state, bool ramping) {
    state.counters["frames_per_second"] =
        benchmark::Counter(double(state.iterations()) * kBlock, benchmark::Counter::kIsRate);
    state.SetLabel(ramping ? "ramp 0 dB -> -40 dB over 3 hours" : "constant -6 dB");
}

void ours(benchmark::State& state, bool ramping, bool silence) {
    std::unique_ptr<dsp::FaderEffect> owner(
        dsp::FaderEffect::create(kBlock, 2, kRate, 1.0f, ramping ? 0.0f : -6.0f, 0.0f));
    dsp::FaderEffect& effect = *owner;
    if (ramping) effect.setFaderAction(0, 0.001f, 10800.0f, -40.0f);
    std::vector<float> l = dsptest::noise(kBlock, 1), r = dsptest::noise(kBlock, 2), ol(kBlock), orr(kBlock);
    for (int n = 0; n < 20; ++n) effect.processBlock(l.data(), r.data(), ol.data(), orr.data(), kBlock);
    if (silence) std::fill(l.begin(), l.end(), 0.0f), std::fill(r.begin(), r.end(), 0.0f);
    for (auto _ : state) {
        effect.processBlock(l.data(), r.data(), ol.data(), orr.data(), kBlock);
        benchmark::DoNotOptimize(ol.data());
        benchmark::DoNotOptimize(orr.data());
    }
    report(state, ramping);
}

// The per-sample steps written out plainly: level on the line, table index and interpolation,
// one multiplication, for each channel.
struct ScalarFader {
    float base, slope, gain;
    uint32_t start, position = 0;

    void process(const float* in, float* out, uint32_t frames, bool ramping) {
        const dsp::DbTable& table = dsp::dbTable();
        for (uint32_t i = 0; i < frames; ++i, ++position) {
            if (ramping && position >= start) {
                const float level = float(double(base) + double(position - start) * double(slope));
                const double x = (double(level) + double(table.levelOffset)) * double(table.scale);
                const int32_t k = int32_t(x);
                const uint32_t j = uint32_t(k) & table.mask;
                gain = float(table.values[j] + (double(table.values[j + 1]) - table.values[j]) * (x - k));
            }
            out[i] = in[i] * gain;
        }
    }
};

void scalarLoop(benchmark::State& state, bool ramping, bool silence) {
    const float gain = dsp::dbTable().gainFor(-6.0f);
    ScalarFader left{0.0f, -40.0f / (10800.0f * kRate), gain, 44};
    ScalarFader right = left;
    std::vector<float> l = dsptest::noise(kBlock, 1), r = dsptest::noise(kBlock, 2), ol(kBlock), orr(kBlock);
    for (int n = 0; n < 20; ++n) {
        left.process(l.data(), ol.data(), kBlock, ramping);
        right.process(r.data(), orr.data(), kBlock, ramping);
    }
    if (silence) std::fill(l.begin(), l.end(), 0.0f), std::fill(r.begin(), r.end(), 0.0f);
    for (auto _ : state) {
        left.process(l.data(), ol.data(), kBlock, ramping);
        right.process(r.data(), orr.data(), kBlock, ramping);
        benchmark::DoNotOptimize(ol.data());
        benchmark::DoNotOptimize(orr.data());
    }
    report(state, ramping);
}

void BM_Fader_Idle(benchmark::State& s) { ours(s, false, false); }
void BM_Fader_Idle__peer_scalar_loop(benchmark::State& s) { scalarLoop(s, false, false); }
void BM_Fader_Ramping(benchmark::State& s) { ours(s, true, false); }
void BM_Fader_Ramping__peer_scalar_loop(benchmark::State& s) { scalarLoop(s, true, false); }
void BM_Fader_Idle_SilenceAfterLoud(benchmark::State& s) { ours(s, false, true); }
void BM_Fader_Idle_SilenceAfterLoud__peer_scalar_loop(benchmark::State& s) { scalarLoop(s, false, true); }
void BM_Fader_Ramping_SilenceAfterLoud(benchmark::State& s) { ours(s, true, true); }
void BM_Fader_Ramping_SilenceAfterLoud__peer_scalar_loop(benchmark::State& s) { scalarLoop(s, true, true); }

BENCHMARK(BM_Fader_Idle);
BENCHMARK(BM_Fader_Idle__peer_scalar_loop);
BENCHMARK(BM_Fader_Ramping);
BENCHMARK(BM_Fader_Ramping__peer_scalar_loop);
BENCHMARK(BM_Fader_Idle_SilenceAfterLoud);
BENCHMARK(BM_Fader_Idle_SilenceAfterLoud__peer_scalar_loop);
BENCHMARK(BM_Fader_Ramping_SilenceAfterLoud);
BENCHMARK(BM_Fader_Ramping_SilenceAfterLoud__peer_scalar_loop);

}  // namespace
