// Conversion kernels: each converts exactly n frames (or samples) with one per-sample formula.
// The variants in convert_*.cpp decide which kernel covers which frames; the kernels only
// compute. Every kernel exists in several instruction-set builds with identical results:
// `portable` (plain C++, always built), and on x86 `sse2`, `avx2` and `avx512`; `active` runs
// the one for cpu::level() (the choice never shows in the results).
#pragma once
#include <cmath>
#include <cstdint>

#include "cpu/cpu.h"

namespace dsp::kernels {

// ---- per-sample formulas -----------------------------------------------------------------

constexpr double kScale = 3.051850947599719e-05;      // 1/32767, reference, double
constexpr float kWideScale = 4.656754981624545e-10f;  // 1/(32767 * 65536), applied to widen(s)
constexpr float kMixScale = 1.5259254723787308e-05f;  // 1/65534, applied to L + R
constexpr double kToIntRef = 32767.0;
constexpr float kToInt = 32767.0f;

// The 32-bit integer whose upper and lower halves both hold the 16-bit pattern of s.
inline int32_t widen(int16_t s) {
    const uint32_t bits = static_cast<uint16_t>(s);
    return static_cast<int32_t>((bits << 16) | bits);
}

inline float scaled(int32_t s) { return static_cast<float>(s * kScale); }
inline float widened(int16_t s) { return static_cast<float>(widen(s)) * kWideScale; }
inline float summed(int16_t l, int16_t r) { return static_cast<float>(int32_t{l} + int32_t{r}) * kMixScale; }

// Reference: clamp to [-1, 1] (NaN fails the ordered test and becomes -1), exact double
// product, truncation toward zero.
inline int16_t clamped(float x) {
    if (!(x >= -1.0f)) x = -1.0f;
    else if (x > 1.0f) x = 1.0f;
    return static_cast<int16_t>(static_cast<int32_t>(static_cast<double>(x) * kToIntRef));
}

inline int16_t saturate16(int32_t v) { return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

// Single-precision product truncated toward zero, saturated to 32 then 16 bits; a NaN gives
// -32768 (the value an out-of-range hardware conversion produces).
inline int16_t truncated(float x) {
    const float p = x * kToInt;
    if (std::isnan(p)) return -32768;
    if (p >= 2147483648.0f) return 32767;
    if (p < -2147483648.0f) return -32768;
    return saturate16(static_cast<int32_t>(p));
}

// Single-precision product rounded in the current rounding mode (nearest-even by default);
// out of 32-bit range or NaN gives the integer-indefinite value -2^31, which saturates to
// -32768, as the processor's conversion does.
inline int16_t rounded(float x) {
    const float p = x * kToInt;
    if (!(p >= -2147483648.0f && p < 2147483648.0f)) return -32768;
    return saturate16(static_cast<int32_t>(std::nearbyint(p)));
}

// ---- kernels ------------------------------------------------------------------------------
// pcm is interleaved stereo (split/mix) or mono; `right == left` in the stereo float-to-PCM
// kernels writes the left channel twice.
#define DSP_CONVERT_KERNELS                                                                 \
    void scaledSplit(const int16_t* pcm, float* left, float* right, uint32_t n);            \
    void scaledMix(const int16_t* pcm, float* out, uint32_t n);                             \
    void scaledMono(const int16_t* pcm, float* out, uint32_t n);                            \
    void widenedSplit(const int16_t* pcm, float* left, float* right, uint32_t n);           \
    void summedMix(const int16_t* pcm, float* out, uint32_t n);                             \
    void widenedMono(const int16_t* pcm, float* out, uint32_t n);                           \
    void clampedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n);    \
    void clampedMono(const float* in, int16_t* pcm, uint32_t n);                            \
    void truncatedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n);  \
    void truncatedMono(const float* in, int16_t* pcm, uint32_t n);                          \
    void roundedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n);    \
    void roundedMono(const float* in, int16_t* pcm, uint32_t n);                            \
    void copy16(const void* src, void* dst, uint32_t blocks);

namespace portable {
DSP_CONVERT_KERNELS
}
namespace active {
DSP_CONVERT_KERNELS
}
#if DSP_X86_KERNELS
namespace sse2 {
DSP_CONVERT_KERNELS
}
namespace avx2 {  // call only at cpu level Avx2 or above
DSP_CONVERT_KERNELS
}
namespace avx512 {  // call only at cpu level Avx512
DSP_CONVERT_KERNELS
}
#endif
#undef DSP_CONVERT_KERNELS

}  // namespace dsp::kernels
