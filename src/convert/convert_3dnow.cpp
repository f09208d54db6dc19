// 3DNow! results: vector blocks of 2 frames (stereo split), 4 frames (mix, duplicated left,
// mono out) or 4 samples (mono in), the rest of each call through the reference.
#include "convert/convert.h"
#include "convert/kernels.h"

namespace dsp::variant::amd3dnow {

using namespace kernels::active;

void pcmToFloat(const int16_t* pcm, uint32_t bytes, float* outL, float* outR, uint32_t channels) {
    if (channels != 2) {
        const uint32_t samples = bytes / 2, n = samples & ~3u;
        widenedMono(pcm, outL, n);
        return reference::pcmToFloat(pcm + n, (samples - n) * 2, outL + n, nullptr, 1);
    }
    const uint32_t frames = bytes / 4;
    if (outR != nullptr) {
        const uint32_t n = frames & ~1u;
        widenedSplit(pcm, outL, outR, n);
        return reference::pcmToFloat(pcm + 2 * n, (frames - n) * 4, outL + n, outR + n, 2);
    }
    const uint32_t n = frames & ~3u;
    summedMix(pcm, outL, n);
    reference::pcmToFloat(pcm + 2 * n, (frames - n) * 4, outL + n, nullptr, 2);
}

void floatToPcm(const float* inL, const float* inR, uint32_t frames, int16_t* pcm, uint32_t channels) {
    if (channels != 2) {
        const uint32_t n = frames & ~3u;
        truncatedMono(inL, pcm, n);
        return reference::floatToPcm(inL + n, nullptr, frames - n, pcm + n, 1);
    }
    const uint32_t n = inR != nullptr ? frames & ~1u : frames & ~3u;
    truncatedStereo(inL, inR != nullptr ? inR : inL, pcm, n);
    reference::floatToPcm(inL + n, inR != nullptr ? inR + n : nullptr, frames - n, pcm + 2 * n, 2);
}

}  // namespace dsp::variant::amd3dnow
