// The pitch shifter as a chain effect: one PitchShifter per channel (two are always built, the
// second used only for stereo). The signal keeps its length.
#pragma once
#include <cstdint>

#include "chain/dsp_effect.h"
#include "effects/pitch_shifter.h"

namespace dsp {

class PitchShiftEffect : public DspEffect {
public:
    static constexpr uint32_t kKind = kKindPitchShift;

    // A configured effect, or nullptr when memory runs out or channels is not 1 or 2.
    static PitchShiftEffect* create(uint32_t size, uint32_t channels, uint32_t rate, float pitch, float outLevel,
                                    float grainTime, float hopTime);

    // Buffers and format; a new rate (or engines that failed) rebuilds both engines from the
    // stored parameters.
    void configure(uint32_t size, uint32_t channels, uint32_t rate) override;
    uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
    uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override;

    void setPitch(float cents);
    void setOutLevel(float db);

    PitchShifter shifters[2];
    float pitch = 0.0f;
    float outLevel = 0.0f;
    float grainTime = 0.0f;
    float hopTime = 0.0f;

private:
    PitchShiftEffect(float pitch_, float outLevel_, float grainTime_, float hopTime_)
        : DspEffect(kKind), pitch(pitch_), outLevel(outLevel_), grainTime(grainTime_), hopTime(hopTime_) {
        enginesReady = false;  // until the first configure sets them up
    }
    void setupEngines(uint32_t rate);
};

}  // namespace dsp
