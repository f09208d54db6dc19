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

// Copies bytes (a multiple of 16) in 16-byte steps.
void blockCopy(const void* src, void* dst, uint32_t bytes);

// Copies bytes of any count: the 16-byte block copy for the largest multiple of 16 when a
// switch is on, the rest (or everything) byte by byte.
void copyBytes(const void* src, void* dst, uint32_t bytes);

namespace reference {
void pcmToFloat(const int16_t* pcm, uint32_t bytes, float* outL, float* outR, uint32_t channels);
void floatToPcm(const float* inL, const float* inR, uint32_t frames, int16_t* pcm, uint32_t channels);
}  // namespace reference

}  // namespace dsp
