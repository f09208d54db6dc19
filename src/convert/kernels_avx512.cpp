// AVX-512 kernels (F, BW, DQ, VL), bit-identical to the others: 16 float lanes per operation,
// whole cache lines of the float buffer per step, and the frames before and after those through
// masked loads and stores instead of a narrower build.
// Only this file's own functions are built for AVX-512 (everything shared is included before
// the target switch).
//
// Two single-precision forms stand in for double-precision formulas, with the same bits:
// - s * (1/32767) in double rounded to float equals fma(s, kHigh, s * kLow) in float, where
//   kHigh + kLow splits the double constant (checked for every int16 by the kernel tests);
//   scaling s by 2^16 and both constants by 2^-16 changes no rounding.
// - trunc(x * 32767) with the exact double product equals the truncation of the float
//   product rounded toward zero: rounding toward zero never crosses an integer, and every
//   integer up to 32767 is a float (checked for every float in [-1, 1] by the kernel tests).
#include "convert/kernels.h"

#if DSP_X86_KERNELS
#include <immintrin.h>

#include "cpu/target.h"

DSP_TARGET_BEGIN(DSP_AVX512_FEATURES)
#if !defined(__clang__)
// The compiler's own intrinsic headers start some vectors from deliberately undefined values.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace dsp::kernels::avx512 {

namespace {

constexpr float kHigh = static_cast<float>(kScale);
constexpr float kLow = static_cast<float>(kScale - static_cast<double>(kHigh));
constexpr float kHighShifted = kHigh / 65536.0f;  // for s held in the upper 16 bits
constexpr float kLowShifted = kLow / 65536.0f;

inline __mmask16 lanes16(uint32_t n) { return static_cast<__mmask16>(n >= 16 ? 0xffffu : (1u << n) - 1); }
inline __mmask32 lanes32(uint32_t n) { return n >= 32 ? 0xffffffffu : (1u << n) - 1; }

inline __m512i load512(const void* p) { return _mm512_loadu_si512(p); }

// ---- int16 to float ----

// s * (1/32767) rounded once to float, for int32 lanes s (or s << 16 with the shifted pair).
template <bool Shifted>
inline __m512 scaled16(__m512i s) {
    const __m512 f = _mm512_cvtepi32_ps(s);
    const __m512 low = _mm512_mul_ps(f, _mm512_set1_ps(Shifted ? kLowShifted : kLow));
    return _mm512_fmadd_ps(f, _mm512_set1_ps(Shifted ? kHighShifted : kHigh), low);
}

// Interleaved stereo, 16 frames: each 32-bit lane is (R << 16) | (L & 0xffff).
inline __m512i leftHigh(__m512i v) { return _mm512_slli_epi32(v, 16); }
inline __m512i rightHigh(__m512i v) { return _mm512_and_si512(v, _mm512_set1_epi32(-65536)); }
inline __m512i pairSum(__m512i v) { return _mm512_madd_epi16(v, _mm512_set1_epi16(1)); }  // L + R

inline __m512 widened16(__m512i lanes) { return _mm512_mul_ps(_mm512_cvtepi32_ps(lanes), _mm512_set1_ps(kWideScale)); }

// Sixteen mono samples, each repeated into both halves of a 32-bit lane.
inline __m512i widenMono16(__m256i samples) {
    const __m512i twice = _mm512_set_epi16(15, 15, 14, 14, 13, 13, 12, 12, 11, 11, 10, 10, 9, 9, 8, 8, 7, 7, 6, 6, 5, 5,
                                           4, 4, 3, 3, 2, 2, 1, 1, 0, 0);
    return _mm512_permutexvar_epi16(twice, _mm512_castsi256_si512(samples));
}

// The same repetition for the left or the right sample of each stereo frame.
inline __m512i widenLeft16(__m512i v) {
    return _mm512_shuffle_epi8(v, _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 0, 1, 4, 5, 4, 5, 8, 9, 8, 9, 12, 13, 12, 13)));
}
inline __m512i widenRight16(__m512i v) {
    return _mm512_shuffle_epi8(v, _mm512_broadcast_i32x4(_mm_setr_epi8(2, 3, 2, 3, 6, 7, 6, 7, 10, 11, 10, 11, 14, 15, 14, 15)));
}

// Arithmetic shift: the halved sum rounds toward minus infinity.
inline __m512 scaledMix16(__m512i v) { return scaled16<false>(_mm512_srai_epi32(pairSum(v), 1)); }
inline __m512 scaledMono16(__m256i samples) { return scaled16<false>(_mm512_cvtepi16_epi32(samples)); }
inline __m512 summed16(__m512i v) { return _mm512_mul_ps(_mm512_cvtepi32_ps(pairSum(v)), _mm512_set1_ps(kMixScale)); }
inline __m512 widenedMono16(__m256i samples) { return widened16(widenMono16(samples)); }
inline __m512 scaledLeft16(__m512i v) { return scaled16<true>(leftHigh(v)); }
inline __m512 scaledRight16(__m512i v) { return scaled16<true>(rightHigh(v)); }
inline __m512 widenedLeft16(__m512i v) { return widened16(widenLeft16(v)); }
inline __m512 widenedRight16(__m512i v) { return widened16(widenRight16(v)); }

// ---- float to int16 ----
// Each gives int32 lanes that a signed saturating pack to 16 bits turns into the result.

// Clamped reference, before the final max with -32767: the product rounded toward zero and
// capped at 32767 (a NaN passes the cap: minps returns its second operand), truncated.
// Below -1 or NaN the conversion gives at most -32767 or the integer-indefinite -2^31.
inline __m512i clamped16(__m512 x) {
    const __m512 p = _mm512_mul_round_ps(x, _mm512_set1_ps(kToInt), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
    return _mm512_cvttps_epi32(_mm512_min_ps(_mm512_set1_ps(32767.0f), p));
}
inline __m512i clampLow(__m512i packed) { return _mm512_max_epi16(packed, _mm512_set1_epi16(-32767)); }

// Product in the current rounding mode, capped at 32767 (NaN passes and converts to -2^31).
inline __m512i truncated16(__m512 x) {
    const __m512 p = _mm512_mul_ps(x, _mm512_set1_ps(kToInt));
    return _mm512_cvttps_epi32(_mm512_min_ps(_mm512_set1_ps(32767.0f), p));
}

// Out of 32-bit range or NaN converts to -2^31, which the pack saturates to -32768.
inline __m512i rounded16(__m512 x) { return _mm512_cvtps_epi32(_mm512_mul_ps(x, _mm512_set1_ps(kToInt))); }

// packs gives [l0..l3 r0..r3 | l4..l7 r4..r7 | ...] per 128-bit lane; restore frame order.
inline __m512i interleave(__m512i l, __m512i r) {
    const __m512i order = _mm512_set_epi16(31, 27, 30, 26, 29, 25, 28, 24, 23, 19, 22, 18, 21, 17, 20, 16, 15, 11, 14,
                                           10, 13, 9, 12, 8, 7, 3, 6, 2, 5, 1, 4, 0);
    return _mm512_permutexvar_epi16(order, _mm512_packs_epi32(l, r));
}
// The left channel twice: packs of l with itself, each word then taken twice.
inline __m512i duplicate(__m512i l) {
    const __m512i order = _mm512_set_epi16(27, 27, 26, 26, 25, 25, 24, 24, 19, 19, 18, 18, 17, 17, 16, 16, 11, 11, 10,
                                           10, 9, 9, 8, 8, 3, 3, 2, 2, 1, 1, 0, 0);
    return _mm512_permutexvar_epi16(order, _mm512_packs_epi32(l, l));
}
// The same from int32 lanes already within 16 bits: each low word taken twice (no pack).
inline __m512i duplicateLow(__m512i v) {
    const __m512i order = _mm512_set_epi16(30, 30, 28, 28, 26, 26, 24, 24, 22, 22, 20, 20, 18, 18, 16, 16, 14, 14, 12,
                                           12, 10, 10, 8, 8, 6, 6, 4, 4, 2, 2, 0, 0);
    return _mm512_permutexvar_epi16(order, v);
}
// Two blocks of 16 samples into 32 in order.
inline __m512i pack32(__m512i a, __m512i b) {
    return _mm512_permutexvar_epi64(_mm512_set_epi64(7, 5, 3, 1, 6, 4, 2, 0), _mm512_packs_epi32(a, b));
}

// Runs a kernel over n frames: a short first step up to the 64-byte boundary of `alignTo`
// (a float buffer advancing 16 floats per 16 frames) so that the full steps, `width` frames
// each, touch it in whole cache lines; short steps of at most 16 frames finish the call.
template <class Full, class Part>
inline void run(const float* alignTo, uint32_t n, uint32_t width, Full full, Part part) {
    uint32_t head = static_cast<uint32_t>(-reinterpret_cast<uintptr_t>(alignTo) & 63) / 4;
    if (head > n) head = n;
    if (head != 0) part(0, head);
    uint32_t i = head;
    for (; i + width <= n; i += width) full(i);
    for (; i < n; i += 16) part(i, n - i < 16 ? n - i : 16);
}

// The conversions and finishing steps as types, so the loops below inline them.
// Where kDuplicates is set, `duplicated` gives the left-twice words one step shorter than a pack.
struct Clamped {
    static constexpr bool kDuplicates = true;
    __m512i operator()(__m512 x) const { return clamped16(x); }
    // Raised to -32767 in 32 bits, every lane is the result itself.
    __m512i duplicated(__m512 x) const { return duplicateLow(_mm512_max_epi32(clamped16(x), _mm512_set1_epi32(-32767))); }
};
struct Truncated {
    static constexpr bool kDuplicates = false;
    __m512i operator()(__m512 x) const { return truncated16(x); }
};
struct Rounded {
    static constexpr bool kDuplicates = false;
    __m512i operator()(__m512 x) const { return rounded16(x); }
};
template <class Convert, class Finish>
inline __m512i duplicated(Convert convert, Finish finish, __m512 x) {
    if constexpr (Convert::kDuplicates) return convert.duplicated(x);
    else return finish(duplicate(convert(x)));
}
// Finish is applied to each packed vector (the clamped low bound or nothing).
struct NoFinish {
    __m512i operator()(__m512i v) const { return v; }
};
struct ClampLow {
    __m512i operator()(__m512i v) const { return clampLow(v); }
};

template <class Convert, class Finish>
inline void stereoToPcm(const float* left, const float* right, int16_t* pcm, uint32_t n, Convert convert, Finish finish) {
    if (left == right) {
        return run(
            left, n, 32,
            [&](uint32_t i) {
                const __m512i a = duplicated(convert, finish, _mm512_loadu_ps(left + i));
                const __m512i b = duplicated(convert, finish, _mm512_loadu_ps(left + i + 16));
                _mm512_storeu_si512(pcm + 2 * i, a);
                _mm512_storeu_si512(pcm + 2 * i + 32, b);
            },
            [&](uint32_t i, uint32_t count) {
                const __m512i a = duplicated(convert, finish, _mm512_maskz_loadu_ps(lanes16(count), left + i));
                _mm512_mask_storeu_epi16(pcm + 2 * i, lanes32(2 * count), a);
            });
    }
    run(
        left, n, 32,
        [&](uint32_t i) {
            const __m512i a = finish(interleave(convert(_mm512_loadu_ps(left + i)), convert(_mm512_loadu_ps(right + i))));
            const __m512i b =
                finish(interleave(convert(_mm512_loadu_ps(left + i + 16)), convert(_mm512_loadu_ps(right + i + 16))));
            _mm512_storeu_si512(pcm + 2 * i, a);
            _mm512_storeu_si512(pcm + 2 * i + 32, b);
        },
        [&](uint32_t i, uint32_t count) {
            const __mmask16 m = lanes16(count);
            const __m512i a =
                finish(interleave(convert(_mm512_maskz_loadu_ps(m, left + i)), convert(_mm512_maskz_loadu_ps(m, right + i))));
            _mm512_mask_storeu_epi16(pcm + 2 * i, lanes32(2 * count), a);
        });
}

template <class Convert, class Finish>
inline void monoToPcm(const float* in, int16_t* pcm, uint32_t n, Convert convert, Finish finish) {
    run(
        in, n, 64,
        [&](uint32_t i) {
            const __m512i a = finish(pack32(convert(_mm512_loadu_ps(in + i)), convert(_mm512_loadu_ps(in + i + 16))));
            const __m512i b = finish(pack32(convert(_mm512_loadu_ps(in + i + 32)), convert(_mm512_loadu_ps(in + i + 48))));
            _mm512_storeu_si512(pcm + i, a);
            _mm512_storeu_si512(pcm + i + 32, b);
        },
        [&](uint32_t i, uint32_t count) {
            const __m512 x = _mm512_maskz_loadu_ps(lanes16(count), in + i);
            _mm512_mask_storeu_epi16(pcm + i, lanes32(count), finish(pack32(convert(x), convert(x))));
        });
}

// Interleaved stereo to two float buffers, 16 frames per step; `left`/`right` turn the frames'
// 32-bit lanes into each channel's floats.
template <__m512 (*left)(__m512i), __m512 (*right)(__m512i)>
inline void splitToFloat(const int16_t* pcm, float* outL, float* outR, uint32_t n) {
    run(
        outL, n, 16,
        [&](uint32_t i) {
            const __m512i v = load512(pcm + 2 * i);
            _mm512_storeu_ps(outL + i, left(v));
            _mm512_storeu_ps(outR + i, right(v));
        },
        [&](uint32_t i, uint32_t count) {
            const __mmask16 m = lanes16(count);
            const __m512i v = _mm512_maskz_loadu_epi32(m, pcm + 2 * i);
            _mm512_mask_storeu_ps(outL + i, m, left(v));
            _mm512_mask_storeu_ps(outR + i, m, right(v));
        });
}

// Interleaved stereo mixed to one float buffer, 32 frames per step.
template <__m512 (*mix)(__m512i)>
inline void mixToFloat(const int16_t* pcm, float* out, uint32_t n) {
    run(
        out, n, 32,
        [&](uint32_t i) {
            const __m512 a = mix(load512(pcm + 2 * i));
            const __m512 b = mix(load512(pcm + 2 * i + 32));
            _mm512_storeu_ps(out + i, a);
            _mm512_storeu_ps(out + i + 16, b);
        },
        [&](uint32_t i, uint32_t count) {
            const __mmask16 m = lanes16(count);
            _mm512_mask_storeu_ps(out + i, m, mix(_mm512_maskz_loadu_epi32(m, pcm + 2 * i)));
        });
}

}  // namespace

void scaledSplit(const int16_t* pcm, float* left, float* right, uint32_t n) {
    splitToFloat<scaledLeft16, scaledRight16>(pcm, left, right, n);
}

void scaledMix(const int16_t* pcm, float* out, uint32_t n) { mixToFloat<scaledMix16>(pcm, out, n); }

void scaledMono(const int16_t* pcm, float* out, uint32_t n) {
    run(
        out, n, 32,
        [&](uint32_t i) {
            const __m512 a = scaledMono16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pcm + i)));
            const __m512 b = scaledMono16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pcm + i + 16)));
            _mm512_storeu_ps(out + i, a);
            _mm512_storeu_ps(out + i + 16, b);
        },
        [&](uint32_t i, uint32_t count) {
            const __mmask16 m = lanes16(count);
            _mm512_mask_storeu_ps(out + i, m, scaledMono16(_mm256_maskz_loadu_epi16(m, pcm + i)));
        });
}

void widenedSplit(const int16_t* pcm, float* left, float* right, uint32_t n) {
    splitToFloat<widenedLeft16, widenedRight16>(pcm, left, right, n);
}

void summedMix(const int16_t* pcm, float* out, uint32_t n) { mixToFloat<summed16>(pcm, out, n); }

void widenedMono(const int16_t* pcm, float* out, uint32_t n) {
    run(
        out, n, 32,
        [&](uint32_t i) {
            // 32 samples with 64-bit groups reordered so that the in-lane unpacks of the vector
            // with itself give samples 0-15 and 16-31 (measured faster than two word permutes).
            const __m512i v = _mm512_permutexvar_epi64(_mm512_set_epi64(7, 3, 6, 2, 5, 1, 4, 0), load512(pcm + i));
            _mm512_storeu_ps(out + i, widened16(_mm512_unpacklo_epi16(v, v)));
            _mm512_storeu_ps(out + i + 16, widened16(_mm512_unpackhi_epi16(v, v)));
        },
        [&](uint32_t i, uint32_t count) {
            const __mmask16 m = lanes16(count);
            _mm512_mask_storeu_ps(out + i, m, widenedMono16(_mm256_maskz_loadu_epi16(m, pcm + i)));
        });
}

void clampedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) {
    stereoToPcm(left, right, pcm, n, Clamped{}, ClampLow{});
}

void clampedMono(const float* in, int16_t* pcm, uint32_t n) { monoToPcm(in, pcm, n, Clamped{}, ClampLow{}); }

void truncatedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) {
    stereoToPcm(left, right, pcm, n, Truncated{}, NoFinish{});
}

void truncatedMono(const float* in, int16_t* pcm, uint32_t n) { monoToPcm(in, pcm, n, Truncated{}, NoFinish{}); }

void roundedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) {
    stereoToPcm(left, right, pcm, n, Rounded{}, NoFinish{});
}

void roundedMono(const float* in, int16_t* pcm, uint32_t n) { monoToPcm(in, pcm, n, Rounded{}, NoFinish{}); }

void copy16(const void* src, void* dst, uint32_t blocks) { avx2::copy16(src, dst, blocks); }

}  // namespace dsp::kernels::avx512

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif
DSP_TARGET_END
#endif
