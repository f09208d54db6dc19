#include "analysis/wave_slice_effect.h"
#include "exports/export.h"
#include "platform/fp_scope.h"

using namespace dsp;

extern "C" {

DSP_API dsp_effect* initWaveSlice(uint32_t size, uint32_t channels, uint32_t rate, float onDb, float offDb,
                                  float risePercent, float minLengthSec) {
    const dsp::FpScope fpScope;
    return toHandle(WaveSliceEffect::create(size, channels, rate, onDb, offDb, risePercent, minLengthSec));
}

DSP_API bool doWaveSlice(dsp_effect* handle, const int16_t* pcmIn, uint32_t bytes) {
    const dsp::FpScope fpScope;
    auto* effect = effectOfKind<WaveSliceEffect>(handle);
    if (effect != nullptr) effect->detect(pcmIn, bytes);
    return effect != nullptr;
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
    delete effect;
    return effect != nullptr;
}

}  // extern "C"
