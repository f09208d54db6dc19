#include "filters/iir_filter_effect.h"

#include <algorithm>
#include <new>

namespace dsp {

IirFilterEffect* IirFilterEffect::create(uint32_t size, uint32_t channels, uint32_t rate, int32_t order,
                                         float cutoff, int32_t type) {
    auto* effect = new (std::nothrow) IirFilterEffect(order, cutoff, type);
    if (effect != nullptr) effect->configure(size, channels, rate);
    return keepIfReady(effect);
}

void IirFilterEffect::redesign(uint32_t rate) {
    for (ChebyshevFilter& f : filters_) {
        f.setOrder(order_, type_);
        f.design(static_cast<float>(rate), cutoff_);
    }
}

void IirFilterEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    DspEffect::configure(size, channels, rate);
    if (!enginesReady || rate != outRate) redesign(rate);
    enginesReady = true;
    outRate = rate;
}

uint32_t IirFilterEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
    if (!ready() || channel > 1) return 0;
    frames = std::min(frames, inSize);
    filters_[channel].process(in, out, frames);
    return frames;
}

uint32_t IirFilterEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR,
                                       uint32_t frames) {
    if (!ready()) return 0;
    frames = std::min(frames, inSize);
    if (inChannels == 2)
        BiquadCascade::processPair(filters_[0], inL, outL, filters_[1], inR, outR, frames);
    else
        filters_[0].process(inL, outL, frames);
    return frames;
}

}  // namespace dsp
