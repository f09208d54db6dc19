// The time stretcher as a chain effect: one Stretcher per channel (two are always built, the
// second used only for stereo). Its output block differs in length from its input block.
//
// Output room: the output buffers always hold Stretcher::kMaxFactor x the input block, so no
// scale a host can set (nor the one-chunk lag before a new scale applies) can overrun them, and
// outSize announces that same longest block so the effects behind it in a chain are configured
// for the longest block any scale can produce. getDstSize reports the length for the pending scale.
#pragma once
#include <cstdint>

#include "chain/dsp_effect.h"
#include "effects/stretcher.h"

namespace dsp {

class StretchEffect : public DspEffect {
public:
    static constexpr uint32_t kKind = kKindStretch;

    // A configured effect, or nullptr when memory runs out or channels is not 1 or 2.
    static StretchEffect* create(uint32_t size, uint32_t channels, uint32_t rate, float scale, float outLevel,
                                 float grainTime, float hopTime);

    // Longest output block for an input block of `size` frames: kMaxFactor x size.
    static uint32_t maxDstSize(uint32_t size);

    // Buffers and format with room for the longest output; a new rate (or engines that failed)
    // rebuilds both engines from the stored parameters.
    void configure(uint32_t size, uint32_t channels, uint32_t rate) override;
    uint32_t getDstSize(uint32_t srcSize) override;
    uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
    uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override;

    void setScale(float value);
    void setOutLevel(float db);

    Stretcher stretchers[2];
    float scale = 0.0f;
    float outLevel = 0.0f;
    float grainTime = 0.0f;
    float hopTime = 0.0f;

private:
    StretchEffect(float scale_, float outLevel_, float grainTime_, float hopTime_)
        : DspEffect(kKind), scale(scale_), outLevel(outLevel_), grainTime(grainTime_), hopTime(hopTime_) {
        enginesReady = false;  // until the first configure sets them up
    }
    void setupEngines(uint32_t size, uint32_t rate);
};

}  // namespace dsp
