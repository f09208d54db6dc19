#include "rate/biquad_cascade.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__SSE__)
#include <xmmintrin.h>
#endif

namespace dsp {

namespace {
constexpr double kPi = 3.141592653589793;
constexpr double kHalfPi = 1.5707963267948966;
constexpr int32_t kPairedSectionLimit = 64;  // processPair keeps this many sections in registers/stack

constexpr uint32_t kStageFrames = 256;  // frames filtered in double before rounding to float

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
    if (!(allocated_ && static_cast<uint32_t>(oldCount) >= static_cast<uint32_t>(newCount))) {
        delete[] storage_;
        storage_ = nullptr;
        allocated_ = false;
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
    allocated_ = true;
}

void BiquadCascade::process(const float* in, float* out, uint32_t frames) {
    const int32_t count = sectionCount_;
    if (count == 0) {
        for (uint32_t n = 0; n < frames; ++n) out[n] = in[n];
        return;
    }
    double stage[kStageFrames];
    for (uint32_t start = 0; start < frames; start += kStageFrames) {
        const uint32_t len = std::min(kStageFrames, frames - start);
        {
            FlushScope flush;
            for (uint32_t n = 0; n < len; ++n) {
                double x = in[start + n];
                for (int32_t s = 0; s < count; ++s) {
                    const double w1 = w1_[s];
                    const double w2 = w2_[s];
                    const double w = (a1_[s] * w1 + a2_[s] * w2) + x;
                    x = (b0_[s] * w + b1_[s] * w1) + b2_[s] * w2;
                    w2_[s] = w1;
                    w1_[s] = w;
                }
                stage[n] = x;
            }
        }
        for (uint32_t n = 0; n < len; ++n) out[start + n] = static_cast<float>(stage[n]);
    }
}

void BiquadCascade::processPair(BiquadCascade& a, const float* inA, float* outA, BiquadCascade& b,
                                const float* inB, float* outB, uint32_t frames) {
#if defined(__SSE2__)
    const int32_t count = a.sectionCount_;
    if (count == b.sectionCount_ && count > 0 && count <= kPairedSectionLimit) {
        // Lane 0 carries filter a, lane 1 filter b: the same double operations in the same order.
        __m128d a1[kPairedSectionLimit], a2[kPairedSectionLimit], b0[kPairedSectionLimit];
        __m128d b1[kPairedSectionLimit], b2[kPairedSectionLimit];
        __m128d w1[kPairedSectionLimit], w2[kPairedSectionLimit];
        for (int32_t s = 0; s < count; ++s) {
            a1[s] = _mm_set_pd(b.a1_[s], a.a1_[s]);
            a2[s] = _mm_set_pd(b.a2_[s], a.a2_[s]);
            b0[s] = _mm_set_pd(b.b0_[s], a.b0_[s]);
            b1[s] = _mm_set_pd(b.b1_[s], a.b1_[s]);
            b2[s] = _mm_set_pd(b.b2_[s], a.b2_[s]);
            w1[s] = _mm_set_pd(b.w1_[s], a.w1_[s]);
            w2[s] = _mm_set_pd(b.w2_[s], a.w2_[s]);
        }
        __m128d stage[kStageFrames];
        for (uint32_t start = 0; start < frames; start += kStageFrames) {
            const uint32_t len = std::min(kStageFrames, frames - start);
            {
                FlushScope flush;
                for (uint32_t n = 0; n < len; ++n) {
                    __m128d x = _mm_set_pd(static_cast<double>(inB[start + n]), static_cast<double>(inA[start + n]));
                    for (int32_t s = 0; s < count; ++s) {
                        const __m128d w =
                            _mm_add_pd(_mm_add_pd(_mm_mul_pd(a1[s], w1[s]), _mm_mul_pd(a2[s], w2[s])), x);
                        x = _mm_add_pd(_mm_add_pd(_mm_mul_pd(b0[s], w), _mm_mul_pd(b1[s], w1[s])),
                                       _mm_mul_pd(b2[s], w2[s]));
                        w2[s] = w1[s];
                        w1[s] = w;
                    }
                    stage[n] = x;
                }
            }
            for (uint32_t n = 0; n < len; ++n) {
                const __m128 y = _mm_cvtpd_ps(stage[n]);
                outA[start + n] = _mm_cvtss_f32(y);
                outB[start + n] = _mm_cvtss_f32(_mm_shuffle_ps(y, y, 1));
            }
        }
        for (int32_t s = 0; s < count; ++s) {
            _mm_storel_pd(&a.w1_[s], w1[s]);
            _mm_storeh_pd(&b.w1_[s], w1[s]);
            _mm_storel_pd(&a.w2_[s], w2[s]);
            _mm_storeh_pd(&b.w2_[s], w2[s]);
        }
        return;
    }
#endif
    a.process(inA, outA, frames);
    b.process(inB, outB, frames);
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
