// Chorus: stereo 44.1 kHz blocks of 4096 frames through the effect's block path with 1, 3 and 8
// voices, against the literal scalar loop (one delay region per voice, every tap computed per
// sample and per channel); and silence after a loud passage.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/chorus_model.h"
#include "effects/chorus_effect.h"
#include "support/signals.h"

namespace {

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kRate = 44100;
// 20 ms base delay, 5 ms depth, 2 s period, 40 % per voice, 80 % dry.
constexpr float kDelay = 20.0f, kDepth = 5.0f, kSpeed = 2.0f, kMix = 40.0f, kDry = 80.0f;

void report(benchmark::State& state, uint32_t voices) {
    state.counters["frames_per_second"] =
        benchmark::Counter(double(state.iterations()) * kBlock, benchmark::Counter::kIsRate);
    state.SetLabel(std::to_string(voices) + " voices, 20 ms delay, 5 ms depth, 2 s period");
}

void ours(benchmark::State& state, uint32_t voices, bool silence) {
    std::unique_ptr<dsp::ChorusEffect> owner(
        dsp::ChorusEffect::create(kBlock, 2, kRate, {voices, kDelay, kDepth, kSpeed, kMix, kDry}));
    dsp::ChorusEffect& effect = *owner;
    std::vector<float> l = dsptest::noise(kBlock, 1), r = dsptest::noise(kBlock, 2), ol(kBlock), orr(kBlock);
    for (int n = 0; n < 20; ++n) effect.processBlock(l.data(), r.data(), ol.data(), orr.data(), kBlock);
    if (silence) std::fill(l.begin(), l.end(), 0.0f), std::fill(r.begin(), r.end(), 0.0f);
    for (auto _ : state) {
        effect.processBlock(l.data(), r.data(), ol.data(), orr.data(), kBlock);
        benchmark::DoNotOptimize(ol.data());
        benchmark::DoNotOptimize(orr.data());
    }
    report(state, voices);
}

void scalarLoop(benchmark::State& state, uint32_t voices, bool silence) {
    dsptest::ChorusModel left(kRate, voices, kDelay, kDepth, kSpeed, kMix, kDry);
    dsptest::ChorusModel right(kRate, voices, kDelay, kDepth, kSpeed, kMix, kDry);
    std::vector<float> l = dsptest::noise(kBlock, 1), r = dsptest::noise(kBlock, 2), ol(kBlock), orr(kBlock);
    for (int n = 0; n < 20; ++n) {
        left.process(l.data(), ol.data(), kBlock);
        right.process(r.data(), orr.data(), kBlock);
    }
    if (silence) std::fill(l.begin(), l.end(), 0.0f), std::fill(r.begin(), r.end(), 0.0f);
    for (auto _ : state) {
        left.process(l.data(), ol.data(), kBlock);
        right.process(r.data(), orr.data(), kBlock);
        benchmark::DoNotOptimize(ol.data());
        benchmark::DoNotOptimize(orr.data());
    }
    report(state, voices);
}

int registerAll() {
    for (uint32_t voices : {1u, 3u, 8u}) {
        const std::string name = "BM_Chorus_" + std::to_string(voices) + "Voices_Stereo";
        benchmark::RegisterBenchmark(name.c_str(), ours, voices, false);
        benchmark::RegisterBenchmark((name + "__peer_scalar_loop").c_str(), scalarLoop, voices, false);
    }
    const std::string silent = "BM_Chorus_3Voices_SilenceAfterLoud";
    benchmark::RegisterBenchmark(silent.c_str(), ours, 3u, true);
    benchmark::RegisterBenchmark((silent + "__peer_scalar_loop").c_str(), scalarLoop, 3u, true);
    return 0;
}
const int registered = registerAll();

}  // namespace
