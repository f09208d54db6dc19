// One channel of the chorus: a delay line read by several voices whose delays a shared sine
// oscillator sweeps around a base delay, mixed with the dry signal.
#pragma once
#include <cstdint>
#include <memory>

#include "effects/delay_line.h"

namespace dsp {

class ChorusLine : public DelayLine {
public:
    // Samples of delay storage; tap delays are taken modulo this.
    static constexpr uint32_t kCapacity = 65536;

    void release() override;
    ~ChorusLine() override;

    // Builds the engine: `voices` voices at phases 2*pi*v/voices, base delay delayMs, sweep
    // amplitude depthMs, oscillator period `speed` seconds (0 stops it), every voice at
    // mixPercent, the dry signal at orgMixPercent. Clears the delay line and restarts the
    // oscillator at phase 0. Allocates; returns false when storage cannot be had, leaving an
    // engine without voices that passes only the dry signal.
    bool setup(uint32_t rate, uint32_t voices, float delayMs, float depthMs, float speed, float mixPercent,
               float orgMixPercent, uint32_t capacity = kCapacity);

    // Clears the delay line and restarts the oscillator at phase 0; never allocates.
    void reset();

    // Parameter changes, effective from the next sample processed; the delay line and the
    // oscillator phase are kept.
    void setDelayTime(float delayMs);
    void setDepth(float depthMs);
    void setSpeed(float speed);
    void setDryMix(float orgMixPercent);
    // Sets one voice's level; an index outside 0..voiceCount-1 is ignored (false).
    bool setVoiceMix(int32_t voice, float mixPercent);

    // Adds the swept taps to the dry signal. Tap delay d = trunc(s * depthSamples + delay),
    // s the interpolated table sine at the voice's phase; a tap is read before the current
    // sample is stored, so d = 0 reads `capacity` samples back. in may equal out.
    void process(const float* in, float* out, uint32_t frames) override;

    // Runs two engines over the two channels of a block: the same results as processing each
    // on its own, but when both are in the same oscillator and write state (always the case for
    // the two channels of one effect) the tap delays are computed once for both.
    static void processPair(ChorusLine& left, ChorusLine& right, const float* inL, const float* inR, float* outL,
                            float* outR, uint32_t frames);

    float depthSamples = 0.0f;  // sweep amplitude in samples
    float cyclesPerMs = 0.0f;   // oscillator frequency, 0 when stopped
    float msPerSample = 0.0f;
    float periodMs = 0.0f;      // oscillator period
    float voiceMix = 0.0f;      // last wet level given, as a factor
    float dryGain = 0.0f;       // dry level as a factor
    float phaseMs = 0.0f;       // oscillator phase, wrapped into [0, periodMs)
    uint32_t voiceCount = 0;
    std::unique_ptr<float[]> voicePhase;  // radians, 2*pi*v/voiceCount
    std::unique_ptr<float[]> voiceGain;   // per-voice wet level as a factor

private:
    bool lockstepWith(const ChorusLine& other) const;

    template <int kLines>
    static void render(ChorusLine* const* lines, const float* const* in, float* const* out, uint32_t frames);

    // Work space for one chunk of tap delays, voice-major: chunkFrames entries per voice.
    std::unique_ptr<int32_t[]> taps;
    uint32_t chunkFrames = 0;
};

}  // namespace dsp
