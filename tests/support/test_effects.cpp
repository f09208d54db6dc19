#include "support/test_effects.h"

#include "memory/fastmem.h"

namespace dsptest {

GainEffect::GainEffect(float gain_, std::vector<int>* order_, int id_) : gain(gain_), order(order_), id(id_) {}

void GainEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    DspEffect::configure(size, channels, rate);
    outRate = rate;
    ++configureCalls;
}

uint32_t GainEffect::processChannel(uint32_t, const float* in, float* out, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i) out[i] = in[i] * gain;
    return frames;
}

uint32_t GainEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) {
    if (order != nullptr) order->push_back(id);
    processChannel(0, inL, outL, frames);
    if (inChannels == 2) processChannel(1, inR, outR, frames);
    return frames;
}

RepeatEffect::RepeatEffect(uint32_t factor_) : factor(factor_) {}

void RepeatEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    ++configureCalls;
    // The output is factor times longer than the input: keep room for it in the output buffers.
    DspEffect::configure(size * factor, channels, rate);
    inSize = size;
    outSize = size * factor;
    outRate = rate * factor;
}

uint32_t RepeatEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) {
    for (uint32_t i = 0; i < frames; ++i)
        for (uint32_t k = 0; k < factor; ++k) {
            outL[i * factor + k] = inL[i];
            if (inChannels == 2) outR[i * factor + k] = inR[i];
        }
    return frames * factor;
}

}  // namespace dsptest
