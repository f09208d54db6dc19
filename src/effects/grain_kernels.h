// Inner loops of the grain engines: one grain's contribution over a run of consecutive samples,
// in a portable form and AVX2 / AVX-512 builds (grain_avx2.cpp, grain_avx512.cpp) that give the
// same bits (the same IEEE operations in the same order, only four or eight samples at a
// time). pitchGrainRun and stretchGrainRun run the build for cpu::level().
#pragma once
#include <cstdint>

#include "cpu/cpu.h"

namespace dsp {

// Cubic convolution kernel with parameter -1, pieces for |d| < 1 and 1 <= |d| < 2.
inline double cubicNear(double a) { return 1.0 - 2.0 * a * a + a * a * a; }
inline double cubicFar(double a) { return 4.0 - 8.0 * a + 5.0 * a * a - a * a * a; }

// Pitch grain over `count` samples with ages age, age + 1, ...: for each, pos = age x ratio +
// start, t = trunc(pos), taps base[t - 3 .. t] (all readable), acc[k] += v x w in float via
// double, wsum[k] += w. `negative`: every pos of the run is below 0 (so its fraction is <= 0),
// else every pos is at least 0; each case puts the four tap distances in known kernel pieces.
void pitchGrainRun(const float* base, const float* window, float* acc, float* wsum, int32_t age, uint32_t count,
                   double ratio, double start, bool negative);

// Stretch grain over `count` samples reading x[0 .. count): acc[k] += x[k] w[k], wsum[k] += w[k]
// in double.
void stretchGrainRun(const float* x, const float* window, double* acc, double* wsum, uint32_t count);

// Its portable loop, inline so that the vector builds finish their tails with it in place.
inline void stretchGrainLoop(const float* x, const float* window, double* acc, double* wsum, uint32_t count) {
    for (uint32_t k = 0; k < count; ++k) {
        acc[k] += double(x[k]) * double(window[k]);
        wsum[k] += double(window[k]);
    }
}

// The builds behind them, same arguments (stretch has no AVX-512 form).
namespace grain {
#define DSP_GRAIN_KERNELS                                                                                          \
    void pitchGrain(const float* base, const float* window, float* acc, float* wsum, int32_t age, uint32_t count, \
                    double ratio, double start, bool negative);                                                  \
    void stretchGrain(const float* x, const float* window, double* acc, double* wsum, uint32_t count);
namespace portable {
DSP_GRAIN_KERNELS
}
#if DSP_X86_KERNELS
namespace avx2 {
DSP_GRAIN_KERNELS
}
namespace avx512 {
void pitchGrain(const float* base, const float* window, float* acc, float* wsum, int32_t age, uint32_t count,
                double ratio, double start, bool negative);
}
#endif
#undef DSP_GRAIN_KERNELS
}  // namespace grain

}  // namespace dsp
