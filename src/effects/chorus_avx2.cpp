// The chorus loops eight (mix) or four (taps) samples at a time (AVX2).
#include "effects/chorus_kernels.h"

#if DSP_X86_KERNELS
#include <immintrin.h>

#include "cpu/target.h"
#include "tables/function_table.h"

DSP_TARGET_BEGIN(DSP_AVX2_FEATURES)

namespace dsp::chorus_kernels::avx2 {

// Four taps at a time in double precision: the same operations in the same order as
// tapDelay, and the truncating conversion gives INT32_MIN out of range just as truncToInt32.
void computeTaps(const float* theta, uint32_t n, const TapParams& p, int32_t* taps) {
    const float* table = sineTable.values;
    const uint32_t tableMask = sineTable.mask;
    const double scale = sineTable.indexScale;
    const __m256d phase = _mm256_set1_pd(p.voicePhase);
    const __m256d scaleV = _mm256_set1_pd(scale);
    const __m256d depth = _mm256_set1_pd(p.depth);
    const __m256d delay = _mm256_set1_pd(p.delay);
    const __m128i maskV = _mm_set1_epi32(static_cast<int32_t>(tableMask));
    uint32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d u = _mm256_mul_pd(_mm256_add_pd(_mm256_cvtps_pd(_mm_loadu_ps(theta + i)), phase), scaleV);
        const __m128i k = _mm256_cvttpd_epi32(u);
        const __m128i j = _mm_and_si128(k, maskV);
        const __m256d t0 = _mm256_cvtps_pd(_mm_i32gather_ps(table, j, 4));
        const __m256d t1 = _mm256_cvtps_pd(_mm_i32gather_ps(table + 1, j, 4));
        const __m256d frac = _mm256_sub_pd(u, _mm256_cvtepi32_pd(k));
        const __m256d s = _mm256_add_pd(t0, _mm256_mul_pd(_mm256_sub_pd(t1, t0), frac));
        const __m256d d = _mm256_add_pd(_mm256_mul_pd(s, depth), delay);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(taps + i), _mm256_cvttpd_epi32(d));
    }
    for (; i < n; ++i) taps[i] = tapDelay(theta[i], p, table, tableMask, scale);
}

// Eight samples at a time, each lane summing its own voices in voice order.
template <int kLines>
void mixChunk(const MixLine* lines, uint32_t n, uint32_t write, uint32_t mask, const int32_t* taps, uint32_t chunk,
              uint32_t voices) {
    const __m256i maskV = _mm256_set1_epi32(static_cast<int32_t>(mask));
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i position = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(write + i)), lane);
        __m256d accLo[kLines], accHi[kLines];
        for (int l = 0; l < kLines; ++l) accLo[l] = accHi[l] = _mm256_setzero_pd();
        for (uint32_t v = 0; v < voices; ++v) {
            const __m256i tap = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(taps + size_t{v} * chunk + i));
            const __m256i at = _mm256_and_si256(_mm256_sub_epi32(position, tap), maskV);
            for (int l = 0; l < kLines; ++l) {
                const __m256 tapped = _mm256_i32gather_ps(lines[l].region, at, 4);
                const __m256d gain = _mm256_set1_pd(lines[l].gain[v]);
                accLo[l] = _mm256_add_pd(accLo[l], _mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(tapped)), gain));
                accHi[l] = _mm256_add_pd(accHi[l], _mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(tapped, 1)), gain));
            }
        }
        for (int l = 0; l < kLines; ++l) {
            const __m256 x = _mm256_loadu_ps(lines[l].in + i);
            const __m256d dry = _mm256_set1_pd(lines[l].dry);
            const __m128 lo = _mm256_cvtpd_ps(
                _mm256_add_pd(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_castps256_ps128(x)), dry), accLo[l]));
            const __m128 hi = _mm256_cvtpd_ps(
                _mm256_add_pd(_mm256_mul_pd(_mm256_cvtps_pd(_mm256_extractf128_ps(x, 1)), dry), accHi[l]));
            _mm256_storeu_ps(lines[l].out + i, _mm256_set_m128(hi, lo));
        }
    }
    for (; i < n; ++i) {
        for (int l = 0; l < kLines; ++l) {
            double acc = 0.0;
            for (uint32_t v = 0; v < voices; ++v)
                acc += static_cast<double>(lines[l].region[(write + i - static_cast<uint32_t>(taps[size_t{v} * chunk + i])) & mask]) *
                       lines[l].gain[v];
            lines[l].out[i] = static_cast<float>(static_cast<double>(lines[l].in[i]) * lines[l].dry + acc);
        }
    }
}

template void mixChunk<1>(const MixLine*, uint32_t, uint32_t, uint32_t, const int32_t*, uint32_t, uint32_t);
template void mixChunk<2>(const MixLine*, uint32_t, uint32_t, uint32_t, const int32_t*, uint32_t, uint32_t);

}  // namespace dsp::chorus_kernels::avx2
DSP_TARGET_END
#endif
