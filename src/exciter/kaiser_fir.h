// Linear-phase FIR of taps+1 coefficients designed from a Kaiser-windowed sinc: lowpass,
// highpass (by frequency reflection), bandpass and bandstop (by modulation). It delays every
// frequency by taps/2 samples.
#pragma once
#include <cstdint>

#include "exciter/aligned_array.h"
#include "exciter/harmonics_kernels.h"

namespace dsp {

class KaiserFir {
public:
    enum Type : uint32_t { kLowpass = 0, kHighpass = 1, kBandpass = 2, kBandstop = 3 };

    KaiserFir() = default;
    KaiserFir(const KaiserFir&) = delete;
    KaiserFir& operator=(const KaiserFir&) = delete;
    virtual ~KaiserFir() = default;

    // Kaiser window for `attenuationDb` of stopband attenuation over `taps` (a power of two,
    // at least 2) and the design type; clears the history. Allocates when taps grows.
    void setup(float attenuationDb, int32_t taps, uint32_t type);
    // Designs the coefficients at `rate` Hz: lowpass edge f1, highpass edge f1, or the band
    // [f1, f2] for the band types. Keeps the history. Never allocates.
    void designBand(float rate, float f1, float f2);
    // Clears the history.
    void reset();
    // Filters `frames` samples; in == out is allowed. Uses the kernels the switches select.
    void process(const float* in, float* out, uint32_t frames);
    void process(ResultVariant variant, const float* in, float* out, uint32_t frames);

    int32_t taps() const { return taps_; }
    int32_t log2Taps() const { return log2Taps_; }
    float bandCutoff() const { return bandCutoff_; }
    // taps + 1 coefficients; y[n] = sum over k of coefficients()[k] * x[n - k].
    const float* coefficients() const { return coef_.data(); }
    const double* window() const { return window_.data(); }

private:
    bool ready_ = false;
    int32_t taps_ = 0;
    int32_t log2Taps_ = 0;
    float rate_ = 0.0f;
    float bandCutoff_ = 0.0f;
    uint32_t type_ = kLowpass;
    float attenuationDb_ = 0.0f;
    uint32_t mask_ = 0;
    uint32_t half_ = 0;
    // The coefficient and history arrays are 16-byte aligned through aligned_alloc.
    AlignedArray<float> coef_;     // taps + 1
    AlignedArray<float> rows_;     // taps x taps: row r is the kernel tail rotated by r
    AlignedArray<double> response_;  // half + 1: the centre tap and one side
    AlignedArray<float> history_;  // taps: circular, newest sample at writePos_
    AlignedArray<double> window_;  // half + 1
    // 16 taps only: per write position and slot, the coefficients of four (float) and two
    // (double) consecutive outputs, for the kernels that compute one output per lane.
    AlignedArray<float> lanes4_;    // 16 x 16 x 4
    AlignedArray<float> lanes8_;    // 16 x 16 x 8, for the eight-lane forms
    AlignedArray<double> lanes2_;   // 16 x 16 x 2
    bool lanesReady_ = false;
    uint32_t writePos_ = 0;
};

}  // namespace dsp
