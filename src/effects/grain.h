// The grain scheme shared by the pitch shifter and the time stretcher: Gaussian-windowed grains
// started every `hop` samples in the first free slot, their outputs averaged by window weight.
//
// The engines run the per-sample rule ("at a hop boundary start a grain in the first inactive
// slot, then let every active grain contribute in slot order, then age it") in a grain-major
// order for speed: GrainSlots::advance does the bookkeeping for a run of samples and returns,
// per slot, the stretch of samples each grain covers; the engines then accumulate those
// segments slot by slot, so every output sample still sums its grains in slot order.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>

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

// What both engines keep besides their parameters: the input history (a ring, newest sample at
// `historyPos`, `span` entries in use), a scratch copy of it in reading order, the window and
// the grain slots. x[j] for j < 0 is history[(historyPos - 1 - j) mod span].
class GrainBank {
public:
    GrainBank() = default;
    ~GrainBank() { release(); }
    GrainBank(const GrainBank&) = delete;
    GrainBank& operator=(const GrainBank&) = delete;

    // Makes room (reusing arrays that are large enough) for `historyLength` history entries,
    // `pastLength` scratch entries, the window of `grainLength` and `count` slots; clears the
    // history, fills the window, resets the slots to `hopSamples` and historyPos to 0. May
    // allocate; false (everything freed) when memory runs out.
    bool setup(uint32_t grainLength, uint32_t hopSamples, uint32_t count, uint32_t historyLength,
               uint32_t pastLength);
    void release();

    // As if the engine had been running: slot k - 1 (k = 1 ... count) is k hops old and
    // starts at startOf(k).
    template <class StartOf>
    void stagger(StartOf startOf);

    // x[j] for -span <= j < 0.
    float historyAt(int64_t j, uint32_t span) const {
        return history[(uint64_t{historyPos} + uint64_t(-j) - 1) % span];
    }
    // pastBase[j] = x[j] for j = -1 ... -depth (depth <= span).
    void unroll(float* pastBase, int64_t depth, uint32_t span) const;
    // Keeps the last samples of a chunk of n: afterwards x[-1 - m] = in[n - 1 - m] for m < min(n, span).
    void remember(const float* in, uint32_t n, uint32_t span);

    bool ready() const { return ready_; }

    uint32_t grainLength = 0;
    uint32_t historyPos = 0;
    float* history = nullptr;
    float* past = nullptr;
    float* window = nullptr;
    GrainSlots slots;

private:
    bool ready_ = false;
    uint32_t historyCapacity_ = 0;
    uint32_t pastCapacity_ = 0;
    uint32_t windowCapacity_ = 0;
};

template <class StartOf>
void GrainBank::stagger(StartOf startOf) {
    for (uint32_t k = 1; k <= slots.count; ++k) {
        Grain& g = slots.grains[k - 1];
        g.active = true;
        g.start = int32_t(startOf(k));
        g.age = int32_t(int64_t{grainLength} - int64_t{slots.hop} * k);
        g.window = window;
        g.length = int32_t(grainLength);
    }
}

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

// Base of both engines: the bank, the parameters they share (grain length, output gain, bypass
// and history span, each span and bypass current and pending), the read-only views, and the
// walk over a chunk that sums the grains' segments run by run.
class GrainEngine {
public:
    GrainEngine(const GrainEngine&) = delete;
    GrainEngine& operator=(const GrainEngine&) = delete;

    // Output level in dB; takes effect at once.
    void setOutLevel(float outLevel) { outGain_ = gainFromDb(outLevel); }

    uint32_t grainLength() const { return grainLength_; }
    uint32_t hop() const { return bank_.slots.hop; }
    uint32_t grainCount() const { return bank_.slots.count; }
    uint32_t span() const { return span_; }
    uint32_t spanPending() const { return spanPending_; }
    float outGain() const { return outGain_; }
    bool bypass() const { return bypass_; }
    uint32_t historyPos() const { return bank_.historyPos; }
    uint32_t hopCounter() const { return bank_.slots.hopCounter; }
    bool ready() const { return bank_.ready(); }
    const Grain* grains() const { return bank_.slots.grains; }

protected:
    explicit GrainEngine(uint32_t span) : spanPending_(span), span_(span) {}
    ~GrainEngine() = default;

    // Rate, grain length and output gain from the setup arguments (times in seconds, level in
    // dB); returns the hop in samples.
    uint32_t setTimes(uint32_t rate, float outLevel, float grainTime, float hopTime) {
        rate_ = float(rate);
        grainLength_ = grainLengthFor(rate_, grainTime);
        outGain_ = gainFromDb(outLevel);
        return hopLengthFor(rate_, hopTime);
    }
    // The bank for the current grain length with grainLength / hop slots (see GrainBank::setup).
    bool setupBank(uint32_t hopSamples, uint32_t historyLength, uint32_t pastLength) {
        return bank_.setup(grainLength_, hopSamples, grainLength_ / hopSamples, historyLength, pastLength);
    }

    // Output samples [0, n) of a chunk: grains start at startAt(i) (see GrainSlots::advance);
    // in bypass out copies in, else accumulate(segment, acc, wsum) adds one grain segment to
    // the sums of its first sample (accumulators of type Sum) and out = acc x gain / wsum, or
    // 0 where no window weight arrived.
    template <class Sum, class StartAt, class Accumulate>
    void runGrains(const float* in, float* out, uint32_t n, StartAt startAt, Accumulate accumulate);

    GrainBank bank_;
    float rate_ = 0.0f;
    uint32_t grainLength_ = 0;
    float outGain_ = 1.0f;
    bool bypassPending_ = false;
    bool bypass_ = false;
    uint32_t spanPending_;
    uint32_t span_;
};

template <class Sum, class StartAt, class Accumulate>
void GrainEngine::runGrains(const float* in, float* out, uint32_t n, StartAt startAt, Accumulate accumulate) {
    const double gain = outGain_;
    for (uint32_t begin = 0; begin < n; begin += kGrainRun) {
        const uint32_t end = std::min(n, begin + kGrainRun);
        const uint32_t segmentCount = bank_.slots.advance(begin, end, int32_t(grainLength_), bank_.window, startAt);
        if (bypass_) {
            std::memcpy(out + begin, in + begin, (end - begin) * sizeof(float));
            continue;
        }
        Sum acc[kGrainRun];
        Sum wsum[kGrainRun];
        std::fill(acc, acc + (end - begin), Sum(0));
        std::fill(wsum, wsum + (end - begin), Sum(0));
        for (uint32_t s = 0; s < segmentCount; ++s) {
            const GrainSegment& seg = bank_.slots.segments[s];
            accumulate(seg, acc + (seg.begin - begin), wsum + (seg.begin - begin));
        }
        for (uint32_t i = begin; i < end; ++i) {
            const Sum sum = wsum[i - begin];
            out[i] = sum > Sum(0) ? float(double(acc[i - begin]) * gain / double(sum)) : 0.0f;
        }
    }
}

}  // namespace dsp
