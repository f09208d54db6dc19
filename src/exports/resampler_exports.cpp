// Resampler: init, do, destination size, term.
#include "exports/export.h"
#include "platform/fp_scope.h"
#include "rate/resampler_effect.h"

using dsp::ResamplerEffect;

extern "C" {

DSP_API dsp_effect* initResampler(uint32_t size, uint32_t inChannels, uint32_t outChannels, uint32_t srcRate,
                                  uint32_t dstRate, uint32_t interpolation, float stopbandDb, float slopeDbPerOctave,
                                  bool filterOn) {
    const dsp::FpScope fpScope;
    return dsp::toHandle(ResamplerEffect::create(size, inChannels, outChannels, srcRate, dstRate, interpolation,
                                                 stopbandDb, slopeDbPerOctave, filterOn));
}

DSP_API uint32_t doResampler(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    const dsp::FpScope fpScope;
    ResamplerEffect* effect = dsp::effectOfKind<ResamplerEffect>(handle);
    return effect != nullptr ? effect->processPcm(pcmIn, pcmOut, bytes) : 0;
}

DSP_API uint32_t getResamplerDstSize(dsp_effect* handle, uint32_t srcFrames) {
    const dsp::FpScope fpScope;
    ResamplerEffect* effect = dsp::effectOfKind<ResamplerEffect>(handle);
    return effect != nullptr ? effect->getDstSize(srcFrames) : 0;
}

DSP_API bool termResampler(dsp_effect* handle) {
    const dsp::FpScope fpScope;
    ResamplerEffect* effect = dsp::effectOfKind<ResamplerEffect>(handle);
    delete effect;
    return effect != nullptr;
}

}  // extern "C"
