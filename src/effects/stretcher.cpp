#include "effects/stretcher.h"

#include "effects/grain_kernels.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace dsp {

Stretcher::~Stretcher() { freeArrays(); }

void Stretcher::freeArrays() {
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

uint32_t Stretcher::init(uint32_t size, uint32_t rate, float scale, float outLevel, float grainTime,
                         float hopTime) {
    blockSize_ = size;
    rate_ = float(rate);
    grainLength_ = grainLengthFor(rate_, grainTime);
    setScale(scale);
    const uint32_t hopSamples = hopLengthFor(rate_, hopTime);
    const uint32_t count = grainLength_ / hopSamples;
    outGain_ = gainFromDb(outLevel);

    const uint32_t historyLength = std::max<uint32_t>(8 * grainLength_, 1);
    if (!allocated_ || historyCapacity_ < historyLength) {
        delete[] history_;
        delete[] window_;
        delete[] past_;
        history_ = new (std::nothrow) float[historyLength];
        window_ = new (std::nothrow) float[std::max<uint32_t>(grainLength_, 1)];
        past_ = new (std::nothrow) float[historyLength];
        historyCapacity_ = historyLength;
    }
    if (history_ == nullptr || window_ == nullptr || past_ == nullptr || !slots_.reserve(count)) {
        freeArrays();
        return dstSize(size);
    }
    std::fill(history_, history_ + historyLength, 0.0f);
    fillGaussianWindow(window_, grainLength_);

    // Stagger the grains as if running: slot k - 1 is k hops old, its start k hops of input back.
    slots_.reset(count, hopSamples);
    const int64_t inputHop = int64_t(double(hopSamples) * inverseFactorExact_);
    for (uint32_t k = 1; k <= count; ++k) {
        Grain& g = slots_.grains[k - 1];
        g.active = true;
        g.start = int32_t(inputHop * k - int64_t{spanPending_});
        g.age = int32_t(int64_t{grainLength_} - int64_t{hopSamples} * k);
        g.window = window_;
        g.length = int32_t(grainLength_);
    }
    bypass_ = bypassPending_;
    span_ = spanPending_;
    factor_ = factorPending_;
    inverseFactor_ = inverseFactorPending_;
    lead_ = leadPending_;
    historyPos_ = 0;
    allocated_ = true;
    return dstSize(size);
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

void Stretcher::setOutLevel(float outLevel) { outGain_ = gainFromDb(outLevel); }

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
    if (!allocated_) {
        std::fill(out, out + m, 0.0f);
        return m;
    }
    const int32_t lead = lead_;
    const double inverse = inverseFactor_;
    const double gain = outGain_;
    const int64_t last = int64_t{available} - 1;
    // The history in reading order, pastBase[j] = x[j], as deep as any grain of this chunk
    // reads: active grains read onwards from start + age, new ones from -lead or later.
    const int64_t span = span_;
    int64_t deepest = -int64_t{lead};
    for (uint32_t s = 0; s < slots_.count; ++s)
        if (slots_.grains[s].active) deepest = std::min<int64_t>(deepest, int64_t{slots_.grains[s].start} + slots_.grains[s].age);
    const int64_t depth = std::min<int64_t>(span, -deepest);
    float* pastBase = past_ + span;
    uint32_t at = span_ == 0 ? 0 : uint32_t(historyPos_ % span_);
    for (int64_t j = -1; j >= -depth; --j) {  // x[-1 - m] = history[(historyPos + m) mod span]
        pastBase[j] = history_[at];
        if (++at == span_) at = 0;
    }
    auto startAt = [lead, inverse](uint32_t i) {
        return int32_t(int64_t((double(i) + double(lead)) * inverse)) - lead;
    };

    for (uint32_t begin = 0; begin < m; begin += kGrainRun) {
        const uint32_t end = std::min(m, begin + kGrainRun);
        const uint32_t segmentCount = slots_.advance(begin, end, int32_t(grainLength_), window_, startAt);
        if (bypass_) {
            std::memcpy(out + begin, in + begin, (end - begin) * sizeof(float));
            continue;
        }
        double acc[kGrainRun];
        double wsum[kGrainRun];
        std::fill(acc, acc + (end - begin), 0.0);
        std::fill(wsum, wsum + (end - begin), 0.0);
        for (uint32_t s = 0; s < segmentCount; ++s) {
            const GrainSegment& seg = slots_.segments[s];
            // The grain reads x[j] for consecutive j while its age runs through the window:
            // first any reads deeper than the history (wrapping round it), then the history in
            // reading order, the block, and past the block's end its last sample.
            const int64_t firstRead = int64_t{seg.start} + seg.age;
            const int64_t count = seg.end - seg.begin;
            double* a = acc + (seg.begin - begin);
            double* w = wsum + (seg.begin - begin);
            const float* win = window_ + seg.age;
            const int64_t deepEnd = std::clamp<int64_t>(-span - firstRead, 0, count);
            const int64_t pastEnd = std::clamp<int64_t>(-firstRead, deepEnd, count);
            const int64_t blockEnd = std::clamp<int64_t>(last + 1 - firstRead, pastEnd, count);
            for (int64_t k = 0; k < deepEnd; ++k) {
                const int64_t j = firstRead + k;
                a[k] += double(history_[(uint64_t{historyPos_} + uint64_t(-j) - 1) % span_]) * double(win[k]);
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
        }
        for (uint32_t i = begin; i < end; ++i) {
            const double sum = wsum[i - begin];
            out[i] = sum > 0.0 ? float(acc[i - begin] * gain / sum) : 0.0f;
        }
    }

    slots_.shiftStarts(n);
    bypass_ = bypassPending_;
    factor_ = factorPending_;
    span_ = spanPending_;
    inverseFactor_ = inverseFactorPending_;
    lead_ = leadPending_;
    updateHistory(in, n);
    return m;
}

void Stretcher::updateHistory(const float* in, uint32_t n) {
    const uint32_t span = span_;
    if (span == 0) return;  // zero-length grains keep no history
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
