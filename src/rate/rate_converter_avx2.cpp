// The rate converter's fused loops with the stereo filter in 256-bit registers.
#include "rate/fused_kernels.h"

#if DSP_X86_KERNELS
#include <immintrin.h>

#include "cpu/target.h"

DSP_TARGET_BEGIN(DSP_AVX2_FEATURES)
#include "filters/skewed_avx2.h"
#include "filters/cascade_skewed.h"

namespace dsp::fused::avx2 {

using lanes::Pair;
using L = lanes::Lanes<Pair>;
using Regs = lanes::avx2::Regs;

template <int kSections, class Value>
void filterUp(const BiquadArrays* f, uint32_t len, Value value, uint32_t j0, float* const d[]) {
    lanes::runSkewed<Regs, kSections>(
        f, len, [&](uint32_t t) DSP_LANE_ATTR { return __m128d(L::roundToFloat(value(j0 + t))); },
        [&](uint32_t t, __m128d y) DSP_LANE_ATTR { L::store(d, j0 + t, Pair(y)); }, 0, [](uint32_t) {});
}

template <int kSections, class Value>
void filterDown(const BiquadArrays* f, uint32_t len, const float* const src[], Pair* taps, uint32_t works,
                Value value, uint32_t j, float* const d[]) {
    lanes::runSkewed<Regs, kSections>(
        f, len, [&](uint32_t t) DSP_LANE_ATTR { return __m128d(L::load(src, t)); },
        [&](uint32_t t, __m128d y) DSP_LANE_ATTR { taps[t] = L::roundToFloat(Pair(y)); }, works,
        [&](uint32_t u) DSP_LANE_ATTR { L::store(d, j + u, value(j + u)); });
}

#define DSP_FUSED(k)                                                                                          \
    template void filterUp<k, GridValue<Pair, false, true>>(const BiquadArrays*, uint32_t,                    \
                                                            GridValue<Pair, false, true>, uint32_t,           \
                                                            float* const[]);                                  \
    template void filterUp<k, GridValue<Pair, true, true>>(const BiquadArrays*, uint32_t,                     \
                                                           GridValue<Pair, true, true>, uint32_t,             \
                                                           float* const[]);                                   \
    template void filterUp<k, Repeat<Pair>>(const BiquadArrays*, uint32_t, Repeat<Pair>, uint32_t,            \
                                            float* const[]);                                                  \
    template void filterDown<k, GridValue<Pair, false, false>>(const BiquadArrays*, uint32_t,                 \
                                                               const float* const[], Pair*, uint32_t,         \
                                                               GridValue<Pair, false, false>, uint32_t,       \
                                                               float* const[]);                               \
    template void filterDown<k, GridValue<Pair, true, false>>(const BiquadArrays*, uint32_t,                  \
                                                              const float* const[], Pair*, uint32_t,          \
                                                              GridValue<Pair, true, false>, uint32_t,         \
                                                              float* const[]);
DSP_FUSED(1)
DSP_FUSED(2)
DSP_FUSED(3)
DSP_FUSED(4)
#undef DSP_FUSED

}  // namespace dsp::fused::avx2
DSP_TARGET_END
#endif
