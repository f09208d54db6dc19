// Internal: a transfer curve's points as flat arrays for the lookup loops of
// transfer_curve.cpp and its instruction-set builds (transfer_curve_avx2.cpp).
#pragma once
#include <cmath>
#include <cstdint>

#include "cpu/cpu.h"
#include "exciter/transfer_curve.h"

namespace dsp {

struct FlatCurve {
    const double* xs;
    const double* ys;
    const double* slopes;
    const int32_t* index;
    int32_t last;
    float top;  // the last point's y

    // One sample, moving the cursor. The segment holding a magnitude below 1 is unique (x
    // strictly increases from 0), so the lookup from the index finds the point the walk from
    // the previous one would. A magnitude of 1 or more (also infinite) lands on the last point,
    // whose value is its y; a NaN leaves the previous point in place.
    float step(float v, int32_t& cursor) const {
        const float a = std::fabs(v);
        float y;
        if (a < 1.0f) {
            int32_t k = index[static_cast<int>(a * TransferCurve::kIndexSize)];
            while (a >= xs[k + 1]) ++k;
            cursor = k;
            y = static_cast<float>((static_cast<double>(a) - xs[k]) * slopes[k] + ys[k]);
        } else if (a >= 1.0f || cursor == last) {
            cursor = a >= 1.0f ? last : cursor;
            y = top;
        } else {
            y = static_cast<float>((static_cast<double>(a) - xs[cursor]) * slopes[cursor] + ys[cursor]);
        }
        return v >= 0.0f ? y : -y;
    }
};

namespace curve_kernels {
#if DSP_X86_KERNELS
namespace avx2 {
// Four samples per step, the points fetched by gathers: the same results as FlatCurve::step
// sample by sample. Returns the samples done (a multiple of four); moves the cursor.
uint32_t applyCurve(const FlatCurve& c, const float* in, float* out, uint32_t frames, int32_t& cursor);
}  // namespace avx2
#endif
}  // namespace curve_kernels

}  // namespace dsp
