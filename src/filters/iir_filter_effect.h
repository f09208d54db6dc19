// Lowpass/highpass Chebyshev filter effect (1 dB passband ripple), one filter per channel.
// Order, cutoff and type are fixed at creation; a new sample rate redesigns and clears history.
#pragma once
#include <cstdint>

#include "chain/dsp_effect.h"
#include "filters/biquad_cascade.h"

namespace dsp {

class IirFilterEffect : public DspEffect {
public:
    static constexpr uint32_t kKind = kKindIirFilter;

    // Allocates the buffers and designs both filters; nullptr when memory runs out.
    static IirFilterEffect* create(uint32_t size, uint32_t channels, uint32_t rate, int32_t order,
                                   float cutoff, int32_t type);

    // Buffers and format; redesigns (clearing history) only when the rate changes.
    void configure(uint32_t size, uint32_t channels, uint32_t rate) override;
    uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
    uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override;

    const ChebyshevFilter& filter(uint32_t channel) const { return filters_[channel & 1]; }

private:
    IirFilterEffect(int32_t order, float cutoff, int32_t type)
        : DspEffect(kKind), order_(order), cutoff_(cutoff), type_(type) {
        enginesReady = false;  // until the first configure designs the filters
    }
    void redesign(uint32_t rate);

    ChebyshevFilter filters_[2];
    int32_t order_;
    float cutoff_;
    int32_t type_;
};

}  // namespace dsp
