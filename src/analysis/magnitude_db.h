// dB magnitudes of a packed real spectrum: out[k] = float(20·log10(√(re² + im²))) in double,
// the floor for an exact zero, optionally clamped from below to the floor. Bin 0 pairs the
// DC and Nyquist terms (work[0], work[1]).
#pragma once
#include <cmath>
#include <cstdint>

#include "cpu/cpu.h"

namespace dsp {

// The build for cpu::level() (portable, or AVX2 in magnitude_db_avx2.cpp): the same bits.
void magnitudesDb(const float* packed, float* out, uint32_t bins, float floor, bool clampToFloor);

inline float exactDb(double re, double im, float floor) {
    const double magnitude = std::sqrt(re * re + im * im);
    return magnitude == 0.0 ? floor : float(20.0 * std::log10(magnitude));
}

namespace portable {
void magnitudesDb(const float* packed, float* out, uint32_t bins, float floor, bool clampToFloor);
}  // namespace portable
#if DSP_X86_KERNELS
namespace avx2 {
void magnitudesDb(const float* packed, float* out, uint32_t bins, float floor, bool clampToFloor);
}  // namespace avx2
#endif

}  // namespace dsp
