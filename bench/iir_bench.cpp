// IIR filter effect: stereo 44.1 kHz blocks of 4096 frames through the effect's block path,
// against a plain per-channel scalar loop doing the same double arithmetic; and silence after
// a loud passage, where the recursive state decays towards the denormal range.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "filters/iir_filter_effect.h"
#include "support/signals.h"

namespace {

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kRate = 44100;

// The same cascade as a textbook loop: one channel after the other, state in arrays.
struct ScalarCascade {
    std::vector<double> a1, a2, b0, b1, b2, w1, w2;
    explicit ScalarCascade(const dsp::BiquadCascade& f) {
        for (int s = 0; s < f.sectionCount(); ++s) {
            const dsp::BiquadSection c = f.section(s);
            a1.push_back(c.a1); a2.push_back(c.a2); b0.push_back(c.b0); b1.push_back(c.b1); b2.push_back(c.b2);
        }
        w1.assign(a1.size(), 0.0);
        w2.assign(a1.size(), 0.0);
    }
    void run(const float* in, float* out, uint32_t frames) {
        const size_t count = a1.size();
        for (uint32_t n = 0; n < frames; ++n) {
            double x = in[n];
            for (size_t s = 0; s < count; ++s) {
                const double w = (a1[s] * w1[s] + a2[s] * w2[s]) + x;
                x = (b0[s] * w + b1[s] * w1[s]) + b2[s] * w2[s];
                w2[s] = w1[s];
                w1[s] = w;
            }
            out[n] = static_cast<float>(x);
        }
    }
};

void ours(benchmark::State& state, int order, bool silence) {
    dsp::IirFilterEffect* e = dsp::IirFilterEffect::create(kBlock, 2, kRate, order, 1000.0f, 0);
    std::vector<float> l = dsptest::noise(kBlock, 1), r = dsptest::noise(kBlock, 2), ol(kBlock), orr(kBlock);
    e->processBlock(l.data(), r.data(), ol.data(), orr.data(), kBlock);
    if (silence) std::fill(l.begin(), l.end(), 0.0f), std::fill(r.begin(), r.end(), 0.0f);
    for (auto _ : state) {
        e->processBlock(l.data(), r.data(), ol.data(), orr.data(), kBlock);
        benchmark::DoNotOptimize(ol.data());
        benchmark::DoNotOptimize(orr.data());
    }
    state.counters["frames_per_second"] =
        benchmark::Counter(double(state.iterations()) * kBlock, benchmark::Counter::kIsRate);
    delete e;
}

void scalarLoop(benchmark::State& state, int order, bool silence) {
    dsp::ChebyshevFilter design;
    design.setOrder(order, 0);
    design.design(float(kRate), 1000.0f);
    ScalarCascade left(design), right(design);
    std::vector<float> l = dsptest::noise(kBlock, 1), r = dsptest::noise(kBlock, 2), ol(kBlock), orr(kBlock);
    left.run(l.data(), ol.data(), kBlock);
    right.run(r.data(), orr.data(), kBlock);
    if (silence) std::fill(l.begin(), l.end(), 0.0f), std::fill(r.begin(), r.end(), 0.0f);
    for (auto _ : state) {
        left.run(l.data(), ol.data(), kBlock);
        right.run(r.data(), orr.data(), kBlock);
        benchmark::DoNotOptimize(ol.data());
        benchmark::DoNotOptimize(orr.data());
    }
    state.counters["frames_per_second"] =
        benchmark::Counter(double(state.iterations()) * kBlock, benchmark::Counter::kIsRate);
}

int registerAll() {
    for (int order : {2, 4, 8}) {
        const std::string name = "BM_IirFilter_Order" + std::to_string(order) + "_Stereo";
        benchmark::RegisterBenchmark(name.c_str(), ours, order, false);
        benchmark::RegisterBenchmark((name + "__peer_scalar_loop").c_str(), scalarLoop, order, false);
    }
    const std::string silent = "BM_IirFilter_Order8_SilenceAfterLoud";
    benchmark::RegisterBenchmark(silent.c_str(), ours, 8, true);
    benchmark::RegisterBenchmark((silent + "__peer_scalar_loop").c_str(), scalarLoop, 8, true);
    return 0;
}
const int registered = registerAll();

}  // namespace
