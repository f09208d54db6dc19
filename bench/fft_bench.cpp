// Short-time spectra: mono 44.1 kHz float input, hop half the transform length, Hann-windowed
// frames from a sliding history, dB magnitudes with a -120 dB floor. The peers do the same
// history, window and dB arithmetic around their own real transform.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

#include <fftw3.h>
#include <kiss_fftr.h>

#include "analysis/fft_plan.h"
#include "support/signals.h"

namespace {

constexpr uint32_t kFrames = 44100;  // one second of input per iteration

void report(benchmark::State& state, uint32_t hop) {
    const uint32_t calls = kFrames / hop;
    state.counters["frames_per_second"] =
        benchmark::Counter(double(calls) * hop * double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Fft_ShortTimeDb(benchmark::State& state) {
    const uint32_t n = uint32_t(state.range(0)), hop = n / 2;
    const std::vector<float> input = dsptest::noise(kFrames, 7, 0.5f);
    std::vector<float> out(n / 2);
    dsp::FftPlan plan;
    plan.setup(hop, n, n, 120.0f);
    for (auto _ : state) {
        for (uint32_t at = 0; at + hop <= kFrames; at += hop) {
            plan.transform(&input[at]);
            plan.magnitudeDb(out.data(), false);
        }
        benchmark::DoNotOptimize(out.data());
    }
    report(state, hop);
}
BENCHMARK(BM_Fft_ShortTimeDb)->Arg(256)->Arg(1024)->Arg(4096);

// History, window and dB steps of the peers, the same arithmetic as the plan's.
struct PeerFrame {
    uint32_t n, hop;
    std::vector<float> history, window, frame;
    explicit PeerFrame(uint32_t size) : n(size), hop(size / 2), history(size), window(size), frame(size) {
        const long double twoPi = 2 * std::acos(-1.0L);
        for (uint32_t i = 0; i < n; ++i) window[i] = float(0.5L * (1 - std::cos(twoPi * (i - 0.5L) / n)));
    }
    void load(const float* input) {
        std::memmove(history.data(), history.data() + hop, sizeof(float) * (n - hop));
        std::memcpy(history.data() + n - hop, input, sizeof(float) * hop);
        for (uint32_t j = 0; j < n; ++j) frame[j] = window[j] * history[j];
    }
    static float db(double re, double im) {
        const double m = std::sqrt(re * re + im * im);
        const float v = m == 0.0 ? -120.0f : float(20.0 * std::log10(m));
        return v < -120.0f ? -120.0f : v;
    }
};

void BM_Fft_ShortTimeDb__peer_kissfft(benchmark::State& state) {
    const uint32_t n = uint32_t(state.range(0));
    const std::vector<float> input = dsptest::noise(kFrames, 7, 0.5f);
    PeerFrame peer(n);
    std::vector<kiss_fft_cpx> spectrum(n / 2 + 1);
    std::vector<float> out(n / 2);
    kiss_fftr_cfg cfg = kiss_fftr_alloc(int(n), 0, nullptr, nullptr);
    for (auto _ : state) {
        for (uint32_t at = 0; at + peer.hop <= kFrames; at += peer.hop) {
            peer.load(&input[at]);
            kiss_fftr(cfg, peer.frame.data(), spectrum.data());
            out[0] = PeerFrame::db(spectrum[0].r, spectrum[n / 2].r);
            for (uint32_t k = 1; k < n / 2; ++k) out[k] = PeerFrame::db(spectrum[k].r, spectrum[k].i);
        }
        benchmark::DoNotOptimize(out.data());
    }
    kiss_fftr_free(cfg);
    report(state, peer.hop);
}
BENCHMARK(BM_Fft_ShortTimeDb__peer_kissfft)->Arg(256)->Arg(1024)->Arg(4096);

void BM_Fft_ShortTimeDb__peer_fftw_estimate(benchmark::State& state) {
    const uint32_t n = uint32_t(state.range(0));
    const std::vector<float> input = dsptest::noise(kFrames, 7, 0.5f);
    PeerFrame peer(n);
    std::vector<float> out(n / 2);
    auto* spectrum = static_cast<fftwf_complex*>(fftwf_malloc(sizeof(fftwf_complex) * (n / 2 + 1)));
    fftwf_plan plan = fftwf_plan_dft_r2c_1d(int(n), peer.frame.data(), spectrum, FFTW_ESTIMATE);
    for (auto _ : state) {
        for (uint32_t at = 0; at + peer.hop <= kFrames; at += peer.hop) {
            peer.load(&input[at]);
            fftwf_execute(plan);
            out[0] = PeerFrame::db(spectrum[0][0], spectrum[n / 2][0]);
            for (uint32_t k = 1; k < n / 2; ++k) out[k] = PeerFrame::db(spectrum[k][0], spectrum[k][1]);
        }
        benchmark::DoNotOptimize(out.data());
    }
    fftwf_destroy_plan(plan);
    fftwf_free(spectrum);
    report(state, peer.hop);
}
BENCHMARK(BM_Fft_ShortTimeDb__peer_fftw_estimate)->Arg(256)->Arg(1024)->Arg(4096);

}  // namespace
