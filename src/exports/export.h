// Shared by the thin exported layers: handle casts and the kind check.
#pragma once
#include "chain/dsp_chain.h"
#include "chain/dsp_effect.h"
#include "dsp.h"

namespace dsp {

inline DspChain* toChain(dsp_chain* handle) { return reinterpret_cast<DspChain*>(handle); }
inline dsp_chain* toHandle(DspChain* chain) { return reinterpret_cast<dsp_chain*>(chain); }
inline DspEffect* toEffect(dsp_effect* handle) { return reinterpret_cast<DspEffect*>(handle); }
inline dsp_effect* toHandle(DspEffect* effect) { return reinterpret_cast<dsp_effect*>(effect); }

// The effect behind an exported handle when its kind is Effect::kKind, else nullptr.
template <class Effect>
Effect* effectOfKind(dsp_effect* handle) {
    return effectOfKind<Effect>(static_cast<void*>(toEffect(handle)));
}

}  // namespace dsp
