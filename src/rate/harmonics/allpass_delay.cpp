#include "rate/harmonics/allpass_delay.h"

#include <algorithm>

namespace dsp {

void AllpassDelay::setup(int32_t length, float gain) {
    length = std::max(length, 0);
    if (!allocated_ || buffer_.size() < static_cast<std::size_t>(length)) {
        allocated_ = buffer_.allocate(static_cast<std::size_t>(length));
        if (!allocated_) length = 0;  // out of memory: pass the signal through undelayed
    }
    length_ = length;
    gain_ = gain;
    reset();
}

void AllpassDelay::reset() {
    buffer_.clear();
    pos_ = 0;
}

void AllpassDelay::process(const float* in, float* out, uint32_t frames) {
    if (length_ < 1) {
        if (in != out) std::copy(in, in + frames, out);
        return;
    }
    const double gain = gain_;
    for (uint32_t i = 0; i < frames; ++i) {
        pos_ = pos_ + 1 == length_ ? 0 : pos_ + 1;
        const float old = buffer_[pos_];
        const float stored = static_cast<float>(in[i] - old * gain);
        buffer_[pos_] = stored;
        out[i] = static_cast<float>(stored * gain + old);
    }
}

}  // namespace dsp
