// The grain loops four lanes at a time (AVX2).
#include "effects/grain_kernels.h"

#if DSP_X86_KERNELS
#include <immintrin.h>

#include "cpu/target.h"

DSP_TARGET_BEGIN(DSP_AVX2_FEATURES)

namespace dsp::grain::avx2 {

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
    portable::pitchGrain(base, window, acc, wsum, age, count, ratio, start, negative);
}
#include "effects/grain_pitch_lanes.inc"

void stretchGrain(const float* x, const float* window, double* acc, double* wsum, uint32_t count) {
    uint32_t k = 0;
    for (; k + 4 <= count; k += 4) {
        const __m256d w = _mm256_cvtps_pd(_mm_loadu_ps(window + k));
        const __m256d v = _mm256_mul_pd(_mm256_cvtps_pd(_mm_loadu_ps(x + k)), w);
        _mm256_storeu_pd(acc + k, _mm256_add_pd(_mm256_loadu_pd(acc + k), v));
        _mm256_storeu_pd(wsum + k, _mm256_add_pd(_mm256_loadu_pd(wsum + k), w));
    }
    stretchGrainLoop(x + k, window + k, acc + k, wsum + k, count - k);
}

}  // namespace dsp::grain::avx2
DSP_TARGET_END
#endif
