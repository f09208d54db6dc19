// Onset slicer: band-limits a mono stream to 2-20 kHz, follows its envelope and cuts it into
// slices at the valley before each sufficiently large rise.
#pragma once
#include <cstdint>

#include "analysis/envelope_tracker.h"
#include "dsp.h"
#include "filters/biquad_cascade.h"

namespace dsp {

using SliceRecord = DspSliceRecord;

class WaveSlicer {
public:
    WaveSlicer() = default;
    ~WaveSlicer();
    WaveSlicer(const WaveSlicer&) = delete;
    WaveSlicer& operator=(const WaveSlicer&) = delete;

    // Sets the levels and block capacity, releases every slice and the detection state, and
    // designs the band-limiting filters. The rate must exceed 40000 Hz (20 kHz lowpass). Not
    // ready() when memory runs out; detect() then does nothing.
    void setup(uint32_t size, float rate, float onDb, float offDb, float risePercent, float minLengthSec);

    // Runs `frames` mono samples (at most the capacity) through the detector; returns the
    // number of slices recorded so far.
    uint32_t detect(const float* in, uint32_t frames);

    // Closes an open slice at the current position.
    uint32_t flush();

    // The record at `index`, the last one for an index past the end, nullptr when none.
    const SliceRecord* sliceAt(uint32_t index) const;

    bool ready() const { return ready_; }

    float rate = 0.0f;
    float secondsPerFrame = 0.0f;
    float onLevel = 0.0f;
    float offLevel = 0.0f;
    float minRise = 0.0f;
    uint32_t minLength = 0;
    uint32_t capacity = 0;
    bool inSlice = false;
    float valleyLevel = 1.0f;
    uint32_t valleyPos = 0;
    bool armed = false;
    float peakLevel = 0.0f;
    bool seekingValley = true;
    uint32_t sliceStart = 0;
    uint32_t position = 0;
    EnvelopeTracker tracker;
    ButterworthFilter lowpass;
    ButterworthFilter highpass;
    float* work = nullptr;
    SliceRecord* head = nullptr;
    SliceRecord* tail = nullptr;
    uint32_t count = 0;

private:
    void append(uint32_t startFrame, uint32_t endFrame);
    void release();  // frees the work block and every record, clears the detection state

    bool ready_ = false;
};

}  // namespace dsp
