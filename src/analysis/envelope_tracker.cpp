#include "analysis/envelope_tracker.h"

#include <new>

namespace dsp {

EnvelopeTracker::~EnvelopeTracker() { delete[] scratch; }

void EnvelopeTracker::setup(uint32_t capacity_, float rate, uint32_t order, float cutoffHz, float inputGain_,
                            bool applyOutputGain_, float outputGain_) {
    if (!ready_ || capacity_ > capacity) {
        delete[] scratch;
        scratch = new (std::nothrow) float[capacity_ == 0 ? 1 : capacity_];
        capacity = scratch != nullptr ? capacity_ : 0;
    }
    filter.setOrder(static_cast<int32_t>(order), 0);
    filter.design(rate, cutoffHz);
    inputGain = inputGain_;
    applyOutputGain = applyOutputGain_;
    outputGain = outputGain_;
    ready_ = scratch != nullptr;
}

bool EnvelopeTracker::process(const float* in, float* out, int32_t frames) {
    if (!ready_) return false;
    if (frames <= 0) return true;
    const uint32_t count = static_cast<uint32_t>(frames) < capacity ? static_cast<uint32_t>(frames) : capacity;
    for (uint32_t i = 0; i < count; ++i) scratch[i] = (in[i] < 0.0f ? -in[i] : in[i]) * inputGain;
    filter.process(scratch, out, count);
    if (applyOutputGain)
        for (uint32_t i = 0; i < count; ++i) out[i] *= outputGain;
    return true;
}

}  // namespace dsp
