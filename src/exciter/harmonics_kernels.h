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

// Which result variant a call computes (the host's processor switches): use3dnow first, then
// useSse, else the reference. How it is computed is cpu::level()'s business.
enum class ResultVariant { Reference, Amd3dnow, Sse };
ResultVariant activeVariant();

// b[i] = a[i] - b[i] for i < n.
void subtractInto(const float* a, float* b, uint32_t n);
// dst[i] = gain * src[i] + dst[i] for i < n.
void addScaled(float* dst, const float* src, float gain, uint32_t n);

namespace kernels {
void subtractInto(ResultVariant variant, const float* a, float* b, uint32_t n);
void addScaled(ResultVariant variant, float* dst, const float* src, float gain, uint32_t n);

}  // namespace kernels

}  // namespace dsp

#include "exciter/fir_dot.h"
