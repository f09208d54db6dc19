#include "effects/iir_filter_effect.h"

#include <algorithm>
#include <new>

#include "convert/convert.h"

namespace dsp {

IirFilterEffect* IirFilterEffect::create(uint32_t size, uint32_t channels, uint32_t rate, int32_t order,
                                         float cutoff, int32_t type) {
    auto* effect = new (std::nothrow) IirFilterEffect();
    if (effect == nullptr) return nullptr;
    effect->DspEffect::configure(size, channels, rate);
    effect->outRate = rate;
    effect->order_ = order;
    effect->cutoff_ = cutoff;
    effect->type_ = type;
    effect->redesign(rate);
    return effect;
}

void IirFilterEffect::redesign(uint32_t rate) {
    for (ChebyshevFilter& f : filters_) {
        f.setOrder(order_, type_);
        f.design(static_cast<float>(rate), cutoff_);
    }
}

void IirFilterEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    DspEffect::configure(size, channels, rate);
    if (rate != outRate) redesign(rate);
    outRate = rate;
}

uint32_t IirFilterEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
    if (!buffersUsable() || channel > 1) return 0;
    frames = std::min(frames, inSize);
    filters_[channel].process(in, out, frames);
    return frames;
}

uint32_t IirFilterEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR,
                                       uint32_t frames) {
    if (!buffersUsable()) return 0;
    frames = std::min(frames, inSize);
    if (inChannels == 2)
        BiquadCascade::processPair(filters_[0], inL, outL, filters_[1], inR, outR, frames);
    else
        filters_[0].process(inL, outL, frames);
    return frames;
}

uint32_t IirFilterEffect::processPcm(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    return processPcmByChannel(pcmIn, pcmOut, bytes);
}

bool IirFilterEffect::filterPcm(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    // Only one or two channels exist; any other count (a misuse) processes nothing.
    if (!buffersUsable() || inChannels == 0 || inChannels > 2) return false;
    bytes = clampToCapacity(bytes);
    const uint32_t frames = bytes / (inChannels * 2);
    pcmToFloat(pcmIn, bytes, inBufL, inBufR, inChannels);
    processBlock(inBufL, inBufR, outBufL, outBufR, frames);
    floatToPcm(outBufL, outBufR, frames, pcmOut, inChannels);
    return true;
}

}  // namespace dsp
