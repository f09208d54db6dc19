// The pitch shifter as a chain effect: one PitchShifter per channel. The signal keeps its length.
#pragma once
#include <cstdint>

#include "effects/grain_effect.h"
#include "effects/pitch_shifter.h"

namespace dsp {

class PitchShiftEffect : public GrainPairEffect<PitchShifter, kKindPitchShift> {
public:
    // A configured effect, or nullptr when memory runs out or channels is not 1 or 2.
    static PitchShiftEffect* create(uint32_t size, uint32_t channels, uint32_t rate, float pitch, float outLevel,
                                    float grainTime, float hopTime);

    void configure(uint32_t size, uint32_t channels, uint32_t rate) override { configureEngines(size, channels, rate); }
    uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
    uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override;

    // Cents, from the end of the next chunk; kept for a rebuild.
    void setPitch(float cents);

private:
    using GrainPairEffect::GrainPairEffect;
};

}  // namespace dsp
