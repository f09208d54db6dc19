// The chorus effect: one ChorusLine per channel, built from stored parameters.
#pragma once
#include <cstdint>

#include "chain/dsp_effect.h"
#include "effects/chorus_line.h"

namespace dsp {

struct ChorusParams {
    uint32_t voices = 0;
    float delayTime = 0.0f;  // ms
    float depth = 0.0f;      // ms
    float speed = 0.0f;      // s, oscillator period
    float mix = 0.0f;        // %, every voice
    float orgMix = 0.0f;     // %, dry signal
};

class ChorusEffect : public DspEffect {
public:
    static constexpr uint32_t kKind = kKindChorus;

    // A configured chorus, or nullptr when memory runs out (16384 voices or more count as that).
    static ChorusEffect* create(uint32_t size, uint32_t channels, uint32_t rate, const ChorusParams& params);

    // Buffers and format as the base, outRate = rate, then both engines rebuilt from the stored
    // parameters: delay lines cleared, oscillators at phase 0, every voice at the stored mix.
    void configure(uint32_t size, uint32_t channels, uint32_t rate) override;
    uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
    uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override;

    // Setters apply to both engines at once and are stored for the next configure; none clears
    // the delay lines or moves the oscillator phase.
    void setDelayTime(float ms);
    void setDepth(float ms);
    void setSpeed(float seconds);
    bool setMix(int32_t voice, float percent);  // false, and nothing changes, for a bad voice
    void setOrgMix(float percent);

    ChorusLine lines[2];  // 0 left or mono, 1 right
    ChorusParams params;

private:
    explicit ChorusEffect(const ChorusParams& params_) : DspEffect(kKind), params(params_) {}
};

}  // namespace dsp
