// Every processing call on a warmed-up effect or chain must run without touching the heap.
// This binary counts heap allocations made while a check is armed: by interposing malloc and
// friends in plain builds, and through the sanitizer allocator's hooks in sanitizer builds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "dsp.h"
#include "support/signals.h"

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime's allocator interface (its header does not ship with every compiler).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*, size_t),
                                                         void (*free_hook)(const volatile void*));
#endif

namespace {
thread_local bool armed = false;
thread_local long allocations = 0;

void noteAllocation() {
    if (armed) ++allocations;
}
}  // namespace

#if defined(__SANITIZE_ADDRESS__)
namespace {
void mallocHook(const volatile void*, size_t) { noteAllocation(); }
void freeHook(const volatile void*) {}
const int hooksInstalled = __sanitizer_install_malloc_and_free_hooks(mallocHook, freeHook);
}  // namespace
#else
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);

void* malloc(size_t size) {
    noteAllocation();
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    noteAllocation();
    return __libc_calloc(count, size);
}
void* realloc(void* ptr, size_t size) {
    noteAllocation();
    return __libc_realloc(ptr, size);
}
void* aligned_alloc(size_t alignment, size_t size) {
    noteAllocation();
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, size_t alignment, size_t size) {
    noteAllocation();
    *out = __libc_memalign(alignment, size);
    return *out != nullptr ? 0 : 12;
}
}
#endif

namespace {

constexpr uint32_t kBlock = 2048;
constexpr uint32_t kRate = 44100;

// Runs `call` once to warm up, then counts the allocations of several more runs.
long allocationsDuring(const std::function<void(uint32_t frames)>& call) {
    call(kBlock);
    armed = true;
    allocations = 0;
    for (uint32_t frames : {kBlock, kBlock / 2, 1u, 0u, kBlock - 3, kBlock})
        call(frames);
    armed = false;
    return allocations;
}

const std::vector<int16_t> in = dsptest::pcmNoise(2 * kBlock, 1, 15000);
std::vector<int16_t> out(16 * kBlock);
std::vector<float> spectrum(4 * kBlock);

// Expects no allocation from `process(effect, in, out, bytes)` after a warm-up, then ends the
// effect through `term` (when given).
template <class Process>
void expectNoAllocation(const std::string& what, dsp_effect* effect, Process process, bool (*term)(dsp_effect*)) {
    ASSERT_NE(effect, nullptr) << what;
    EXPECT_EQ(allocationsDuring([&](uint32_t n) { process(effect, in.data(), out.data(), n * 4); }), 0) << what;
    if (term != nullptr) term(effect);
}

}  // namespace

TEST(NoAllocation, CounterSeesAllocations) {
    armed = true;
    allocations = 0;
    void* p = std::malloc(10);
    auto* q = new std::vector<int>(100);
    armed = false;
    std::free(p);
    delete q;
    EXPECT_GE(allocations, 2);
}

TEST(NoAllocation, ChainSendWithEffects) {
    for (bool vector : {false, true}) {
        dspEnableSse(vector);
        dsp_chain* chain = dspCreate(kBlock, 2, kRate);
        dspAdd(chain, initIirFilter(kBlock, 2, kRate, 4, 5000.0f, 0), 1);
        dspAdd(chain, initChorus(kBlock, 2, kRate, 3, 20.0f, 5.0f, 2.0f, 50.0f, 70.0f), 2);
        dspAdd(chain, initResampler(kBlock, 2, 2, kRate, 48000, 1, 80.0f, 40.0f, true), 3);
        dspAdd(chain, initFader(kBlock, 2, kRate, 0.0f, -6.0f, 0.0f), 4);
        dspAdd(chain, initPitchShift(kBlock, 2, kRate, 300.0f, 1.0f, 0.05f, 0.01f), 5);
        dspAdd(chain, initStretch(kBlock, 2, kRate, 500.0f, 1.0f, 0.05f, 0.01f), 6);
        dsp_chain* empty = dspCreate(kBlock, 2, kRate);
        for (dsp_chain* c : {chain, empty})
            EXPECT_EQ(allocationsDuring([&](uint32_t n) { dspSend(c, in.data(), out.data(), n * 4); }), 0);
        dspDestroy(chain);
        dspDestroy(empty);
    }
    dspEnableSse(false);
}

TEST(NoAllocation, StandaloneEffects) {
    dsp_effect* fader = initFader(kBlock, 2, kRate, 0.0f, 0.0f, 0.0f);
    setFaderAction(fader, 0, 0.01f, 0.5f, -20.0f);
    expectNoAllocation("fade", fader, [](dsp_effect* h, const int16_t* a, int16_t* o, uint32_t bytes) {
        return doFade(h, 0, a, o, bytes);
    }, nullptr);
    expectNoAllocation("cross-fade", fader, [](dsp_effect* h, const int16_t* a, int16_t* o, uint32_t bytes) {
        return doCrossFade(h, a, a, o, bytes);
    }, termFader);
    expectNoAllocation("chorus", initChorus(kBlock, 2, kRate, 8, 20.0f, 5.0f, 2.0f, 50.0f, 70.0f), doChorus, termChorus);
    expectNoAllocation("iir", initIirFilter(kBlock, 2, kRate, 8, 3000.0f, 1), doIirFilter, termIirFilter);
    for (uint32_t interpolation : {0u, 1u})
        expectNoAllocation("resampler", initResampler(kBlock, 2, 2, 48000, 32000, interpolation, 80.0f, 40.0f, true),
                           doResampler, termResampler);
}

TEST(NoAllocation, GranularAndUpsampling) {
    for (float pitch : {0.0f, 300.0f, -700.0f}) {
        dsp_effect* shifter = initPitchShift(kBlock, 2, kRate, pitch, 1.0f, 0.05f, 0.01f);
        expectNoAllocation("pitch " + std::to_string(pitch), shifter, doPitchShift, nullptr);
        setPitchShiftPitch(shifter, 1200.0f);
        expectNoAllocation("pitch changed", shifter, doPitchShift, termPitchShift);
    }
    for (float scale : {0.0f, 1000.0f, -1000.0f})
        expectNoAllocation("stretch " + std::to_string(scale), initStretch(kBlock, 2, kRate, scale, 1.0f, 0.05f, 0.01f),
                           doStretch, termStretch);
    // The upsampler under each conversion variant (reference, 3DNow!, SSE) and at several source rates.
    for (int variant = 0; variant < 3; ++variant)
        for (uint32_t rate : {22050u, 44100u, 48000u})
            for (uint32_t mode : {0u, 1u}) {
                dspEnable3dnow(variant == 1);
                dspEnableSse(variant == 2);
                const bool wild = variant == 0;  // huge harmonics, no cutoff
                expectNoAllocation("hqups, variant " + std::to_string(variant) + ", " + std::to_string(rate) + " Hz, mode " +
                                       std::to_string(mode),
                                   initHqupsBySrcsize(kBlock, 2, 2, rate, wild ? 50.0f : 0.3f, 50.0f, wild ? 0 : 11025, 1,
                                                      80.0f, wild ? 40.0f : 240.0f, mode, true),
                                   doHqups, termHqups);
            }
    dspEnable3dnow(false);
    dspEnableSse(false);
}

TEST(NoAllocation, Analysers) {
    expectNoAllocation("fft", initFft(kBlock, 2, 2, 96), [](dsp_effect* h, const int16_t* a, int16_t*, uint32_t bytes) {
        return doFft(h, a, spectrum.data(), bytes);
    }, termFft);
    expectNoAllocation("stft", initFftAnalyze(kBlock / 2, 2, 1024, 4096),
                       [](dsp_effect* h, const int16_t* a, int16_t*, uint32_t bytes) {
                           return doFftAnalyze(h, a, spectrum.data(), std::min(bytes, kBlock * 2));
                       }, termFftAnalyze);
    expectNoAllocation("envelope", initEnvAnalyze(kBlock, 2, kRate), [](dsp_effect* h, const int16_t* a, int16_t*, uint32_t bytes) {
        return doEnvAnalyze(h, a, spectrum.data(), bytes);
    }, termEnvAnalyze);
    // The slicer allocates one record per slice found; a steady tone finds none after warm-up.
    expectNoAllocation("slicer", initWaveSlice(kBlock, 2, 48000, -30.0f, -40.0f, 20.0f, 0.05f),
                       [](dsp_effect* h, const int16_t* a, int16_t*, uint32_t bytes) { return doWaveSlice(h, a, bytes); },
                       termWaveSlice);
}
