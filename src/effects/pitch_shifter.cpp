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

PitchShifter::~PitchShifter() { freeArrays(); }

void PitchShifter::freeArrays() {
    delete[] history_;
    delete[] window_;
    delete[] past_;
    history_ = nullptr;
    window_ = nullptr;
    past_ = nullptr;
    historyCapacity_ = 0;
    slots_.release();
    allocated_ = false;
}

bool PitchShifter::init(uint32_t rate, float pitch, float outLevel, float grainTime, float hopTime) {
    rate_ = float(rate);
    grainLength_ = grainLengthFor(rate_, grainTime);
    setPitch(pitch);
    const uint32_t hopSamples = hopLengthFor(rate_, hopTime);
    const uint32_t count = grainLength_ / hopSamples;
    outGain_ = gainFromDb(outLevel);

    const uint32_t historyLength = 2 * grainLength_ + 3;
    if (!allocated_ || historyCapacity_ < historyLength) {
        delete[] history_;
        delete[] window_;
        delete[] past_;
        history_ = new (std::nothrow) float[historyLength];
        window_ = new (std::nothrow) float[std::max<uint32_t>(grainLength_, 1)];
        past_ = new (std::nothrow) float[historyLength + 3];
        historyCapacity_ = historyLength;
    }
    if (history_ == nullptr || window_ == nullptr || past_ == nullptr || !slots_.reserve(count)) {
        freeArrays();
        return false;
    }
    std::fill(history_, history_ + historyLength, 0.0f);
    fillGaussianWindow(window_, grainLength_);

    // Stagger the grains as if the engine had been running: slot k - 1 is k hops old.
    slots_.reset(count, hopSamples);
    const int64_t behind = pitchCents_ >= 0.0f ? int64_t{spanPending_} : int64_t{grainLength_};
    for (uint32_t k = 1; k <= count; ++k) {
        Grain& g = slots_.grains[k - 1];
        g.active = true;
        g.start = int32_t(int64_t{hopSamples} * k - behind);
        g.age = int32_t(int64_t{grainLength_} - int64_t{hopSamples} * k);
        g.window = window_;
        g.length = int32_t(grainLength_);
    }
    span_ = spanPending_;
    ratio_ = ratioPending_;
    startOffset_ = startOffsetPending_;
    bypass_ = bypassPending_;
    historyPos_ = 0;
    allocated_ = true;
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

void PitchShifter::setOutLevel(float outLevel) { outGain_ = gainFromDb(outLevel); }

void PitchShifter::process(const float* in, float* out, uint32_t frames) {
    if (!allocated_) {
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
    const double gain = outGain_;
    const int64_t last = int64_t{available} - 1;
    const int64_t span = span_;
    auto x = [&](int64_t j) -> double {
        if (j >= 0) return in[j < last ? j : last];
        return history_[(uint64_t{historyPos_} + uint64_t(-j) - 1) % span_];
    };
    // The past in reading order: pastBase[j] = x[j] for -span <= j <= 2.
    float* pastBase = past_ + span;
    uint32_t at = uint32_t(historyPos_ % span_);
    for (int64_t j = -1; j >= -span; --j) {  // x[-1 - m] = history[(historyPos + m) mod span]
        pastBase[j] = history_[at];
        if (++at == span_) at = 0;
    }
    for (int64_t j = 0; j <= 2; ++j) pastBase[j] = float(x(j));

    for (uint32_t begin = 0; begin < n; begin += kGrainRun) {
        const uint32_t end = std::min(n, begin + kGrainRun);
        const uint32_t segmentCount = slots_.advance(begin, end, int32_t(grainLength_), window_,
                                                     [offset](uint32_t i) { return offset + int32_t(i); });
        if (bypass_) {
            std::memcpy(out + begin, in + begin, (end - begin) * sizeof(float));
            continue;
        }
        float acc[kGrainRun];
        float wsum[kGrainRun];
        std::fill(acc, acc + (end - begin), 0.0f);
        std::fill(wsum, wsum + (end - begin), 0.0f);
        for (uint32_t s = 0; s < segmentCount; ++s) {
            const GrainSegment& seg = slots_.segments[s];
            const double start = seg.start;
            float* a = acc + (seg.begin - begin);
            float* w = wsum + (seg.begin - begin);
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
                    const float wk = window_[age];
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
            pitchGrainRun(pastBase, window_, a + deepEnd, w + deepEnd, seg.age + int32_t(deepEnd),
                          negativeEnd - deepEnd, ratio, start, true);
            each(negativeEnd, nearEnd);
            pitchGrainRun(in, window_, a + nearEnd, w + nearEnd, seg.age + int32_t(nearEnd), inEnd - nearEnd, ratio,
                          start, false);
            each(inEnd, count);
        }
        for (uint32_t i = begin; i < end; ++i) {
            const float sum = wsum[i - begin];
            out[i] = sum > 0.0f ? float(double(acc[i - begin]) * gain / double(sum)) : 0.0f;
        }
    }

    slots_.shiftStarts(n);
    ratio_ = ratioPending_;
    span_ = spanPending_;
    startOffset_ = startOffsetPending_;
    bypass_ = bypassPending_;
    updateHistory(in, n);
}

// Afterwards history[(historyPos + m) mod span] holds the sample m + 1 places before the
// chunk's end.
void PitchShifter::updateHistory(const float* in, uint32_t n) {
    const uint32_t span = span_;
    uint32_t count = n;
    if (span > n) {
        historyPos_ = uint32_t((uint64_t{historyPos_} + span - n) % span);
    } else {
        count = span;
    }
    uint32_t at = historyPos_ % span;
    for (uint32_t j = 1; j <= count; ++j) {
        history_[at] = in[n - j];
        if (++at == span) at = 0;
    }
}

}  // namespace dsp
