// Amplitude envelope of one channel: rectify, amplify, smooth with a Butterworth lowpass.
#pragma once
#include <cstdint>

#include "filters/biquad_cascade.h"

namespace dsp {

class EnvelopeTracker {
public:
    // The parameters every envelope in the library uses.
    static constexpr uint32_t kOrder = 2;
    static constexpr float kCutoffHz = 33.0f;
    static constexpr float kInputGain = 2.5f;

    EnvelopeTracker() = default;
    ~EnvelopeTracker();
    EnvelopeTracker(const EnvelopeTracker&) = delete;
    EnvelopeTracker& operator=(const EnvelopeTracker&) = delete;

    // Allocates the scratch block (kept when large enough), resets the lowpass and designs it.
    // An allocation failure leaves the tracker not ready, so process() refuses to run.
    void setup(uint32_t capacity, float rate, uint32_t order, float cutoffHz, float inputGain, bool applyOutputGain,
               float outputGain);

    // out[i] = lowpass(|in[i]| * inputGain) (* outputGain). in may equal out. Returns false
    // when not set up. Frames beyond the capacity are not processed.
    bool process(const float* in, float* out, int32_t frames);

    bool ready() const { return ready_; }

    float* scratch = nullptr;
    uint32_t capacity = 0;
    ButterworthFilter filter;
    float inputGain = 0.0f;
    float outputGain = 1.0f;
    bool applyOutputGain = false;

private:
    bool ready_ = false;
};

}  // namespace dsp
