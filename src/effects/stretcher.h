// Granular time stretcher for one channel: the output runs at its own clock; every `hop` output
// samples a grain starts at the input position matching the current output position and copies
// input samples one for one under a Gaussian window; each output sample is the window-weighted
// average of the running grains. Output length = input length x the factor f = 2^(-scale/1000),
// 4 (four times longer) down to 0.125 (eight times shorter).
#pragma once
#include <cstdint>

#include "effects/grain.h"

namespace dsp {

class Stretcher {
public:
    // Largest length factor any scale reaches: at most kMaxFactor x frames come out.
    static constexpr uint32_t kMaxFactor = 4;

    Stretcher() = default;
    ~Stretcher();
    Stretcher(const Stretcher&) = delete;
    Stretcher& operator=(const Stretcher&) = delete;

    // Rebuilds everything for blocks of `size` frames (scale clamped to -2000 ... 3000, exactly 0
    // = bypass; output level in dB; times in seconds); clears history and grains and staggers
    // them as if running. May allocate; when memory runs out allocated() is false and the engine
    // outputs silence. Returns trunc(size x f).
    uint32_t init(uint32_t size, uint32_t rate, float scale, float outLevel, float grainTime, float hopTime);

    // New scale; dstSize() reflects it at once, process() from the end of the next chunk.
    void setScale(float scale);
    // Output level in dB; takes effect at once.
    void setOutLevel(float outLevel);

    // trunc(srcSize x pending f).
    uint32_t dstSize(uint32_t srcSize) const;

    // in -> out; returns the output sample count, the sum over chunks of at most kGrainChunk
    // input samples of trunc(chunk x current f) (the chunk length itself in bypass), never more
    // than kMaxFactor x frames. Never allocates. in and out must not overlap.
    uint32_t process(const float* in, float* out, uint32_t frames);

    uint32_t grainLength() const { return grainLength_; }
    uint32_t hop() const { return slots_.hop; }
    uint32_t grainCount() const { return slots_.count; }
    float factor() const { return factor_; }
    float factorPending() const { return factorPending_; }
    float inverseFactor() const { return inverseFactor_; }
    uint32_t span() const { return span_; }
    uint32_t spanPending() const { return spanPending_; }
    int32_t leadPending() const { return leadPending_; }
    float outGain() const { return outGain_; }
    bool bypass() const { return bypass_; }
    uint32_t historyPos() const { return historyPos_; }
    uint32_t hopCounter() const { return slots_.hopCounter; }
    bool allocated() const { return allocated_; }
    const Grain* grains() const { return slots_.grains; }

private:
    uint32_t processChunk(const float* in, float* out, uint32_t n, uint32_t available);
    void updateHistory(const float* in, uint32_t n);
    void freeArrays();

    bool allocated_ = false;
    bool bypassPending_ = false;
    uint32_t blockSize_ = 0;
    uint32_t spanPending_ = 0;
    float rate_ = 0.0f;
    float factorPending_ = 1.0f;
    float inverseFactorPending_ = 1.0f;
    double inverseFactorExact_ = 1.0;  // 1/f before rounding, for the stagger
    float outGain_ = 1.0f;
    uint32_t grainLength_ = 0;
    int32_t leadPending_ = 0;
    uint32_t historyPos_ = 0;
    float* history_ = nullptr;  // 8 * grainLength entries, `span_` of them in use
    float* window_ = nullptr;
    float* past_ = nullptr;  // the history in reading order (8 * grainLength entries)
    uint32_t historyCapacity_ = 0;
    GrainSlots slots_;
    bool bypass_ = false;
    uint32_t span_ = 0;
    float factor_ = 1.0f;
    float inverseFactor_ = 1.0f;
    int32_t lead_ = 0;
};

}  // namespace dsp
