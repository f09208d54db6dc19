// Internal: the stereo cascade with its sections in the lanes of 256-bit registers (two
// sections per register), for processors with AVX2 (chosen at run time; the build itself
// assumes only SSE2).
//
// Lane 2s + c holds section s of channel c. The sections run skewed: at step t section s works
// on frame t - 2s, so section s takes its input from what section s - 1 produced two steps
// earlier, and one step of the register advances every section at once. Each lane performs
// exactly the operations of the plain section loop, in the same order; lanes whose frame lies
// outside the block are masked and keep their state, so after a block the state is that of
// the plain loop run over the same frames.
#pragma once
#include <cstdint>

#include "filters/cascade_lanes.h"

#if defined(__x86_64__) && defined(__GNUC__)
#define DSP_WIDE_CASCADE 1
#include <immintrin.h>
#endif

namespace dsp {
namespace lanes {

#if defined(DSP_WIDE_CASCADE)

inline bool wideCascadeSupported() {
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported;
}

#define DSP_WIDE_TARGET __attribute__((target("avx2")))

template <int kCount>
struct WideCascade {
    static_assert(kCount >= 1 && kCount <= 4, "two registers hold four sections");
    static constexpr int kRegs = (kCount + 1) / 2;  // register r: sections 2r and 2r + 1
    static constexpr uint32_t kDelay = 2 * (kCount - 1);  // steps from a frame's input to its output
    __m256d a1[kRegs], a2[kRegs], b0[kRegs], b1[kRegs], b2[kRegs], w1[kRegs], w2[kRegs], y1[kRegs], y2[kRegs];

    DSP_WIDE_TARGET void load(const BiquadArrays* f) {
        alignas(32) double v[7][8] = {};  // unused lanes: all zero
        sectionsToLanes(f, kCount, v);
        for (int r = 0; r < kRegs; ++r) {
            a1[r] = _mm256_load_pd(v[0] + 4 * r);
            a2[r] = _mm256_load_pd(v[1] + 4 * r);
            b0[r] = _mm256_load_pd(v[2] + 4 * r);
            b1[r] = _mm256_load_pd(v[3] + 4 * r);
            b2[r] = _mm256_load_pd(v[4] + 4 * r);
            w1[r] = _mm256_load_pd(v[5] + 4 * r);
            w2[r] = _mm256_load_pd(v[6] + 4 * r);
            y1[r] = y2[r] = _mm256_setzero_pd();
        }
    }

    DSP_WIDE_TARGET void save(const BiquadArrays* f) const {
        alignas(32) double v1[8], v2[8];
        for (int r = 0; r < kRegs; ++r) {
            _mm256_store_pd(v1 + 4 * r, w1[r]);
            _mm256_store_pd(v2 + 4 * r, w2[r]);
        }
        lanesToState(f, kCount, v1, v2);
    }

    // One step: `in` (both channels' next frame) enters section 0; returns the last section's
    // output for the frame that entered kDelay steps ago. kMasked: lanes whose `active` entry
    // has its sign bit set move, the others keep their state.
    template <bool kMasked>
    DSP_WIDE_TARGET DSP_LANE_INLINE __m128d step(__m128d in, const __m256d* active = nullptr) {
        // x: the input pair for section 0, section s - 1's output of two steps ago for s.
        __m256d x[kRegs];
        x[0] = _mm256_insertf128_pd(_mm256_castpd128_pd256(in), _mm256_castpd256_pd128(y2[0]), 1);
        if (kRegs == 2) x[kRegs - 1] = _mm256_permute2f128_pd(y2[0], y2[kRegs - 1], 0x21);
        __m256d y[kRegs];
#pragma GCC unroll 2
        for (int r = 0; r < kRegs; ++r) {
            const __m256d w =
                _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(a1[r], w1[r]), _mm256_mul_pd(a2[r], w2[r])), x[r]);
            y[r] = _mm256_add_pd(_mm256_add_pd(_mm256_mul_pd(b0[r], w), _mm256_mul_pd(b1[r], w1[r])),
                                 _mm256_mul_pd(b2[r], w2[r]));
            if (kMasked) {
                w2[r] = _mm256_blendv_pd(w2[r], w1[r], active[r]);
                w1[r] = _mm256_blendv_pd(w1[r], w, active[r]);
            } else {
                w2[r] = w1[r];
                w1[r] = w;
            }
            y2[r] = y1[r];
            y1[r] = y[r];
        }
        const __m256d last = y[(kCount - 1) / 2];
        return (kCount - 1) % 2 == 0 ? _mm256_castpd256_pd128(last) : _mm256_extractf128_pd(last, 1);
    }

    // Lanes of the sections whose frame t - 2s lies inside a block of `len` frames.
    DSP_WIDE_TARGET DSP_LANE_INLINE static void activeAt(uint32_t t, uint32_t len, __m256d* active) {
        alignas(32) double m[8] = {};
        for (uint32_t s = 0; s < kCount; ++s)
            if (t >= 2 * s && t - 2 * s < len) m[2 * s] = m[2 * s + 1] = -1.0;
        for (int r = 0; r < kRegs; ++r) active[r] = _mm256_load_pd(m + 4 * r);
    }
};

// Filters `len` frames of both channels from `load(t)` (t = frame) to `store(t, y)`, and in the
// same loop calls `work(u)` for u = 0 … works - 1: independent work that fills the time the
// recursion waits on its own results (it must not read what `store` writes in this call).
template <int kCount, typename Load, typename Store, typename Work>
DSP_WIDE_TARGET void runWide(const BiquadArrays* f, uint32_t len, Load load, Store store, uint32_t works,
                             Work work) {
    using Cascade = WideCascade<kCount>;
    Cascade c;
    c.load(f);
    constexpr uint32_t d = Cascade::kDelay;
    const __m128d zero = _mm_setzero_pd();
    __m256d active[Cascade::kRegs];
    for (uint32_t t = 0; t < d; ++t) {
        Cascade::activeAt(t, len, active);
        c.template step<true>(t < len ? load(t) : zero, active);  // no frame has come through yet
    }
    const uint32_t main = len > d ? len - d : 0;
    const uint32_t both = main < works ? main : works;
    uint32_t u = 0;
    for (; u < both; ++u) {
        store(u, c.template step<false>(load(u + d)));
        work(u);
    }
    for (; u < main; ++u) store(u, c.template step<false>(load(u + d)));
    for (uint32_t t = (len > d ? len : d); t < len + d; ++t) {
        Cascade::activeAt(t, len, active);
        store(t - d, c.template step<true>(t < len ? load(t) : zero, active));
    }
    for (u = both; u < works; ++u) work(u);
    c.save(f);
}

#else

inline bool wideCascadeSupported() { return false; }

#endif

}  // namespace lanes
}  // namespace dsp
