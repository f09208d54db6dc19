#include "effects/chorus_effect.h"
#include "exports/export.h"
#include "platform/fp_scope.h"

using namespace dsp;

extern "C" {

DSP_API dsp_effect* initChorus(uint32_t size, uint32_t channels, uint32_t rate, uint32_t voices, float delayTime,
                               float depth, float speed, float mix, float orgMix) {
    const dsp::FpScope fpScope;
    return toHandle(ChorusEffect::create(size, channels, rate, {voices, delayTime, depth, speed, mix, orgMix}));
}

DSP_API bool doChorus(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    const dsp::FpScope fpScope;
    auto* chorus = effectOfKind<ChorusEffect>(handle);
    return chorus != nullptr && chorus->runPcm(pcmIn, pcmOut, bytes);
}

DSP_API bool setChorusDelaytime(dsp_effect* handle, float delayTime) {
    const dsp::FpScope fpScope;
    auto* chorus = effectOfKind<ChorusEffect>(handle);
    if (chorus != nullptr) chorus->setDelayTime(delayTime);
    return chorus != nullptr;
}

DSP_API bool setChorusDepth(dsp_effect* handle, float depth) {
    const dsp::FpScope fpScope;
    auto* chorus = effectOfKind<ChorusEffect>(handle);
    if (chorus != nullptr) chorus->setDepth(depth);
    return chorus != nullptr;
}

DSP_API bool setChorusSpeed(dsp_effect* handle, float speed) {
    const dsp::FpScope fpScope;
    auto* chorus = effectOfKind<ChorusEffect>(handle);
    if (chorus != nullptr) chorus->setSpeed(speed);
    return chorus != nullptr;
}

DSP_API bool setChorusMix(dsp_effect* handle, int32_t voice, float mix) {
    const dsp::FpScope fpScope;
    auto* chorus = effectOfKind<ChorusEffect>(handle);
    return chorus != nullptr && chorus->setMix(voice, mix);
}

DSP_API bool setChorusOrgMix(dsp_effect* handle, float orgMix) {
    const dsp::FpScope fpScope;
    auto* chorus = effectOfKind<ChorusEffect>(handle);
    if (chorus != nullptr) chorus->setOrgMix(orgMix);
    return chorus != nullptr;
}

DSP_API bool termChorus(dsp_effect* handle) {
    const dsp::FpScope fpScope;
    auto* chorus = effectOfKind<ChorusEffect>(handle);
    delete chorus;
    return chorus != nullptr;
}

}  // extern "C"
