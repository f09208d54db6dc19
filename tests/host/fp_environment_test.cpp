// A host's floating-point environment (flush-to-zero, denormals-are-zero, rounding mode, x87
// precision) changes no result, and every call hands the caller's environment back unchanged.
#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <cmath>
#include <string>
#include <vector>
#if defined(_WIN32)
#include <float.h>
#endif

#include "dsp.h"

namespace {

uint16_t x87Control() {
    uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}

struct Environment { const char* name; unsigned mxcsr; bool precision53; };

// Every family's output bytes for one signal whose tail decays into denormals.
std::string everyFamily() {
    const uint32_t frames = 2048, rate = 44100;
    std::vector<int16_t> in(frames * 2);
    for (uint32_t i = 0; i < frames / 2; ++i)
        for (int c = 0; c < 2; ++c) in[2 * i + c] = int16_t(20000 * std::sin(0.05 * i * (c + 1)) + (i * 7919 % 301));
    std::string bytes;
    auto keep = [&](const void* p, size_t n) { bytes.append(static_cast<const char*>(p), n); };
    dsp_chain* chain = dspCreate(frames, 2, rate);
    dspAdd(chain, initIirFilter(frames, 2, rate, 6, 3000.0f, 0), 1);
    dspAdd(chain, initChorus(frames, 2, rate, 3, 7.0f, 2.0f, 0.7f, 40.0f, 60.0f), 2);
    dspAdd(chain, initPitchShift(frames, 2, rate, 300.0f, -1.0f, 0.05f, 0.01f), 3);
    dspAdd(chain, initFader(frames, 2, rate, 1.0f, 0.0f, 0.0f), 4);
    dspAdd(chain, initResampler(frames, 2, 2, rate, 32000, 1, 80.0f, 48.0f, true), 5);
    dspAdd(chain, initStretch(4096, 2, 32000, 500.0f, 0.0f, 0.05f, 0.01f), 6);
    dspAdd(chain, initHqupsBySrcsize(16384, 2, 2, 32000, 0.5f, 30.0f, 8000, 1, 80.0f, 48.0f, 1, true), 7);
    std::vector<int16_t> out(dspGetDstSize(chain, frames) * dspGetDstChannels(chain) + 16);
    for (int block = 0; block < 3; ++block) keep(out.data(), dspSend(chain, in.data(), out.data(), frames * 4));
    dspDestroy(chain);
    std::vector<float> analysis(frames * 4);
    dsp_effect* env = initEnvAnalyze(frames, 2, rate);
    doEnvAnalyze(env, in.data(), analysis.data(), frames * 4);
    termEnvAnalyze(env);
    keep(analysis.data(), analysis.size() * 4);
    dsp_effect* fft = initFft(frames, 2, 2, 120);
    keep(analysis.data(), doFft(fft, in.data(), analysis.data(), frames * 4) * 4);
    termFft(fft);
    return bytes;
}

TEST(FpEnvironment, HostStateChangesNoResultAndIsRestored) {
    const unsigned defaultCsr = _mm_getcsr();
    const uint16_t defaultCw = x87Control();
    const std::string reference = everyFamily();
    ASSERT_GT(reference.size(), 50000u);
    const Environment environments[] = {
        {"flush-to-zero + denormals-are-zero", 0x1F80 | 0x8040, false},
        {"round up", 0x1F80 | _MM_ROUND_UP, false},
        {"round down, flushing", 0x1F80 | _MM_ROUND_DOWN | 0x8040, false},
        {"toward zero", 0x1F80 | _MM_ROUND_TOWARD_ZERO, false},
        {"x87 precision 53 bits", 0x1F80, true},
    };
    for (const Environment& e : environments) {
        _mm_setcsr(e.mxcsr);
        if (e.precision53) {
#if defined(_WIN32)
            _controlfp(_PC_53, _MCW_PC);
#else
            const uint16_t cw = uint16_t((defaultCw & ~0x0300) | 0x0200);
            __asm__ volatile("fldcw %0" : : "m"(cw));
#endif
        }
        const uint16_t hostCw = x87Control();
        const std::string got = everyFamily();
        const unsigned csrAfter = _mm_getcsr() & ~0x3Fu;  // the sticky exception flags may rise
        const uint16_t cwAfter = x87Control();
        _mm_setcsr(defaultCsr);
        __asm__ volatile("fldcw %0" : : "m"(defaultCw));
        EXPECT_TRUE(got == reference) << e.name;
        EXPECT_EQ(csrAfter, e.mxcsr) << e.name;
        EXPECT_EQ(cwAfter, hostCw) << e.name;
    }
    // The library's own inexact results leave no flag behind for a caller that had none.
    _mm_setcsr(defaultCsr & ~0x3Fu);
    termFader(initFader(4096, 2, 44100, 0.3f, -6.0f, -3.0f));
    EXPECT_EQ(_mm_getcsr(), defaultCsr & ~0x3Fu);
}

}  // namespace
