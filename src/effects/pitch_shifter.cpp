#include "effects/pitch_shifter.h"

#include "effects/grain_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace dsp {

namespace {

// Cubic convolution kernel with parameter -1: 1 - 2a^2 + a^3 below 1, 4 - 8a + 5a^2 - a^3 below 2.
inline double kernel(double d) {
    const double a = std::fabs(d);
    if (a < 1.0) return cubicNear(a);
    if (a < 2.0) return cubicFar(a);
    return 0.0;
}

}  // namespace

bool PitchShifter::setup(uint32_t rate, float pitch, float outLevel, float grainTime, float hopTime) {
    const uint32_t hopSamples = setTimes(rate, outLevel, grainTime, hopTime);
    setPitch(pitch);
    const uint32_t historyLength = 2 * grainLength_ + 3;
    if (!setupBank(hopSamples, historyLength, historyLength + 3)) return false;
    // Stagger the grains as if the engine had been running: slot k - 1 is k hops old.
    const int64_t behind = pitchCents_ >= 0.0f ? int64_t{spanPending_} : int64_t{grainLength_};
    bank_.stagger([&](uint32_t k) { return int64_t{hopSamples} * k - behind; });
    span_ = spanPending_;
    ratio_ = ratioPending_;
    startOffset_ = startOffsetPending_;
    bypass_ = bypassPending_;
    return true;
}

void PitchShifter::setPitch(float pitch) {
    if (std::isnan(pitch)) pitch = 0.0f;  // a NaN pitch is taken as 0 cents (bypass)
    bypassPending_ = pitch == 0.0f;
    pitchCents_ = std::min(1200.0f, std::max(-1200.0f, pitch));
    const double r = std::pow(2.0, double(pitchCents_) * 0.0008333333333333334);
    const double length = double(grainLength_);
    startOffsetPending_ = pitchCents_ >= 0.0f ? int32_t(length - length * r) : 0;
    ratioPending_ = float(r);
    spanPending_ = uint32_t(length * r) + 3;
}

void PitchShifter::process(const float* in, float* out, uint32_t frames) {
    if (!bank_.ready()) {
        std::fill(out, out + frames, 0.0f);
        return;
    }
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(kGrainChunk, frames - done);
        processChunk(in + done, out + done, n, frames - done);
        done += n;
    }
}

// One chunk of n samples; `available` samples of input exist from `in` on (n or more): a
// grain reading ahead of the chunk sees the rest of the block, and past the block's last
// sample it reads that last sample again.
void PitchShifter::processChunk(const float* in, float* out, uint32_t n, uint32_t available) {
    const int32_t offset = startOffset_;
    const double ratio = ratio_;
    const int64_t last = int64_t{available} - 1;
    const int64_t span = span_;
    auto x = [&](int64_t j) -> double {
        if (j >= 0) return in[j < last ? j : last];
        return bank_.historyAt(j, span_);
    };
    // The past in reading order: pastBase[j] = x[j] for -span <= j <= 2.
    float* pastBase = bank_.past + span;
    bank_.unroll(pastBase, span, span_);
    for (int64_t j = 0; j <= 2; ++j) pastBase[j] = float(x(j));

    const float* window = bank_.window;
    auto accumulate = [&](const GrainSegment& seg, float* a, float* w) {
        const double start = seg.start;
        const uint32_t count = seg.end - seg.begin;
        // Any grain sample, one at a time, with the taps fetched one by one.
        auto each = [&](uint32_t from, uint32_t to) {
            for (uint32_t k = from; k < to; ++k) {
                const int32_t age = seg.age + int32_t(k);
                const double pos = double(age) * ratio + start;
                const int64_t t = int64_t(pos);
                const float p = float(pos);
                const double f = p - std::trunc(p);
                const double v = x(t) * kernel(f - 2.0) + x(t - 1) * kernel(f - 1.0) + x(t - 2) * kernel(f) +
                                 x(t - 3) * kernel(f + 1.0);
                const float wk = window[age];
                a[k] = float(double(a[k]) + v * double(wk));
                w[k] += wk;
            }
        };
        // The read position only grows with the age: split the segment where it crosses
        // the depth of the linear past, zero, the first sample with three before it, and
        // the block's end (binary searches on the exact position).
        auto leading = [&](uint32_t from, auto holds) {
            uint32_t lo = from, hi = count;
            while (lo < hi) {
                const uint32_t mid = lo + (hi - lo) / 2;
                if (holds(double(seg.age + int32_t(mid)) * ratio + start)) lo = mid + 1; else hi = mid;
            }
            return lo;
        };
        const uint32_t deepEnd = leading(0, [&](double pos) { return int64_t(pos) < 3 - span; });
        const uint32_t negativeEnd = leading(deepEnd, [](double pos) { return pos < 0.0; });
        const uint32_t nearEnd = leading(negativeEnd, [](double pos) { return int64_t(pos) < 3; });
        const uint32_t inEnd = std::max(nearEnd, leading(nearEnd, [&](double pos) { return int64_t(pos) <= last; }));
        each(0, deepEnd);
        pitchGrainRun(pastBase, window, a + deepEnd, w + deepEnd, seg.age + int32_t(deepEnd),
                      negativeEnd - deepEnd, ratio, start, true);
        each(negativeEnd, nearEnd);
        pitchGrainRun(in, window, a + nearEnd, w + nearEnd, seg.age + int32_t(nearEnd), inEnd - nearEnd, ratio,
                      start, false);
        each(inEnd, count);
    };
    runGrains<float>(in, out, n, [offset](uint32_t i) { return offset + int32_t(i); }, accumulate);

    bank_.slots.shiftStarts(n);
    ratio_ = ratioPending_;
    span_ = spanPending_;
    startOffset_ = startOffsetPending_;
    bypass_ = bypassPending_;
    bank_.remember(in, n, span_);
}

}  // namespace dsp
