// The pitch grain loop eight lanes at a time (AVX-512), its tail through the AVX2 build.
#include "effects/grain_kernels.h"

#if DSP_X86_KERNELS
#include <immintrin.h>

#include "cpu/target.h"

DSP_TARGET_BEGIN(DSP_AVX512_FEATURES)
#if !defined(__clang__)
// GCC 12's AVX-512 conversion intrinsics start from a deliberately undefined register and warn.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace dsp::grain::avx512 {

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

}  // namespace dsp::grain::avx512
DSP_TARGET_END
#endif
