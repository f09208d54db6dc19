// AVX2 (with FMA) kernels, bit-identical to the others: 8 or 16 frames per step, the last few
// frames through the SSE2 kernel. The 1/32767 scale and the clamped 32767 product run in float
// lanes by the same reasoning as the AVX-512 build (see kernels_avx512.cpp). Only this file's own functions are built for AVX2 (everything
// shared is included before the target switch), so nothing here leaks into code that runs
// on processors without it.
#include "convert/kernels.h"

#include <cstring>

#if DSP_X86_KERNELS
#include <immintrin.h>

#include "cpu/target.h"

DSP_TARGET_BEGIN(DSP_AVX2_FEATURES)

namespace dsp::kernels::avx2 {

namespace {

inline __m256i load256(const void* p) { return _mm256_loadu_si256(static_cast<const __m256i*>(p)); }
inline __m128i load128(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
inline void store256(void* p, __m256i v) { _mm256_storeu_si256(static_cast<__m256i*>(p), v); }

// Interleaved stereo, eight frames: each 32-bit lane is one frame, (R << 16) | (L & 0xffff).
inline __m256i leftOf(__m256i v) { return _mm256_srai_epi32(_mm256_slli_epi32(v, 16), 16); }
inline __m256i rightOf(__m256i v) { return _mm256_srai_epi32(v, 16); }
inline __m256i pairSum(__m256i v) { return _mm256_madd_epi16(v, _mm256_set1_epi16(1)); }  // L + R

// Eight int32 times 1/32767 as the double product rounded once to float: in float lanes,
// fma(s, kHigh, s * kLow) with kHigh + kLow splitting the double constant gives the same bits
// for every int16 (as the AVX-512 build; checked by the kernel tests).
constexpr float kHigh = static_cast<float>(kScale);
constexpr float kLow = static_cast<float>(kScale - static_cast<double>(kHigh));
inline __m256 scaled8(__m256i v) {
    const __m256 f = _mm256_cvtepi32_ps(v);
    return _mm256_fmadd_ps(f, _mm256_set1_ps(kHigh), _mm256_mul_ps(f, _mm256_set1_ps(kLow)));
}
inline void storeScaled8(float* out, __m256i v) { _mm256_storeu_ps(out, scaled8(v)); }

inline __m256 widened8(__m256i lanes) { return _mm256_mul_ps(_mm256_cvtepi32_ps(lanes), _mm256_set1_ps(kWideScale)); }

// Eight samples zero-extended to 32 bits, then the pattern repeated in the upper half.
inline __m256i widenMono8(const int16_t* p) {
    const __m256i z = _mm256_cvtepu16_epi32(load128(p));
    return _mm256_or_si256(z, _mm256_slli_epi32(z, 16));
}

// Clamped reference for a loop that runs with the rounding mode set toward zero: the float
// product rounded toward zero truncates to the same integer as the exact product (no integer
// lies between them, and every integer up to 32767 is a float). Capped at 32767 (a NaN passes:
// minps returns its second operand) and truncated; below -1 or NaN this gives at most -32767
// or -2^31, which the pack saturates and clampLow raises to -32767.
inline __m256i clamped8(__m256 x) {
    const __m256 p = _mm256_mul_ps(x, _mm256_set1_ps(kToInt));
    return _mm256_cvttps_epi32(_mm256_min_ps(_mm256_set1_ps(32767.0f), p));
}
inline __m256i clampLow(__m256i packed) { return _mm256_max_epi16(packed, _mm256_set1_epi16(-32767)); }

inline __m256i truncated8(__m256 x) {
    __m256 p = _mm256_mul_ps(x, _mm256_set1_ps(kToInt));
    p = _mm256_max_ps(_mm256_set1_ps(-32768.0f), _mm256_min_ps(_mm256_set1_ps(32767.0f), p));  // NaN passes
    return _mm256_cvttps_epi32(p);
}

inline __m256i rounded8(__m256 x) { return _mm256_cvtps_epi32(_mm256_mul_ps(x, _mm256_set1_ps(kToInt))); }

// In-lane unpack and pack keep frame order: [L0 R0 .. L3 R3 | L4 R4 .. L7 R7].
inline __m256i interleave(__m256i l, __m256i r) {
    return _mm256_packs_epi32(_mm256_unpacklo_epi32(l, r), _mm256_unpackhi_epi32(l, r));
}

inline __m256i asIs(__m256i packed) { return packed; }

template <class Convert, class Finish>
inline uint32_t stereoToPcm(const float* left, const float* right, int16_t* pcm, uint32_t n, Convert convert,
                            Finish finish) {
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8)
        store256(pcm + 2 * i, finish(interleave(convert(_mm256_loadu_ps(left + i)), convert(_mm256_loadu_ps(right + i)))));
    return i;
}

template <class Convert, class Finish>
inline uint32_t monoToPcm(const float* in, int16_t* pcm, uint32_t n, Convert convert, Finish finish) {
    uint32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i packed = _mm256_packs_epi32(convert(_mm256_loadu_ps(in + i)), convert(_mm256_loadu_ps(in + i + 8)));
        store256(pcm + i, finish(_mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0))));
    }
    return i;
}

// The clamped loops run with the rounding mode toward zero, set by the caller around the
// call; kept out of line so that no arithmetic moves across the mode switches.
__attribute__((noinline)) uint32_t clampedStereoTowardZero(const float* left, const float* right, int16_t* pcm, uint32_t n) {
    return stereoToPcm(left, right, pcm, n, clamped8, clampLow);
}
__attribute__((noinline)) uint32_t clampedMonoTowardZero(const float* in, int16_t* pcm, uint32_t n) {
    return monoToPcm(in, pcm, n, clamped8, clampLow);
}

// Sets rounding toward zero for the life of the object and then restores the caller's mode
// (the other MXCSR bits are left as they were).
class TowardZero {
public:
    TowardZero() : saved_(_mm_getcsr()) { _mm_setcsr((saved_ & ~unsigned{_MM_ROUND_MASK}) | _MM_ROUND_TOWARD_ZERO); }
    ~TowardZero() { _mm_setcsr(saved_); }
    TowardZero(const TowardZero&) = delete;
    TowardZero& operator=(const TowardZero&) = delete;

private:
    unsigned saved_;
};

}  // namespace

void scaledSplit(const int16_t* pcm, float* left, float* right, uint32_t n) {
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i v = load256(pcm + 2 * i);
        storeScaled8(left + i, leftOf(v));
        storeScaled8(right + i, rightOf(v));
    }
    sse2::scaledSplit(pcm + 2 * i, left + i, right + i, n - i);
}

void scaledMix(const int16_t* pcm, float* out, uint32_t n) {
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i v = load256(pcm + 2 * i);
        storeScaled8(out + i, _mm256_srai_epi32(pairSum(v), 1));
    }
    sse2::scaledMix(pcm + 2 * i, out + i, n - i);
}

void scaledMono(const int16_t* pcm, float* out, uint32_t n) {
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) storeScaled8(out + i, _mm256_cvtepi16_epi32(load128(pcm + i)));
    sse2::scaledMono(pcm + i, out + i, n - i);
}

void widenedSplit(const int16_t* pcm, float* left, float* right, uint32_t n) {
    const __m256i low = _mm256_set1_epi32(0xffff);
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i v = load256(pcm + 2 * i);
        const __m256i l = _mm256_or_si256(_mm256_slli_epi32(v, 16), _mm256_and_si256(v, low));
        const __m256i r = _mm256_or_si256(_mm256_andnot_si256(low, v), _mm256_srli_epi32(v, 16));
        _mm256_storeu_ps(left + i, widened8(l));
        _mm256_storeu_ps(right + i, widened8(r));
    }
    sse2::widenedSplit(pcm + 2 * i, left + i, right + i, n - i);
}

void summedMix(const int16_t* pcm, float* out, uint32_t n) {
    uint32_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i v = load256(pcm + 2 * i);
        const __m256 sum = _mm256_cvtepi32_ps(pairSum(v));
        _mm256_storeu_ps(out + i, _mm256_mul_ps(sum, _mm256_set1_ps(kMixScale)));
    }
    sse2::summedMix(pcm + 2 * i, out + i, n - i);
}

void widenedMono(const int16_t* pcm, float* out, uint32_t n) {
    uint32_t i = 0;
    for (; i + 16 <= n; i += 16) {
        _mm256_storeu_ps(out + i, widened8(widenMono8(pcm + i)));
        _mm256_storeu_ps(out + i + 8, widened8(widenMono8(pcm + i + 8)));
    }
    sse2::widenedMono(pcm + i, out + i, n - i);
}

void clampedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) {
    uint32_t i = 0;
    if (n >= 8) {
        TowardZero mode;
        i = clampedStereoTowardZero(left, right, pcm, n);
    }
    sse2::clampedStereo(left + i, right + i, pcm + 2 * i, n - i);
}

void clampedMono(const float* in, int16_t* pcm, uint32_t n) {
    uint32_t i = 0;
    if (n >= 16) {
        TowardZero mode;
        i = clampedMonoTowardZero(in, pcm, n);
    }
    sse2::clampedMono(in + i, pcm + i, n - i);
}

void truncatedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) {
    const uint32_t i = stereoToPcm(left, right, pcm, n, truncated8, asIs);
    sse2::truncatedStereo(left + i, right + i, pcm + 2 * i, n - i);
}

void truncatedMono(const float* in, int16_t* pcm, uint32_t n) {
    const uint32_t i = monoToPcm(in, pcm, n, truncated8, asIs);
    sse2::truncatedMono(in + i, pcm + i, n - i);
}

void roundedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) {
    const uint32_t i = stereoToPcm(left, right, pcm, n, rounded8, asIs);
    sse2::roundedStereo(left + i, right + i, pcm + 2 * i, n - i);
}

void roundedMono(const float* in, int16_t* pcm, uint32_t n) {
    const uint32_t i = monoToPcm(in, pcm, n, rounded8, asIs);
    sse2::roundedMono(in + i, pcm + i, n - i);
}

void copy16(const void* src, void* dst, uint32_t blocks) {
    // Unless the destination starts inside the source, the 16-byte steps give what memmove
    // gives (a destination below the source is never read after it is written), and the C
    // library's copy aligns its stores.
    const auto from = reinterpret_cast<uintptr_t>(src), to = reinterpret_cast<uintptr_t>(dst);
    if (to <= from || to - from >= uintptr_t{16} * blocks) {
        std::memmove(dst, src, size_t{16} * blocks);
        return;
    }
    // Eight 16-byte blocks read before any is written: the same as one block at a time unless
    // the destination starts less than 128 bytes after the source (then the SSE2 stepping).
    uint32_t b = 0;
    if (to - from >= 128) {
        const auto* s = static_cast<const __m256i*>(src);
        auto* d = static_cast<__m256i*>(dst);
        for (; b + 8 <= blocks; b += 8, s += 4, d += 4) {
            const __m256i a0 = _mm256_loadu_si256(s), a1 = _mm256_loadu_si256(s + 1);
            const __m256i a2 = _mm256_loadu_si256(s + 2), a3 = _mm256_loadu_si256(s + 3);
            _mm256_storeu_si256(d, a0);
            _mm256_storeu_si256(d + 1, a1);
            _mm256_storeu_si256(d + 2, a2);
            _mm256_storeu_si256(d + 3, a3);
        }
    }
    sse2::copy16(static_cast<const char*>(src) + 16 * b, static_cast<char*>(dst) + 16 * b, blocks - b);
}

}  // namespace dsp::kernels::avx2

DSP_TARGET_END
#endif
