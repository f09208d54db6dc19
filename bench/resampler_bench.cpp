// Resampler: stereo blocks of 4096 input frames, float, through the effect's block path, with
// peer resamplers at comparable settings in the same run. Input frames per second.
#include <benchmark/benchmark.h>

#include <samplerate.h>
#include <soxr.h>
#include <speex/speex_resampler.h>

#include <cmath>
#include <string>
#include <vector>

#include "rate/resampler_effect.h"

namespace {

constexpr uint32_t kBlock = 4096;

struct Rates {
    const char* name;
    uint32_t src, dst;
};
constexpr Rates kRates[] = {{"44k_48k", 44100, 48000}, {"48k_32k", 48000, 32000}};

std::vector<float> sweep(uint32_t frames, uint32_t rate, uint32_t channel) {
    std::vector<float> v(frames);
    for (uint32_t i = 0; i < frames; ++i)
        v[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * (440.0 + 200.0 * channel) * i / rate) +
                                  0.2 * std::sin(2.0 * M_PI * 9000.0 * i / rate));
    return v;
}

std::vector<float> interleave(const std::vector<float>& l, const std::vector<float>& r) {
    std::vector<float> v(2 * l.size());
    for (size_t i = 0; i < l.size(); ++i) v[2 * i] = l[i], v[2 * i + 1] = r[i];
    return v;
}

void report(benchmark::State& state, const std::string& label) {
    state.counters["frames_per_second"] =
        benchmark::Counter(double(state.iterations()) * kBlock, benchmark::Counter::kIsRate);
    state.SetLabel(label);
}

void ours(benchmark::State& state, Rates r, uint32_t interpolation, bool filterOn) {
    dsp::ResamplerEffect* e =
        dsp::ResamplerEffect::create(kBlock, 2, 2, r.src, r.dst, interpolation, 80.0f, 40.0f, filterOn);
    const std::vector<float> l = sweep(kBlock, r.src, 0), rr = sweep(kBlock, r.src, 1);
    std::vector<float> ol(e->outSize), orr(e->outSize);
    for (auto _ : state) {
        benchmark::DoNotOptimize(e->processBlock(l.data(), rr.data(), ol.data(), orr.data(), kBlock));
        benchmark::ClobberMemory();
    }
    report(state, std::string(interpolation ? "cubic" : "linear") +
                      (filterOn ? ", Chebyshev order " + std::to_string(e->converter(0).filterOrder()) : ", no filter"));
    delete e;
}

void soxrLq(benchmark::State& state, Rates r) {
    soxr_error_t err = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_LQ, 0);
    soxr_t s = soxr_create(r.src, r.dst, 2, &err, &io, &q, nullptr);
    const std::vector<float> in = interleave(sweep(kBlock, r.src, 0), sweep(kBlock, r.src, 1));
    std::vector<float> out(2 * (kBlock * r.dst / r.src + 64));
    for (auto _ : state) {
        size_t idone = 0, odone = 0;
        soxr_process(s, in.data(), kBlock, &idone, out.data(), out.size() / 2, &odone);
        benchmark::DoNotOptimize(odone);
        benchmark::ClobberMemory();
    }
    report(state, "soxr LQ, float interleaved");
    soxr_delete(s);
}

void speex(benchmark::State& state, Rates r, int quality) {
    int err = 0;
    SpeexResamplerState* s = speex_resampler_init(2, r.src, r.dst, quality, &err);
    const std::vector<float> in = interleave(sweep(kBlock, r.src, 0), sweep(kBlock, r.src, 1));
    std::vector<float> out(2 * (kBlock * r.dst / r.src + 64));
    for (auto _ : state) {
        spx_uint32_t inLen = kBlock, outLen = static_cast<spx_uint32_t>(out.size() / 2);
        speex_resampler_process_interleaved_float(s, in.data(), &inLen, out.data(), &outLen);
        benchmark::DoNotOptimize(outLen);
        benchmark::ClobberMemory();
    }
    report(state, "speexdsp quality " + std::to_string(quality) + ", float interleaved");
    speex_resampler_destroy(s);
}

void libsamplerateLinear(benchmark::State& state, Rates r) {
    int err = 0;
    SRC_STATE* s = src_new(SRC_LINEAR, 2, &err);
    const std::vector<float> in = interleave(sweep(kBlock, r.src, 0), sweep(kBlock, r.src, 1));
    std::vector<float> out(2 * (kBlock * r.dst / r.src + 64));
    for (auto _ : state) {
        SRC_DATA d{};
        d.data_in = in.data();
        d.input_frames = kBlock;
        d.data_out = out.data();
        d.output_frames = static_cast<long>(out.size() / 2);
        d.src_ratio = double(r.dst) / r.src;
        src_process(s, &d);
        benchmark::DoNotOptimize(d.output_frames_gen);
        benchmark::ClobberMemory();
    }
    report(state, "libsamplerate SRC_LINEAR, float interleaved");
    src_delete(s);
}

int registerAll() {
    for (const Rates& r : kRates) {
        const std::string base = std::string("BM_Resampler_") + r.name;
        for (uint32_t interpolation : {0u, 1u}) {
            const std::string name = base + (interpolation ? "_Cubic_Filter" : "_Linear_Filter");
            benchmark::RegisterBenchmark(name.c_str(), ours, r, interpolation, true);
            benchmark::RegisterBenchmark((name + "__peer_soxr_lq").c_str(), soxrLq, r);
            benchmark::RegisterBenchmark((name + "__peer_speex_q0").c_str(), speex, r, 0);
            benchmark::RegisterBenchmark((name + "__peer_speex_q3").c_str(), speex, r, 3);
        }
        const std::string plain = base + "_Linear_NoFilter";
        benchmark::RegisterBenchmark(plain.c_str(), ours, r, 0u, false);
        benchmark::RegisterBenchmark((plain + "__peer_libsamplerate_linear").c_str(), libsamplerateLinear, r);
        benchmark::RegisterBenchmark((base + "_Cubic_NoFilter").c_str(), ours, r, 1u, false);
    }
    return 0;
}
const int registered = registerAll();

}  // namespace
