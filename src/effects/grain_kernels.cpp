#include "effects/grain_kernels.h"

#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
// GCC 12's AVX-512 conversion intrinsics start from a deliberately undefined register and warn.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#define DSP_GRAIN_AVX2 1
#endif

namespace dsp {

namespace {

inline void pitchGrainScalar(const float* base, const float* window, float* acc, float* wsum, int32_t age,
                             uint32_t count, double ratio, double start, bool negative) {
    for (uint32_t k = 0; k < count; ++k, ++age) {
        const double pos = double(age) * ratio + start;
        const int64_t t = int64_t(pos);
        const float p = float(pos);
        const double f = p - std::trunc(p);
        const float* x = base + t;
        // Tap distances 2 - f, 1 - f, f, f + 1: for 0 <= f < 1 they fall in the far, near, near
        // and far pieces; for -1 < f <= 0 the first is 2 or more (weight 0) and the others fall
        // in the far, near and near pieces (at the piece edges both pieces give exactly 0).
        const double v = negative ? x[0] * 0.0 + x[-1] * cubicFar(1.0 - f) + x[-2] * cubicNear(-f) +
                                        x[-3] * cubicNear(f + 1.0)
                                  : x[0] * cubicFar(2.0 - f) + x[-1] * cubicNear(1.0 - f) + x[-2] * cubicNear(f) +
                                        x[-3] * cubicFar(f + 1.0);
        const float w = window[age];
        acc[k] = float(double(acc[k]) + v * double(w));
        wsum[k] += w;
    }
}

inline void stretchGrainScalar(const float* x, const float* window, double* acc, double* wsum, uint32_t count) {
    for (uint32_t k = 0; k < count; ++k) {
        acc[k] += double(x[k]) * double(window[k]);
        wsum[k] += double(window[k]);
    }
}

#ifdef DSP_GRAIN_AVX2

// The pitch loop four lanes at a time (AVX2), then eight (AVX-512, its tail through AVX2).
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx2")
#endif
namespace avx2 {
using D = __m256d;
using I = __m128i;
using F = __m128;
constexpr uint32_t kLanes = 4;
inline D set1(double x) { return _mm256_set1_pd(x); }
inline D add(D a, D b) { return _mm256_add_pd(a, b); }
inline D sub(D a, D b) { return _mm256_sub_pd(a, b); }
inline D mul(D a, D b) { return _mm256_mul_pd(a, b); }
inline D ages(int32_t age) { return _mm256_cvtepi32_pd(_mm_add_epi32(_mm_set1_epi32(age), _mm_setr_epi32(0, 1, 2, 3))); }
inline I truncToInt(D x) { return _mm256_cvttpd_epi32(x); }
inline F toFloat(D x) { return _mm256_cvtpd_ps(x); }
inline D widen(F x) { return _mm256_cvtps_pd(x); }
inline F fractionOf(F p) { return _mm_sub_ps(p, _mm_round_ps(p, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)); }
inline F gather(const float* base, I t, int k) { return _mm_i32gather_ps(base, _mm_sub_epi32(t, _mm_set1_epi32(k)), 4); }
inline F loadF(const float* p) { return _mm_loadu_ps(p); }
inline void storeF(float* p, F x) { _mm_storeu_ps(p, x); }
inline F addF(F a, F b) { return _mm_add_ps(a, b); }
inline void tail(const float* base, const float* window, float* acc, float* wsum, int32_t age, uint32_t count,
                 double ratio, double start, bool negative) {
    pitchGrainScalar(base, window, acc, wsum, age, count, ratio, start, negative);
}
#include "effects/grain_pitch_lanes.inc"
}  // namespace avx2
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx512f,avx2"))), apply_to = function)
#else
#pragma GCC push_options
#pragma GCC target("avx512f,avx2")
#endif
namespace avx512 {
using D = __m512d;
using I = __m256i;
using F = __m256;
constexpr uint32_t kLanes = 8;
inline D set1(double x) { return _mm512_set1_pd(x); }
inline D add(D a, D b) { return _mm512_add_pd(a, b); }
inline D sub(D a, D b) { return _mm512_sub_pd(a, b); }
inline D mul(D a, D b) { return _mm512_mul_pd(a, b); }
inline D ages(int32_t age) {
    return _mm512_cvtepi32_pd(_mm256_add_epi32(_mm256_set1_epi32(age), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7)));
}
inline I truncToInt(D x) { return _mm512_cvttpd_epi32(x); }
inline F toFloat(D x) { return _mm512_cvtpd_ps(x); }
inline D widen(F x) { return _mm512_cvtps_pd(x); }
inline F fractionOf(F p) { return _mm256_sub_ps(p, _mm256_round_ps(p, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)); }
inline F gather(const float* base, I t, int k) {
    return _mm256_i32gather_ps(base, _mm256_sub_epi32(t, _mm256_set1_epi32(k)), 4);
}
inline F loadF(const float* p) { return _mm256_loadu_ps(p); }
inline void storeF(float* p, F x) { _mm256_storeu_ps(p, x); }
inline F addF(F a, F b) { return _mm256_add_ps(a, b); }
inline void tail(const float* base, const float* window, float* acc, float* wsum, int32_t age, uint32_t count,
                 double ratio, double start, bool negative) {
    avx2::pitchGrain(base, window, acc, wsum, age, count, ratio, start, negative);
}
#include "effects/grain_pitch_lanes.inc"
}  // namespace avx512
#if defined(__clang__)
#pragma clang attribute pop
#else
#pragma GCC pop_options
#endif

__attribute__((target("avx2"))) void stretchGrainAvx2(const float* x, const float* window, double* acc,
                                                      double* wsum, uint32_t count) {
    uint32_t k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m256d w = _mm256_cvtps_pd(_mm_loadu_ps(window + k));
        const __m256d v = _mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(x + k)), w);
        _mm256_storeu_pd(acc + k, _mm256_add_pd(_mm256_loadu_pd(acc + k), v));
        _mm256_storeu_pd(wsum + k, _mm256_add_pd(_mm256_loadu_pd(wsum + k), w));
    }
    stretchGrainScalar(x + k, window + k, acc + k, wsum + k, count - k);
}

int detectLoops() {
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2")) return 0;
    return __builtin_cpu_supports("avx512f") ? 2 : 1;
}

#else

int detectLoops() { return 0; }

#endif

}  // namespace

const int grainBestLoops = detectLoops();
int grainLoops = grainBestLoops;

void pitchGrainRun(const float* base, const float* window, float* acc, float* wsum, int32_t age, uint32_t count,
                   double ratio, double start, bool negative) {
#ifdef DSP_GRAIN_AVX2
    if (grainLoops >= 2) return avx512::pitchGrain(base, window, acc, wsum, age, count, ratio, start, negative);
    if (grainLoops == 1) return avx2::pitchGrain(base, window, acc, wsum, age, count, ratio, start, negative);
#endif
    pitchGrainScalar(base, window, acc, wsum, age, count, ratio, start, negative);
}

void stretchGrainRun(const float* x, const float* window, double* acc, double* wsum, uint32_t count) {
#ifdef DSP_GRAIN_AVX2
    if (grainLoops >= 1) return stretchGrainAvx2(x, window, acc, wsum, count);
#endif
    stretchGrainScalar(x, window, acc, wsum, count);
}

}  // namespace dsp
