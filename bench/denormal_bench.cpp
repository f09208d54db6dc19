// Silence after a loud passage for the families whose own benchmarks time signal only: the
// resampler's anti-alias filter, the upsampler's filters, the short-time spectrum, and float to
// int16 conversion of a decayed tail (subnormal floats). Each timed stretch follows a loud
// passage replayed untimed, so recursive state decays through the denormal range while timed.
// The matching signal rows live in the families' own benchmark files.
#include <benchmark/benchmark.h>

#include <soxr.h>

#include <xmmintrin.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "analysis/fft_plan.h"
#include "convert/convert.h"
#include "dsp.h"
#include "memory/fastmem.h"
#include "rate/resampler_effect.h"
#include "support/signals.h"

namespace {

constexpr uint32_t kBlock = 4096;

// The process's floating-point mode, recorded in the report: SoundTouch's library (built with
// fast math) sets flush-to-zero and denormals-are-zero when it loads. The peers compute under
// it; our calls do not (each computes without flushing), so the quiet rows of a build that
// honoured the caller's mode are not comparable with ours. Runs after the libraries' loaders.
const bool kModeRecorded = [] {
    char csr[16];
    std::snprintf(csr, sizeof csr, "0x%04X", _mm_getcsr());
    benchmark::AddCustomContext("mxcsr_at_start", csr);
    return true;
}();

std::vector<int16_t> toPcm(const std::vector<float>& l, const std::vector<float>& r) {
    std::vector<int16_t> pcm(2 * l.size());
    for (size_t i = 0; i < l.size(); ++i) {
        pcm[2 * i] = static_cast<int16_t>(std::lrint(l[i] * 32767.0f));
        pcm[2 * i + 1] = static_cast<int16_t>(std::lrint(r[i] * 32767.0f));
    }
    return pcm;
}

void report(benchmark::State& state, double framesPerIteration, const char* label) {
    state.counters["frames_per_second"] =
        benchmark::Counter(framesPerIteration * double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(label);
}

// Runs `loud` untimed, then `quiet` timed, `quietBlocks` times, every iteration.
template <typename Loud, typename Quiet>
void afterLoud(benchmark::State& state, Loud loud, Quiet quiet, uint32_t quietBlocks) {
    loud();
    for (auto _ : state) {
        state.PauseTiming();
        loud();
        state.ResumeTiming();
        for (uint32_t b = 0; b < quietBlocks; ++b) quiet();
    }
}

constexpr uint32_t kResampleLoudBlocks = 11;    // about one second at 44.1 kHz
constexpr uint32_t kResampleQuietBlocks = 43;   // about four seconds

void BM_Resampler_44k_48k_Linear_Filter_SilenceAfterLoud(benchmark::State& state) {
    dsp::ResamplerEffect* e = dsp::ResamplerEffect::create(kBlock, 2, 2, 44100, 48000, 0, 80.0f, 40.0f, true);
    const std::vector<float> l = dsptest::noise(kBlock, 1), r = dsptest::noise(kBlock, 2), zero(kBlock, 0.0f);
    std::vector<float> ol(e->outSize), orr(e->outSize);
    afterLoud(
        state,
        [&] {
            for (uint32_t b = 0; b < kResampleLoudBlocks; ++b)
                e->processBlock(l.data(), r.data(), ol.data(), orr.data(), kBlock);
        },
        [&] {
            benchmark::DoNotOptimize(e->processBlock(zero.data(), zero.data(), ol.data(), orr.data(), kBlock));
            benchmark::ClobberMemory();
        },
        kResampleQuietBlocks);
    report(state, double(kBlock) * kResampleQuietBlocks, "linear, Chebyshev filter, stereo 44.1 kHz");
    delete e;
}
BENCHMARK(BM_Resampler_44k_48k_Linear_Filter_SilenceAfterLoud);

void BM_Resampler_44k_48k_Linear_Filter_SilenceAfterLoud__peer_soxr_lq(benchmark::State& state) {
    soxr_error_t err = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_LQ, 0);
    soxr_t s = soxr_create(44100, 48000, 2, &err, &io, &q, nullptr);
    std::vector<float> loud(2 * kBlock), zero(2 * kBlock, 0.0f), out(2 * (kBlock * 48000 / 44100 + 64));
    const std::vector<float> l = dsptest::noise(kBlock, 1), r = dsptest::noise(kBlock, 2);
    for (uint32_t i = 0; i < kBlock; ++i) loud[2 * i] = l[i], loud[2 * i + 1] = r[i];
    auto run = [&](const std::vector<float>& in) {
        size_t idone = 0, odone = 0;
        soxr_process(s, in.data(), kBlock, &idone, out.data(), out.size() / 2, &odone);
        benchmark::DoNotOptimize(odone);
        benchmark::ClobberMemory();
    };
    afterLoud(
        state, [&] { for (uint32_t b = 0; b < kResampleLoudBlocks; ++b) run(loud); }, [&] { run(zero); },
        kResampleQuietBlocks);
    report(state, double(kBlock) * kResampleQuietBlocks, "soxr LQ, float interleaved");
    soxr_delete(s);
}
BENCHMARK(BM_Resampler_44k_48k_Linear_Filter_SilenceAfterLoud__peer_soxr_lq);

void BM_Hqups_44k_48k_Stereo_Mode0_Sse_SilenceAfterLoud(benchmark::State& state) {
    dspEnableMmx(false);
    dspEnable3dnow(false);
    dspEnableSse(true);
    dsp_effect* e = initHqups(kBlock, 2, 2, 44100, 0.3f, 50.0f, 44100 / 4, 1, 80.0f, 240.0f, 0, true);
    const uint32_t src = getHqupsSrcSize(e, kBlock);
    const std::vector<int16_t> loud = toPcm(dsptest::noise(src, 3), dsptest::noise(src, 4));
    const std::vector<int16_t> zero(2 * src, 0);
    std::vector<int16_t> out(2 * getHqupsDstSize(e, src));
    const uint32_t loudBlocks = 44100 / src + 1, quietBlocks = 4 * loudBlocks;
    afterLoud(
        state, [&] { for (uint32_t b = 0; b < loudBlocks; ++b) doHqups(e, loud.data(), out.data(), src * 4); },
        [&] {
            benchmark::DoNotOptimize(doHqups(e, zero.data(), out.data(), src * 4));
            benchmark::ClobberMemory();
        },
        quietBlocks);
    report(state, double(src) * quietBlocks, "stereo 44.1 kHz");
    termHqups(e);
    dspEnableSse(false);
}
BENCHMARK(BM_Hqups_44k_48k_Stereo_Mode0_Sse_SilenceAfterLoud);

void BM_Fft_ShortTimeDb_SilenceAfterLoud(benchmark::State& state) {
    const uint32_t n = uint32_t(state.range(0)), hop = n / 2;
    const std::vector<float> loud = dsptest::noise(44100, 5), zero(44100, 0.0f);
    std::vector<float> out(n / 2);
    dsp::FftPlan plan;
    plan.setup(hop, n, n, 120.0f);
    auto run = [&](const std::vector<float>& input) {
        for (uint32_t at = 0; at + hop <= input.size(); at += hop) {
            plan.transform(&input[at]);
            plan.magnitudeDb(out.data(), false);
        }
        benchmark::DoNotOptimize(out.data());
    };
    afterLoud(state, [&] { run(loud); }, [&] { run(zero); }, 1);
    report(state, double(44100 / hop * hop), "mono 44.1 kHz");
}
BENCHMARK(BM_Fft_ShortTimeDb_SilenceAfterLoud)->Arg(1024);

// The tail of a decaying signal: subnormal floats, converted with each processor switch.
void floatTail(benchmark::State& state, bool sse) {
    auto* l = static_cast<float*>(dsp::fastmemAlloc(kBlock * 4));
    auto* r = static_cast<float*>(dsp::fastmemAlloc(kBlock * 4));
    auto* pcm = static_cast<int16_t*>(dsp::fastmemAlloc(kBlock * 4));
    for (uint32_t i = 0; i < kBlock; ++i) {
        l[i] = std::ldexp(float(int(i % 97) - 48), -140);  // below FLT_MIN: subnormal
        r[i] = -l[i];
    }
    dspEnableSse(sse);
    for (auto _ : state) {
        dsp::floatToPcm(l, r, kBlock, pcm, 2);
        benchmark::ClobberMemory();
    }
    dspEnableSse(false);
    report(state, kBlock, "stereo 44.1 kHz from two float buffers of subnormal values");
    dsp::fastmemFree(l);
    dsp::fastmemFree(r);
    dsp::fastmemFree(pcm);
}
void BM_Convert_FloatToInt16_Stereo_Reference_SubnormalTail(benchmark::State& s) { floatTail(s, false); }
void BM_Convert_FloatToInt16_Stereo_SSE_SubnormalTail(benchmark::State& s) { floatTail(s, true); }
void memcpyPeer(benchmark::State& state) {
    std::vector<char> a(kBlock * 4, 1), b(kBlock * 4);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), a.size());
        benchmark::ClobberMemory();
    }
    report(state, kBlock, "stereo 44.1 kHz");
}
void BM_Convert_FloatToInt16_Stereo_Reference_SubnormalTail__peer_memcpy(benchmark::State& s) { memcpyPeer(s); }
void BM_Convert_FloatToInt16_Stereo_SSE_SubnormalTail__peer_memcpy(benchmark::State& s) { memcpyPeer(s); }
BENCHMARK(BM_Convert_FloatToInt16_Stereo_Reference_SubnormalTail);
BENCHMARK(BM_Convert_FloatToInt16_Stereo_Reference_SubnormalTail__peer_memcpy);
BENCHMARK(BM_Convert_FloatToInt16_Stereo_SSE_SubnormalTail);
BENCHMARK(BM_Convert_FloatToInt16_Stereo_SSE_SubnormalTail__peer_memcpy);

}  // namespace
