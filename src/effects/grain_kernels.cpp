#include "effects/grain_kernels.h"

#include <cmath>

namespace dsp {

namespace grain::portable {

void pitchGrain(const float* base, const float* window, float* acc, float* wsum, int32_t age, uint32_t count,
                double ratio, double start, bool negative) {
    for (uint32_t k = 0; k < count; ++k, ++age) {
        const double pos = double(age) * ratio + start;
        const int64_t t = int64_t(pos);
        const float p = float(pos);
        const double f = p - std::trunc(p);
        const float* x = base + t;
        // Tap distances 2 - f, 1 - f, f, f + 1: for 0 <= f < 1 they fall in the far, near, near
        // and far pieces; for -1 < f <= 0 the first is 2 or more (weight 0) and the others fall
        // in the far, near and near pieces (at the piece edges both pieces give exactly 0).
        const double v = negative ? x[0] * 0.0 + x[-1] * cubicFar(1.0 - f) + x[-2] * cubicNear(-f) +
                                        x[-3] * cubicNear(f + 1.0)
                                  : x[0] * cubicFar(2.0 - f) + x[-1] * cubicNear(1.0 - f) + x[-2] * cubicNear(f) +
                                        x[-3] * cubicFar(f + 1.0);
        const float w = window[age];
        acc[k] = float(double(acc[k]) + v * double(w));
        wsum[k] += w;
    }
}

void stretchGrain(const float* x, const float* window, double* acc, double* wsum, uint32_t count) {
    stretchGrainLoop(x, window, acc, wsum, count);
}

}  // namespace grain::portable

void pitchGrainRun(const float* base, const float* window, float* acc, float* wsum, int32_t age, uint32_t count,
                   double ratio, double start, bool negative) {
#if DSP_X86_KERNELS
    if (cpu::level() == cpu::Isa::Avx512)
        return grain::avx512::pitchGrain(base, window, acc, wsum, age, count, ratio, start, negative);
    if (cpu::level() == cpu::Isa::Avx2)
        return grain::avx2::pitchGrain(base, window, acc, wsum, age, count, ratio, start, negative);
#endif
    grain::portable::pitchGrain(base, window, acc, wsum, age, count, ratio, start, negative);
}

void stretchGrainRun(const float* x, const float* window, double* acc, double* wsum, uint32_t count) {
#if DSP_X86_KERNELS
    if (cpu::atLeast(cpu::Isa::Avx2)) return grain::avx2::stretchGrain(x, window, acc, wsum, count);
#endif
    grain::portable::stretchGrain(x, window, acc, wsum, count);
}

}  // namespace dsp
