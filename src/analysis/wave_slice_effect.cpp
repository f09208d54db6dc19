#include "analysis/wave_slice_effect.h"

#include <new>

namespace dsp {

WaveSliceEffect* WaveSliceEffect::create(uint32_t size, uint32_t channels, uint32_t rate, float onDb, float offDb,
                                         float risePercent, float minLengthSec) {
    auto* effect = new (std::nothrow) WaveSliceEffect;
    if (effect != nullptr) {
        effect->configure(size, channels == 2 ? 2 : 1, rate);
        effect->slicer.setup(size, static_cast<float>(rate), onDb, offDb, risePercent, minLengthSec);
        effect->enginesReady = effect->slicer.ready();
    }
    return keepIfReady(effect);
}

void WaveSliceEffect::detect(const int16_t* pcm, uint32_t bytes) {
    if (!ready() || inChannels == 0) return;
    const uint32_t frames = loadPcm(pcm, bytes, true);
    slicer.detect(inBufL, frames);
}

}  // namespace dsp
