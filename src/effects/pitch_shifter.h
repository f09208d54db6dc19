// Granular pitch shifter for one channel: every `hop` samples a grain starts reading the recent
// input at the pitch ratio through a four-point cubic interpolator, under a Gaussian window;
// each output sample is the window-weighted average of the running grains. A history of past
// input lets grains read behind the start of the block. Same length out as in; no added delay
// beyond the grains' own look-behind.
#pragma once
#include <cstdint>

#include "effects/grain.h"

namespace dsp {

class PitchShifter {
public:
    PitchShifter() = default;
    ~PitchShifter();
    PitchShifter(const PitchShifter&) = delete;
    PitchShifter& operator=(const PitchShifter&) = delete;

    // Rebuilds everything: grain length and hop from the times (seconds), pitch in cents
    // (clamped to +-1200, exactly 0 = bypass), output level in dB; clears history and grains
    // and staggers them as if the engine had been running. May allocate; false when memory
    // runs out (the engine then outputs silence).
    bool init(uint32_t rate, float pitch, float outLevel, float grainTime, float hopTime);

    // New pitch in cents; takes effect at the end of the next processed chunk.
    void setPitch(float pitch);
    // Output level in dB; takes effect at once.
    void setOutLevel(float outLevel);

    // in -> out, `frames` samples, cut into chunks of at most kGrainChunk. Never allocates.
    // in and out must not overlap.
    void process(const float* in, float* out, uint32_t frames);

    // Parameters, read-only for hosts and tests.
    uint32_t grainLength() const { return grainLength_; }
    uint32_t hop() const { return slots_.hop; }
    uint32_t grainCount() const { return slots_.count; }
    float ratio() const { return ratio_; }
    float ratioPending() const { return ratioPending_; }
    uint32_t span() const { return span_; }
    uint32_t spanPending() const { return spanPending_; }
    int32_t startOffsetPending() const { return startOffsetPending_; }
    float pitchCents() const { return pitchCents_; }
    float outGain() const { return outGain_; }
    bool bypass() const { return bypass_; }
    uint32_t historyPos() const { return historyPos_; }
    uint32_t hopCounter() const { return slots_.hopCounter; }
    bool allocated() const { return allocated_; }
    const Grain* grains() const { return slots_.grains; }

private:
    void processChunk(const float* in, float* out, uint32_t n, uint32_t available);
    void updateHistory(const float* in, uint32_t n);
    void freeArrays();

    bool allocated_ = false;
    bool bypassPending_ = false;
    uint32_t spanPending_ = 3;
    float rate_ = 0.0f;
    float pitchCents_ = 0.0f;
    float ratioPending_ = 1.0f;
    float outGain_ = 1.0f;
    uint32_t grainLength_ = 0;
    int32_t startOffsetPending_ = 0;
    uint32_t historyPos_ = 0;
    float* history_ = nullptr;  // 2 * grainLength + 3 entries, `span_` of them in use
    float* window_ = nullptr;   // grainLength entries
    float* past_ = nullptr;     // 2 * grainLength + 6 entries: the history in reading order, then x[0 .. 2]
    uint32_t historyCapacity_ = 0;
    GrainSlots slots_;
    uint32_t span_ = 3;
    float ratio_ = 1.0f;
    int32_t startOffset_ = 0;
    bool bypass_ = false;
};

}  // namespace dsp
