// The grain scheme shared by the pitch shifter and the time stretcher: Gaussian-windowed grains
// started every `hop` samples in the first free slot, their outputs averaged by window weight.
//
// The engines run the per-sample rule ("at a hop boundary start a grain in the first inactive
// slot, then let every active grain contribute in slot order, then age it") in a grain-major
// order for speed: GrainSlots::advance does the bookkeeping for a run of samples and returns,
// per slot, the stretch of samples each grain covers; the engines then accumulate those
// segments slot by slot, so every output sample still sums its grains in slot order.
#pragma once
#include <cstdint>

namespace dsp {

struct Grain {
    bool active = false;
    int32_t start = 0;  // read position of the grain's first sample, relative to the chunk start
    int32_t age = 0;    // samples already produced: the window index
    const float* window = nullptr;
    int32_t length = 0;
};

// One grain's samples [begin, end) of the current chunk; `age` is its age at `begin`.
struct GrainSegment {
    uint32_t slot;
    uint32_t begin;
    uint32_t end;
    int32_t start;
    int32_t age;
};

// Processing chunk of both engines: pending parameters become current between chunks.
constexpr uint32_t kGrainChunk = 32768;
// Samples handled per bookkeeping pass (a chunk is walked in runs of this many samples).
constexpr uint32_t kGrainRun = 512;
// Longest grain accepted, in samples (about 23.8 s at 44.1 kHz): longer requests are cut to it.
constexpr uint32_t kMaxGrainLength = 1u << 20;

// trunc(rate * seconds * 1.5330188679245282) in double, 0 for negative or NaN, capped.
uint32_t grainLengthFor(float rate, float seconds);
// trunc(rate * seconds) in double; a hop below one sample becomes one sample.
uint32_t hopLengthFor(float rate, float seconds);

// window[i] = exp(-(i * 13 / length - 6.5)^2 / 4): a Gaussian spanning -6.5 ... +6.5.
void fillGaussianWindow(float* window, uint32_t length);

// 10^(dB * 0.05) as a float.
float gainFromDb(float db);

class GrainSlots {
public:
    GrainSlots() = default;
    ~GrainSlots();
    GrainSlots(const GrainSlots&) = delete;
    GrainSlots& operator=(const GrainSlots&) = delete;

    // Makes room for `count` slots (grows only; keeps the array when large enough). False when
    // memory runs out (the slots are then empty).
    bool reserve(uint32_t count);
    void release();

    // Sets the slot count and hop, deactivates every slot and clears the hop counter.
    void reset(uint32_t count, uint32_t hopSamples);

    // Bookkeeping for samples [begin, end) of the chunk (end - begin <= kGrainRun): starts a
    // grain at every hop boundary in the first free slot with start = startAt(i), ages every
    // grain, and writes the covered segments to `segments`, sorted by slot. Returns their count.
    template <class StartAt>
    uint32_t advance(uint32_t begin, uint32_t end, int32_t length, const float* window, StartAt startAt);

    // start -= n for every active grain (end of a chunk of n input samples).
    void shiftStarts(uint32_t n);

    Grain* grains = nullptr;
    GrainSegment* segments = nullptr;  // room for capacity + kGrainRun + 1 segments
    uint32_t count = 0;
    uint32_t capacity = 0;
    uint32_t hop = 1;
    uint32_t hopCounter = 0;  // samples since the last grain start, 0 ... hop - 1

private:
    void sortSegments(uint32_t n);
};

template <class StartAt>
uint32_t GrainSlots::advance(uint32_t begin, uint32_t end, int32_t length, const float* window, StartAt startAt) {
    // Inside a run a grain's age at sample i is age + (i - begin), so a grain started at i
    // holds age = begin - i (negative until the run reaches it).
    uint32_t n = 0;
    auto close = [&](uint32_t slot, const Grain& g) {
        const int64_t first = int64_t{begin} - g.age;  // sample at which the grain had age 0
        const int64_t from = first > begin ? first : int64_t{begin};
        const int64_t to = first + g.length < end ? first + g.length : int64_t{end};
        if (to > from)
            segments[n++] = {slot, uint32_t(from), uint32_t(to), g.start, int32_t(g.age + (from - begin))};
    };
    uint32_t i = begin + (hopCounter == 0 ? 0 : hop - hopCounter);
    for (; i < end; i += hop) {
        for (uint32_t s = 0; s < count; ++s) {
            Grain& g = grains[s];
            if (g.active && int64_t{g.age} + (i - begin) < g.length) continue;
            if (g.active) close(s, g);
            g.active = true;
            g.start = startAt(i);
            g.age = int32_t(int64_t{begin} - i);
            g.window = window;
            g.length = length;
            break;
        }
    }
    for (uint32_t s = 0; s < count; ++s) {
        Grain& g = grains[s];
        if (!g.active) continue;
        close(s, g);
        g.age += int32_t(end - begin);
        if (g.age >= g.length) g.active = false;
    }
    hopCounter = uint32_t((uint64_t{hopCounter} + (end - begin)) % hop);
    sortSegments(n);
    return n;
}

}  // namespace dsp
