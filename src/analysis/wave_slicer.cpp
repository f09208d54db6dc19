#include "analysis/wave_slicer.h"

#include <cmath>
#include <new>

namespace dsp {

namespace {
constexpr float kLowpassHz = 20000.0f;
constexpr float kHighpassHz = 2000.0f;
constexpr int32_t kBandOrder = 16;
}  // namespace

WaveSlicer::~WaveSlicer() { release(); }

void WaveSlicer::release() {
    delete[] work;
    work = nullptr;
    for (SliceRecord* record = head; record != nullptr;) {
        SliceRecord* next = record->next;
        delete record;
        record = next;
    }
    head = tail = nullptr;
    count = 0;
    inSlice = false;
    valleyLevel = 1.0f;
    valleyPos = 0;
    armed = false;
    peakLevel = 0.0f;
    seekingValley = true;
    sliceStart = 0;
    position = 0;
    ready_ = false;
}

void WaveSlicer::setup(uint32_t size, float rate_, float onDb, float offDb, float risePercent, float minLengthSec) {
    capacity = size;
    rate = rate_;
    secondsPerFrame = static_cast<float>(1.0 / rate_);
    onLevel = static_cast<float>(std::pow(10.0, onDb * 0.05));
    offLevel = static_cast<float>(std::pow(10.0, offDb * 0.05));
    minRise = static_cast<float>(risePercent * 0.01);
    const double frames = static_cast<double>(rate_) * static_cast<double>(minLengthSec);
    // Negative or non-finite lengths mean "no minimum"; huge ones saturate.
    minLength = !(frames > 0.0) ? 0 : frames >= 4294967295.0 ? 4294967295u : static_cast<uint32_t>(frames);
    if (ready_) release();
    work = new (std::nothrow) float[size == 0 ? 1 : size];
    if (work == nullptr) return;  // stays not ready: detect() then does nothing
    tracker.setup(size, rate_, EnvelopeTracker::kOrder, EnvelopeTracker::kCutoffHz, EnvelopeTracker::kInputGain,
                  false, 1.0f);
    lowpass.setOrder(kBandOrder, 0);
    lowpass.design(rate_, kLowpassHz);
    highpass.setOrder(kBandOrder, 1);
    highpass.design(rate_, kHighpassHz);
    ready_ = true;
}

void WaveSlicer::append(uint32_t startFrame, uint32_t endFrame) {
    // A record that cannot be allocated is dropped; the detector state moves on regardless.
    auto* record = new (std::nothrow) SliceRecord;
    if (record == nullptr) return;
    record->startTime = static_cast<float>(static_cast<double>(startFrame) * secondsPerFrame);
    record->endTime = static_cast<float>(static_cast<double>(endFrame) * secondsPerFrame);
    record->next = nullptr;
    record->prev = tail;
    if (tail != nullptr) tail->next = record; else head = record;
    tail = record;
    ++count;
}

uint32_t WaveSlicer::detect(const float* in, uint32_t frames) {
    if (!ready_) return count;
    if (frames > capacity) frames = capacity;
    lowpass.process(in, work, frames);
    highpass.process(work, work, frames);
    tracker.process(work, work, static_cast<int32_t>(frames));
    for (uint32_t i = 0; i < frames; ++i) {
        const float e = work[i];
        const uint32_t p = position;
        const bool rises = e >= onLevel && armed && static_cast<double>(e) - valleyLevel >= minRise;
        if (!inSlice) {
            if (rises) {
                inSlice = true;
                sliceStart = valleyPos;
                armed = false;
            }
        } else if (e < offLevel && p - sliceStart > minLength) {
            append(sliceStart, p);
            inSlice = false;
        } else if (rises && p - sliceStart > minLength) {
            append(sliceStart, valleyPos);
            sliceStart = valleyPos;
            armed = false;
        }

        if (seekingValley && e > valleyLevel) {
            peakLevel = e;
            seekingValley = false;
            armed = true;
        } else if (!seekingValley && e < peakLevel) {
            valleyLevel = e;
            valleyPos = p;
            armed = false;
            seekingValley = true;
        } else if (!seekingValley) {
            peakLevel = e;
        } else {
            valleyLevel = e;
            valleyPos = p;
        }
        position = p + 1;
    }
    return count;
}

uint32_t WaveSlicer::flush() {
    if (inSlice) {
        append(sliceStart, position);
        inSlice = false;
    }
    return count;
}

const SliceRecord* WaveSlicer::sliceAt(uint32_t index) const {
    const SliceRecord* record = head;
    if (record == nullptr) return nullptr;
    while (index-- != 0 && record->next != nullptr) record = record->next;
    return record;
}

}  // namespace dsp
