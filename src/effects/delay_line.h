// A circular float delay line: the base of the delay-based engines.
#pragma once
#include <cstdint>
#include <memory>

namespace dsp {

// Truncates toward zero to a signed 32-bit integer. Out-of-range values and NaN give
// INT32_MIN (the processor's integer-indefinite result), so hostile parameters still produce
// an index that the delay line's mask keeps in bounds.
inline int32_t truncToInt32(double value) {
    return (value > -2147483649.0 && value < 2147483648.0) ? static_cast<int32_t>(value) : INT32_MIN;
}

class DelayLine {
public:
    DelayLine() = default;
    DelayLine(const DelayLine&) = delete;
    DelayLine& operator=(const DelayLine&) = delete;

    // Frees the storage.
    virtual void release();
    virtual ~DelayLine();

    // Records the rate and the base delay (rate * delayMs * 0.001 samples, truncated, the
    // product formed in extended precision); keeps the storage when it already holds
    // `capacity` samples (a power of two), else allocates it; clears it and rewinds the write
    // position. Returns false when the storage cannot be allocated (the line is then empty).
    bool setup(uint32_t rate, float delayMs, uint32_t capacity);

    // Delays `frames` samples of `in` into `out`.
    virtual void process(const float* in, float* out, uint32_t frames) = 0;

    bool ready() const { return buffer != nullptr; }

    // Base delay in samples for a time in milliseconds at `rate`.
    static int32_t delaySamples(uint32_t rate, float delayMs);

    uint32_t capacity = 0;
    uint32_t mask = 0;         // capacity - 1
    int32_t delay = 0;         // base delay in samples
    uint32_t writeIndex = 0;   // next write position
    uint32_t rate = 0;         // Hz
    std::unique_ptr<float[]> buffer;
};

}  // namespace dsp
