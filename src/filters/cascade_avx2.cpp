// The stereo cascade in 256-bit registers: two sections per register, four per pass.
#include "filters/cascade_kernels.h"

#if DSP_X86_KERNELS
#include <immintrin.h>

#include "cpu/target.h"

DSP_TARGET_BEGIN(DSP_AVX2_FEATURES)
#include "filters/skewed_avx2.h"
#include "filters/cascade_skewed.h"

namespace dsp::lanes::avx2 {

void runStereoStage(const BiquadArrays* f, int32_t count, const float* const in[], uint32_t start, Pair* stage,
                    uint32_t len) {
    lanes::runStereoStage<Regs>(f, count, in, start, stage, len);
}

}  // namespace dsp::lanes::avx2
DSP_TARGET_END
#endif
