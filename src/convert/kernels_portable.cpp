// Plain C++ kernels: the build on processors without SSE2, the tails of the SIMD kernels,
// and the yardstick the SIMD kernels are tested against.
#include "convert/kernels.h"

namespace dsp::kernels::portable {

void scaledSplit(const int16_t* pcm, float* left, float* right, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        left[i] = scaled(pcm[2 * i]);
        right[i] = scaled(pcm[2 * i + 1]);
    }
}

void scaledMix(const int16_t* pcm, float* out, uint32_t n) {
    // Arithmetic shift: the halved sum rounds toward minus infinity.
    for (uint32_t i = 0; i < n; ++i) out[i] = scaled((int32_t{pcm[2 * i]} + int32_t{pcm[2 * i + 1]}) >> 1);
}

void scaledMono(const int16_t* pcm, float* out, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) out[i] = scaled(pcm[i]);
}

void widenedSplit(const int16_t* pcm, float* left, float* right, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        left[i] = widened(pcm[2 * i]);
        right[i] = widened(pcm[2 * i + 1]);
    }
}

void summedMix(const int16_t* pcm, float* out, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) out[i] = summed(pcm[2 * i], pcm[2 * i + 1]);
}

void widenedMono(const int16_t* pcm, float* out, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) out[i] = widened(pcm[i]);
}

void clampedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        pcm[2 * i] = clamped(left[i]);
        pcm[2 * i + 1] = clamped(right[i]);
    }
}

void clampedMono(const float* in, int16_t* pcm, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) pcm[i] = clamped(in[i]);
}

void truncatedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        pcm[2 * i] = truncated(left[i]);
        pcm[2 * i + 1] = truncated(right[i]);
    }
}

void truncatedMono(const float* in, int16_t* pcm, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) pcm[i] = truncated(in[i]);
}

void roundedStereo(const float* left, const float* right, int16_t* pcm, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) {
        pcm[2 * i] = rounded(left[i]);
        pcm[2 * i + 1] = rounded(right[i]);
    }
}

void roundedMono(const float* in, int16_t* pcm, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) pcm[i] = rounded(in[i]);
}

void copy16(const void* src, void* dst, uint32_t blocks) {
    // One 16-byte step at a time, forward: each block is read whole before it is written.
    const auto* from = static_cast<const unsigned char*>(src);
    auto* to = static_cast<unsigned char*>(dst);
    for (uint32_t b = 0; b < blocks; ++b) {
        unsigned char step[16];
        for (int k = 0; k < 16; ++k) step[k] = from[16 * b + k];
        for (int k = 0; k < 16; ++k) to[16 * b + k] = step[k];
    }
}

}  // namespace dsp::kernels::portable
