#include "effects/stretch_effect.h"
#include "exports/export.h"
#include "platform/fp_scope.h"

using namespace dsp;

extern "C" {

DSP_API dsp_effect* initStretch(uint32_t size, uint32_t channels, uint32_t rate, float scale, float outLevel,
                                float grainTime, float hopTime) {
    const dsp::FpScope fpScope;
    return toHandle(StretchEffect::create(size, channels, rate, scale, outLevel, grainTime, hopTime));
}

DSP_API uint32_t doStretch(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    const dsp::FpScope fpScope;
    StretchEffect* effect = effectOfKind<StretchEffect>(handle);
    if (effect == nullptr || pcmIn == nullptr || pcmOut == nullptr) return 0;
    return effect->processPcm(pcmIn, pcmOut, bytes);
}

DSP_API bool setStretchScale(dsp_effect* handle, float scale) {
    const dsp::FpScope fpScope;
    StretchEffect* effect = effectOfKind<StretchEffect>(handle);
    if (effect == nullptr) return false;
    effect->setScale(scale);
    return true;
}

DSP_API bool setStretchOutLevel(dsp_effect* handle, float outLevel) {
    const dsp::FpScope fpScope;
    StretchEffect* effect = effectOfKind<StretchEffect>(handle);
    if (effect == nullptr) return false;
    effect->setOutLevel(outLevel);
    return true;
}

DSP_API uint32_t getStretchDstSize(dsp_effect* handle, uint32_t srcSize) {
    const dsp::FpScope fpScope;
    StretchEffect* effect = effectOfKind<StretchEffect>(handle);
    return effect != nullptr ? effect->getDstSize(srcSize) : 0;
}

DSP_API bool termStretch(dsp_effect* handle) {
    const dsp::FpScope fpScope;
    StretchEffect* effect = effectOfKind<StretchEffect>(handle);
    if (effect == nullptr) return false;
    delete effect;
    return true;
}

}  // extern "C"
