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

__attribute__((target("avx2"))) inline __m256d near4(__m256d a) {
    const __m256d a2 = _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(2.0), a), a);
    const __m256d a3 = _mm256_mul_pd(_mm256_mul_pd(a, a), a);
    return _mm256_add_pd(_mm256_sub_pd(_mm256_set1_pd(1.0), a2), a3);
}

__attribute__((target("avx2"))) inline __m256d far4(__m256d a) {
    const __m256d b = _mm256_sub_pd(_mm256_set1_pd(4.0), _mm256_mul_pd(_mm256_set1_pd(8.0), a));
    const __m256d c = _mm256_mul_pd(_mm256_mul_pd(_mm256_set1_pd(5.0), a), a);
    const __m256d a3 = _mm256_mul_pd(_mm256_mul_pd(a, a), a);
    return _mm256_sub_pd(_mm256_add_pd(b, c), a3);
}

__attribute__((target("avx2"))) void pitchGrainAvx2(const float* base, const float* window, float* acc,
                                                    float* wsum, int32_t age, uint32_t count, double ratio,
                                                    double start, bool negative) {
    const __m256d vr = _mm256_set1_pd(ratio), vs = _mm256_set1_pd(start);
    const __m256d one = _mm256_set1_pd(1.0), two = _mm256_set1_pd(2.0), zero = _mm256_setzero_pd();
    uint32_t k = 0;
    for (; k + 4 <= count; k += 4, age += 4) {
        const __m256d vage = _mm256_cvtepi32_pd(_mm_add_epi32(_mm_set1_epi32(age), _mm_setr_epi32(0, 1, 2, 3)));
        const __m256d pos = _mm256_add_pd(_mm256_mul_pd(vage, vr), vs);
        const __m128i t = _mm256_cvttpd_epi32(pos);
        const __m128 p = _mm256_cvtpd_ps(pos);
        const __m256d f = _mm256_cvtps_pd(_mm_sub_ps(p, _mm_round_ps(p, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)));
        const __m256d x0 = _mm256_cvtps_pd(_mm_i32gather_ps(base, t, 4));
        const __m256d x1 = _mm256_cvtps_pd(_mm_i32gather_ps(base, _mm_sub_epi32(t, _mm_set1_epi32(1)), 4));
        const __m256d x2 = _mm256_cvtps_pd(_mm_i32gather_ps(base, _mm_sub_epi32(t, _mm_set1_epi32(2)), 4));
        const __m256d x3 = _mm256_cvtps_pd(_mm_i32gather_ps(base, _mm_sub_epi32(t, _mm_set1_epi32(3)), 4));
        __m256d v;
        if (negative) {
            v = _mm256_mul_pd(x0, zero);
            v = _mm256_add_pd(v, _mm256_mul_pd(x1, far4(_mm256_sub_pd(one, f))));
            v = _mm256_add_pd(v, _mm256_mul_pd(x2, near4(_mm256_sub_pd(zero, f))));
            v = _mm256_add_pd(v, _mm256_mul_pd(x3, near4(_mm256_add_pd(f, one))));
        } else {
            v = _mm256_mul_pd(x0, far4(_mm256_sub_pd(two, f)));
            v = _mm256_add_pd(v, _mm256_mul_pd(x1, near4(_mm256_sub_pd(one, f))));
            v = _mm256_add_pd(v, _mm256_mul_pd(x2, near4(f)));
            v = _mm256_add_pd(v, _mm256_mul_pd(x3, far4(_mm256_add_pd(f, one))));
        }
        const __m128 w = _mm_loadu_ps(window + age);
        const __m256d sum = _mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(acc + k)), _mm256_mul_pd(v, _mm256_cvtps_pd(w)));
        _mm_storeu_ps(acc + k, _mm256_cvtpd_ps(sum));
        _mm_storeu_ps(wsum + k, _mm_add_ps(_mm_loadu_ps(wsum + k), w));
    }
    pitchGrainScalar(base, window, acc + k, wsum + k, age, count - k, ratio, start, negative);
}

__attribute__((target("avx512f"))) inline __m512d near8(__m512d a) {
    const __m512d a2 = _mm512_mul_pd(_mm512_mul_pd(_mm512_set1_pd(2.0), a), a);
    const __m512d a3 = _mm512_mul_pd(_mm512_mul_pd(a, a), a);
    return _mm512_add_pd(_mm512_sub_pd(_mm512_set1_pd(1.0), a2), a3);
}

__attribute__((target("avx512f"))) inline __m512d far8(__m512d a) {
    const __m512d b = _mm512_sub_pd(_mm512_set1_pd(4.0), _mm512_mul_pd(_mm512_set1_pd(8.0), a));
    const __m512d c = _mm512_mul_pd(_mm512_mul_pd(_mm512_set1_pd(5.0), a), a);
    const __m512d a3 = _mm512_mul_pd(_mm512_mul_pd(a, a), a);
    return _mm512_sub_pd(_mm512_add_pd(b, c), a3);
}

// The AVX2 loop eight samples at a time.
__attribute__((target("avx512f,avx2"))) void pitchGrainAvx512(const float* base, const float* window, float* acc,
                                                             float* wsum, int32_t age, uint32_t count, double ratio,
                                                             double start, bool negative) {
    const __m512d vr = _mm512_set1_pd(ratio), vs = _mm512_set1_pd(start);
    const __m512d one = _mm512_set1_pd(1.0), two = _mm512_set1_pd(2.0), zero = _mm512_setzero_pd();
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    uint32_t k = 0;
    for (; k + 8 <= count; k += 8, age += 8) {
        const __m512d vage = _mm512_cvtepi32_pd(_mm256_add_epi32(_mm256_set1_epi32(age), lanes));
        const __m512d pos = _mm512_add_pd(_mm512_mul_pd(vage, vr), vs);
        const __m256i t = _mm512_cvttpd_epi32(pos);
        const __m256 p = _mm512_cvtpd_ps(pos);
        const __m512d f = _mm512_cvtps_pd(_mm256_sub_ps(p, _mm256_round_ps(p, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC)));
        const __m512d x0 = _mm512_cvtps_pd(_mm256_i32gather_ps(base, t, 4));
        const __m512d x1 = _mm512_cvtps_pd(_mm256_i32gather_ps(base, _mm256_sub_epi32(t, _mm256_set1_epi32(1)), 4));
        const __m512d x2 = _mm512_cvtps_pd(_mm256_i32gather_ps(base, _mm256_sub_epi32(t, _mm256_set1_epi32(2)), 4));
        const __m512d x3 = _mm512_cvtps_pd(_mm256_i32gather_ps(base, _mm256_sub_epi32(t, _mm256_set1_epi32(3)), 4));
        __m512d v;
        if (negative) {
            v = _mm512_mul_pd(x0, zero);
            v = _mm512_add_pd(v, _mm512_mul_pd(x1, far8(_mm512_sub_pd(one, f))));
            v = _mm512_add_pd(v, _mm512_mul_pd(x2, near8(_mm512_sub_pd(zero, f))));
            v = _mm512_add_pd(v, _mm512_mul_pd(x3, near8(_mm512_add_pd(f, one))));
        } else {
            v = _mm512_mul_pd(x0, far8(_mm512_sub_pd(two, f)));
            v = _mm512_add_pd(v, _mm512_mul_pd(x1, near8(_mm512_sub_pd(one, f))));
            v = _mm512_add_pd(v, _mm512_mul_pd(x2, near8(f)));
            v = _mm512_add_pd(v, _mm512_mul_pd(x3, far8(_mm512_add_pd(f, one))));
        }
        const __m256 w = _mm256_loadu_ps(window + age);
        const __m512d sum = _mm512_add_pd(_mm512_cvtps_pd(_mm256_loadu_ps(acc + k)), _mm512_mul_pd(v, _mm512_cvtps_pd(w)));
        _mm256_storeu_ps(acc + k, _mm512_cvtpd_ps(sum));
        _mm256_storeu_ps(wsum + k, _mm256_add_ps(_mm256_loadu_ps(wsum + k), w));
    }
    pitchGrainAvx2(base, window, acc + k, wsum + k, age, count - k, ratio, start, negative);
}

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
    if (grainLoops >= 2) return pitchGrainAvx512(base, window, acc, wsum, age, count, ratio, start, negative);
    if (grainLoops == 1) return pitchGrainAvx2(base, window, acc, wsum, age, count, ratio, start, negative);
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
