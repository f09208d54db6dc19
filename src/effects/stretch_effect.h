// The time stretcher as a chain effect: one Stretcher per channel. Its output block differs in
// length from its input block.
//
// Output room: the output buffers always hold Stretcher::kMaxFactor x the input block, so no
// scale a host can set (nor the one-chunk lag before a new scale applies) can overrun them, and
// outSize announces that same longest block so the effects behind it in a chain are configured
// for the longest block any scale can produce. getDstSize reports the length for the pending scale.
#pragma once
#include <cstdint>

#include "effects/grain_effect.h"
#include "effects/stretcher.h"

namespace dsp {

class StretchEffect : public GrainPairEffect<Stretcher, kKindStretch> {
public:
    // A configured effect, or nullptr when memory runs out or channels is not 1 or 2.
    static StretchEffect* create(uint32_t size, uint32_t channels, uint32_t rate, float scale, float outLevel,
                                 float grainTime, float hopTime);

    // Longest output block for an input block of `size` frames: kMaxFactor x size.
    static uint32_t maxDstSize(uint32_t size);

    // As the pitch shifter, with room for the longest output.
    void configure(uint32_t size, uint32_t channels, uint32_t rate) override;
    uint32_t getDstSize(uint32_t srcSize) override;
    uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
    uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override;

    // getDstSize follows at once, processing from the end of the next chunk; kept for a rebuild.
    void setScale(float value);

private:
    using GrainPairEffect::GrainPairEffect;
};

}  // namespace dsp
