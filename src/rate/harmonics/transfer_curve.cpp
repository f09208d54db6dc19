#include "rate/harmonics/transfer_curve.h"

#include <algorithm>
#include <cmath>

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

void TransferCurve::rebuildIndex() {
    CurvePoint* p = first_;
    for (int b = 0; b < kIndexSize; ++b) {
        const float start = static_cast<float>(b) / kIndexSize;
        while (p->next && p->next->x <= start) p = p->next;
        index_[b] = p;
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
    return ++count_;
}

void TransferCurve::applyCurve(const float* in, float* out, uint32_t frames) {
    if (!initialised_) resetCurve();
    if (indexStale_) rebuildIndex();
    CurvePoint* p = cursor_;
    for (uint32_t i = 0; i < frames; ++i) {
        const float v = in[i];
        const float a = std::fabs(v);
        // The segment holding a is unique (x strictly increases), so jumping close to it before
        // walking finds the same point as walking all the way from the previous one.
        if (a < 1.0f) {
            CurvePoint* start = index_[static_cast<int>(a * kIndexSize)];
            if (start->x > p->x || a < p->x) p = start;
        }
        while (p->next && a >= p->next->x) p = p->next;
        while (p->prev && a < p->x) p = p->prev;
        // At or past the last point the value is its y (also for an infinite input).
        const float y = p->next ? static_cast<float>((static_cast<double>(a) - p->x) * p->slope + p->y) : p->y;
        out[i] = v >= 0.0f ? y : -y;
    }
    cursor_ = p;
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
