// Small effects used by the chain tests in place of real ones.
#pragma once
#include <vector>

#include "chain/dsp_effect.h"

namespace dsptest {

// Multiplies every sample by `gain` and records every configure call.
class GainEffect : public dsp::DspEffect {
public:
    explicit GainEffect(float gain, std::vector<int>* order = nullptr, int id = 0);
    void configure(uint32_t size, uint32_t channels, uint32_t rate) override;
    uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
    uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override;

    float gain;
    int configureCalls = 0;
    std::vector<int>* order;  // processBlock appends id here
    int id;
};

// Emits `factor` output frames per input frame (each sample repeated) at factor times the rate.
class RepeatEffect : public dsp::DspEffect {
public:
    explicit RepeatEffect(uint32_t factor);
    void configure(uint32_t size, uint32_t channels, uint32_t rate) override;
    uint32_t getDstSize(uint32_t srcSize) override { return srcSize * factor; }
    uint32_t processChannel(uint32_t, const float*, float*, uint32_t) override { return 0; }
    uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override;

    uint32_t factor;
    int configureCalls = 0;
};

}  // namespace dsptest
