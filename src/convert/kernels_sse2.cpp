// SSE2 kernels, bit-identical to the portable ones: 4 or 8 frames per step, the last few
// frames through the portable kernel. Unaligned accesses throughout (same speed on aligned data).
#include "convert/kernels.h"

#if DSP_X86_KERNELS
#include <emmintrin.h>

namespace dsp::kernels::sse2 {

namespace {

inline __m128i load(const int16_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void store(int16_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }

// Interleaved stereo, four frames: 32-bit lanes hold (R << 16) | (L & 0xffff).
inline __m128i leftOf(__m128i v) { return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16); }
inline __m128i rightOf(__m128i v) { return _mm_srai_epi32(v, 16); }

// Four int32 times 1/32767 in double precision, each rounded once to float.
inline __m128 scaled4(__m128i v) {
    const __m128d k = _mm_set1_pd(kScale);
    const __m128 lo = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtepi32_pd(v), k));
    const __m128 hi = _mm_cvtpd_ps(_mm_mul_pd(_mm_cvtepi32_pd(_mm_shuffle_epi32(v, 0xEE)), k));
    return _mm_movelh_ps(lo, hi);
}

inline __m128 widened4(__m128i lanes) { return _mm_mul_ps(_mm_cvtepi32_ps(lanes), _mm_set1_ps(kWideScale)); }

// [L0 R0 L1 R1 L2 R2 L3 R3] -> [L0 L1 L2 L3 R0 R1 R2 R3]
inline __m128i deinterleave(__m128i v) {
    v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(3, 1, 2, 0));
    v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(3, 1, 2, 0));
    return _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0));
}

// Clamp to [-1, 1] with NaN to -1 (maxps returns its second operand for a NaN), exact double
// product, truncation.
inline __m128i clamped4(__m128 x) {
    x = _mm_min_ps(_mm_max_ps(x, _mm_set1_ps(-1.0f)), _mm_set1_ps(1.0f));
    const __m128d k = _mm_set1_pd(kToIntRef);
    const __m128i lo = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(x), k));
    const __m128i hi = _mm_cvttpd_epi32(_mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(x, x)), k));
    return _mm_unpacklo_epi64(lo, hi);
}

// Clamp the product to [-32768, 32767] (a NaN passes through: minps/maxps return the second
// operand), then truncate; a NaN converts to -2^31 and packs to -32768.
inline __m128i truncated4(__m128 x) {
    __m128 p = _mm_mul_ps(x, _mm_set1_ps(kToInt));
    p = _mm_max_ps(_mm_set1_ps(-32768.0f), _mm_min_ps(_mm_set1_ps(32767.0f), p));
    return _mm_cvttps_epi32(p);
}

inline __m128i rounded4(__m128 x) { return _mm_cvtps_epi32(_mm_mul_ps(x, _mm_set1_ps(kToInt))); }

// Stereo pack: two lanes of four int32 -> [L0 R0 L1 R1 L2 R2 L3 R3], saturated to 16 bits.
inline __m128i interleave(__m128i l, __m128i r) {
    return _mm_packs_epi32(_mm_unpacklo_epi32(l, r), _mm_unpackhi_epi32(l, r));
}

template <class Convert>
inline uint32_t stereoToPcm(const float* left, const float* right, int16_t* pcm, uint32_t n, Convert convert) {
    uint32_t i = 0;
    for (; i + 4 <= n; i += 4)
        store(pcm + 2 * i, interleave(convert(_mm_loadu_ps(left + i)), convert(_mm_loadu_ps(right + i))));
    return i;
}

template <class Convert>
inline uint32_t monoToPcm(const float* in, int16_t* pcm, uint32_t n, Convert convert) {
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8)
        store(pcm + i, _mm_packs_epi32(convert(_mm_loadu_ps(in + i)), convert(_mm_loadu_ps(in + i + 4))));
    return i;
}

}  // namespace

void scaledSplit(const int16_t* pcm, float* left, float* right, uint32_t n) {
    uint32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i v = load(pcm + 2 * i);
        _mm_storeu_ps(left + i, scaled4(leftOf(v)));
        _mm_storeu_ps(right + i, scaled4(rightOf(v)));
    }
    portable::scaledSplit(pcm + 2 * i, left + i, right + i, n - i);
}

void scaledMix(const int16_t* pcm, float* out, uint32_t n) {
    uint32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i v = load(pcm + 2 * i);
        _mm_storeu_ps(out + i, scaled4(_mm_srai_epi32(_mm_add_epi32(leftOf(v), rightOf(v)), 1)));
    }
    portable::scaledMix(pcm + 2 * i, out + i, n - i);
}

void scaledMono(const int16_t* pcm, float* out, uint32_t n) {
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i v = load(pcm + i);
        _mm_storeu_ps(out + i, scaled4(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16)));
        _mm_storeu_ps(out + i + 4, scaled4(_mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16)));
    }
    portable::scaledMono(pcm + i, out + i, n - i);
}

void widenedSplit(const int16_t* pcm, float* left, float* right, uint32_t n) {
    uint32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i v = deinterleave(load(pcm + 2 * i));
        _mm_storeu_ps(left + i, widened4(_mm_unpacklo_epi16(v, v)));
        _mm_storeu_ps(right + i, widened4(_mm_unpackhi_epi16(v, v)));
    }
    portable::widenedSplit(pcm + 2 * i, left + i, right + i, n - i);
}

void summedMix(const int16_t* pcm, float* out, uint32_t n) {
    uint32_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i v = load(pcm + 2 * i);
        const __m128 sum = _mm_cvtepi32_ps(_mm_add_epi32(leftOf(v), rightOf(v)));
        _mm_storeu_ps(out + i, _mm_mul_ps(sum, _mm_set1_ps(kMixScale)));
    }
    portable::summedMix(pcm + 2 * i, out + i, n - i);
}

void widenedMono(const int16_t* pcm, float* out, uint32_t n) {
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i v = load(pcm + i);
        _mm_storeu_ps(out + i, widened4(_mm_unpacklo_epi16(v, v)));
        _mm_storeu_ps(out + i + 4, widened4(_mm_unpackhi_epi16(v, v)));
    }
    portable::widenedMono(pcm + i, out + i, n - i);
}

void clampedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) {
    const uint32_t i = stereoToPcm(left, right, pcm, n, clamped4);
    portable::clampedStereo(left + i, right + i, pcm + 2 * i, n - i);
}

void clampedMono(const float* in, int16_t* pcm, uint32_t n) {
    const uint32_t i = monoToPcm(in, pcm, n, clamped4);
    portable::clampedMono(in + i, pcm + i, n - i);
}

void truncatedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) {
    const uint32_t i = stereoToPcm(left, right, pcm, n, truncated4);
    portable::truncatedStereo(left + i, right + i, pcm + 2 * i, n - i);
}

void truncatedMono(const float* in, int16_t* pcm, uint32_t n) {
    const uint32_t i = monoToPcm(in, pcm, n, truncated4);
    portable::truncatedMono(in + i, pcm + i, n - i);
}

void roundedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) {
    const uint32_t i = stereoToPcm(left, right, pcm, n, rounded4);
    portable::roundedStereo(left + i, right + i, pcm + 2 * i, n - i);
}

void roundedMono(const float* in, int16_t* pcm, uint32_t n) {
    const uint32_t i = monoToPcm(in, pcm, n, rounded4);
    portable::roundedMono(in + i, pcm + i, n - i);
}

void copy16(const void* src, void* dst, uint32_t blocks) {
    const auto* from = static_cast<const __m128i*>(src);
    auto* to = static_cast<__m128i*>(dst);
    uint32_t b = 0;
    // Four blocks loaded before four stored equals the one-block-at-a-time copy unless the
    // destination starts less than 64 bytes after the source.
    const uintptr_t ahead = reinterpret_cast<uintptr_t>(dst) - reinterpret_cast<uintptr_t>(src);
    if (reinterpret_cast<uintptr_t>(dst) <= reinterpret_cast<uintptr_t>(src) || ahead >= 64) {
        for (; b + 4 <= blocks; b += 4) {
            const __m128i a0 = _mm_loadu_si128(from + b), a1 = _mm_loadu_si128(from + b + 1);
            const __m128i a2 = _mm_loadu_si128(from + b + 2), a3 = _mm_loadu_si128(from + b + 3);
            _mm_storeu_si128(to + b, a0);
            _mm_storeu_si128(to + b + 1, a1);
            _mm_storeu_si128(to + b + 2, a2);
            _mm_storeu_si128(to + b + 3, a3);
        }
    }
    for (; b < blocks; ++b) _mm_storeu_si128(to + b, _mm_loadu_si128(from + b));
}

}  // namespace dsp::kernels::sse2
#endif

