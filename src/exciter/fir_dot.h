// Single-precision dot products of the FIR, inline so that the per-sample loop keeps them in
// registers. Each fixes the order of its float additions, which defines its results.
#pragma once
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64)
#include <xmmintrin.h>
#define DSP_HAVE_SSE2_INTRINSICS 1
#endif

namespace dsp {
namespace kernels {

// 3DNow! arithmetic has no denormals: denormal operands count as zero and denormal results
// become zero. While alive, this puts the SSE unit in that mode (flush-to-zero and
// denormals-are-zero) so the SSE instructions standing in for 3DNow! give its results.
class ThreeDNowArithmetic {
public:
#ifdef DSP_HAVE_SSE2_INTRINSICS
    ThreeDNowArithmetic() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x8040u); }
    ~ThreeDNowArithmetic() { _mm_setcsr(saved_); }
#endif
    ThreeDNowArithmetic(const ThreeDNowArithmetic&) = delete;
    ThreeDNowArithmetic& operator=(const ThreeDNowArithmetic&) = delete;

private:
#ifdef DSP_HAVE_SSE2_INTRINSICS
    unsigned saved_;
#endif
};

// Horizontal sum of four lanes as both instruction sets do it: (l0 + l2) + (l1 + l3).
#ifdef DSP_HAVE_SSE2_INTRINSICS
inline float laneSum(__m128 v) {
    const __m128 pairs = _mm_add_ps(v, _mm_movehl_ps(v, v));
    return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1)));
}
#endif

// Sum over t < n of history[t] * row[t].
// 3DNow!: four products per step into two pairs of lanes, then the pairs and the two lanes
// added (n a multiple of 4).
// SSE, unrolled for exactly 16 taps: four 4-lane products added pairwise, then across lanes.
// SSE, any multiple of 8: two 4-lane accumulators of 4 products each per step.
inline float dot3dnow(const float* history, const float* row, uint32_t n) {
#ifdef DSP_HAVE_SSE2_INTRINSICS
    // Lanes 0-1 are the first 3DNow! pair, lanes 2-3 the second.
    __m128 acc = _mm_setzero_ps();
    for (uint32_t t = 0; t < n; t += 4)
        acc = _mm_add_ps(acc, _mm_mul_ps(_mm_loadu_ps(history + t), _mm_loadu_ps(row + t)));
    return laneSum(acc);
#else
    float lane[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (uint32_t t = 0; t < n; t += 4)
        for (int l = 0; l < 4; ++l) {
            const float product = history[t + l] * row[t + l];
            lane[l] = lane[l] + product;
        }
    const float low = lane[0] + lane[2];
    const float high = lane[1] + lane[3];
    return low + high;
#endif
}

inline float dotSse16(const float* history, const float* row) {
#ifdef DSP_HAVE_SSE2_INTRINSICS
    const __m128 p0 = _mm_mul_ps(_mm_loadu_ps(history), _mm_loadu_ps(row));
    const __m128 p1 = _mm_mul_ps(_mm_loadu_ps(history + 4), _mm_loadu_ps(row + 4));
    const __m128 p2 = _mm_mul_ps(_mm_loadu_ps(history + 8), _mm_loadu_ps(row + 8));
    const __m128 p3 = _mm_mul_ps(_mm_loadu_ps(history + 12), _mm_loadu_ps(row + 12));
    return laneSum(_mm_add_ps(_mm_add_ps(p0, p1), _mm_add_ps(p2, p3)));
#else
    float lane[4];
    for (int l = 0; l < 4; ++l) {
        float p[4];
        for (int q = 0; q < 4; ++q) p[q] = history[4 * q + l] * row[4 * q + l];
        const float a = p[0] + p[1];
        const float b = p[2] + p[3];
        lane[l] = a + b;
    }
    const float low = lane[0] + lane[2];
    const float high = lane[1] + lane[3];
    return low + high;
#endif
}

inline float dotSse8(const float* history, const float* row, uint32_t n) {
#ifdef DSP_HAVE_SSE2_INTRINSICS
    __m128 acc0 = _mm_setzero_ps();
    __m128 acc1 = _mm_setzero_ps();
    for (uint32_t t = 0; t < n; t += 8) {
        acc0 = _mm_add_ps(acc0, _mm_mul_ps(_mm_loadu_ps(history + t), _mm_loadu_ps(row + t)));
        acc1 = _mm_add_ps(acc1, _mm_mul_ps(_mm_loadu_ps(history + t + 4), _mm_loadu_ps(row + t + 4)));
    }
    return laneSum(_mm_add_ps(acc0, acc1));
#else
    float acc0[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    float acc1[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (uint32_t t = 0; t < n; t += 8)
        for (int l = 0; l < 4; ++l) {
            const float p0 = history[t + l] * row[t + l];
            const float p1 = history[t + 4 + l] * row[t + 4 + l];
            acc0[l] = acc0[l] + p0;
            acc1[l] = acc1[l] + p1;
        }
    float lane[4];
    for (int l = 0; l < 4; ++l) lane[l] = acc0[l] + acc1[l];
    const float low = lane[0] + lane[2];
    const float high = lane[1] + lane[3];
    return low + high;
#endif
}

}  // namespace kernels
}  // namespace dsp
