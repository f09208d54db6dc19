// The resampler effect: one RateConverter per channel, converting from the input rate to a
// destination rate fixed at creation. In a chain it changes the block length and rate seen by
// the effects behind it; a reconfiguration re-runs the converters' setup (clearing history)
// and grows the output buffers when the converted block needs more room. Created for another
// output channel count, it keeps it until a chain reconfigures it (then out = in).
#pragma once
#include <cstdint>

#include "chain/dsp_effect.h"
#include "rate/rate_converter.h"

namespace dsp {

class ResamplerEffect : public DspEffect {
public:
    static constexpr uint32_t kKind = kKindResampler;
    static constexpr float kRippleDb = 0.1f;

    // nullptr when memory runs out, or for channel counts other than 1 or 2.
    static ResamplerEffect* create(uint32_t size, uint32_t inChannels, uint32_t outChannels, uint32_t srcRate,
                                   uint32_t dstRate, uint32_t interpolation, float stopbandDb, float slopeDbPerOctave,
                                   bool filterOn);

    void configure(uint32_t size, uint32_t channels, uint32_t rate) override;
    uint32_t getDstSize(uint32_t srcSize) override { return converters_[0].getDstSize(srcSize); }
    uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
    uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override;

    const RateConverter& converter(uint32_t channel) const { return converters_[channel & 1]; }

private:
    ResamplerEffect(uint32_t dstRate, uint32_t interpolation, float stopbandDb, float slopeDbPerOctave, bool filterOn)
        : DspEffect(kKind), interpolation_(interpolation), stopbandDb_(stopbandDb),
          slopeDbPerOctave_(slopeDbPerOctave), filterOn_(filterOn) {
        outRate = dstRate;  // the converters' destination, kept by every configure
    }

    RateConverter converters_[2];
    uint32_t interpolation_;
    float stopbandDb_;
    float slopeDbPerOctave_;
    bool filterOn_;
};

}  // namespace dsp
