// Recursive lowpass/highpass filters as cascades of second-order sections, coefficients and
// state in double, run over float buffers. Shared by the envelope follower, the slicer, the
// rate converter and the IIR filter effect.
//
// Use: construct -> setOrder(order, type) -> design(rate, cutoff) -> process(...) repeatedly.
//  - setOrder clears the history and makes every section the identity (no design = pass-through);
//    it may allocate, everything else never does.
//  - A design call rewrites the coefficients only: redesigning a running filter keeps its history.
//  - Highpass designs are the lowpass for rate/2 - cutoff with the frequency axis reflected.
//  - Odd orders end with one first-order section. Order <= 0: no sections, process copies.
//  - Section convention (feedback stored additive):
//        w = (a1*w1 + a2*w2) + x;  y = (b0*w + b1*w1) + b2*w2;  w2 = w1; w1 = w
//    i.e. H(z) = (b0 + b1 z^-1 + b2 z^-2) / (1 - a1 z^-1 - a2 z^-2).
//  - No latency beyond the filter's own phase response. Objects are held by value, not copyable.
#pragma once
#include <cstdint>

namespace dsp {

enum FilterType : int32_t { kLowpass = 0, kHighpass = 1 };  // any value but 1 is a lowpass

struct BiquadSection {
    double a1, a2, b0, b1, b2;
};

// The section arrays of a cascade, for kernels that run the recursion inline with other work
// (see filters/cascade_lanes.h): five coefficient arrays and the two state arrays.
struct BiquadArrays {
    const double *a1, *a2, *b0, *b1, *b2;
    double *w1, *w2;
};

class BiquadCascade {
public:
    BiquadCascade() = default;
    BiquadCascade(const BiquadCascade&) = delete;
    BiquadCascade& operator=(const BiquadCascade&) = delete;
    virtual ~BiquadCascade();

    // Sets order and type (1 = highpass), resizes the section arrays (kept when the previous
    // section count is at least the new one), resets every section to identity and zero state.
    virtual void setOrder(int32_t order, int32_t type);

    // Computes every coefficient for `rate` and `cutoff` (Hz; 0 < cutoff < rate/2). History kept.
    virtual void design(float rate, float cutoff) = 0;

    // Filters `frames` samples; `in` may equal `out`. Never allocates.
    virtual void process(const float* in, float* out, uint32_t frames);

    // Runs two cascades side by side (one per lane), bit-identical to a.process(inA, outA) and
    // b.process(inB, outB); cascades with different section counts run one after the other.
    static void processPair(BiquadCascade& a, const float* inA, float* outA, BiquadCascade& b,
                            const float* inB, float* outB, uint32_t frames);
    // Pairs run in the widest registers cpu::level() allows (same results).

    int32_t order() const { return order_; }
    int32_t sectionCount() const { return sectionCount_; }
    float rate() const { return rate_; }
    float cutoff() const { return cutoff_; }  // effective lowpass prototype cutoff
    float sign() const { return sign_; }
    BiquadSection section(int32_t s) const { return {a1_[s], a2_[s], b0_[s], b1_[s], b2_[s]}; }
    double w1(int32_t s) const { return w1_[s]; }
    double w2(int32_t s) const { return w2_[s]; }
    const double* storage() const { return storage_; }
    BiquadArrays arrays() { return {a1_, a2_, b0_, b1_, b2_, w1_, w2_}; }

protected:
    bool ready_ = false;
    int32_t order_ = 0;
    float rate_ = 0.0f;
    int32_t sectionCount_ = 0;
    float cutoff_ = 0.0f;
    float sign_ = 1.0f;
    double* a1_ = nullptr;
    double* a2_ = nullptr;
    double* b0_ = nullptr;
    double* b1_ = nullptr;
    double* b2_ = nullptr;
    double* w1_ = nullptr;
    double* w2_ = nullptr;

private:
    double* storage_ = nullptr;  // the seven arrays in one block
};

// Maximally flat response, -3 dB at the cutoff.
class ButterworthFilter : public BiquadCascade {
public:
    void design(float rate, float cutoff) override;
};

// Chebyshev type I: equiripple passband peaking at exactly 1, `rippleDb` down at the cutoff.
class ChebyshevFilter : public BiquadCascade {
public:
    static constexpr float kDefaultRippleDb = 1.0f;
    void design(float rate, float cutoff) override { designWithRipple(rate, cutoff, kDefaultRippleDb); }
    void designWithRipple(float rate, float cutoff, float rippleDb);
    float rippleDb() const { return rippleDb_; }

private:
    float rippleDb_ = 0.0f;
};

}  // namespace dsp
