// Per-channel sample-rate converter: linear or cubic-convolution interpolation on a float time
// grid of step src/dst, with a Chebyshev lowpass (0.1 dB ripple, order derived from the wanted
// stopband attenuation and slope) run at the higher rate: after interpolation going up, before
// it going down. Equal rates copy.
//
// Streaming contract: each process() call converts its block on its own grid; the output
// length is trunc(dst * frames / src), recomputed per call (no remainder carried). The grid
// restarts at every chunk of 4096 input frames, and each chunk's last output is its last
// input sample (cubic mode: delayed by two input samples, see below). Only the filter state
// and, in cubic mode, the last three input samples carry over between chunks and calls.
// Cubic output lags linear output by two input samples (the first output of a chunk is the
// second-to-last sample of the previous chunk; silence after setup).
//
// setup() allocates; reset happens in setup; process() never allocates.
#pragma once
#include <cstdint>

#include "filters/biquad_cascade.h"

namespace dsp {

class RateConverter {
public:
    static constexpr uint32_t kChunkFrames = 4096;

    RateConverter() = default;
    RateConverter(const RateConverter&) = delete;
    RateConverter& operator=(const RateConverter&) = delete;
    virtual ~RateConverter();

    // Prepares for blocks of at most `frames` frames and clears all history. interpolation:
    // 0 linear, else cubic. stopbandDb: attenuation wanted at half the lower rate;
    // slopeDbPerOctave: sets the passband edge stopbandDb/slopeDbPerOctave octaves below it.
    // Returns the output frames for a block of `frames`.
    uint32_t setup(uint32_t frames, uint32_t srcRate, uint32_t dstRate, uint32_t interpolation, float stopbandDb,
                   float slopeDbPerOctave, bool filterOn, float rippleDb);

    // Converts `frames` (at most the set-up capacity; more is cut) input frames into `out`,
    // which must hold getDstSize(frames) frames; returns that count. `in` is only read.
    uint32_t process(const float* in, float* out, uint32_t frames);

    // Two converters set up alike (a stereo pair) processed side by side; bit-identical to
    // a.process(inA, outA, frames) and b.process(inB, outB, frames). Returns the output count.
    static uint32_t processPair(RateConverter& a, const float* inA, float* outA, RateConverter& b,
                                const float* inB, float* outB, uint32_t frames);

    // trunc(dstRate * frames / srcRate); 0 for a zero source rate.
    uint32_t getDstSize(uint32_t frames) const;

    bool ready() const { return ready_; }  // setup obtained its storage
    int32_t direction() const { return direction_; }
    uint32_t capacity() const { return capacity_; }
    uint32_t dstFrames() const { return dstFrames_; }
    int32_t filterOrder() const { return filter_.order(); }
    const ChebyshevFilter& filter() const { return filter_; }

private:
    template <int C>
    static void convert(RateConverter* const conv[], const float* const in[], float* const out[], uint32_t frames,
                        uint32_t n);
    template <typename V, int kSections, bool kCubic, bool kUp>
    static void convertFused(RateConverter* const conv[], const float* const in[], float* const out[],
                             uint32_t frames, uint32_t n);
    template <int C>
    static bool convertFusedOf(RateConverter* const conv[], const float* const in[], float* const out[],
                               uint32_t frames, uint32_t n);
    void buildGrid();
    template <int C>
    static void runChunks(RateConverter* const conv[], const float* const src[], float* const dst[], uint32_t frames,
                          uint32_t n);
    bool pairsWith(const RateConverter& other) const;
    void release();

    bool ready_ = false;
    ChebyshevFilter filter_;
    int32_t direction_ = 0;
    uint32_t srcRate_ = 0;
    uint32_t dstRate_ = 0;
    uint32_t capacity_ = 0;
    uint32_t dstFrames_ = 0;
    uint32_t prevChunkFrames_ = 0;
    float* filtered_ = nullptr;
    float* history_ = nullptr;
    double* wide_ = nullptr;  // the chunk's taps widened to double, both channels interleaved
    // The interpolation grid of a chunk, computed once at setup (every chunk restarts it), for
    // the path that runs the filter in the same loop as the interpolation: per output, the
    // unlowered tap index and the fraction (linear) or the four cubic weights.
    uint32_t* gridIndex_ = nullptr;
    double* gridWeights_ = nullptr;
    uint32_t gridCapacity_ = 0;
    bool gridReady_ = false;  // the grid matches the current set-up
    bool fused_ = false;  // the grid is built for the current set-up and the filter is short enough
    uint32_t interpolation_ = 0;
    bool filterOn_ = false;
};

}  // namespace dsp
