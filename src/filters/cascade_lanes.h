// Internal: the biquad cascade recursion as an inline kernel over "lanes", so that callers can
// run one filter (a double) or a stereo pair side by side (two doubles in one vector register)
// and interleave the recursion with other work in the same loop.
//
// Elementwise vector arithmetic performs exactly the scalar double operations per lane, in the
// order written (the build never contracts or reorders floating-point expressions), so every
// lane is bit-identical to the plain per-section loop of BiquadCascade.
#pragma once
#include <cstdint>

#include "filters/biquad_cascade.h"

namespace dsp {
namespace lanes {

// Kernels built for a wider instruction set inline these helpers instead of calling them.
#define DSP_LANE_INLINE inline __attribute__((always_inline))
#define DSP_LANE_ATTR __attribute__((always_inline))

using Pair = double __attribute__((vector_size(16)));
using PairF = float __attribute__((vector_size(8)));

template <typename V>
struct Lanes;

template <>
struct Lanes<double> {
    static constexpr int kCount = 1;
    static double gather(const BiquadArrays* f, const double* BiquadArrays::*array, int32_t s) {
        return (f[0].*array)[s];
    }
    static void scatter(const BiquadArrays* f, double* BiquadArrays::*array, int32_t s, double v) {
        (f[0].*array)[s] = v;
    }
    static double gatherState(const BiquadArrays* f, double* BiquadArrays::*array, int32_t s) {
        return (f[0].*array)[s];
    }
    DSP_LANE_INLINE static double load(const float* const in[], uint32_t n) { return in[0][n]; }
    DSP_LANE_INLINE static void store(float* const out[], uint32_t n, double v) { out[0][n] = static_cast<float>(v); }
    DSP_LANE_INLINE static double broadcast(double v) { return v; }
    // The value rounded to float, widened back.
    DSP_LANE_INLINE static double roundToFloat(double v) { return static_cast<float>(v); }
};

template <>
struct Lanes<Pair> {
    static constexpr int kCount = 2;
    static Pair gather(const BiquadArrays* f, const double* BiquadArrays::*array, int32_t s) {
        return Pair{(f[0].*array)[s], (f[1].*array)[s]};
    }
    static void scatter(const BiquadArrays* f, double* BiquadArrays::*array, int32_t s, Pair v) {
        (f[0].*array)[s] = v[0];
        (f[1].*array)[s] = v[1];
    }
    static Pair gatherState(const BiquadArrays* f, double* BiquadArrays::*array, int32_t s) {
        return Pair{(f[0].*array)[s], (f[1].*array)[s]};
    }
    DSP_LANE_INLINE static Pair load(const float* const in[], uint32_t n) { return Pair{in[0][n], in[1][n]}; }
    DSP_LANE_INLINE static void store(float* const out[], uint32_t n, Pair v) {
        const PairF f = __builtin_convertvector(v, PairF);
        out[0][n] = f[0];
        out[1][n] = f[1];
    }
    DSP_LANE_INLINE static Pair broadcast(double v) { return Pair{v, v}; }
    DSP_LANE_INLINE static Pair roundToFloat(Pair v) { return __builtin_convertvector(__builtin_convertvector(v, PairF), Pair); }
};

// kCount consecutive sections held in locals (registers once inlined). The loop-carried path of
// each section is then only w1 -> a1*w1 -> + a2*w2 -> + x, without a store-to-load round trip.
template <typename V, int kCount>
struct Sections {
    using L = Lanes<V>;
    V a1[kCount], a2[kCount], b0[kCount], b1[kCount], b2[kCount], w1[kCount], w2[kCount];

    void load(const BiquadArrays* f, int32_t first) {
        for (int s = 0; s < kCount; ++s) {
            a1[s] = L::gather(f, &BiquadArrays::a1, first + s);
            a2[s] = L::gather(f, &BiquadArrays::a2, first + s);
            b0[s] = L::gather(f, &BiquadArrays::b0, first + s);
            b1[s] = L::gather(f, &BiquadArrays::b1, first + s);
            b2[s] = L::gather(f, &BiquadArrays::b2, first + s);
            w1[s] = L::gatherState(f, &BiquadArrays::w1, first + s);
            w2[s] = L::gatherState(f, &BiquadArrays::w2, first + s);
        }
    }
    void save(const BiquadArrays* f, int32_t first) const {
        for (int s = 0; s < kCount; ++s) {
            L::scatter(f, &BiquadArrays::w1, first + s, w1[s]);
            L::scatter(f, &BiquadArrays::w2, first + s, w2[s]);
        }
    }
    // One frame through the sections: w = (a1*w1 + a2*w2) + x; y = (b0*w + b1*w1) + b2*w2.
    V step(V x) {
#pragma GCC unroll 4
        for (int s = 0; s < kCount; ++s) {
            const V w = (a1[s] * w1[s] + a2[s] * w2[s]) + x;
            x = (b0[s] * w + b1[s] * w1[s]) + b2[s] * w2[s];
            w2[s] = w1[s];
            w1[s] = w;
        }
        return x;
    }
};

// True when some state value of the `lanes` cascades is nonzero but below 1e-200: the
// recursion is decaying towards the double denormal range, where unflushed arithmetic slows
// down a hundredfold. Callers then run the cascade with flush-to-zero (BiquadCascade::process),
// which gives the same float outputs (see there).
inline bool nearDenormal(const BiquadArrays* f, int lanes, int32_t count) {
    constexpr double kTiny = 1e-200;
    bool tiny = false;
    for (int l = 0; l < lanes; ++l)
        for (int32_t s = 0; s < count; ++s) {
            const double a = f[l].w1[s] < 0.0 ? -f[l].w1[s] : f[l].w1[s];
            const double b = f[l].w2[s] < 0.0 ? -f[l].w2[s] : f[l].w2[s];
            tiny |= (a != 0.0 && a < kTiny) | (b != 0.0 && b < kTiny);
        }
    return tiny;
}

// The stereo cascades' register layout: lane 2s + c holds section s of channel c, unused lanes
// zero. Rows of `v`: a1, a2, b0, b1, b2, w1, w2.
template <int kLanes>
inline void sectionsToLanes(const BiquadArrays* f, int count, double (&v)[7][kLanes]) {
    for (int s = 0; s < count; ++s)
        for (int c = 0; c < 2; ++c) {
            v[0][2 * s + c] = f[c].a1[s];
            v[1][2 * s + c] = f[c].a2[s];
            v[2][2 * s + c] = f[c].b0[s];
            v[3][2 * s + c] = f[c].b1[s];
            v[4][2 * s + c] = f[c].b2[s];
            v[5][2 * s + c] = f[c].w1[s];
            v[6][2 * s + c] = f[c].w2[s];
        }
}

// The state back from that layout into each channel's sections.
inline void lanesToState(const BiquadArrays* f, int count, const double* w1, const double* w2) {
    for (int s = 0; s < count; ++s)
        for (int c = 0; c < 2; ++c) {
            f[c].w1[s] = w1[2 * s + c];
            f[c].w2[s] = w2[2 * s + c];
        }
}

}  // namespace lanes
}  // namespace dsp
