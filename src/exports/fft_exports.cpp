#include "analysis/fft_effect.h"
#include "exports/export.h"
#include "platform/fp_scope.h"

using dsp::FftEffect;

extern "C" {

DSP_API dsp_effect* initFft(uint32_t size, uint32_t channels, uint32_t analysedChannels, uint32_t floorDb) {
    const dsp::FpScope fpScope;
    return dsp::toHandle(FftEffect::createBlockAnalyser(size, channels, analysedChannels, floorDb));
}

DSP_API uint32_t doFft(dsp_effect* handle, const int16_t* pcmIn, float* out, uint32_t bytes) {
    const dsp::FpScope fpScope;
    FftEffect* effect = dsp::effectOfKind<FftEffect>(handle);
    // Null buffers are refused like a foreign handle.
    if (effect == nullptr || pcmIn == nullptr || out == nullptr) return 0;
    return effect->analyseBlock(pcmIn, out, bytes);
}

DSP_API bool termFft(dsp_effect* handle) {
    const dsp::FpScope fpScope;
    FftEffect* effect = dsp::effectOfKind<FftEffect>(handle);
    if (effect == nullptr) return false;
    delete effect;
    return true;
}

DSP_API dsp_effect* initFftAnalyze(uint32_t size, uint32_t channels, uint32_t fftSize, uint32_t historyLen) {
    const dsp::FpScope fpScope;
    return dsp::toHandle(FftEffect::createShortTimeAnalyser(size, channels, fftSize, historyLen));
}

DSP_API bool doFftAnalyze(dsp_effect* handle, const int16_t* pcmIn, float* out, uint32_t bytes) {
    const dsp::FpScope fpScope;
    FftEffect* effect = dsp::effectOfKind<FftEffect>(handle);
    if (effect == nullptr || pcmIn == nullptr || out == nullptr) return false;
    effect->analyseShortTime(pcmIn, out, bytes);
    return true;
}

DSP_API bool termFftAnalyze(dsp_effect* handle) { return termFft(handle); }

}  // extern "C"
