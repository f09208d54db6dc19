#include "effects/delay_line.h"

#include <algorithm>
#include <new>

namespace dsp {

void DelayLine::release() {
    buffer.reset();
    capacity = 0;
    mask = 0;
}

DelayLine::~DelayLine() = default;

int32_t DelayLine::delaySamples(uint32_t rate, float delayMs) {
    const long double samples = static_cast<long double>(rate) * delayMs * static_cast<long double>(0.001);
    // Truncated in extended precision: rounding to double first could carry 881.99.. to 882.
    return (samples > -2147483649.0L && samples < 2147483648.0L) ? static_cast<int32_t>(samples) : INT32_MIN;
}

bool DelayLine::setup(uint32_t rate_, float delayMs, uint32_t capacity_) {
    rate = rate_;
    delay = delaySamples(rate_, delayMs);
    writeIndex = 0;
    if (!(ready() && capacity >= capacity_)) {
        release();
        buffer.reset(new (std::nothrow) float[capacity_]);
        if (!ready()) return false;
    }
    capacity = capacity_;
    mask = capacity_ - 1;
    std::fill_n(buffer.get(), capacity, 0.0f);
    return true;
}

}  // namespace dsp
