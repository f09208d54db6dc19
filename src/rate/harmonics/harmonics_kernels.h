// Element-wise kernels and the FIR dot product of the harmonic synthesis engine, each in a
// scalar reference form and in the 3DNow! and SSE forms chosen by the processor switches.
//
// The vector forms are defined by their numerical results: they compute in single precision
// (the reference carries products and sums in double) and cover only the largest multiple of
// their step (4 elements for 3DNow!, 8 for SSE); the reference finishes the remainder. They
// are written with SSE intrinsics where available and as lane-exact scalar code elsewhere.
#pragma once
#include <cstdint>

namespace dsp {

// Which set of kernels a call uses: use3dnow first, then useSse, else the reference.
enum class KernelSet { Reference, Amd3dnow, Sse };
KernelSet activeKernelSet();

// b[i] = a[i] - b[i] for i < n.
void subtractInto(const float* a, float* b, uint32_t n);
// dst[i] = gain * src[i] + dst[i] for i < n.
void addScaled(float* dst, const float* src, float gain, uint32_t n);

namespace kernels {
void subtractInto(KernelSet set, const float* a, float* b, uint32_t n);
void addScaled(KernelSet set, float* dst, const float* src, float gain, uint32_t n);

// Single-precision dot products of the FIR: sum over t < n of history[t] * row[t].
// 3DNow!: four products per step into two pairs of lanes, then the pairs and the two lanes
// added (n a multiple of 4).
float dot3dnow(const float* history, const float* row, uint32_t n);
// SSE, unrolled for exactly 16 taps: four 4-lane products added pairwise, then across lanes.
float dotSse16(const float* history, const float* row);
// SSE, any multiple of 8: two 4-lane accumulators of 4 products each per step.
float dotSse8(const float* history, const float* row, uint32_t n);
}  // namespace kernels

}  // namespace dsp
