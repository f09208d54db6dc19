// Granular pitch shifter for one channel: every `hop` samples a grain starts reading the recent
// input at the pitch ratio through a four-point cubic interpolator, under a Gaussian window;
// each output sample is the window-weighted average of the running grains. A history of past
// input lets grains read behind the start of the block. Same length out as in; no added delay
// beyond the grains' own look-behind.
#pragma once
#include <cstdint>

#include "effects/grain.h"

namespace dsp {

class PitchShifter : public GrainEngine {
public:
    PitchShifter() : GrainEngine(3) {}

    // Rebuilds everything: grain length and hop from the times (seconds), pitch in cents
    // (clamped to +-1200, exactly 0 = bypass), output level in dB; clears history and grains
    // and staggers them as if the engine had been running. May allocate; false when memory
    // runs out (the engine then outputs silence).
    bool setup(uint32_t rate, float pitch, float outLevel, float grainTime, float hopTime);

    // New pitch in cents; takes effect at the end of the next processed chunk.
    void setPitch(float pitch);

    // in -> out, `frames` samples, cut into chunks of at most kGrainChunk. Never allocates.
    // in and out must not overlap.
    void process(const float* in, float* out, uint32_t frames);

    // Parameters, read-only for hosts and tests (more in GrainEngine).
    float ratio() const { return ratio_; }
    float ratioPending() const { return ratioPending_; }
    int32_t startOffsetPending() const { return startOffsetPending_; }
    float pitchCents() const { return pitchCents_; }

private:
    void processChunk(const float* in, float* out, uint32_t n, uint32_t available);

    float pitchCents_ = 0.0f;
    float ratioPending_ = 1.0f;
    int32_t startOffsetPending_ = 0;
    float ratio_ = 1.0f;
    int32_t startOffset_ = 0;
    // The bank's history holds 2 * grainLength + 3 entries; its scratch past 3 more: the
    // history in reading order, then x[0 .. 2].
};

}  // namespace dsp
