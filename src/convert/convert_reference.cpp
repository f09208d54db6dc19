// The scalar reference: double-precision scale 1/32767 in, clamp and truncation out.
#include "convert/convert.h"
#include "convert/kernels.h"

namespace dsp::variant::reference {

using namespace kernels::active;

void pcmToFloat(const int16_t* pcm, uint32_t bytes, float* outL, float* outR, uint32_t channels) {
    if (channels != 2) return scaledMono(pcm, outL, bytes / 2);
    if (outR != nullptr) return scaledSplit(pcm, outL, outR, bytes / 4);
    scaledMix(pcm, outL, bytes / 4);
}

void floatToPcm(const float* inL, const float* inR, uint32_t frames, int16_t* pcm, uint32_t channels) {
    if (channels != 2) return clampedMono(inL, pcm, frames);
    clampedStereo(inL, inR != nullptr ? inR : inL, pcm, frames);
}

}  // namespace dsp::variant::reference
