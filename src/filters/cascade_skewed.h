// Internal: the stereo cascade with its sections in the lanes of wide registers, written once
// over a register vocabulary R and built per instruction set (cascade_avx2.cpp with two
// sections per 256-bit register, cascade_avx512.cpp with four per 512-bit register).
//
// Lane 2s + c holds section s of channel c. The sections run skewed: at step t section s works
// on frame t - 2s, so section s takes its input from what section s - 1 produced two steps
// earlier, and one step of the registers advances every section at once. Each lane performs
// exactly the operations of the plain section loop, in the same order; lanes whose frame lies
// outside the block are masked and keep their state, so after a block the state is that of
// the plain loop run over the same frames.
//
// R provides: Reg (R::kSections sections of both channels), Mask, load/store (aligned),
// zero, add, mul; enter(in, y): the input pair, then y's lanes moved up one pair;
// carry(prev, y): prev's top pair, then y's lanes moved up one pair; select(m, a, b): b in
// the lanes of m, a elsewhere; mask(bits): the lanes whose bit is set; pair<k>(v): section k.
//
// Include only inside a target region (cpu/target.h), after cascade_lanes.h (included before
// the region) and the vocabulary.
#pragma once

namespace dsp {
namespace lanes {

template <class R, int kCount>
struct SkewedCascade {
    static constexpr int kPer = R::kSections;
    static_assert(kCount >= 1 && kCount <= 2 * kPer, "two registers hold the sections");
    static constexpr int kRegs = (kCount + kPer - 1) / kPer;  // register r: sections kPer r ...
    static constexpr uint32_t kDelay = 2 * (kCount - 1);     // steps from a frame's input to its output
    using Reg = typename R::Reg;
    using Mask = typename R::Mask;
    Reg a1[kRegs], a2[kRegs], b0[kRegs], b1[kRegs], b2[kRegs], w1[kRegs], w2[kRegs], y1[kRegs], y2[kRegs];

    void load(const BiquadArrays* f) {
        alignas(64) double v[7][4 * kPer] = {};  // unused lanes: all zero
        sectionsToLanes(f, kCount, v);
        for (int r = 0; r < kRegs; ++r) {
            const int at = 2 * kPer * r;
            a1[r] = R::load(v[0] + at);
            a2[r] = R::load(v[1] + at);
            b0[r] = R::load(v[2] + at);
            b1[r] = R::load(v[3] + at);
            b2[r] = R::load(v[4] + at);
            w1[r] = R::load(v[5] + at);
            w2[r] = R::load(v[6] + at);
            y1[r] = y2[r] = R::zero();
        }
    }

    void save(const BiquadArrays* f) const {
        alignas(64) double v1[4 * kPer], v2[4 * kPer];
        for (int r = 0; r < kRegs; ++r) {
            R::store(v1 + 2 * kPer * r, w1[r]);
            R::store(v2 + 2 * kPer * r, w2[r]);
        }
        lanesToState(f, kCount, v1, v2);
    }

    // One step: `in` (both channels' next frame) enters section 0; returns the last section's
    // output for the frame that entered kDelay steps ago. kMasked: only the lanes of `active`
    // move, the others keep their state.
    template <bool kMasked>
    DSP_LANE_INLINE __m128d step(__m128d in, const Mask* active = nullptr) {
        // x: the input pair for section 0, section s - 1's output of two steps ago for s.
        Reg x[kRegs];
        x[0] = R::enter(in, y2[0]);
        if constexpr (kRegs == 2) x[1] = R::carry(y2[0], y2[1]);
        Reg y[kRegs];
#pragma GCC unroll 2
        for (int r = 0; r < kRegs; ++r) {
            const Reg w = R::add(R::add(R::mul(a1[r], w1[r]), R::mul(a2[r], w2[r])), x[r]);
            y[r] = R::add(R::add(R::mul(b0[r], w), R::mul(b1[r], w1[r])), R::mul(b2[r], w2[r]));
            if (kMasked) {
                w2[r] = R::select(active[r], w2[r], w1[r]);
                w1[r] = R::select(active[r], w1[r], w);
            } else {
                w2[r] = w1[r];
                w1[r] = w;
            }
            y2[r] = y1[r];
            y1[r] = y[r];
        }
        return R::template pair<(kCount - 1) % kPer>(y[(kCount - 1) / kPer]);
    }

    // Lanes of the sections whose frame t - 2s lies inside a block of `len` frames.
    DSP_LANE_INLINE static void activeAt(uint32_t t, uint32_t len, Mask* active) {
        unsigned bits = 0;
        for (uint32_t s = 0; s < static_cast<uint32_t>(kCount); ++s)
            if (t >= 2 * s && t - 2 * s < len) bits |= 3u << (2 * s);
        for (int r = 0; r < kRegs; ++r) active[r] = R::mask(bits >> (2 * kPer * r));
    }
};

// Filters `len` frames of both channels from `load(t)` (t = frame) to `store(t, y)`, and in the
// same loop calls `work(u)` for u = 0 ... works - 1: independent work that fills the time the
// recursion waits on its own results (it must not read what `store` writes in this call).
// In place is allowed: every frame is read before any frame at or after it is written.
template <class R, int kCount, typename Load, typename Store, typename Work>
void runSkewed(const BiquadArrays* f, uint32_t len, Load load, Store store, uint32_t works, Work work) {
    using Cascade = SkewedCascade<R, kCount>;
    Cascade c;
    c.load(f);
    constexpr uint32_t d = Cascade::kDelay;
    const __m128d zero = _mm_setzero_pd();
    typename R::Mask active[Cascade::kRegs];
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

// A cascade's sections first..first + count - 1 of a stereo pair over `len` staged frames, in
// groups of up to 2 R::kSections sections, each group one pass over the stage (the first
// reading the float inputs at `start`): the same bits as the plain per-group loop.
template <class R, int kCount, bool kFromInput>
void runStereoGroup(const BiquadArrays* f, int32_t first, const float* const in[], uint32_t start, Pair* stage,
                    uint32_t len) {
    const BiquadArrays g[2] = {
        {f[0].a1 + first, f[0].a2 + first, f[0].b0 + first, f[0].b1 + first, f[0].b2 + first, f[0].w1 + first,
         f[0].w2 + first},
        {f[1].a1 + first, f[1].a2 + first, f[1].b0 + first, f[1].b1 + first, f[1].b2 + first, f[1].w1 + first,
         f[1].w2 + first}};
    runSkewed<R, kCount>(
        g, len,
        [&](uint32_t t) DSP_LANE_ATTR {
            return kFromInput ? __m128d(Lanes<Pair>::load(in, start + t)) : __m128d(stage[t]);
        },
        [&](uint32_t t, __m128d y) DSP_LANE_ATTR { stage[t] = Pair(y); }, 0, [](uint32_t) {});
}

template <class R, bool kFromInput, int kCount = 1>
void runStereoGroupOf(int32_t count, const BiquadArrays* f, int32_t first, const float* const in[], uint32_t start,
                      Pair* stage, uint32_t len) {
    if constexpr (kCount < 2 * R::kSections)
        if (count > kCount) return runStereoGroupOf<R, kFromInput, kCount + 1>(count, f, first, in, start, stage, len);
    runStereoGroup<R, kCount, kFromInput>(f, first, in, start, stage, len);
}

// The whole cascade of `count` sections over one stage.
template <class R>
void runStereoStage(const BiquadArrays* f, int32_t count, const float* const in[], uint32_t start, Pair* stage,
                    uint32_t len) {
    constexpr int32_t kGroup = 2 * R::kSections;
    runStereoGroupOf<R, true>(count < kGroup ? count : kGroup, f, 0, in, start, stage, len);
    for (int32_t s = kGroup; s < count; s += kGroup)
        runStereoGroupOf<R, false>(count - s < kGroup ? count - s : kGroup, f, s, in, start, stage, len);
}

}  // namespace lanes
}  // namespace dsp
