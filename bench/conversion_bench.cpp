// Sample conversion and the empty-chain copy, 4096-frame blocks, under each processor switch;
// each raced against memcpy of the same number of output bytes.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "convert/convert.h"
#include "dsp.h"
#include "memory/fastmem.h"
#include "support/signals.h"

namespace {

constexpr uint32_t kFrames = 4096;

struct Variant {
    const char* name;
    bool mmx, amd3dnow, sse;
};
constexpr Variant kConversionVariants[] = {
    {"Reference", false, false, false}, {"3DNow", false, true, false}, {"SSE", false, false, true}};
constexpr Variant kCopyVariants[] = {{"NoSwitch", false, false, false},
                                     {"MMX", true, false, false},
                                     {"3DNow", false, true, false},
                                     {"SSE", false, false, true}};

void setSwitches(const Variant& v) {
    dspEnableMmx(v.mmx);
    dspEnable3dnow(v.amd3dnow);
    dspEnableSse(v.sse);
}

// Aligned buffers as the effects have them, filled with seeded noise.
struct Buffers {
    int16_t* pcm = static_cast<int16_t*>(dsp::fastmemAlloc(kFrames * 4));
    int16_t* pcmOut = static_cast<int16_t*>(dsp::fastmemAlloc(kFrames * 4));
    float* left = static_cast<float*>(dsp::fastmemAlloc(kFrames * 4));
    float* right = static_cast<float*>(dsp::fastmemAlloc(kFrames * 4));
    Buffers() {
        const std::vector<int16_t> noise = dsptest::pcmNoise(2 * kFrames, 7);
        std::copy(noise.begin(), noise.end(), pcm);
        for (uint32_t i = 0; i < kFrames; ++i) {
            left[i] = pcm[2 * i] / 32768.0f;
            right[i] = pcm[2 * i + 1] / 32768.0f;
        }
    }
    ~Buffers() {
        dsp::fastmemFree(pcm);
        dsp::fastmemFree(pcmOut);
        dsp::fastmemFree(left);
        dsp::fastmemFree(right);
    }
    Buffers(const Buffers&) = delete;
    Buffers& operator=(const Buffers&) = delete;
};

void report(benchmark::State& state, uint32_t outBytes, const char* label) {
    state.counters["frames_per_second"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kFrames, benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * outBytes);
    state.SetLabel(label);
}

// The baseline: copying as many bytes as the conversion writes.
void memcpyPeer(benchmark::State& state, uint32_t outBytes, const char* label) {
    Buffers b;
    auto* dst = reinterpret_cast<char*>(b.left);
    const auto* src = reinterpret_cast<const char*>(b.right);
    if (outBytes > kFrames * 4) {  // two float channels: copy both
        for (auto _ : state) {
            std::memcpy(dst, src, kFrames * 4);
            std::memcpy(b.pcmOut, b.pcm, outBytes - kFrames * 4);
            benchmark::ClobberMemory();
        }
    } else {
        for (auto _ : state) {
            std::memcpy(b.pcmOut, dst, outBytes);
            benchmark::ClobberMemory();
        }
    }
    report(state, outBytes, label);
}

enum class Op { SplitIn, MixIn, MonoIn, StereoOut, DuplicatedOut, MonoOut };

struct Operation {
    Op op;
    const char* name;
    uint32_t outBytes;
    const char* label;
};
constexpr Operation kOperations[] = {
    {Op::SplitIn, "Int16ToFloat_StereoSplit", kFrames * 8, "stereo 44.1 kHz, two float buffers"},
    {Op::MixIn, "Int16ToFloat_StereoMix", kFrames * 4, "stereo 44.1 kHz mixed to one float buffer"},
    {Op::MonoIn, "Int16ToFloat_Mono", kFrames * 4, "mono 44.1 kHz"},
    {Op::StereoOut, "FloatToInt16_Stereo", kFrames * 4, "stereo 44.1 kHz from two float buffers"},
    {Op::DuplicatedOut, "FloatToInt16_StereoFromLeft", kFrames * 4, "stereo 44.1 kHz, left written twice"},
    {Op::MonoOut, "FloatToInt16_Mono", kFrames * 2, "mono 44.1 kHz"},
};

void conversion(benchmark::State& state, Operation o, Variant v) {
    Buffers b;
    setSwitches(v);
    for (auto _ : state) {
        switch (o.op) {
            case Op::SplitIn: dsp::pcmToFloat(b.pcm, kFrames * 4, b.left, b.right, 2); break;
            case Op::MixIn: dsp::pcmToFloat(b.pcm, kFrames * 4, b.left, nullptr, 2); break;
            case Op::MonoIn: dsp::pcmToFloat(b.pcm, kFrames * 2, b.left, nullptr, 1); break;
            case Op::StereoOut: dsp::floatToPcm(b.left, b.right, kFrames, b.pcmOut, 2); break;
            case Op::DuplicatedOut: dsp::floatToPcm(b.left, nullptr, kFrames, b.pcmOut, 2); break;
            case Op::MonoOut: dsp::floatToPcm(b.left, nullptr, kFrames, b.pcmOut, 1); break;
        }
        benchmark::ClobberMemory();
    }
    setSwitches({"", false, false, false});
    report(state, o.outBytes, o.label);
}

// dspSend on a chain without effects: the input copied to the output.
void emptyChain(benchmark::State& state, Variant v) {
    Buffers b;
    dsp_chain* chain = dspCreate(kFrames, 2, 44100);
    setSwitches(v);
    for (auto _ : state) {
        benchmark::DoNotOptimize(dspSend(chain, b.pcm, b.pcmOut, kFrames * 4));
        benchmark::ClobberMemory();
    }
    setSwitches({"", false, false, false});
    dspDestroy(chain);
    report(state, kFrames * 4, "stereo 44.1 kHz");
}

[[maybe_unused]] const bool registered = [] {
    for (const Operation& o : kOperations) {
        for (const Variant& v : kConversionVariants) {
            const std::string name = std::string("BM_Convert_") + o.name + "_" + v.name;
            benchmark::RegisterBenchmark(name.c_str(), conversion, o, v);
            benchmark::RegisterBenchmark((name + "__peer_memcpy").c_str(), memcpyPeer, o.outBytes, o.label);
        }
    }
    for (const Variant& v : kCopyVariants) {
        const std::string name = std::string("BM_Chain_EmptyCopy_") + v.name;
        benchmark::RegisterBenchmark(name.c_str(), emptyChain, v);
        benchmark::RegisterBenchmark((name + "__peer_memcpy").c_str(), memcpyPeer, kFrames * 4, "stereo 44.1 kHz");
    }
    return true;
}();

}  // namespace
