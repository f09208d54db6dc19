#include "effects/pitch_shift_effect.h"
#include "exports/export.h"
#include "platform/fp_scope.h"

using namespace dsp;

extern "C" {

DSP_API dsp_effect* initPitchShift(uint32_t size, uint32_t channels, uint32_t rate, float pitch, float outLevel,
                                   float grainTime, float hopTime) {
    const dsp::FpScope fpScope;
    return toHandle(PitchShiftEffect::create(size, channels, rate, pitch, outLevel, grainTime, hopTime));
}

DSP_API bool doPitchShift(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    const dsp::FpScope fpScope;
    PitchShiftEffect* effect = effectOfKind<PitchShiftEffect>(handle);
    if (effect == nullptr) return false;
    if (pcmIn != nullptr && pcmOut != nullptr) effect->processPcm(pcmIn, pcmOut, bytes);
    return true;
}

DSP_API bool setPitchShiftPitch(dsp_effect* handle, float pitch) {
    const dsp::FpScope fpScope;
    PitchShiftEffect* effect = effectOfKind<PitchShiftEffect>(handle);
    if (effect == nullptr) return false;
    effect->setPitch(pitch);
    return true;
}

DSP_API bool setPitchShiftOutLevel(dsp_effect* handle, float outLevel) {
    const dsp::FpScope fpScope;
    PitchShiftEffect* effect = effectOfKind<PitchShiftEffect>(handle);
    if (effect == nullptr) return false;
    effect->setOutLevel(outLevel);
    return true;
}

DSP_API bool termPitchShift(dsp_effect* handle) {
    const dsp::FpScope fpScope;
    PitchShiftEffect* effect = effectOfKind<PitchShiftEffect>(handle);
    if (effect == nullptr) return false;
    delete effect;
    return true;
}

}  // extern "C"
