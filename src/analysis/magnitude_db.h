// dB magnitudes of a packed real spectrum: out[k] = float(20·log10(√(re² + im²))) in double,
// the floor for an exact zero, optionally clamped from below to the floor. Bin 0 pairs the
// DC and Nyquist terms (work[0], work[1]).
#pragma once
#include <cstdint>

namespace dsp {

// Picks the vector path when the processor has AVX2; both paths give the same bits.
void magnitudesDb(const float* packed, float* out, uint32_t bins, float floor, bool clampToFloor);

namespace reference {
void magnitudesDb(const float* packed, float* out, uint32_t bins, float floor, bool clampToFloor);
}  // namespace reference

}  // namespace dsp
