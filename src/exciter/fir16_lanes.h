// The 16-tap FIR computing several consecutive outputs at once, one output per vector lane,
// with each output's products grouped and summed exactly as the one-output-at-a-time forms do.
//
// Output n at write position p multiplies history slot t (holding x[n - k], k = ((t - p) & 15)
// + 1) by rows[p][t] = coef[k]. For the outputs n + j of a group (positions p - j), slot t
// holds x[n - 1 - c] while c + j < 16 and x[n + 15 - c] after the slot was overwritten inside
// the group (c = (t - p) & 15). So every slot is a broadcast sample (or two of them, for the
// last slots) times a per-lane coefficient vector, which depends only on p and is tabled by
// the filter design. The position moves by the group size, so each group is instantiated for
// its position.
#pragma once
#include <cstdint>
#include <utility>

#include "exciter/fir_dot.h"

#if defined(DSP_HAVE_SSE_INTRINSICS)
#include <emmintrin.h>

namespace dsp {
namespace fir16 {

constexpr uint32_t kTaps = 16;
constexpr uint32_t kChunk = 256;  // outputs per pass over a staged block of broadcast samples

template <bool kDouble>
struct Vec {
    using type = __m128;
};
template <>
struct Vec<true> {
    using type = __m128d;
};

// Lanes j < kFirst from `early`, the others from `late` (both broadcasts).
template <int kFirst>
inline __m128 splitLanes(__m128 early, __m128 late) {
    if constexpr (kFirst == 1) return _mm_move_ss(late, early);
    if constexpr (kFirst == 2) return _mm_shuffle_ps(early, late, _MM_SHUFFLE(0, 0, 0, 0));
    return _mm_shuffle_ps(early, _mm_move_ss(late, early), _MM_SHUFFLE(1, 0, 0, 0));
}
template <int kFirst>
inline __m128d splitLanes(__m128d early, __m128d late) {
    return kFirst >= 2 ? early : _mm_move_sd(late, early);
}

// wide[i] = in[i] in every lane, for i < n (n a multiple of 4).
inline void stage(const float* in, __m128* wide, uint32_t n) {
    for (uint32_t i = 0; i < n; i += 4) {
        const __m128 v = _mm_loadu_ps(in + i);
        wide[i] = _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 0, 0, 0));
        wide[i + 1] = _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1));
        wide[i + 2] = _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 2, 2));
        wide[i + 3] = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3));
    }
}
// The same widened to double, for i < n (n a multiple of 2).
inline void stage(const float* in, __m128d* wide, uint32_t n) {
    for (uint32_t i = 0; i < n; i += 2) {
        const __m128d v = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in + i))));
        wide[i] = _mm_unpacklo_pd(v, v);
        wide[i + 1] = _mm_unpackhi_pd(v, v);
    }
}
inline float laneZero(__m128 v) { return _mm_cvtss_f32(v); }
inline float laneZero(__m128d v) { return static_cast<float>(_mm_cvtsd_f64(v)); }

// ---- Single precision: four outputs per group -------------------------------------------

// Product vector of slot T for position P; x[n + d] is wide[16 + d].
template <int P, int T>
inline __m128 product(const __m128* wide, const __m128* table) {
    constexpr int c = (T - P) & 15;
    __m128 x = wide[15 - c];
    if constexpr (c >= 13) x = splitLanes<16 - c>(x, wide[31 - c]);
    return _mm_mul_ps(x, table[T]);
}

// The SSE form for 16 taps: products of four consecutive slots added pairwise, then the lanes.
struct TreeSse16 {
    template <int P>
    static __m128 sum(const __m128* w, const __m128* tb) {
        __m128 s[4];
#define DSP_LANE(l)                                                                                              \
    s[l] = _mm_add_ps(_mm_add_ps(product<P, l>(w, tb), product<P, 4 + l>(w, tb)),                           \
                      _mm_add_ps(product<P, 8 + l>(w, tb), product<P, 12 + l>(w, tb)));
        DSP_LANE(0) DSP_LANE(1) DSP_LANE(2) DSP_LANE(3)
#undef DSP_LANE
        return _mm_add_ps(_mm_add_ps(s[0], s[2]), _mm_add_ps(s[1], s[3]));
    }
};

// The 3DNow! form: one running sum per lane from zero over the four steps, then the lanes.
struct Tree3dnow {
    template <int P>
    static __m128 sum(const __m128* w, const __m128* tb) {
        __m128 s[4];
#define DSP_LANE(l)                                                                                              \
    s[l] = _mm_add_ps(                                                                                           \
        _mm_add_ps(_mm_add_ps(_mm_add_ps(_mm_setzero_ps(), product<P, l>(w, tb)), product<P, 4 + l>(w, tb)),  \
                   product<P, 8 + l>(w, tb)),                                                                     \
        product<P, 12 + l>(w, tb));
        DSP_LANE(0) DSP_LANE(1) DSP_LANE(2) DSP_LANE(3)
#undef DSP_LANE
        return _mm_add_ps(_mm_add_ps(s[0], s[2]), _mm_add_ps(s[1], s[3]));
    }
};

template <class Tree, int P>
inline void groupFloat(const __m128* wide, const __m128* table, __m128 c0, const float* in, float* out) {
    const __m128 direct = _mm_mul_ps(_mm_loadu_ps(in), c0);
    _mm_storeu_ps(out, _mm_add_ps(Tree::template sum<P>(wide, table + 16 * P), direct));
}

// ---- Double precision (the reference): two outputs per group --------------------------------

template <int P, int T>
inline __m128d productWide(const __m128d* wide, const __m128d* table) {
    constexpr int c = (T - P) & 15;
    __m128d x = wide[15 - c];
    if constexpr (c >= 15) x = splitLanes<16 - c>(x, wide[31 - c]);
    return _mm_mul_pd(x, table[T]);
}

template <int P, int... T>
inline __m128d runningSum(__m128d acc, const __m128d* wide, const __m128d* table,
                          std::integer_sequence<int, T...>) {
    ((acc = _mm_add_pd(acc, productWide<P, T>(wide, table))), ...);
    return acc;
}

struct TreeReference {};

template <class Tree, int P>
inline void groupDouble(const __m128d* wide, const __m128d* table, __m128d c0, const float* in, float* out) {
    const __m128d x = _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(in))));
    const __m128d acc = runningSum<P>(_mm_mul_pd(x, c0), wide, table + 16 * P, std::make_integer_sequence<int, 16>());
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_castps_si128(_mm_cvtpd_ps(acc)));
}

}  // namespace fir16
}  // namespace dsp

#endif
