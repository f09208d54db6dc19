#include "analysis/envelope_effect.h"

#include <new>

namespace dsp {

namespace {
void toSampleUnits(const float* envelope, float* out, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i)
        out[i] = static_cast<float>(static_cast<int32_t>(static_cast<double>(envelope[i]) * 32767.0));
}
}  // namespace

EnvelopeEffect* EnvelopeEffect::create(uint32_t size, uint32_t channels, uint32_t rate) {
    auto* effect = new (std::nothrow) EnvelopeEffect;
    if (effect != nullptr) {
        // The rate is the trackers'; the buffers record none, like the spectrum analysers'.
        effect->configure(size, channels == 2 ? 2 : 1, 0);
        for (EnvelopeTracker& tracker : effect->trackers) {
            tracker.setup(size, static_cast<float>(rate), EnvelopeTracker::kOrder, EnvelopeTracker::kCutoffHz,
                          EnvelopeTracker::kInputGain, false, 1.0f);
            effect->enginesReady = tracker.ready() && effect->enginesReady;
        }
    }
    return keepIfReady(effect);
}

bool EnvelopeEffect::analyse(const int16_t* pcm, float* out, uint32_t bytes) {
    if (!ready() || inChannels == 0) return false;
    const uint32_t frames = loadPcm(pcm, bytes);
    trackers[0].process(inBufL, outBufL, static_cast<int32_t>(frames));
    if (out != nullptr) toSampleUnits(outBufL, out, frames);
    if (inChannels == 2) {
        trackers[1].process(inBufR, outBufR, static_cast<int32_t>(frames));
        if (out != nullptr) toSampleUnits(outBufR, out + frames, frames);
    }
    return true;
}

}  // namespace dsp
