// SSE results: vector blocks of 4 frames (stereo) or 8 samples (mono), the rest through the
// reference; on the way out the frames before inL's first 16-byte boundary go first through
// the reference, and stereo duplicated from the left channel is the reference throughout.
#include "convert/convert.h"

#include <cstdint>

#include "convert/kernels.h"

namespace dsp::variant::sse {

using namespace kernels::active;

// The vector part widens samples like the 3DNow! variant: the low 16 bits of each integer
// repeat the sample's own pattern, so the result lies in (s/32767, (s+1)/32767).
void pcmToFloat(const int16_t* pcm, uint32_t bytes, float* outL, float* outR, uint32_t channels) {
    if (channels != 2) {
        const uint32_t samples = bytes / 2, n = samples & ~7u;
        widenedMono(pcm, outL, n);
        return reference::pcmToFloat(pcm + n, (samples - n) * 2, outL + n, nullptr, 1);
    }
    const uint32_t frames = bytes / 4, n = frames & ~3u;
    if (outR != nullptr) {
        widenedSplit(pcm, outL, outR, n);
        return reference::pcmToFloat(pcm + 2 * n, (frames - n) * 4, outL + n, outR + n, 2);
    }
    summedMix(pcm, outL, n);
    reference::pcmToFloat(pcm + 2 * n, (frames - n) * 4, outL + n, nullptr, 2);
}

void floatToPcm(const float* inL, const float* inR, uint32_t frames, int16_t* pcm, uint32_t channels) {
    const bool stereo = channels == 2;
    if (stereo && inR == nullptr) return reference::floatToPcm(inL, nullptr, frames, pcm, 2);
    const uint32_t width = stereo ? 2 : 1;
    const uint32_t toBoundary = static_cast<uint32_t>((16 - (reinterpret_cast<uintptr_t>(inL) & 15)) & 15) / 4;
    const uint32_t head = toBoundary < frames ? toBoundary : frames;
    reference::floatToPcm(inL, inR, head, pcm, channels);
    const uint32_t rest = frames - head, n = rest & (stereo ? ~3u : ~7u);
    const float* l = inL + head;
    int16_t* out = pcm + width * head;
    if (stereo) roundedStereo(l, inR + head, out, n);
    else roundedMono(l, out, n);
    reference::floatToPcm(l + n, stereo ? inR + head + n : nullptr, rest - n, out + width * n, channels);
}

}  // namespace dsp::variant::sse
