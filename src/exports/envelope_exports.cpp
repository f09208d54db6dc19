#include "analysis/fft_effect.h"
#include "exports/export.h"
#include "platform/fp_scope.h"

using dsp::FftEffect;

extern "C" {

DSP_API dsp_effect* initEnvAnalyze(uint32_t size, uint32_t channels, uint32_t rate) {
    const dsp::FpScope fpScope;
    return dsp::toHandle(FftEffect::createEnvelopeAnalyser(size, channels, rate));
}

DSP_API bool doEnvAnalyze(dsp_effect* handle, const int16_t* pcmIn, float* out, uint32_t bytes) {
    const dsp::FpScope fpScope;
    FftEffect* effect = dsp::effectOfKind<FftEffect>(handle);
    if (effect == nullptr || (pcmIn == nullptr && bytes != 0)) return false;
    return effect->analyseEnvelope(pcmIn, out, bytes);
}

// The same operation as termFft: every analyser of this kind is one object type.
DSP_API bool termEnvAnalyze(dsp_effect* handle) { return termFft(handle); }

}  // extern "C"
