// High-quality upsampler: stereo PCM from 44100 and 22050 Hz to 48000 Hz through doHqups, in
// both modes and under every processor variant, against soxr's high-quality recipe doing the
// rate conversion alone. Frames per second count input frames.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "dsp.h"
#if defined(DSP_BENCH_HAVE_SOXR)
#include <soxr.h>
#endif

namespace {

constexpr uint32_t kOutBlock = 4096;

std::vector<int16_t> music(uint32_t frames, uint32_t rate) {
    std::mt19937 gen(5);
    std::uniform_real_distribution<double> dist(-0.05, 0.05);
    std::vector<int16_t> pcm(2 * frames);
    for (uint32_t i = 0; i < frames; ++i)
        for (uint32_t c = 0; c < 2; ++c) {
            double v = dist(gen);
            for (double f : {220.0, 1760.0, 5200.0, 0.4 * rate})
                v += 0.2 * std::sin(6.283185307179586 * f / rate * i + c);
            pcm[2 * i + c] = static_cast<int16_t>(std::lround(v * 32767.0));
        }
    return pcm;
}

enum class Variant { Reference, Amd3dnow, Sse };

void setVariant(Variant v) {
    dspEnableMmx(false);
    dspEnable3dnow(v == Variant::Amd3dnow);
    dspEnableSse(v == Variant::Sse);
}

void ours(benchmark::State& state, uint32_t rate, uint32_t mode, Variant variant) {
    setVariant(variant);
    dsp_effect* e = initHqups(kOutBlock, 2, 2, rate, 0.3f, 50.0f, rate / 4, 1, 80.0f, 240.0f, mode, true);
    const uint32_t src = getHqupsSrcSize(e, kOutBlock);
    const std::vector<int16_t> in = music(src, rate);
    std::vector<int16_t> out(2 * getHqupsDstSize(e, src));
    for (auto _ : state) {
        benchmark::DoNotOptimize(doHqups(e, in.data(), out.data(), src * 4));
        benchmark::ClobberMemory();
    }
    state.counters["frames_per_second"] =
        benchmark::Counter(static_cast<double>(src) * state.iterations(), benchmark::Counter::kIsRate);
    termHqups(e);
    setVariant(Variant::Reference);
}

#if defined(DSP_BENCH_HAVE_SOXR)
void soxrHq(benchmark::State& state, uint32_t rate) {
    soxr_error_t error = nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_t soxr = soxr_create(rate, 48000, 2, &error, &io, &quality, nullptr);
    if (error) {
        state.SkipWithError(error);
        return;
    }
    const uint32_t src = static_cast<uint32_t>(static_cast<uint64_t>(kOutBlock) * rate / 48000);
    const std::vector<int16_t> in = music(src, rate);
    std::vector<int16_t> out(2 * (kOutBlock + 64));
    for (auto _ : state) {
        size_t done = 0, written = 0;
        soxr_process(soxr, in.data(), src, &done, out.data(), kOutBlock + 64, &written);
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
    state.counters["frames_per_second"] =
        benchmark::Counter(static_cast<double>(src) * state.iterations(), benchmark::Counter::kIsRate);
    state.SetLabel("soxr HQ, int16 interleaved, rate conversion only");
    soxr_delete(soxr);
}
#endif

const bool registered = [] {
    const std::pair<uint32_t, const char*> rates[] = {{44100, "44k"}, {22050, "22k"}};
    const std::pair<Variant, const char*> variants[] = {
        {Variant::Reference, "Reference"}, {Variant::Amd3dnow, "3dnow"}, {Variant::Sse, "Sse"}};
    for (const auto& [rate, rateName] : rates)
        for (uint32_t mode : {0u, 1u})
            for (const auto& [variant, variantName] : variants) {
                const std::string name = std::string("BM_Hqups_") + rateName + "_48k_Stereo_Mode" +
                                         std::to_string(mode) + "_" + variantName;
                benchmark::RegisterBenchmark(name.c_str(), ours, rate, mode, variant);
#if defined(DSP_BENCH_HAVE_SOXR)
                if (mode == 0 && variant == Variant::Sse)
                    benchmark::RegisterBenchmark((name + "__peer_soxr_hq").c_str(), soxrHq, rate);
#endif
            }
    return true;
}();

}  // namespace
