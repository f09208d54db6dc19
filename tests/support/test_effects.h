// Small effects used by the chain tests in place of real ones.
#pragma once
#include <vector>

#include "chain/dsp_effect.h"

namespace dsptest {

// Multiplies every sample by `gain` and records every configure call.
class GainEffect : public dsp::DspEffect {
public:
    explicit GainEffect(float gain_, std::vector<int>* order_ = nullptr, int id_ = 0)
        : gain(gain_), order(order_), id(id_) {}
    void configure(uint32_t size, uint32_t channels, uint32_t rate) override {
        DspEffect::configure(size, channels, rate);
        outRate = rate;
        ++configureCalls;
    }
    uint32_t processChannel(uint32_t, const float* in, float* out, uint32_t frames) override {
        for (uint32_t i = 0; i < frames; ++i) out[i] = in[i] * gain;
        return frames;
    }
    uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override {
        if (order != nullptr) order->push_back(id);
        processChannel(0, inL, outL, frames);
        if (inChannels == 2) processChannel(1, inR, outR, frames);
        return frames;
    }

    float gain;
    int configureCalls = 0;
    std::vector<int>* order;  // processBlock appends id here
    int id;
};

// Emits `factor` output frames per input frame (each sample repeated) at factor times the rate.
class RepeatEffect : public dsp::DspEffect {
public:
    explicit RepeatEffect(uint32_t factor_) : factor(factor_) {}
    void configure(uint32_t size, uint32_t channels, uint32_t rate) override {
        // The output is factor times longer than the input: keep room for it in the output buffers.
        DspEffect::configure(size * factor, channels, rate);
        inSize = size;
        outSize = size * factor;
        outRate = rate * factor;
    }
    uint32_t getDstSize(uint32_t srcSize) override { return srcSize * factor; }
    uint32_t processChannel(uint32_t, const float*, float*, uint32_t) override { return 0; }
    uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override {
        for (uint32_t i = 0; i < frames; ++i)
            for (uint32_t k = 0; k < factor; ++k) {
                outL[i * factor + k] = inL[i];
                if (inChannels == 2) outR[i * factor + k] = inR[i];
            }
        return frames * factor;
    }

    uint32_t factor;
};

}  // namespace dsptest
