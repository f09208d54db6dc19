// Circular delay line in allpass form; with gain 0 (the only value the engine uses) a pure
// delay of `length` samples.
#pragma once
#include <cstdint>

#include "exciter/aligned_array.h"

namespace dsp {

class AllpassDelay {
public:
    AllpassDelay() = default;
    AllpassDelay(const AllpassDelay&) = delete;
    AllpassDelay& operator=(const AllpassDelay&) = delete;
    virtual ~AllpassDelay() = default;

    // Sets the length (a length below 1 passes the signal through undelayed) and the gain,
    // clears the line. Allocates when the length grows.
    void setup(int32_t length, float gain);
    void reset();
    // in == out is allowed.
    void process(const float* in, float* out, uint32_t frames);

    int32_t length() const { return length_; }

private:
    // n consecutive slots of the line, each read and rewritten by one sample.
    static void runLine(const float* in, float* out, float* line, uint32_t n, double gain);

    bool ready_ = false;
    int32_t length_ = 0;
    AlignedArray<float> buffer_;
    int32_t pos_ = 0;
    float gain_ = 0.0f;
};

}  // namespace dsp
