// Internal: the rate converter's loops that run the filter and the interpolation together,
// the parts its instruction-set builds share (rate_converter_avx2.cpp).
#pragma once
#include <cstddef>
#include <cstdint>

#include "cpu/cpu.h"
#include "filters/cascade_lanes.h"

namespace dsp {
namespace fused {

// Interpolated value of grid output j from the widened taps T (the chunk's samples, or in cubic
// mode H: three carried samples, then the chunk), with the index lowered to `highest` keeping
// the unlowered fraction; the same operations as linearChunk and cubicChunk.
template <typename V, bool kCubic, bool kUp>
struct GridValue {
    const V* T;
    const uint32_t* index;
    const double* weights;
    uint32_t highest, next;

    DSP_LANE_INLINE V operator()(uint32_t j) const {
        using L = lanes::Lanes<V>;
        const uint32_t unlowered = index[j];
        const uint32_t i = unlowered > highest ? highest : unlowered;
        if (!kCubic) {
            const V a = T[i], b = T[i + next];
            return (b - a) * L::broadcast(weights[j]) + a;
        }
        const double* q = weights + 4 * size_t{j};
        const V before = L::broadcast(q[0]), at = L::broadcast(q[1]);
        const V after = L::broadcast(q[2]), after2 = L::broadcast(q[3]);
        if (kUp) return ((before * T[i - 1] + after * T[i + 1]) + after2 * T[i + 2]) + at * T[i];
        return ((at * T[i] + after * T[i + 1]) + after2 * T[i + 2]) + before * T[i - 1];
    }
    // Highest tap (in T) that output j reads.
    uint32_t lastTap(uint32_t j) const {
        const uint32_t unlowered = index[j];
        return (unlowered > highest ? highest : unlowered) + (kCubic ? 2 : next);
    }
};

// The same value at every output (the repeated last value past the chunks).
template <typename V>
struct Repeat {
    V v;
    DSP_LANE_INLINE V operator()(uint32_t) const { return v; }
};

#if DSP_X86_KERNELS
// The stereo filter in 256-bit registers inside the interpolation loop; call at cpu level
// Avx2 or above. Same bits as the per-section loop.
namespace avx2 {
// Going up: the outputs j0 ... j0 + len - 1 of `value`, rounded to float, filtered into d.
template <int kSections, class Value>
void filterUp(const BiquadArrays* f, uint32_t len, Value value, uint32_t j0, float* const d[]);
// Going down: src[c][0 .. len) filtered and rounded to float into taps; meanwhile the
// outputs j ... j + works - 1 of `value` (whose taps are ready) go to d.
template <int kSections, class Value>
void filterDown(const BiquadArrays* f, uint32_t len, const float* const src[], lanes::Pair* taps, uint32_t works,
                Value value, uint32_t j, float* const d[]);
}  // namespace avx2
#endif

}  // namespace fused
}  // namespace dsp
