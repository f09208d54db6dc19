#include <new>

#include "analysis/wave_slicer.h"
#include "convert/convert.h"
#include "exports/export.h"
#include "platform/fp_scope.h"

using namespace dsp;

extern "C" {

DSP_API dsp_effect* initWaveSlice(uint32_t size, uint32_t channels, uint32_t rate, float onDb, float offDb,
                                  float risePercent, float minLengthSec) {
    const dsp::FpScope fpScope;
    auto* effect = new (std::nothrow) WaveSliceEffect;
    if (effect == nullptr) return nullptr;
    // Any channel count but 2 is read as mono, as the conversions do.
    effect->configure(size, channels == 2 ? 2 : 1, rate);
    effect->slicer.setup(size, static_cast<float>(rate), onDb, offDb, risePercent, minLengthSec);
    // Out of memory is reported the only way an init function can: no handle.
    if (!effect->buffersUsable() || !effect->slicer.ready) {
        delete effect;
        return nullptr;
    }
    return toHandle(effect);
}

DSP_API bool doWaveSlice(dsp_effect* handle, const int16_t* pcmIn, uint32_t bytes) {
    const dsp::FpScope fpScope;
    auto* effect = effectOfKind<WaveSliceEffect>(handle);
    if (effect == nullptr) return false;
    bytes = effect->clampToCapacity(bytes);
    const uint32_t frames = bytes / (2 * effect->inChannels);
    pcmToFloat(pcmIn, bytes, effect->inBufL, nullptr, effect->inChannels);
    effect->slicer.detect(effect->inBufL, frames);
    return true;
}

DSP_API const DspSliceRecord* getWaveSlice(dsp_effect* handle, uint32_t index) {
    const dsp::FpScope fpScope;
    auto* effect = effectOfKind<WaveSliceEffect>(handle);
    if (effect == nullptr) return nullptr;
    effect->slicer.flush();
    return effect->slicer.sliceAt(index);
}

DSP_API bool termWaveSlice(dsp_effect* handle) {
    const dsp::FpScope fpScope;
    auto* effect = effectOfKind<WaveSliceEffect>(handle);
    if (effect == nullptr) return false;
    delete effect;
    return true;
}

}  // extern "C"
