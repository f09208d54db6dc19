#include "exciter/transfer_curve.h"

#include <algorithm>
#include <cmath>

#include "cpu/cpu.h"
#include "exciter/flat_curve.h"

namespace dsp {

TransferCurve::~TransferCurve() { release(); }

void TransferCurve::release() {
    CurvePoint* p = first_;
    while (p) {
        CurvePoint* next = p->next;
        delete p;
        p = next;
    }
    first_ = last_ = cursor_ = nullptr;
    count_ = 0;
    ready_ = false;
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

void TransferCurve::setup() {
    release();
    first_ = new CurvePoint{0.0f, 0.0f, 1.0f, nullptr, nullptr};
    last_ = new CurvePoint{1.0f, 1.0f, 0.0f, nullptr, first_};
    first_->next = last_;
    cursor_ = last_;
    count_ = 2;
    ready_ = true;
    indexStale_ = true;
    reserveFlat();
}

int32_t TransferCurve::addPoint(float x, float y) {
    if (!ready_) setup();
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


void TransferCurve::applyCurve(const float* in, float* out, uint32_t frames) {
    if (!ready_) setup();
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
#if DSP_X86_KERNELS
    if (cpu::atLeast(cpu::Isa::Avx2)) i = curve_kernels::avx2::applyCurve(curve, in, out, frames, cursor);
#endif
    for (; i < frames; ++i) out[i] = curve.step(in[i], cursor);
    cursor_ = flatPoint_[cursor];
}

void TransferCurve::buildFromHarmonics(float harmonics) {
    constexpr double kQuarterPi = 0.7853981633974483;
    const float cx = static_cast<float>(0.5 - std::cos(kQuarterPi) * harmonics);
    const float cy = static_cast<float>(0.5 + std::sin(kQuarterPi) * harmonics);
    setup();
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
