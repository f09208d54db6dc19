// IIR filter effect: init, do, term.
#include "filters/iir_filter_effect.h"
#include "exports/export.h"
#include "platform/fp_scope.h"

using dsp::IirFilterEffect;

extern "C" {

DSP_API dsp_effect* initIirFilter(uint32_t size, uint32_t channels, uint32_t rate, int32_t order, float cutoff,
                                  int32_t type) {
    const dsp::FpScope fpScope;
    return dsp::toHandle(IirFilterEffect::create(size, channels, rate, order, cutoff, type));
}

DSP_API bool doIirFilter(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    const dsp::FpScope fpScope;
    IirFilterEffect* effect = dsp::effectOfKind<IirFilterEffect>(handle);
    // Only one or two channels exist: another count (a misuse) processes nothing.
    return effect != nullptr && effect->inChannels <= 2 && effect->runPcm(pcmIn, pcmOut, bytes);
}

DSP_API bool termIirFilter(dsp_effect* handle) {
    const dsp::FpScope fpScope;
    IirFilterEffect* effect = dsp::effectOfKind<IirFilterEffect>(handle);
    delete effect;
    return effect != nullptr;
}

}  // extern "C"
