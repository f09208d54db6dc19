// Internal: the instruction-set builds of the stereo cascade (cascade_avx2.cpp,
// cascade_avx512.cpp), each the same bits as the plain per-section loop over lane pairs.
// Call them only at the matching cpu::level().
#pragma once
#include <cstdint>

#include "cpu/cpu.h"
#include "filters/cascade_lanes.h"

namespace dsp {
namespace lanes {

#if DSP_X86_KERNELS
// All `count` sections of the stereo pair `f` over `len` frames: the first group reads
// in[c][start + t], the result is left in stage[t] (doubles, not yet rounded to float).
namespace avx2 {
void runStereoStage(const BiquadArrays* f, int32_t count, const float* const in[], uint32_t start, Pair* stage,
                    uint32_t len);
}
namespace avx512 {
void runStereoStage(const BiquadArrays* f, int32_t count, const float* const in[], uint32_t start, Pair* stage,
                    uint32_t len);
}
#endif

}  // namespace lanes
}  // namespace dsp
