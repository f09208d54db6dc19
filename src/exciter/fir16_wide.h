// The 16-tap FIR with eight consecutive outputs per 256-bit register, for processors with
// AVX2 (chosen at run time): the scheme of fir16_lanes.h with twice the lanes, each lane
// summing its products exactly as the four-lane forms do.
#pragma once
#include <cstdint>

namespace dsp {
namespace fir16 {

// True when the processor can run the eight-lane forms.
bool wideSupported();
// Whole groups of eight outputs of the SSE and 3DNow! forms; returns the outputs written.
// `lanes8`: per position and slot the coefficients of eight consecutive outputs (16 x 16 x 8).
// The 3DNow! form expects its flush-to-zero mode to be set by the caller.
uint32_t runSseWide(const float* in, float* out, uint32_t frames, const float* lanes8, float* history, float c0,
                    uint32_t& writePos);
uint32_t run3dnowWide(const float* in, float* out, uint32_t frames, const float* lanes8, float* history, float c0,
                      uint32_t& writePos);

}  // namespace fir16
}  // namespace dsp
