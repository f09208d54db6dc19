// Internal: the stereo cascade with up to eight sections in the lanes of two 512-bit registers
// (four sections per register), for processors with AVX-512 (chosen at run time).
//
// The same skewed scheme as the 256-bit form: lane 2s + c holds section s of channel c, section
// s works on frame t - 2s at step t and takes what section s - 1 produced two steps earlier.
// Each lane performs exactly the operations of the plain section loop, in the same order;
// lanes whose frame lies outside the block keep their state.
#pragma once
#include <cstdint>

#include "filters/cascade_lanes.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define DSP_WIDE512_CASCADE 1
#include <immintrin.h>

namespace dsp {
namespace lanes {

inline bool wide512CascadeSupported() {
    static const bool supported = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2");
    return supported;
}

#define DSP_WIDE512_TARGET __attribute__((target("avx512f,avx2")))

template <int kCount>
struct Wide512Cascade {
    static_assert(kCount >= 1 && kCount <= 8, "two registers hold eight sections");
    static constexpr int kRegs = (kCount + 3) / 4;  // register r: sections 4r … 4r + 3
    static constexpr uint32_t kDelay = 2 * (kCount - 1);
    __m512d a1[kRegs], a2[kRegs], b0[kRegs], b1[kRegs], b2[kRegs], w1[kRegs], w2[kRegs], y1[kRegs], y2[kRegs];

    DSP_WIDE512_TARGET void load(const BiquadArrays* f) {
        alignas(64) double v[7][16] = {};  // unused lanes: all zero
        sectionsToLanes(f, kCount, v);
        for (int r = 0; r < kRegs; ++r) {
            a1[r] = _mm512_load_pd(v[0] + 8 * r);
            a2[r] = _mm512_load_pd(v[1] + 8 * r);
            b0[r] = _mm512_load_pd(v[2] + 8 * r);
            b1[r] = _mm512_load_pd(v[3] + 8 * r);
            b2[r] = _mm512_load_pd(v[4] + 8 * r);
            w1[r] = _mm512_load_pd(v[5] + 8 * r);
            w2[r] = _mm512_load_pd(v[6] + 8 * r);
            y1[r] = y2[r] = _mm512_setzero_pd();
        }
    }

    DSP_WIDE512_TARGET void save(const BiquadArrays* f) const {
        alignas(64) double v1[16], v2[16];
        for (int r = 0; r < kRegs; ++r) {
            _mm512_store_pd(v1 + 8 * r, w1[r]);
            _mm512_store_pd(v2 + 8 * r, w2[r]);
        }
        lanesToState(f, kCount, v1, v2);
    }

    // One step: `in` enters section 0; returns the last section's output for the frame that
    // entered kDelay steps ago. Lanes outside `active` keep their state.
    template <bool kMasked>
    DSP_WIDE512_TARGET DSP_LANE_INLINE __m128d step(__m128d in, __mmask8 active0 = 0xff, __mmask8 active1 = 0xff) {
        // x: lanes 0-1 the input pair (or the previous register's last section), lanes 2-7 the
        // outputs of this register's sections 0-2 two steps ago.
        __m512d x[kRegs];
        // (The zero-masked forms of these intrinsics: the plain ones trip a compiler warning.)
        const __m512d input = _mm512_maskz_broadcast_f64x4(0xff, _mm256_insertf128_pd(_mm256_castpd128_pd256(in), in, 1));
        x[0] = _mm512_castsi512_pd(
            _mm512_maskz_alignr_epi64(0xff, _mm512_castpd_si512(y2[0]), _mm512_castpd_si512(input), 6));
        if constexpr (kRegs == 2)
            x[1] = _mm512_castsi512_pd(
                _mm512_maskz_alignr_epi64(0xff, _mm512_castpd_si512(y2[1]), _mm512_castpd_si512(y2[0]), 6));
        __m512d y[kRegs];
        for (int r = 0; r < kRegs; ++r) {
            const __m512d w =
                _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(a1[r], w1[r]), _mm512_mul_pd(a2[r], w2[r])), x[r]);
            y[r] = _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(b0[r], w), _mm512_mul_pd(b1[r], w1[r])),
                                 _mm512_mul_pd(b2[r], w2[r]));
            if (kMasked) {
                const __mmask8 m = r == 0 ? active0 : active1;
                w2[r] = _mm512_mask_mov_pd(w2[r], m, w1[r]);
                w1[r] = _mm512_mask_mov_pd(w1[r], m, w);
            } else {
                w2[r] = w1[r];
                w1[r] = w;
            }
            y2[r] = y1[r];
            y1[r] = y[r];
        }
        // The last section's pair is 128-bit lane (kCount - 1) % 4 of its register.
        return _mm_castps_pd(
            _mm512_maskz_extractf32x4_ps(0xf, _mm512_castpd_ps(y[(kCount - 1) / 4]), (kCount - 1) % 4));
    }

    // Lanes of the sections whose frame t - 2s lies inside a block of `len` frames.
    static void activeAt(uint32_t t, uint32_t len, __mmask8& m0, __mmask8& m1) {
        unsigned bits = 0;
        for (uint32_t s = 0; s < static_cast<uint32_t>(kCount); ++s)
            if (t >= 2 * s && t - 2 * s < len) bits |= 3u << (2 * s);
        m0 = static_cast<__mmask8>(bits & 0xff);
        m1 = static_cast<__mmask8>(bits >> 8);
    }
};

// Filters `len` frames of both channels from `load(t)` to `store(t, y)`; in place allowed
// (every frame is read before any frame at or after it is written).
template <int kCount, typename Load, typename Store>
DSP_WIDE512_TARGET void runWide512(const BiquadArrays* f, uint32_t len, Load load, Store store) {
    using Cascade = Wide512Cascade<kCount>;
    Cascade c;
    c.load(f);
    constexpr uint32_t d = Cascade::kDelay;
    const __m128d zero = _mm_setzero_pd();
    __mmask8 m0, m1;
    for (uint32_t t = 0; t < d; ++t) {
        Cascade::activeAt(t, len, m0, m1);
        c.template step<true>(t < len ? load(t) : zero, m0, m1);  // no frame has come through yet
    }
    const uint32_t main = len > d ? len - d : 0;
    for (uint32_t u = 0; u < main; ++u) store(u, c.template step<false>(load(u + d)));
    for (uint32_t t = (len > d ? len : d); t < len + d; ++t) {
        Cascade::activeAt(t, len, m0, m1);
        store(t - d, c.template step<true>(t < len ? load(t) : zero, m0, m1));
    }
    c.save(f);
}

}  // namespace lanes
}  // namespace dsp

#endif
