// The envelope analyser: the FFT analyser object with its two envelope engines in use.
#include <cstdint>

#include "analysis/fft_effect.h"
#include "convert/convert.h"

namespace dsp {

namespace {
void toSampleUnits(const float* envelope, float* out, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i)
        out[i] = static_cast<float>(static_cast<int32_t>(static_cast<double>(envelope[i]) * 32767.0));
}
}  // namespace

FftEffect* FftEffect::createEnvelopeAnalyser(uint32_t size, uint32_t channels, uint32_t rate) {
    FftEffect* effect = allocate(size, channels == 2 ? 2 : 1);
    if (effect == nullptr) return nullptr;
    for (EnvelopeTracker& tracker : effect->envelopeTrackers) {
        tracker.setup(size, static_cast<float>(rate), EnvelopeTracker::kOrder, EnvelopeTracker::kCutoffHz,
                      EnvelopeTracker::kInputGain, false, 1.0f);
        if (!tracker.ready) {
            delete effect;
            return nullptr;
        }
    }
    return effect;
}

bool FftEffect::analyseEnvelope(const int16_t* pcm, float* out, uint32_t bytes) {
    // Handles made by the spectrum analysers pass the kind check but have no envelope engines.
    if (!envelopeTrackers[0].ready) return false;
    bytes = clampToCapacity(bytes);
    const uint32_t frames = bytes / (2 * inChannels);
    pcmToFloat(pcm, bytes, inBufL, inBufR, inChannels);
    envelopeTrackers[0].process(inBufL, outBufL, static_cast<int32_t>(frames));
    if (out != nullptr) toSampleUnits(outBufL, out, frames);
    if (inChannels == 2) {
        envelopeTrackers[1].process(inBufR, outBufR, static_cast<int32_t>(frames));
        if (out != nullptr) toSampleUnits(outBufR, out + frames, frames);
    }
    return true;
}

}  // namespace dsp
