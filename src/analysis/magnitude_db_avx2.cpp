// dB magnitudes four bins at a time (AVX2).
#include "analysis/magnitude_db.h"

#if DSP_X86_KERNELS
#include <immintrin.h>

#include "cpu/target.h"

DSP_TARGET_BEGIN(DSP_AVX2_FEATURES)

namespace dsp::avx2 {

// A fast estimate y of 10·log10(re² + im²), good to about 1e-11 dB, decides the float result
// whenever y - kMargin and y + kMargin round to the same float: the exact double result lies
// between them, so it rounds to that float too. Lanes too close to a rounding boundary (about
// one in a thousand) take the exact formula.
constexpr double kMargin = 1e-9;

void magnitudesDb(const float* packed, float* out, uint32_t bins, float floor, bool clampToFloor) {
    const __m256d one = _mm256_set1_pd(1.0), half = _mm256_set1_pd(0.5), sqrt2 = _mm256_set1_pd(1.4142135623730951);
    const __m256d ln2 = _mm256_set1_pd(0.6931471805599453), toDb = _mm256_set1_pd(4.3429448190325175);
    const __m256d margin = _mm256_set1_pd(kMargin), zero = _mm256_setzero_pd();
    const __m256i mantissaMask = _mm256_set1_epi64x(0x000FFFFFFFFFFFFFLL);
    const __m256i oneBits = _mm256_set1_epi64x(0x3FF0000000000000LL);
    const __m256i magic = _mm256_set1_epi64x(0x4330000000000000LL);
    const __m256d magicBias = _mm256_set1_pd(4503599627370496.0 + 1023.0);  // 2^52 + exponent bias
    const __m128 floorV = _mm_set1_ps(floor);
    uint32_t k = 0;
    for (; k + 4 <= bins; k += 4) {
        const __m128 a = _mm_loadu_ps(packed + 2 * k), b = _mm_loadu_ps(packed + 2 * k + 4);
        const __m256d re = _mm256_cvtps_pd(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        const __m256d im = _mm256_cvtps_pd(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        const __m256d s = _mm256_add_pd(_mm256_mul_pd(re, re), _mm256_mul_pd(im, im));
        // s = 2^e · m with m in [√½, √2).
        const __m256i bits = _mm256_castpd_si256(s);
        __m256d m = _mm256_castsi256_pd(_mm256_or_si256(_mm256_and_si256(bits, mantissaMask), oneBits));
        __m256i exponent = _mm256_srli_epi64(bits, 52);
        const __m256d big = _mm256_cmp_pd(m, sqrt2, _CMP_GT_OQ);
        m = _mm256_blendv_pd(m, _mm256_mul_pd(m, half), big);
        exponent = _mm256_sub_epi64(exponent, _mm256_castpd_si256(big));  // +1 where halved
        const __m256d e = _mm256_sub_pd(_mm256_castsi256_pd(_mm256_or_si256(exponent, magic)), magicBias);
        // ln m = 2·atanh(t), t = (m - 1)/(m + 1), |t| < 0.172.
        const __m256d t = _mm256_div_pd(_mm256_sub_pd(m, one), _mm256_add_pd(m, one));
        const __m256d t2 = _mm256_mul_pd(t, t);
        __m256d p = _mm256_set1_pd(2.0 / 15);
        p = _mm256_add_pd(_mm256_mul_pd(p, t2), _mm256_set1_pd(2.0 / 13));
        p = _mm256_add_pd(_mm256_mul_pd(p, t2), _mm256_set1_pd(2.0 / 11));
        p = _mm256_add_pd(_mm256_mul_pd(p, t2), _mm256_set1_pd(2.0 / 9));
        p = _mm256_add_pd(_mm256_mul_pd(p, t2), _mm256_set1_pd(2.0 / 7));
        p = _mm256_add_pd(_mm256_mul_pd(p, t2), _mm256_set1_pd(2.0 / 5));
        p = _mm256_add_pd(_mm256_mul_pd(p, t2), _mm256_set1_pd(2.0 / 3));
        p = _mm256_add_pd(_mm256_mul_pd(p, t2), _mm256_set1_pd(2.0));
        const __m256d y = _mm256_mul_pd(_mm256_add_pd(_mm256_mul_pd(e, ln2), _mm256_mul_pd(p, t)), toDb);
        __m128 db = _mm256_cvtpd_ps(y);
        const __m128 lo = _mm256_cvtpd_ps(_mm256_sub_pd(y, margin));
        const __m128 hi = _mm256_cvtpd_ps(_mm256_add_pd(y, margin));
        const __m128 isZero = _mm256_cvtpd_ps(_mm256_cmp_pd(s, zero, _CMP_EQ_OQ));  // NaN bits where zero
        db = _mm_blendv_ps(db, floorV, isZero);
        const int undecided = _mm_movemask_ps(_mm_andnot_ps(isZero, _mm_cmpneq_ps(lo, hi)));
        if (clampToFloor) db = _mm_blendv_ps(db, floorV, _mm_cmplt_ps(db, floorV));
        _mm_storeu_ps(out + k, db);
        if (undecided) {
            for (int lane = 0; lane < 4; ++lane) {
                if (!(undecided & (1 << lane))) continue;
                const float v = exactDb(packed[2 * (k + lane)], packed[2 * (k + lane) + 1], floor);
                out[k + lane] = (clampToFloor && v < floor) ? floor : v;
            }
        }
    }
    if (k < bins) portable::magnitudesDb(packed + 2 * k, out + k, bins - k, floor, clampToFloor);
}

}  // namespace dsp::avx2
DSP_TARGET_END
#endif
