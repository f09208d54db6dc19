// Internal: the 16-tap FIR computing several consecutive outputs at once, one output per
// vector lane, with each output's products grouped and summed exactly as the
// one-output-at-a-time forms do. Written once over a register vocabulary R and built per
// instruction set (fir16_sse2.cpp: four floats or two doubles per register; fir16_avx2.cpp:
// eight floats).
//
// Output n at write position p multiplies history slot t (holding x[n - k], k = ((t - p) & 15)
// + 1) by rows[p][t] = coef[k]. For the outputs n + j of a group (positions p - j), slot t
// holds x[n - 1 - c] while c + j < 16 and x[n + 15 - c] after the slot was overwritten inside
// the group (c = (t - p) & 15). So every slot is a broadcast sample (or two of them, for the
// last slots) times a per-lane coefficient vector, which depends only on p and is tabled by
// the filter design. The position moves by the group size, so each group is instantiated for
// its position.
//
// R provides: Reg of kLanes lanes of Scalar (float or double); set1(float); stage(in, wide, n):
// wide[i] = in[i] in every lane (n a multiple of kLanes); split<k>(early, late): lanes j < k
// from early, the others from late; table(p): kLanes coefficients; mul, add, zero; laneZero.
// Include only inside the instruction set's target region (if it needs one).
#pragma once

// Forced: the groups must be inlined into the dispatch on the position to keep their
// products in registers.
#define DSP_FIR_INLINE inline __attribute__((always_inline))

namespace dsp {
namespace fir16 {

constexpr uint32_t kChunk = 256;  // outputs per pass over a staged block of broadcast samples

// Product vector of slot T for position P; x[n + d] is wide[16 + d]. `table`: position P's.
template <class R, int P, int T>
DSP_FIR_INLINE typename R::Reg product(const typename R::Reg* wide, const typename R::Scalar* table) {
    constexpr int c = (T - P) & 15;
    typename R::Reg x = wide[15 - c];
    if constexpr (c > 16 - R::kLanes) x = R::template split<16 - c>(x, wide[31 - c]);
    return R::mul(x, R::table(table + R::kLanes * T));
}

// The single-precision groups: the tree's sum of the products plus x * c0.
template <class Tree>
struct FloatGroup {
    template <class R, int P>
    DSP_FIR_INLINE static void group(const typename R::Reg* wide, const float* table, typename R::Reg c0,
                                     const float* in, float* out) {
        const typename R::Reg direct = R::mul(R::loadInput(in), c0);
        R::storeOutput(out, R::add(Tree::template sum<R, P>(wide, table + 16 * R::kLanes * P), direct));
    }
};

// The SSE results: products of four consecutive slots added pairwise, then across the four.
struct SseTree : FloatGroup<SseTree> {
    template <class R, int P>
    DSP_FIR_INLINE static typename R::Reg sum(const typename R::Reg* w, const typename R::Scalar* tb) {
        typename R::Reg s[4];
#define DSP_LANE(l)                                                                                   \
    s[l] = R::add(R::add(product<R, P, l>(w, tb), product<R, P, 4 + l>(w, tb)),                        \
                  R::add(product<R, P, 8 + l>(w, tb), product<R, P, 12 + l>(w, tb)));
        DSP_LANE(0) DSP_LANE(1) DSP_LANE(2) DSP_LANE(3)
#undef DSP_LANE
        return R::add(R::add(s[0], s[2]), R::add(s[1], s[3]));
    }
};

// The 3DNow! results: one running sum per lane from zero over the four steps, then the lanes.
struct Amd3dnowTree : FloatGroup<Amd3dnowTree> {
    template <class R, int P>
    DSP_FIR_INLINE static typename R::Reg sum(const typename R::Reg* w, const typename R::Scalar* tb) {
        typename R::Reg s[4];
#define DSP_LANE(l)                                                                                   \
    s[l] = R::add(R::add(R::add(R::add(R::zero(), product<R, P, l>(w, tb)), product<R, P, 4 + l>(w, tb)), \
                         product<R, P, 8 + l>(w, tb)),                                                \
                  product<R, P, 12 + l>(w, tb));
        DSP_LANE(0) DSP_LANE(1) DSP_LANE(2) DSP_LANE(3)
#undef DSP_LANE
        return R::add(R::add(s[0], s[2]), R::add(s[1], s[3]));
    }
};

// The reference results (double registers): x * c0, then the sixteen products added in order.
struct ReferenceTree {
    template <class R, int P, int... T>
    DSP_FIR_INLINE static typename R::Reg runningSum(typename R::Reg acc, const typename R::Reg* wide, const double* table,
                                      std::integer_sequence<int, T...>) {
        ((acc = R::add(acc, product<R, P, T>(wide, table))), ...);
        return acc;
    }
    template <class R, int P>
    DSP_FIR_INLINE static void group(const typename R::Reg* wide, const double* table, typename R::Reg c0, const float* in,
                      float* out) {
        const typename R::Reg start = R::mul(R::loadInput(in), c0);
        R::storeOutput(out, runningSum<R, P>(start, wide, table + 16 * R::kLanes * P,
                                             std::make_integer_sequence<int, 16>()));
    }
};

// The groups of one round of 16 outputs from position P, after which the position is P again.
template <class R, class Tree, int P, int... Q>
DSP_FIR_INLINE void groupRound(const typename R::Reg* wide, const typename R::Scalar* table, typename R::Reg c0, const float* in,
                  float* out, std::integer_sequence<int, Q...>) {
    constexpr int G = R::kLanes;
    (Tree::template group<R, (P - Q * G) & 15>(wide + Q * G, table, c0, in + Q * G, out + Q * G), ...);
}

// Whole groups only, over chunks whose input samples are first staged broadcast across the
// lanes (the 16 before the chunk from the history); the remaining outputs are left to the
// caller. Returns the outputs written.
template <class R, class Tree>
uint32_t run(const float* in, float* out, uint32_t frames, const typename R::Scalar* table, float* history, float c0,
             uint32_t& writePos) {
    using Reg = typename R::Reg;
    constexpr uint32_t G = R::kLanes;
    const Reg c0v = R::set1(c0);
    alignas(32) Reg wide[16 + kChunk];
    uint32_t pos = writePos;
    uint32_t done = 0;
    while (frames - done >= G) {
        const uint32_t len = std::min(kChunk, (frames - done) / G * G);
        for (uint32_t k = 1; k <= 16; ++k) wide[16 - k] = R::set1(history[(pos + k - 1) & 15]);
        R::stage(in + done, wide + 16, len);
        const uint32_t start = pos;
        uint32_t g = 0;
        // A round of 16 outputs per dispatch on the position, then single groups.
        for (; g + 16 <= len; g += 16) {
            switch (pos) {
#define DSP_CASE(P)                                                                                            \
    case P:                                                                                                    \
        groupRound<R, Tree, P>(wide + g, table, c0v, in + done + g, out + done + g,                                 \
                          std::make_integer_sequence<int, 16 / G>());                                          \
        break;
                DSP_CASE(0) DSP_CASE(1) DSP_CASE(2) DSP_CASE(3) DSP_CASE(4) DSP_CASE(5) DSP_CASE(6) DSP_CASE(7)
                DSP_CASE(8) DSP_CASE(9) DSP_CASE(10) DSP_CASE(11) DSP_CASE(12) DSP_CASE(13) DSP_CASE(14) DSP_CASE(15)
#undef DSP_CASE
            }
        }
        for (; g < len; g += G) {
            switch (pos) {
#define DSP_CASE(P)                                                                                            \
    case P:                                                                                                    \
        Tree::template group<R, P>(wide + g, table, c0v, in + done + g, out + done + g);                       \
        break;
                DSP_CASE(0) DSP_CASE(1) DSP_CASE(2) DSP_CASE(3) DSP_CASE(4) DSP_CASE(5) DSP_CASE(6) DSP_CASE(7)
                DSP_CASE(8) DSP_CASE(9) DSP_CASE(10) DSP_CASE(11) DSP_CASE(12) DSP_CASE(13) DSP_CASE(14) DSP_CASE(15)
#undef DSP_CASE
            }
            pos = (pos - G) & 15;
        }
        // Sample i of the chunk went to slot (start - i - 1) & 15; the last 16 are still there.
        for (uint32_t i = len > 16 ? len - 16 : 0; i < len; ++i) history[(start - i - 1) & 15] = R::laneZero(wide[16 + i]);
        done += len;
    }
    writePos = pos;
    return done;
}

}  // namespace fir16
}  // namespace dsp
