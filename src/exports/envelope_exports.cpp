#include "analysis/envelope_effect.h"
#include "exports/export.h"
#include "platform/fp_scope.h"

using namespace dsp;

extern "C" {

DSP_API dsp_effect* initEnvAnalyze(uint32_t size, uint32_t channels, uint32_t rate) {
    const dsp::FpScope fpScope;
    return toHandle(EnvelopeEffect::create(size, channels, rate));
}

DSP_API bool doEnvAnalyze(dsp_effect* handle, const int16_t* pcmIn, float* out, uint32_t bytes) {
    const dsp::FpScope fpScope;
    auto* effect = effectOfKind<EnvelopeEffect>(handle);
    return effect != nullptr && (pcmIn != nullptr || bytes == 0) && effect->analyse(pcmIn, out, bytes);
}

// The analysers share one kind code: termFft ends any of them.
DSP_API bool termEnvAnalyze(dsp_effect* handle) { return termFft(handle); }

}  // extern "C"
