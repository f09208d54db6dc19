#include "effects/grain.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace dsp {

namespace {

// trunc(product) as a sample count: 0 for negative or NaN, at most `cap`.
uint32_t samplesFrom(double product, uint32_t cap) {
    if (!(product > 0.0)) return 0;
    if (product >= double(cap)) return cap;
    return uint32_t(product);
}

}  // namespace

uint32_t grainLengthFor(float rate, float seconds) {
    return samplesFrom(double(rate) * double(seconds) * 1.5330188679245282, kMaxGrainLength);
}

uint32_t hopLengthFor(float rate, float seconds) {
    // A hop below one sample would leave the slot count a division by zero: it becomes 1.
    return std::max<uint32_t>(1, samplesFrom(double(rate) * double(seconds), kMaxGrainLength));
}

void fillGaussianWindow(float* window, uint32_t length) {
    for (uint32_t i = 0; i < length; ++i) {
        const double x = double(i) * 13.0 / double(length) - 6.5;
        window[i] = float(std::exp(-(x * x) / 4.0));
    }
}

float gainFromDb(float db) { return float(std::pow(10.0, double(db) * 0.05)); }

GrainSlots::~GrainSlots() { release(); }

void GrainSlots::release() {
    delete[] grains;
    delete[] segments;
    grains = nullptr;
    segments = nullptr;
    capacity = 0;
    count = 0;
}

bool GrainSlots::reserve(uint32_t wanted) {
    if (grains != nullptr && capacity >= wanted) return true;
    release();
    grains = new (std::nothrow) Grain[wanted == 0 ? 1 : wanted];
    segments = new (std::nothrow) GrainSegment[size_t{wanted} + kGrainRun + 1];
    if (grains == nullptr || segments == nullptr) {
        release();
        return false;
    }
    capacity = wanted;
    return true;
}

void GrainSlots::reset(uint32_t slotCount, uint32_t hopSamples) {
    count = std::min(slotCount, capacity);
    hop = hopSamples == 0 ? 1 : hopSamples;
    hopCounter = 0;
    for (uint32_t s = 0; s < capacity; ++s) grains[s] = Grain{};
}

void GrainSlots::shiftStarts(uint32_t n) {
    for (uint32_t s = 0; s < count; ++s)
        if (grains[s].active) grains[s].start -= int32_t(n);
}

void GrainSlots::sortSegments(uint32_t n) {
    std::sort(segments, segments + n,
              [](const GrainSegment& a, const GrainSegment& b) { return a.slot < b.slot; });
}

namespace {

// Keeps `array` when it holds `wanted` entries already, else replaces it (nullptr when memory
// runs out).
float* ensure(float*& array, uint32_t& capacity, uint32_t wanted) {
    if (array != nullptr && capacity >= wanted) return array;
    delete[] array;
    array = new (std::nothrow) float[wanted == 0 ? 1 : wanted];
    capacity = array == nullptr ? 0 : wanted;
    return array;
}

}  // namespace

void GrainBank::release() {
    delete[] history;
    delete[] past;
    delete[] window;
    history = past = window = nullptr;
    historyCapacity_ = pastCapacity_ = windowCapacity_ = 0;
    slots.release();
    ready_ = false;
}

bool GrainBank::setup(uint32_t length, uint32_t hopSamples, uint32_t count, uint32_t historyLength,
                      uint32_t pastLength) {
    grainLength = length;
    if (ensure(history, historyCapacity_, historyLength) == nullptr || ensure(past, pastCapacity_, pastLength) == nullptr ||
        ensure(window, windowCapacity_, length) == nullptr || !slots.reserve(count)) {
        release();
        return false;
    }
    std::fill(history, history + historyLength, 0.0f);
    fillGaussianWindow(window, length);
    slots.reset(count, hopSamples);
    historyPos = 0;
    ready_ = true;
    return true;
}

void GrainBank::unroll(float* pastBase, int64_t depth, uint32_t span) const {
    uint32_t at = span == 0 ? 0 : historyPos % span;
    for (int64_t j = -1; j >= -depth; --j) {  // x[-1 - m] = history[(historyPos + m) mod span]
        pastBase[j] = history[at];
        if (++at == span) at = 0;
    }
}

void GrainBank::remember(const float* in, uint32_t n, uint32_t span) {
    if (span == 0) return;  // zero-length grains keep no history
    uint32_t count = n;
    if (span > n) {
        historyPos = uint32_t((uint64_t{historyPos} + span - n) % span);
    } else {
        count = span;
    }
    uint32_t at = historyPos % span;
    for (uint32_t j = 1; j <= count; ++j) {
        history[at] = in[n - j];
        if (++at == span) at = 0;
    }
}

}  // namespace dsp
