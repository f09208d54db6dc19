#include "effects/fader_effect.h"
#include "exports/export.h"
#include "platform/fp_scope.h"

using namespace dsp;

extern "C" {

DSP_API dsp_effect* initFader(uint32_t size, uint32_t channels, uint32_t rate, float crossInitial,
                              float fader0Initial, float fader1Initial) {
    const dsp::FpScope fpScope;
    return toHandle(FaderEffect::create(size, channels, rate, crossInitial, fader0Initial, fader1Initial));
}

DSP_API bool doFade(dsp_effect* handle, uint32_t index, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    const dsp::FpScope fpScope;
    FaderEffect* fader = effectOfKind<FaderEffect>(handle);
    return fader != nullptr && pcmIn != nullptr && pcmOut != nullptr && fader->fade(index, pcmIn, pcmOut, bytes);
}

DSP_API bool doCrossFade(dsp_effect* handle, const int16_t* pcmA, const int16_t* pcmB, int16_t* pcmOut,
                         uint32_t bytes) {
    const dsp::FpScope fpScope;
    FaderEffect* fader = effectOfKind<FaderEffect>(handle);
    return fader != nullptr && pcmA != nullptr && pcmB != nullptr && pcmOut != nullptr &&
           fader->crossFade(pcmA, pcmB, pcmOut, bytes);
}

DSP_API bool setFaderAction(dsp_effect* handle, uint32_t index, float start, float end, float targetDb) {
    const dsp::FpScope fpScope;
    FaderEffect* fader = effectOfKind<FaderEffect>(handle);
    return fader != nullptr && fader->setFaderAction(index, start, end, targetDb);
}

DSP_API bool setCrossFaderAction(dsp_effect* handle, float start, float end, float targetPosition) {
    const dsp::FpScope fpScope;
    FaderEffect* fader = effectOfKind<FaderEffect>(handle);
    if (fader == nullptr) return false;
    fader->setCrossFaderAction(start, end, targetPosition);
    return true;
}

DSP_API bool delFaderAction(dsp_effect* handle, uint32_t index, float start, float end) {
    const dsp::FpScope fpScope;
    FaderEffect* fader = effectOfKind<FaderEffect>(handle);
    return fader != nullptr && fader->delFaderAction(index, start, end);
}

DSP_API bool delCrossFaderAction(dsp_effect* handle, float start, float end) {
    const dsp::FpScope fpScope;
    FaderEffect* fader = effectOfKind<FaderEffect>(handle);
    if (fader == nullptr) return false;
    fader->delCrossFaderAction(start, end);
    return true;
}

DSP_API bool setCrossFaderCurve(dsp_effect* handle, float centreDb, float edgeDb, float unityWidth, float fadeWidth) {
    const dsp::FpScope fpScope;
    FaderEffect* fader = effectOfKind<FaderEffect>(handle);
    if (fader == nullptr) return false;
    fader->setCrossFaderCurve(centreDb, edgeDb, unityWidth, fadeWidth);
    return true;
}

DSP_API bool termFader(dsp_effect* handle) {
    const dsp::FpScope fpScope;
    FaderEffect* fader = effectOfKind<FaderEffect>(handle);
    delete fader;
    return fader != nullptr;
}

}  // extern "C"
