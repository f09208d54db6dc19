#include "analysis/fft_effect.h"
#include "exports/export.h"
#include "platform/fp_scope.h"

using namespace dsp;

extern "C" {

DSP_API dsp_effect* initFft(uint32_t size, uint32_t channels, uint32_t analysedChannels, uint32_t floorDb) {
    const dsp::FpScope fpScope;
    return toHandle(FftEffect::create(size, channels, analysedChannels, floorDb));
}

DSP_API uint32_t doFft(dsp_effect* handle, const int16_t* pcmIn, float* out, uint32_t bytes) {
    const dsp::FpScope fpScope;
    auto* effect = effectOfKind<FftEffect>(handle);
    // Null buffers are refused like a foreign handle.
    if (effect == nullptr || pcmIn == nullptr || out == nullptr) return 0;
    return effect->analyse(pcmIn, out, bytes);
}

// Ends any analyser of the kind (block, short-time or envelope), as termFftAnalyze and
// termEnvAnalyze do.
DSP_API bool termFft(dsp_effect* handle) {
    const dsp::FpScope fpScope;
    auto* effect = effectOfKind<AnalyserEffect>(handle);
    delete effect;
    return effect != nullptr;
}

DSP_API dsp_effect* initFftAnalyze(uint32_t size, uint32_t channels, uint32_t fftSize, uint32_t historyLen) {
    const dsp::FpScope fpScope;
    return toHandle(FftAnalyzeEffect::create(size, channels, fftSize, historyLen));
}

DSP_API bool doFftAnalyze(dsp_effect* handle, const int16_t* pcmIn, float* out, uint32_t bytes) {
    const dsp::FpScope fpScope;
    auto* effect = effectOfKind<FftAnalyzeEffect>(handle);
    if (effect == nullptr || pcmIn == nullptr || out == nullptr) return false;
    effect->analyse(pcmIn, out, bytes);
    return true;
}

DSP_API bool termFftAnalyze(dsp_effect* handle) { return termFft(handle); }

}  // extern "C"
