#include "exciter/transfer_curve.h"

#include <algorithm>
#include <cmath>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

namespace dsp {

TransferCurve::~TransferCurve() { freePoints(); }

void TransferCurve::freePoints() {
    CurvePoint* p = first_;
    while (p) {
        CurvePoint* next = p->next;
        delete p;
        p = next;
    }
    first_ = last_ = cursor_ = nullptr;
    count_ = 0;
    initialised_ = false;
    indexStale_ = true;
}

void TransferCurve::reserveFlat() {
    const auto n = static_cast<std::size_t>(count_);
    if (flatPoint_.size() >= n) return;
    const std::size_t room = std::max<std::size_t>(2 * n, 72);
    // Out of memory: no flat copy, and applyCurve then passes its input through.
    if (!(flatX_.allocate(room) && flatY_.allocate(room) && flatSlope_.allocate(room) && flatPoint_.allocate(room)))
        flatPoint_.allocate(0);
}

void TransferCurve::rebuildIndex() {
    int32_t k = 0;
    for (CurvePoint* p = first_; p; p = p->next, ++k) {
        flatX_[k] = p->x;
        flatY_[k] = p->y;
        flatSlope_[k] = p->slope;
        flatPoint_[k] = p;
    }
    int32_t at = 0;
    for (int b = 0; b < kIndexSize; ++b) {
        const float start = static_cast<float>(b) / kIndexSize;
        while (at + 1 < count_ && flatX_[at + 1] <= start) ++at;
        index_[b] = at;
    }
    indexStale_ = false;
}

void TransferCurve::resetCurve() {
    freePoints();
    first_ = new CurvePoint{0.0f, 0.0f, 1.0f, nullptr, nullptr};
    last_ = new CurvePoint{1.0f, 1.0f, 0.0f, nullptr, first_};
    first_->next = last_;
    cursor_ = last_;
    count_ = 2;
    initialised_ = true;
    indexStale_ = true;
    reserveFlat();
}

int32_t TransferCurve::addPoint(float x, float y) {
    if (!initialised_) resetCurve();
    x = std::min(std::max(x, 0.0f), 1.0f);
    y = std::min(std::max(y, -1.0f), 1.0f);
    CurvePoint* p = last_;
    while (p->prev && p->x > x) p = p->prev;
    if (p == last_ || p->x == x || p->next->x == x) return count_;
    CurvePoint* next = p->next;
    auto* point = new CurvePoint{x, y, 0.0f, next, p};
    point->slope = static_cast<float>((static_cast<double>(next->y) - y) / (static_cast<double>(next->x) - x));
    p->slope = static_cast<float>((static_cast<double>(y) - p->y) / (static_cast<double>(x) - p->x));
    p->next = point;
    next->prev = point;
    indexStale_ = true;
    ++count_;
    reserveFlat();
    return count_;
}

namespace {

struct FlatCurve {
    const double* xs;
    const double* ys;
    const double* slopes;
    const int32_t* index;
    int32_t last;
    float top;  // the last point's y

    // One sample, moving the cursor. The segment holding a magnitude below 1 is unique (x
    // strictly increases from 0), so the lookup from the index finds the point the walk from
    // the previous one would. A magnitude of 1 or more (also infinite) lands on the last point,
    // whose value is its y; a NaN leaves the previous point in place.
    float step(float v, int32_t& cursor) const {
        const float a = std::fabs(v);
        float y;
        if (a < 1.0f) {
            int32_t k = index[static_cast<int>(a * TransferCurve::kIndexSize)];
            while (a >= xs[k + 1]) ++k;
            cursor = k;
            y = static_cast<float>((static_cast<double>(a) - xs[k]) * slopes[k] + ys[k]);
        } else if (a >= 1.0f || cursor == last) {
            cursor = a >= 1.0f ? last : cursor;
            y = top;
        } else {
            y = static_cast<float>((static_cast<double>(a) - xs[cursor]) * slopes[cursor] + ys[cursor]);
        }
        return v >= 0.0f ? y : -y;
    }
};

#if defined(__x86_64__) && defined(__GNUC__)
#define DSP_CURVE_GATHER 1

bool gatherSupported() {
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported;
}

__attribute__((target("avx2"))) inline __m256d gather(const double* base, __m128i index) {
    const __m256d all = _mm256_castsi256_pd(_mm256_set1_epi64x(-1));
    return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), base, index, all, 8);
}

// Four samples per step, the points fetched by gathers: the same comparisons and double
// arithmetic per lane as FlatCurve::step. A group holding a NaN goes through step().
__attribute__((target("avx2"))) uint32_t applyGather(const FlatCurve& c, const float* in, float* out,
                                                     uint32_t frames, int32_t& cursor) {
    const __m128 sign = _mm_set1_ps(-0.0f);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 scale = _mm_set1_ps(static_cast<float>(TransferCurve::kIndexSize));
    const __m128 top = _mm_set1_ps(c.top);
    const __m128i step = _mm_set1_epi32(1);
    uint32_t i = 0;
    for (; i + 4 <= frames; i += 4) {
        const __m128 v = _mm_loadu_ps(in + i);
        const __m128 a = _mm_andnot_ps(sign, v);
        if (_mm_movemask_ps(_mm_cmpunord_ps(a, a)) != 0) {
            for (uint32_t j = i; j < i + 4; ++j) out[j] = c.step(in[j], cursor);
            continue;
        }
        const __m128 below = _mm_cmplt_ps(a, one);
        const __m128i bucket = _mm_and_si128(_mm_cvttps_epi32(_mm_mul_ps(a, scale)), _mm_castps_si128(below));
        __m128i k = _mm_i32gather_epi32(c.index, bucket, 4);
        const __m256d wideA = _mm256_cvtps_pd(a);
        for (;;) {
            const __m256d next = gather(c.xs, _mm_add_epi32(k, step));
            const __m256d beyond = _mm256_cmp_pd(wideA, next, _CMP_GE_OQ);
            const __m128 pairs = _mm_shuffle_ps(_mm_castpd_ps(_mm256_castpd256_pd128(beyond)),
                                                _mm_castpd_ps(_mm256_extractf128_pd(beyond, 1)),
                                                _MM_SHUFFLE(2, 0, 2, 0));
            const __m128i move = _mm_and_si128(_mm_castps_si128(pairs), _mm_castps_si128(below));
            if (_mm_movemask_epi8(move) == 0) break;
            k = _mm_sub_epi32(k, move);  // lanes still at or past the next point move on
        }
        const __m256d x = gather(c.xs, k);
        const __m256d slope = gather(c.slopes, k);
        const __m256d y0 = gather(c.ys, k);
        const __m128 inner = _mm256_cvtpd_ps(_mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(wideA, x), slope), y0));
        const __m128 y = _mm_blendv_ps(top, inner, below);
        const __m128 nonNegative = _mm_cmpge_ps(v, _mm_setzero_ps());
        _mm_storeu_ps(out + i, _mm_blendv_ps(_mm_xor_ps(y, sign), y, nonNegative));
        cursor = _mm_extract_ps(below, 3) != 0 ? _mm_extract_epi32(k, 3) : c.last;
    }
    return i;
}
#endif

}  // namespace

bool TransferCurve::wideKernels = true;

void TransferCurve::applyCurve(const float* in, float* out, uint32_t frames) {
    if (!initialised_) resetCurve();
    if (flatPoint_.size() < static_cast<std::size_t>(count_)) {
        if (in != out) std::copy(in, in + frames, out);
        return;
    }
    if (indexStale_) rebuildIndex();
    const int32_t last = count_ - 1;
    const FlatCurve curve{flatX_.data(), flatY_.data(), flatSlope_.data(), index_, last,
                          static_cast<float>(flatY_[last])};
    int32_t cursor = 0;
    while (flatPoint_[cursor] != cursor_) ++cursor;
    uint32_t i = 0;
#if defined(DSP_CURVE_GATHER)
    if (wideKernels && gatherSupported()) i = applyGather(curve, in, out, frames, cursor);
#endif
    for (; i < frames; ++i) out[i] = curve.step(in[i], cursor);
    cursor_ = flatPoint_[cursor];
}

void TransferCurve::buildFromHarmonics(float harmonics) {
    constexpr double kQuarterPi = 0.7853981633974483;
    const float cx = static_cast<float>(0.5 - std::cos(kQuarterPi) * harmonics);
    const float cy = static_cast<float>(0.5 + std::sin(kQuarterPi) * harmonics);
    resetCurve();
    float t = 0.0f;
    for (int i = 1; i <= 63; ++i) {
        t += 0.015625f;
        const double td = t;
        const float x = static_cast<float>(2.0 * (1.0 - td) * cx * td + td * td);
        const float y = static_cast<float>(2.0 * (1.0 - td) * cy * td + td * td);
        addPoint(x, y);
    }
}

}  // namespace dsp
