#include "filters/biquad_cascade.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <new>
#include <type_traits>

#include "cpu/cpu.h"
#include "filters/cascade_kernels.h"
#include "filters/cascade_lanes.h"

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace dsp {

namespace {
constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;

constexpr uint32_t kStageFrames = 1024;  // frames filtered in double before rounding to float

// Flushes denormal double results to zero while the recursion runs (FTZ), restoring the
// caller's mode after. A decaying state settles into limit cycles just above 2.2e-308 whose
// products are denormal and cost ~100x each; such values can never reach a float output (a
// term below 1e-300 vanishes in any sum that could round to a nonzero float). Denormal inputs
// are still read exactly (no DAZ). Outputs are staged in double and rounded to float in the
// caller's mode, since FTZ would also flush outputs in the float denormal range.
class FlushScope {
public:
#if defined(__SSE__)
    FlushScope() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x8000u); }
    ~FlushScope() { _mm_setcsr(saved_); }

private:
    unsigned saved_;
#endif
};
}  // namespace

BiquadCascade::~BiquadCascade() { delete[] storage_; }

void BiquadCascade::setOrder(int32_t order, int32_t type) {
    order_ = order;
    sign_ = type == kHighpass ? -1.0f : 1.0f;
    const int32_t oldCount = sectionCount_;
    const int32_t newCount = order <= 0 ? 0 : (order % 2 != 0 ? (order + 1) / 2 : order / 2);
    if (!(ready_ && static_cast<uint32_t>(oldCount) >= static_cast<uint32_t>(newCount))) {
        delete[] storage_;
        storage_ = nullptr;
        ready_ = false;
        // A failed allocation leaves no sections: the filter then passes its input through.
        storage_ = newCount > 0 ? new (std::nothrow) double[7 * static_cast<size_t>(newCount)] : nullptr;
        if (newCount > 0 && storage_ == nullptr) {
            sectionCount_ = 0;
            return;
        }
        double* p = storage_;
        for (double** array : {&a1_, &a2_, &b0_, &b1_, &b2_, &w1_, &w2_}) {
            *array = p;
            if (p) p += newCount;
        }
    }
    sectionCount_ = newCount;
    for (int32_t s = 0; s < newCount; ++s) {
        b0_[s] = 1.0;
        a1_[s] = a2_[s] = b1_[s] = b2_[s] = w1_[s] = w2_[s] = 0.0;
    }
    ready_ = true;
}

namespace {

using lanes::Lanes;
using lanes::Pair;

// Runs kCount sections starting at `first` over `len` staged frames, held in registers.
// kFromInput: read the float inputs instead of the stage.
template <typename V, int kCount, bool kFromInput>
void runGroup(const BiquadArrays* f, int32_t first, const float* const in[], uint32_t start, V* stage,
              uint32_t len) {
    lanes::Sections<V, kCount> sections;
    sections.load(f, first);
    for (uint32_t n = 0; n < len; ++n) stage[n] = sections.step(kFromInput ? Lanes<V>::load(in, start + n) : stage[n]);
    sections.save(f, first);
}

template <typename V, bool kFromInput>
void runGroupOf(int32_t count, const BiquadArrays* f, int32_t first, const float* const in[], uint32_t start,
                V* stage, uint32_t len) {
    switch (count) {
        case 1: runGroup<V, 1, kFromInput>(f, first, in, start, stage, len); break;
        case 2: runGroup<V, 2, kFromInput>(f, first, in, start, stage, len); break;
        case 3: runGroup<V, 3, kFromInput>(f, first, in, start, stage, len); break;
        default: runGroup<V, 4, kFromInput>(f, first, in, start, stage, len); break;
    }
}

constexpr int32_t kGroupSections = 4;  // sections per pass over a staged block

// The cascade over `frames` frames: sections in groups of up to four, each group one pass over
// a staged block of doubles, so the value passed between groups is never rounded to float.
template <typename V>
void runCascade(const BiquadArrays* f, int32_t count, const float* const in[], float* const out[],
                uint32_t frames) {
    V stage[kStageFrames];
    for (uint32_t start = 0; start < frames; start += kStageFrames) {
        const uint32_t len = std::min(kStageFrames, frames - start);
        {
            FlushScope flush;
            bool wide = false;
#if DSP_X86_KERNELS
            // Stereo pairs run in the widest registers the processor has (same results).
            if constexpr (std::is_same_v<V, Pair>) {
                wide = cpu::atLeast(cpu::Isa::Avx2);
                if (cpu::level() == cpu::Isa::Avx512)
                    lanes::avx512::runStereoStage(f, count, in, start, stage, len);
                else if (wide)
                    lanes::avx2::runStereoStage(f, count, in, start, stage, len);
            }
#endif
            if (!wide) {
                runGroupOf<V, true>(std::min(kGroupSections, count), f, 0, in, start, stage, len);
                for (int32_t s = kGroupSections; s < count; s += kGroupSections)
                    runGroupOf<V, false>(std::min(kGroupSections, count - s), f, s, in, start, stage, len);
            }
        }
        for (uint32_t n = 0; n < len; ++n) Lanes<V>::store(out, start + n, stage[n]);
    }
}

}  // namespace

void BiquadCascade::process(const float* in, float* out, uint32_t frames) {
    if (sectionCount_ == 0) {
        for (uint32_t n = 0; n < frames; ++n) out[n] = in[n];
        return;
    }
    const BiquadArrays f[1] = {{a1_, a2_, b0_, b1_, b2_, w1_, w2_}};
    const float* const src[1] = {in};
    float* const dst[1] = {out};
    runCascade<double>(f, sectionCount_, src, dst, frames);
}

void BiquadCascade::processPair(BiquadCascade& a, const float* inA, float* outA, BiquadCascade& b,
                                const float* inB, float* outB, uint32_t frames) {
    if (a.sectionCount_ != b.sectionCount_ || a.sectionCount_ == 0) {
        a.process(inA, outA, frames);
        b.process(inB, outB, frames);
        return;
    }
    // Lane 0 carries filter a, lane 1 filter b.
    const BiquadArrays f[2] = {{a.a1_, a.a2_, a.b0_, a.b1_, a.b2_, a.w1_, a.w2_},
                                {b.a1_, b.a2_, b.b0_, b.b1_, b.b2_, b.w1_, b.w2_}};
    const float* const src[2] = {inA, inB};
    float* const dst[2] = {outA, outB};
    runCascade<Pair>(f, a.sectionCount_, src, dst, frames);
}

void ButterworthFilter::design(float rate, float cutoff) {
    const int32_t n = order_;
    const double sigma = sign_;
    rate_ = rate;
    cutoff_ = sign_ > 0.0f ? cutoff : static_cast<float>(static_cast<double>(rate) * 0.5 - cutoff);
    if (sectionCount_ <= 0) return;
    const double t = std::tan(kPi * cutoff_ / rate);
    const double t2 = t * t;
    int32_t k = n % 2 == 0 ? 1 : 2;
    for (int32_t i = 0; i < n / 2; ++i, k += 2) {
        const double theta = k * kHalfPi / n;
        const double c = 2.0 * t * std::cos(theta);
        const double d = c + t2 + 1.0;
        a1_[i] = sigma * (t2 - 1.0) * -2.0 / d;
        a2_[i] = -(1.0 - c + t2) / d;
        b0_[i] = t2 / d;
        b1_[i] = 2.0 * sigma * b0_[i];
        b2_[i] = b0_[i];
    }
    if (n % 2 != 0) {
        const int32_t i = n / 2;
        a1_[i] = -sigma * (t - 1.0) / (t + 1.0);
        b0_[i] = t / (t + 1.0);
        b1_[i] = sigma * b0_[i];
    }
}

void ChebyshevFilter::designWithRipple(float rate, float cutoff, float rippleDb) {
    const int32_t n = order_;
    const double sigma = sign_;
    rate_ = rate;
    rippleDb_ = rippleDb;
    cutoff_ = sign_ > 0.0f ? cutoff : static_cast<float>(static_cast<double>(rate) * 0.5 - cutoff);
    if (sectionCount_ <= 0) return;
    const double rho = rippleDb;
    const double eps = std::sqrt(std::pow(10.0, rho * 0.1) - 1.0);
    const double v = std::log(1.0 / eps + std::sqrt(1.0 / (eps * eps) + 1.0)) / n;
    const double t = std::tan(kPi * cutoff_ / rate);
    const double g = std::pow(1.0 / std::pow(10.0, rho * 0.05), 2.0 / n);
    const double sh = std::sinh(v);
    const double ch = std::cosh(v);
    int32_t k = n % 2 == 0 ? 1 : 2;
    for (int32_t i = 0; i < n / 2; ++i, k += 2) {
        const double theta = k * kHalfPi / n;
        const double a = sh * std::cos(theta);
        const double b = ch * std::sin(theta);
        const double aFloat = static_cast<float>(a);
        const double rp = std::sqrt(aFloat * aFloat + b * b);
        const double zeta = a / rp;
        const double tt = rp * t;
        const double c = 2.0 * tt * zeta;
        const double d = 1.0 + c + tt * tt;
        const double b0 = tt * tt / d;
        const double b1 = 2.0 * sigma * b0;
        a1_[i] = -2.0 * sigma * (tt * tt - 1.0) / d;
        a2_[i] = -(1.0 - c + tt * tt) / d;
        if (n % 2 == 0) {
            b0_[i] = b0 * g;
            b1_[i] = b1 * g;
            b2_[i] = b0 * g;
        } else {
            b0_[i] = b0;
            b1_[i] = b1;
            b2_[i] = b0;
        }
    }
    if (n % 2 != 0) {
        const int32_t i = n / 2;
        const double t1 = sh * t;
        a1_[i] = -sigma * (t1 - 1.0) / (t1 + 1.0);
        b0_[i] = t1 / (t1 + 1.0);
        b1_[i] = sigma * b0_[i];
    }
}

}  // namespace dsp
