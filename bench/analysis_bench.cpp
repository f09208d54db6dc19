// Envelope follower (stereo 44.1 kHz) and onset slicing (48 kHz, mono and stereo) on a synthetic
// music-like signal: decaying chord notes over a bass line, with a noise hit at every beat.
// The slicer races aubio's onset detector (hfc, hop 256, window 1024) on the same mono signal.
// The "SilenceAfterLoud" rows time a stretch of silence that follows a loud passage each time,
// so the filters' recursive state decays through the denormal range inside the timed part.
#include <benchmark/benchmark.h>

#include <aubio/aubio.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "dsp.h"

namespace {

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kAubioHop = 256;
constexpr uint32_t kAubioWindow = 1024;
constexpr uint32_t kSilentSeconds = 8;  // long enough for the 33 Hz smoother to reach the denormal range

// Interleaved int16, `seconds` long: a beat every 0.25 s starts a noise hit decaying in ~20 ms
// and a chord note decaying in ~0.3 s; a bass tone plays under it all.
std::vector<int16_t> music(uint32_t rate, uint32_t channels, uint32_t seconds) {
    const double pi = std::acos(-1.0);
    const uint32_t frames = rate * seconds, beat = rate / 4;
    const double notes[] = {261.63, 329.63, 392.0, 523.25, 440.0, 349.23, 293.66, 493.88};
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<int16_t> pcm(size_t(frames) * channels);
    for (uint32_t i = 0; i < frames; ++i) {
        const uint32_t b = i / beat;
        const double t = double(i) / rate, since = double(i % beat) / rate;
        const double hit = dist(gen) * std::exp(-since / 0.02) * (b % 2 == 0 ? 0.5 : 0.25);
        const double note = 0.25 * std::exp(-since / 0.3) * std::sin(2 * pi * notes[b % 8] * t);
        const double bass = 0.15 * std::sin(2 * pi * 55.0 * t);
        for (uint32_t c = 0; c < channels; ++c) {
            const double pan = c == 0 ? 1.0 : 0.8;
            pcm[size_t(i) * channels + c] = int16_t(std::lrint(32767.0 * 0.9 * pan * (hit + note + bass) / 1.15));
        }
    }
    return pcm;
}

void report(benchmark::State& state, double frames, const std::string& label) {
    state.counters["frames_per_second"] = benchmark::Counter(frames, benchmark::Counter::kIsRate);
    state.SetLabel(label);
}

// Feeds `pcm` to `run(block pointer, frames)` in blocks of at most `block` frames.
template <typename Run>
void feed(const std::vector<int16_t>& pcm, uint32_t channels, uint32_t block, Run run) {
    const uint32_t frames = uint32_t(pcm.size() / channels);
    for (uint32_t at = 0; at < frames; at += block) {
        const uint32_t n = frames - at < block ? frames - at : block;
        run(&pcm[size_t(at) * channels], n);
    }
}

// Signal rows time the music continuously; silence rows replay one loud second untimed, then
// time kSilentSeconds of zeros.
template <typename Run>
void race(benchmark::State& state, uint32_t rate, uint32_t channels, bool silence, uint32_t block, Run run,
          const std::string& settings = "") {
    const std::vector<int16_t> loud = music(rate, channels, silence ? 1 : 2);
    const std::vector<int16_t> quiet(size_t(rate) * kSilentSeconds * channels, 0);
    const std::vector<int16_t>& timed = silence ? quiet : loud;
    feed(loud, channels, block, run);
    for (auto _ : state) {
        if (silence) {
            state.PauseTiming();
            feed(loud, channels, block, run);
            state.ResumeTiming();
        }
        feed(timed, channels, block, run);
    }
    report(state, double(state.iterations()) * double(timed.size() / channels),
           settings + (rate == 48000 ? (channels == 2 ? "stereo 48 kHz" : "mono 48 kHz") : "stereo 44.1 kHz"));
}

void envelope(benchmark::State& state, bool silence) {
    dsp_effect* h = initEnvAnalyze(kBlock, 2, 44100);
    std::vector<float> out(2 * kBlock);
    race(state, 44100, 2, silence, kBlock, [&](const int16_t* pcm, uint32_t n) {
        doEnvAnalyze(h, pcm, out.data(), n * 4);
        benchmark::DoNotOptimize(out.data());
    });
    termEnvAnalyze(h);
}

void slicer(benchmark::State& state, uint32_t channels, bool silence) {
    dsp_effect* h = initWaveSlice(kBlock, channels, 48000, -30.0f, -40.0f, 10.0f, 0.05f);
    race(state, 48000, channels, silence, kBlock,
         [&](const int16_t* pcm, uint32_t n) { doWaveSlice(h, pcm, n * 2 * channels); });
    benchmark::DoNotOptimize(getWaveSlice(h, 0));
    termWaveSlice(h);
}

// aubio takes mono float hops; the int16 to float step is part of its run as it is of ours.
// A stereo stream is mixed to mono first, the same job the slicer's conversion does.
void aubioHfc(benchmark::State& state, uint32_t channels, bool silence) {
    aubio_onset_t* onset = new_aubio_onset("hfc", kAubioWindow, kAubioHop, 48000);
    fvec_t* in = new_fvec(kAubioHop);
    fvec_t* out = new_fvec(1);
    uint32_t onsets = 0;
    race(state, 48000, channels, silence, kAubioHop, [&](const int16_t* pcm, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
            const float v = channels == 2 ? (float(pcm[2 * i]) + float(pcm[2 * i + 1])) * (0.5f / 32768.0f)
                                          : float(pcm[i]) * (1.0f / 32768.0f);
            in->data[i] = v;
        }
        for (uint32_t i = n; i < kAubioHop; ++i) in->data[i] = 0.0f;
        aubio_onset_do(onset, in, out);
        onsets += out->data[0] != 0.0f;
    }, "aubio hfc, hop 256, window 1024, ");
    benchmark::DoNotOptimize(onsets);
    del_fvec(out);
    del_fvec(in);
    del_aubio_onset(onset);
}

void BM_Envelope_Stereo(benchmark::State& s) { envelope(s, false); }
void BM_Envelope_SilenceAfterLoud(benchmark::State& s) { envelope(s, true); }
void BM_WaveSlice_Mono(benchmark::State& s) { slicer(s, 1, false); }
void BM_WaveSlice_Mono__peer_aubio_hfc(benchmark::State& s) { aubioHfc(s, 1, false); }
void BM_WaveSlice_Stereo(benchmark::State& s) { slicer(s, 2, false); }
void BM_WaveSlice_Stereo__peer_aubio_hfc(benchmark::State& s) { aubioHfc(s, 2, false); }
void BM_WaveSlice_SilenceAfterLoud(benchmark::State& s) { slicer(s, 1, true); }
void BM_WaveSlice_SilenceAfterLoud__peer_aubio_hfc(benchmark::State& s) { aubioHfc(s, 1, true); }

BENCHMARK(BM_Envelope_Stereo);
BENCHMARK(BM_Envelope_SilenceAfterLoud);
BENCHMARK(BM_WaveSlice_Mono);
BENCHMARK(BM_WaveSlice_Mono__peer_aubio_hfc);
BENCHMARK(BM_WaveSlice_Stereo);
BENCHMARK(BM_WaveSlice_Stereo__peer_aubio_hfc);
BENCHMARK(BM_WaveSlice_SilenceAfterLoud);
BENCHMARK(BM_WaveSlice_SilenceAfterLoud__peer_aubio_hfc);

}  // namespace
