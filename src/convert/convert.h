// Interleaved int16 PCM <-> per-channel float, the 16-byte block copy, and the process-wide
// processor switches that choose between the scalar reference and the vector variants.
#pragma once
#include <cstdint>

namespace dsp {

// All false at load; set by dspEnableMmx / dspEnable3dnow / dspEnableSse.
extern bool useMmx;
extern bool use3dnow;
extern bool useSse;

// True when any switch asks for the 16-byte block copy.
inline bool blockCopyEnabled() { return useMmx || use3dnow || useSse; }

// Dispatching entry points: 3DNow! results if use3dnow, else SSE results if useSse, else the
// reference. outR == nullptr with 2 channels asks for a mono mix; inR == nullptr with 2
// channels writes the left channel to both. Any channel count other than 2 is mono.
void pcmToFloat(const int16_t* pcm, uint32_t bytes, float* outL, float* outR, uint32_t channels);
void floatToPcm(const float* inL, const float* inR, uint32_t frames, int16_t* pcm, uint32_t channels);

// Copies bytes (a multiple of 16; any rest below 16 is left alone) forward in 16-byte steps,
// each step reading its 16 bytes before writing them.
void blockCopy(const void* src, void* dst, uint32_t bytes);

// Copies bytes of any count: the 16-byte block copy for the largest multiple of 16 when a
// switch is on, the rest (or everything) with the result of a forward byte-by-byte copy.
void copyBytes(const void* src, void* dst, uint32_t bytes);

namespace variant {

// The result variants behind the dispatch, same arguments (each computed with the kernels of
// cpu::level(); the level never shows in the results). Reference: int16 * (1/32767) in double;
// out, clamp to [-1, 1] then truncate s * 32767 (NaN gives -32767); mono mix (L + R) >> 1.
namespace reference {
void pcmToFloat(const int16_t* pcm, uint32_t bytes, float* outL, float* outR, uint32_t channels);
void floatToPcm(const float* inL, const float* inR, uint32_t frames, int16_t* pcm, uint32_t channels);
}  // namespace reference

// 3DNow! results: in, float(s * 65536 + (s mod 65536)) * 4.656754981624545e-10f, mix
// float(L + R) * 1.5259254723787308e-05f; out, float product by 32767 truncated and saturated,
// no clamp. Vector blocks of 2 or 4 frames, the rest through the reference.
namespace amd3dnow {
void pcmToFloat(const int16_t* pcm, uint32_t bytes, float* outL, float* outR, uint32_t channels);
void floatToPcm(const float* inL, const float* inR, uint32_t frames, int16_t* pcm, uint32_t channels);
}  // namespace amd3dnow

// SSE results: in, as 3DNow! in blocks of 4 frames or 8 samples; out, float product by 32767
// rounded in the current rounding mode and saturated, after the frames before inL's first
// 16-byte boundary went through the reference (inR at the same offset from a boundary).
namespace sse {
void pcmToFloat(const int16_t* pcm, uint32_t bytes, float* outL, float* outR, uint32_t channels);
void floatToPcm(const float* inL, const float* inR, uint32_t frames, int16_t* pcm, uint32_t channels);
}  // namespace sse

}  // namespace variant

}  // namespace dsp
