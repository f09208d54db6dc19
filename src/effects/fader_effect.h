// Two faders and a cross-fader in one effect. Fader 0 (left/right engines) and fader 1 apply
// scheduled level ramps in dB; the cross-fader weights input A (through fader 0) against
// input B (through fader 1) by a scheduled position in [-1, +1]. In a chain the effect applies
// fader 0. Actions are applied to both engines of a pair, mono or not, so the channels stay in
// step.
#pragma once
#include <cstdint>

#include "chain/dsp_effect.h"
#include "effects/fade_engine.h"

namespace dsp {

class FaderEffect : public DspEffect {
public:
    static constexpr uint32_t kKind = kKindFader;

    // A configured fader effect, or nullptr when memory runs out, channels is not 1 or 2, or the
    // block is too large to allocate.
    static FaderEffect* create(uint32_t size, uint32_t channels, uint32_t rate, float crossInitial,
                               float fader0Initial, float fader1Initial);

    // Base buffer rule, then every engine restarts at position 0 with its initial value,
    // keeping its schedule; a curve set earlier is applied again.
    void configure(uint32_t size, uint32_t channels, uint32_t rate) override;
    uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
    uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override;

    // PCM through fader `index` (0 or 1) on the standalone path. False for another index or an
    // effect that is not ready.
    bool fade(uint32_t index, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
    // A through fader 0, B through fader 1, then cross-faded into pcmOut.
    bool crossFade(const int16_t* pcmA, const int16_t* pcmB, int16_t* pcmOut, uint32_t bytes);

    // Schedule on / clear from both engines of a pair. False only for an index other than 0/1;
    // an engine refusing the times changes nothing.
    bool setFaderAction(uint32_t index, float start, float end, float targetDb);
    bool delFaderAction(uint32_t index, float start, float end);
    void setCrossFaderAction(float start, float end, float targetPosition);
    void delCrossFaderAction(float start, float end);
    void setCrossFaderCurve(float centreDb, float edgeDb, float unityWidth, float fadeWidth);

    FadeEngine& fader(uint32_t index, uint32_t channel) { return faderEngines[2 * index + channel]; }

    FadeEngine faderEngines[4];  // fader 0 left, fader 0 right, fader 1 left, fader 1 right
    CrossFadeEngine crossEngines[2];
    float crossInitial;
    float fader0Initial;
    float fader1Initial;
    bool curveSet = false;
    float curveParams[4] = {0.0f, 0.0f, 0.0f, 0.0f};

private:
    FaderEffect(float crossInitial, float fader0Initial, float fader1Initial);

    uint32_t activeFader_ = 0;  // the fader processBlock runs: 0 in a chain, doFade's choice alone
};

}  // namespace dsp
