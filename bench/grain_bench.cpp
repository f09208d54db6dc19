// Pitch shift (+300 cents) and time stretch (half and twice the length), stereo 44.1 kHz blocks
// of 4096 frames through the effects' block path, grain 50 ms and hop 10 ms; peers: SoundTouch
// with its default settings and with quick seek. Also silence after a loud passage.
// Figures are input frames per second.
#include <benchmark/benchmark.h>

#include <soundtouch/SoundTouch.h>

#include <algorithm>
#include <vector>

#include "effects/pitch_shift_effect.h"
#include "effects/stretch_effect.h"
#include "support/signals.h"

namespace {

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kRate = 44100;
constexpr float kGrain = 0.05f, kHop = 0.01f;

void report(benchmark::State& state, const char* label) {
    state.counters["frames_per_second"] =
        benchmark::Counter(double(state.iterations()) * kBlock, benchmark::Counter::kIsRate);
    state.SetLabel(label);
}

enum class Job { Pitch, Half, Double };

void ours(benchmark::State& state, Job job, bool silence) {
    dsp::DspEffect* effect =
        job == Job::Pitch ? static_cast<dsp::DspEffect*>(dsp::PitchShiftEffect::create(kBlock, 2, kRate, 300.0f, 0.0f, kGrain, kHop))
                          : dsp::StretchEffect::create(kBlock, 2, kRate, job == Job::Half ? 1000.0f : -1000.0f, 0.0f,
                                                       kGrain, kHop);
    std::vector<float> l = dsptest::noise(kBlock, 1), r = dsptest::noise(kBlock, 2), ol(4 * kBlock), orr(4 * kBlock);
    for (int n = 0; n < 20; ++n) effect->processBlock(l.data(), r.data(), ol.data(), orr.data(), kBlock);
    if (silence) std::fill(l.begin(), l.end(), 0.0f), std::fill(r.begin(), r.end(), 0.0f);
    for (auto _ : state) {
        benchmark::DoNotOptimize(effect->processBlock(l.data(), r.data(), ol.data(), orr.data(), kBlock));
        benchmark::ClobberMemory();
    }
    delete effect;
    report(state, job == Job::Pitch ? "+300 cents, grain 50 ms, hop 10 ms"
                  : job == Job::Half ? "half length, grain 50 ms, hop 10 ms"
                                     : "twice the length, grain 50 ms, hop 10 ms");
}

void soundTouch(benchmark::State& state, Job job, bool quickSeek, bool silence) {
    soundtouch::SoundTouch st;
    st.setSampleRate(kRate);
    st.setChannels(2);
    st.setSetting(SETTING_USE_QUICKSEEK, quickSeek ? 1 : 0);
    if (job == Job::Pitch) st.setPitchSemiTones(3.0);
    else st.setTempo(job == Job::Half ? 2.0 : 0.5);
    std::vector<float> in = dsptest::noise(2 * kBlock, 3), out(2 * 8 * kBlock);
    auto pass = [&] {
        st.putSamples(in.data(), kBlock);
        while (st.receiveSamples(out.data(), 8 * kBlock) != 0) {
        }
    };
    for (int n = 0; n < 20; ++n) pass();
    if (silence) std::fill(in.begin(), in.end(), 0.0f);
    for (auto _ : state) {
        pass();
        benchmark::ClobberMemory();
    }
    report(state, quickSeek ? "SoundTouch, quick seek" : "SoundTouch, default settings");
}

#define GRAIN_BENCH(name, job, silence)                                                              \
    void BM_##name(benchmark::State& s) { ours(s, job, silence); }                                   \
    void BM_##name##__peer_soundtouch_default(benchmark::State& s) { soundTouch(s, job, false, silence); } \
    void BM_##name##__peer_soundtouch_quickseek(benchmark::State& s) { soundTouch(s, job, true, silence); } \
    BENCHMARK(BM_##name);                                                                            \
    BENCHMARK(BM_##name##__peer_soundtouch_default);                                                 \
    BENCHMARK(BM_##name##__peer_soundtouch_quickseek);

GRAIN_BENCH(PitchShift_Up300Cents, Job::Pitch, false)
GRAIN_BENCH(TimeStretch_HalfLength, Job::Half, false)
GRAIN_BENCH(TimeStretch_DoubleLength, Job::Double, false)
GRAIN_BENCH(PitchShift_Up300Cents_SilenceAfterLoud, Job::Pitch, true)
GRAIN_BENCH(TimeStretch_HalfLength_SilenceAfterLoud, Job::Half, true)
GRAIN_BENCH(TimeStretch_DoubleLength_SilenceAfterLoud, Job::Double, true)

}  // namespace
