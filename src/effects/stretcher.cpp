#include "effects/stretcher.h"

#include "effects/grain_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace dsp {

bool Stretcher::setup(uint32_t rate, float scale, float outLevel, float grainTime, float hopTime) {
    const uint32_t hopSamples = setTimes(rate, outLevel, grainTime, hopTime);
    setScale(scale);
    const uint32_t historyLength = std::max<uint32_t>(8 * grainLength_, 1);
    if (!setupBank(hopSamples, historyLength, historyLength)) return false;
    // Stagger the grains as if running: slot k - 1 is k hops old, its start k hops of input back.
    const int64_t inputHop = int64_t(double(hopSamples) * inverseFactorExact_);
    bank_.stagger([&](uint32_t k) { return inputHop * k - int64_t{spanPending_}; });
    bypass_ = bypassPending_;
    span_ = spanPending_;
    factor_ = factorPending_;
    inverseFactor_ = inverseFactorPending_;
    lead_ = leadPending_;
    return true;
}

void Stretcher::setScale(float scale) {
    if (std::isnan(scale)) scale = 0.0f;  // a NaN scale is taken as 0 (bypass)
    bypassPending_ = scale == 0.0f;
    scale = std::min(3000.0f, std::max(-2000.0f, scale));
    const double f = std::pow(2.0, -double(scale) * 0.001);
    factorPending_ = float(f);
    inverseFactorExact_ = 1.0 / f;
    inverseFactorPending_ = float(inverseFactorExact_);
    spanPending_ = f >= 1.0 ? grainLength_ : uint32_t(double(grainLength_) * inverseFactorExact_);
    leadPending_ = f >= 1.0 ? int32_t(grainLength_) : 0;
}

uint32_t Stretcher::dstSize(uint32_t srcSize) const { return uint32_t(double(srcSize) * double(factorPending_)); }

uint32_t Stretcher::process(const float* in, float* out, uint32_t frames) {
    uint32_t produced = 0;
    for (uint32_t done = 0; done < frames;) {
        const uint32_t n = std::min(kGrainChunk, frames - done);
        produced += processChunk(in + done, out + produced, n, frames - done);
        done += n;
    }
    return produced;
}

// One chunk of n input samples, `available` of which exist from `in` on (n or more). A grain
// reading ahead of the chunk sees the rest of the block, and past the block's last sample it
// reads that last sample again.
uint32_t Stretcher::processChunk(const float* in, float* out, uint32_t n, uint32_t available) {
    const uint32_t m = bypass_ ? n : uint32_t(double(n) * double(factor_));
    if (!bank_.ready()) {
        std::fill(out, out + m, 0.0f);
        return m;
    }
    const int32_t lead = lead_;
    const double inverse = inverseFactor_;
    const int64_t last = int64_t{available} - 1;
    // The history in reading order, pastBase[j] = x[j], as deep as any grain of this chunk
    // reads: active grains read onwards from start + age, new ones from -lead or later.
    const int64_t span = span_;
    int64_t deepest = -int64_t{lead};
    const GrainSlots& slots = bank_.slots;
    for (uint32_t s = 0; s < slots.count; ++s)
        if (slots.grains[s].active) deepest = std::min<int64_t>(deepest, int64_t{slots.grains[s].start} + slots.grains[s].age);
    const int64_t depth = std::min<int64_t>(span, -deepest);
    float* pastBase = bank_.past + span;
    bank_.unroll(pastBase, depth, span_);
    auto startAt = [lead, inverse](uint32_t i) {
        return int32_t(int64_t((double(i) + double(lead)) * inverse)) - lead;
    };

    auto accumulate = [&](const GrainSegment& seg, double* a, double* w) {
        // The grain reads x[j] for consecutive j while its age runs through the window:
        // first any reads deeper than the history (wrapping round it), then the history in
        // reading order, the block, and past the block's end its last sample.
        const int64_t firstRead = int64_t{seg.start} + seg.age;
        const int64_t count = seg.end - seg.begin;
        const float* win = bank_.window + seg.age;
        const int64_t deepEnd = std::clamp<int64_t>(-span - firstRead, 0, count);
        const int64_t pastEnd = std::clamp<int64_t>(-firstRead, deepEnd, count);
        const int64_t blockEnd = std::clamp<int64_t>(last + 1 - firstRead, pastEnd, count);
        for (int64_t k = 0; k < deepEnd; ++k) {
            const int64_t j = firstRead + k;
            a[k] += double(bank_.historyAt(j, span_)) * double(win[k]);
            w[k] += double(win[k]);
        }
        stretchGrainRun(pastBase + (firstRead + deepEnd), win + deepEnd, a + deepEnd, w + deepEnd,
                        uint32_t(pastEnd - deepEnd));
        stretchGrainRun(in + (firstRead + pastEnd), win + pastEnd, a + pastEnd, w + pastEnd,
                        uint32_t(blockEnd - pastEnd));
        for (int64_t k = blockEnd; k < count; ++k) {
            a[k] += double(in[last]) * double(win[k]);
            w[k] += double(win[k]);
        }
    };
    runGrains<double>(in, out, m, startAt, accumulate);

    bank_.slots.shiftStarts(n);
    bypass_ = bypassPending_;
    factor_ = factorPending_;
    span_ = spanPending_;
    inverseFactor_ = inverseFactorPending_;
    lead_ = leadPending_;
    bank_.remember(in, n, span_);
    return m;
}

}  // namespace dsp
