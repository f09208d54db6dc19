#include <new>

#include "exports/export.h"
#include "platform/fp_scope.h"

using namespace dsp;

extern "C" {

DSP_API dsp_chain* dspCreate(uint32_t size, uint32_t channels, uint32_t rate) {
    const dsp::FpScope fpScope;
    return toHandle(new (std::nothrow) DspChain(size, channels, rate));
}

DSP_API uint32_t dspAdd(dsp_chain* chain, dsp_effect* effect, uint32_t priority) {
    const dsp::FpScope fpScope;
    return chain != nullptr ? toChain(chain)->add(toEffect(effect), priority) : 0;
}

DSP_API void dspClear(dsp_chain* chain) {
    const dsp::FpScope fpScope;
    if (chain != nullptr) toChain(chain)->clear();
}

DSP_API void dspDestroy(dsp_chain* chain) { delete toChain(chain); }

DSP_API void dspAdjust(dsp_chain* chain, uint32_t size, uint32_t channels, uint32_t rate) {
    const dsp::FpScope fpScope;
    if (chain != nullptr) toChain(chain)->adjust(size, channels, rate);
}

DSP_API dsp_effect* dspGetHandle(dsp_chain* chain, uint32_t index) {
    const dsp::FpScope fpScope;
    return chain != nullptr ? toHandle(toChain(chain)->effectAt(index)) : nullptr;
}

DSP_API uint32_t dspGetDstSize(dsp_chain* chain, uint32_t srcSize) {
    const dsp::FpScope fpScope;
    return chain != nullptr ? toChain(chain)->dstSize(srcSize) : 0;
}

DSP_API uint32_t dspGetDstChannels(dsp_chain* chain) {
    const dsp::FpScope fpScope;
    return chain != nullptr ? toChain(chain)->dstChannels() : 0;
}

DSP_API uint32_t dspGetDstRate(dsp_chain* chain) { return chain != nullptr ? toChain(chain)->dstRate() : 0; }

DSP_API uint32_t dspSend(dsp_chain* chain, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    if (chain == nullptr) return 0;
    DspChain* c = toChain(chain);
    // An empty chain is a byte copy with no arithmetic to guard, and at memcpy speed the guard's
    // control-register round trip would cost more than half again.
    if (c->head == nullptr) return c->send(pcmIn, pcmOut, bytes);
    const dsp::FpScope fpScope;
    return c->send(pcmIn, pcmOut, bytes);
}

}  // extern "C"
