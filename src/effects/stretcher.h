// Granular time stretcher for one channel: the output runs at its own clock; every `hop` output
// samples a grain starts at the input position matching the current output position and copies
// input samples one for one under a Gaussian window; each output sample is the window-weighted
// average of the running grains. Output length = input length x the factor f = 2^(-scale/1000),
// 4 (four times longer) down to 0.125 (eight times shorter).
#pragma once
#include <cstdint>

#include "effects/grain.h"

namespace dsp {

class Stretcher : public GrainEngine {
public:
    // Largest length factor any scale reaches: at most kMaxFactor x frames come out.
    static constexpr uint32_t kMaxFactor = 4;

    Stretcher() : GrainEngine(0) {}

    // Rebuilds everything (scale clamped to -2000 ... 3000, exactly 0 = bypass; output level in
    // dB; times in seconds); clears history and grains and staggers them as if running. May
    // allocate; false when memory runs out (the engine then outputs silence).
    bool setup(uint32_t rate, float scale, float outLevel, float grainTime, float hopTime);

    // New scale; dstSize() reflects it at once, process() from the end of the next chunk.
    void setScale(float scale);

    // trunc(srcSize x pending f).
    uint32_t dstSize(uint32_t srcSize) const;

    // in -> out; returns the output sample count, the sum over chunks of at most kGrainChunk
    // input samples of trunc(chunk x current f) (the chunk length itself in bypass), never more
    // than kMaxFactor x frames. Never allocates. in and out must not overlap.
    uint32_t process(const float* in, float* out, uint32_t frames);

    // Parameters, read-only for hosts and tests (more in GrainEngine).
    float factor() const { return factor_; }
    float factorPending() const { return factorPending_; }
    float inverseFactor() const { return inverseFactor_; }
    int32_t leadPending() const { return leadPending_; }

private:
    uint32_t processChunk(const float* in, float* out, uint32_t n, uint32_t available);

    float factorPending_ = 1.0f;
    float inverseFactorPending_ = 1.0f;
    double inverseFactorExact_ = 1.0;  // 1/f before rounding, for the stagger
    int32_t leadPending_ = 0;
    float factor_ = 1.0f;
    float inverseFactor_ = 1.0f;
    int32_t lead_ = 0;
    // The bank's history and scratch past hold 8 * grainLength entries each.
};

}  // namespace dsp
