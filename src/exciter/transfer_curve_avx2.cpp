// Transfer-curve lookups with AVX2 gathers.
#include "exciter/flat_curve.h"

#if DSP_X86_KERNELS
#include <immintrin.h>

#include "cpu/target.h"

DSP_TARGET_BEGIN(DSP_AVX2_FEATURES)

namespace dsp::curve_kernels::avx2 {

namespace {
inline __m256d gather(const double* base, __m128i index) {
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), base, index, all, 8);
}

}  // namespace

// The same comparisons and double arithmetic per lane as FlatCurve::step. A group holding a
// NaN goes through step().
uint32_t applyCurve(const FlatCurve& c, const float* in, float* out,
                                                     uint32_t frames, int32_t& cursor) {
    const __m128 sign = _mm_set1_ps(-0.0f);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 scale = _mm_set1_ps(static_cast<float>(TransferCurve::kIndexSize));
    const __m128 top = _mm_set1_ps(c.top);
    const __m128i step = _mm_set1_epi32(1);
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        const __m128 v = _mm_loadu_ps(in + i);
        const __m128 a = _mm_andnot_ps(sign, v);
        if (_mm_movemask_ps(_mm_cmpunord_ps(a, a)) != 0) {
            for (uint32_t j = i; j < i + 4; ++j) out[j] = c.step(in[j], cursor);
            continue;
        }
        const __m128 below = _mm_cmplt_ps(a, one);
        const __m128i bucket = _mm_and_si128(_mm_cvttps_epi32(_mm_mul_ps(a, scale)), _mm_castps_si128(below));
        __m128i k = _mm_i32gather_epi32(c.index, bucket, 4);
        const __m256d wideA = _mm256_cvtps_pd(a);
        for (;;) {
            const __m256d next = gather(c.xs, _mm_add_epi32(k, step));
            const __m256d beyond = _mm256_cmp_pd(wideA, next, _CMP_GE_OQ);
            const __m128 pairs = _mm_shuffle_ps(_mm_castpd_ps(_mm256_castpd256_pd128(beyond)),
                                                _mm_castpd_ps(_mm256_extractf128_pd(beyond, 1)),
                                                _MM_SHUFFLE(2, 0, 2, 0));
            const __m128i move = _mm_and_si128(_mm_castps_si128(pairs), _mm_castps_si128(below));
            if (_mm_movemask_epi8(move) == 0) break;
            k = _mm_sub_epi32(k, move);  // lanes still at or past the next point move on
        }
        const __m256d x = gather(c.xs, k);
        const __m256d slope = gather(c.slopes, k);
        const __m256d y0 = gather(c.ys, k);
        const __m128 inner = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(wideA, x), slope), y0));
        const __m128 y = _mm_blendv_ps(top, inner, below);
        const __m128 nonNegative = _mm_cmpge_ps(v, _mm_setzero_ps());
        _mm_storeu_ps(out + i, _mm_blendv_ps(_mm_xor_ps(y, sign), y, nonNegative));
        cursor = _mm_extract_ps(below, 3) != 0 ? _mm_extract_epi32(k, 3) : c.last;
    }
    return i;
}

}  // namespace dsp::curve_kernels::avx2
DSP_TARGET_END
#endif
