// The kernels the variants call: the build for cpu::level() (AVX-512, AVX2, SSE2 or portable).
// All give the same bits.
#include "convert/kernels.h"

namespace dsp::kernels {

#if DSP_X86_KERNELS
#define DSP_PICK(fn, ...)                                      \
    switch (cpu::level()) {                                    \
        case cpu::Isa::Avx512: return avx512::fn(__VA_ARGS__); \
        case cpu::Isa::Avx2: return avx2::fn(__VA_ARGS__);     \
        case cpu::Isa::Sse2: return sse2::fn(__VA_ARGS__);     \
        default: return portable::fn(__VA_ARGS__);             \
    }
#else
#define DSP_PICK(fn, ...) portable::fn(__VA_ARGS__)
#endif

namespace active {
void scaledSplit(const int16_t* pcm, float* left, float* right, uint32_t n) { DSP_PICK(scaledSplit, pcm, left, right, n); }
void scaledMix(const int16_t* pcm, float* out, uint32_t n) { DSP_PICK(scaledMix, pcm, out, n); }
void scaledMono(const int16_t* pcm, float* out, uint32_t n) { DSP_PICK(scaledMono, pcm, out, n); }
void widenedSplit(const int16_t* pcm, float* left, float* right, uint32_t n) { DSP_PICK(widenedSplit, pcm, left, right, n); }
void summedMix(const int16_t* pcm, float* out, uint32_t n) { DSP_PICK(summedMix, pcm, out, n); }
void widenedMono(const int16_t* pcm, float* out, uint32_t n) { DSP_PICK(widenedMono, pcm, out, n); }
void clampedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) { DSP_PICK(clampedStereo, left, right, pcm, n); }
void clampedMono(const float* in, int16_t* pcm, uint32_t n) { DSP_PICK(clampedMono, in, pcm, n); }
void truncatedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) { DSP_PICK(truncatedStereo, left, right, pcm, n); }
void truncatedMono(const float* in, int16_t* pcm, uint32_t n) { DSP_PICK(truncatedMono, in, pcm, n); }
void roundedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) { DSP_PICK(roundedStereo, left, right, pcm, n); }
void roundedMono(const float* in, int16_t* pcm, uint32_t n) { DSP_PICK(roundedMono, in, pcm, n); }
void copy16(const void* src, void* dst, uint32_t blocks) { DSP_PICK(copy16, src, dst, blocks); }
}  // namespace active

#undef DSP_PICK
}  // namespace dsp::kernels
