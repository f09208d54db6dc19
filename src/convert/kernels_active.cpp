// The kernels the variants call: AVX-512 where the processor and system support it, else AVX2,
// else SSE2 (x86), else the portable build. All give the same bits.
#include "convert/kernels.h"

namespace dsp::kernels {

#if DSP_CONVERT_SIMD
// The runtime's feature test also checks that the system saves the wider registers.
bool hasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}
bool hasAvx512() {
    return hasAvx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
}
namespace {
enum Level { kSse2, kAvx2, kAvx512 };
// SSE2 until load-time initialisation ran.
const Level kLevel = hasAvx512() ? kAvx512 : hasAvx2() ? kAvx2 : kSse2;
}  // namespace
#define DSP_PICK(fn, ...) \
    (kLevel == kAvx512 ? avx512::fn(__VA_ARGS__) : kLevel == kAvx2 ? avx2::fn(__VA_ARGS__) : sse2::fn(__VA_ARGS__))
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
