// Internal: the chorus engine's per-chunk loops shared by chorus_line.cpp and their AVX2
// build (chorus_avx2.cpp), which gives the same bits.
#pragma once
#include <cstddef>
#include <cstdint>

#include "cpu/cpu.h"
#include "effects/delay_line.h"

namespace dsp {
namespace chorus_kernels {

// One channel's view of a chunk for the mixing kernels.
struct MixLine {
    const float* region;
    const float* gain;
    double dry;
    const float* in;
    float* out;
};

struct TapParams {
    double voicePhase;  // radians
    double depth;       // depthSamples
    double delay;       // base delay in samples
};

// Tap delay of one voice for the oscillator angle theta: the interpolated table sine at
// theta + voicePhase, scaled by the depth and offset by the base delay, truncated.
inline int32_t tapDelay(float theta, const TapParams& p, const float* table, uint32_t tableMask, double scale) {
    const double u = (static_cast<double>(theta) + p.voicePhase) * scale;
    const int32_t k = truncToInt32(u);
    const uint32_t j = static_cast<uint32_t>(k) & tableMask;
    const double t0 = table[j];
    const double t1 = table[j + 1];
    const double s = t0 + (t1 - t0) * (u - static_cast<double>(k));
    return truncToInt32(s * p.depth + p.delay);
}

#if DSP_X86_KERNELS
namespace avx2 {
// taps[i] = tapDelay(theta[i], p, ...) for i < n, over the sine table.
void computeTaps(const float* theta, uint32_t n, const TapParams& p, int32_t* taps);
// Mixes a chunk whose taps all reach behind the samples still to be stored (1 <= d mod
// capacity <= capacity - n), after the whole chunk has been stored: each output sums its own
// voices in voice order, as the per-sample loop does. kLines: 1 or 2.
template <int kLines>
void mixChunk(const MixLine* lines, uint32_t n, uint32_t write, uint32_t mask, const int32_t* taps, uint32_t chunk,
              uint32_t voices);
}  // namespace avx2
#endif

}  // namespace chorus_kernels
using chorus_kernels::MixLine;
using chorus_kernels::TapParams;
using chorus_kernels::tapDelay;
}  // namespace dsp
