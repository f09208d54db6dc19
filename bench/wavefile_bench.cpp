// Wave files: writing and reading 60 s of stereo 44.1 kHz 16-bit PCM in blocks of 4096 frames
// through the library's writer and reader, with libsndfile doing the same in the same run.
// Frames per second of audio moved, wall clock (the file stays in the page cache).
#include <benchmark/benchmark.h>

#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "dsp.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kFrames = 60 * kRate;
constexpr uint32_t kBlock = 4096;

const std::vector<int16_t>& signal() {
    static const std::vector<int16_t> pcm = [] {
        std::vector<int16_t> v(2 * size_t{kFrames});
        for (uint32_t i = 0; i < kFrames; ++i) {
            v[2 * size_t{i}] = int16_t(12000.0 * std::sin(0.0627 * i));
            v[2 * size_t{i} + 1] = int16_t(9000.0 * std::sin(0.0411 * i));
        }
        return v;
    }();
    return pcm;
}

std::string scratch(const char* what) { return "/tmp/dsp_wavefile_bench_" + std::to_string(getpid()) + what; }

void report(benchmark::State& state, const char* label) {
    state.counters["frames_per_second"] =
        benchmark::Counter(double(kFrames) * double(state.iterations()), benchmark::Counter::kIsRate);
    state.SetLabel(label);
}

void writeOurs(const std::string& path) {
    const dsp_wave_format format = {1, 2, kRate, kRate * 4, 4, 16, 0};
    dsp_wavefile_out* out = initWavefileOut(path.c_str(), &format);
    const std::vector<int16_t>& pcm = signal();
    for (uint32_t at = 0; at < kFrames; at += kBlock) {
        const uint32_t n = std::min(kBlock, kFrames - at);
        writeWavefileOut(out, &pcm[2 * size_t{at}], int32_t(n * 4));
    }
    termWavefileOut(out);
}

void BM_Wavefile_Write_60s_Stereo(benchmark::State& state) {
    const std::string path = scratch("_write.wav");
    for (auto _ : state) writeOurs(path);
    std::remove(path.c_str());
    report(state, "4096-frame writes, 128 KiB I/O buffer");
}
BENCHMARK(BM_Wavefile_Write_60s_Stereo)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Wavefile_Write_60s_Stereo__peer_libsndfile(benchmark::State& state) {
    const std::string path = scratch("_write_sf.wav");
    const std::vector<int16_t>& pcm = signal();
    for (auto _ : state) {
        SF_INFO info{};
        info.samplerate = kRate;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
        for (uint32_t at = 0; at < kFrames; at += kBlock) {
            const uint32_t n = std::min(kBlock, kFrames - at);
            sf_writef_short(file, &pcm[2 * size_t{at}], n);
        }
        sf_close(file);
    }
    std::remove(path.c_str());
    report(state, "libsndfile sf_writef_short, 4096 frames");
}
BENCHMARK(BM_Wavefile_Write_60s_Stereo__peer_libsndfile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Wavefile_Read_60s_Stereo(benchmark::State& state) {
    const std::string path = scratch("_read.wav");
    writeOurs(path);
    for (auto _ : state) {
        dsp_wavefile_in* in = initWavefileIn(path.c_str(), kBlock);
        int64_t total = 0;
        for (int32_t n; (n = readWavefileIn(in, nullptr, kBlock)) > 0;) total += n;
        benchmark::DoNotOptimize(total);
        termWavefileIn(in);
        if (total != int64_t{kFrames} * 4) state.SkipWithError("short read");
    }
    std::remove(path.c_str());
    report(state, "4096-frame reads into the reader's block");
}
BENCHMARK(BM_Wavefile_Read_60s_Stereo)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Wavefile_Read_60s_Stereo__peer_libsndfile(benchmark::State& state) {
    const std::string path = scratch("_read_sf.wav");
    writeOurs(path);
    std::vector<int16_t> block(2 * size_t{kBlock});
    for (auto _ : state) {
        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        int64_t total = 0;
        for (sf_count_t n; (n = sf_readf_short(file, block.data(), kBlock)) > 0;) total += n;
        benchmark::DoNotOptimize(total);
        sf_close(file);
        if (total != kFrames) state.SkipWithError("short read");
    }
    std::remove(path.c_str());
    report(state, "libsndfile sf_readf_short, 4096 frames");
}
BENCHMARK(BM_Wavefile_Read_60s_Stereo__peer_libsndfile)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
