// Internal: the instruction-set builds of the 16-tap FIR that computes one output per lane
// (fir16_lanes.h). Each runs whole groups of outputs in one result variant and returns the
// outputs written, leaving the rest to the caller; `lanes`: per write position and slot the
// coefficients of the group's consecutive outputs (16 x 16 x the group size). The 3DNow!
// forms expect the caller to have set its flush-to-zero mode. Call them only at the matching
// cpu::level().
#pragma once
#include <algorithm>
#include <cstdint>
#include <utility>

#include "cpu/cpu.h"

namespace dsp {
namespace fir16 {

#if DSP_X86_KERNELS
namespace sse2 {  // groups of four (float) or two (double, the reference)
uint32_t sseResults(const float* in, float* out, uint32_t frames, const float* lanes4, float* history, float c0,
                    uint32_t& writePos);
uint32_t amd3dnowResults(const float* in, float* out, uint32_t frames, const float* lanes4, float* history, float c0,
                         uint32_t& writePos);
uint32_t referenceResults(const float* in, float* out, uint32_t frames, const double* lanes2, float* history,
                          float c0, uint32_t& writePos);
}  // namespace sse2
namespace avx2 {  // groups of eight
uint32_t sseResults(const float* in, float* out, uint32_t frames, const float* lanes8, float* history, float c0,
                    uint32_t& writePos);
uint32_t amd3dnowResults(const float* in, float* out, uint32_t frames, const float* lanes8, float* history, float c0,
                         uint32_t& writePos);
}  // namespace avx2
#endif

}  // namespace fir16
}  // namespace dsp
