#include "analysis/fft_plan.h"

#include "analysis/magnitude_db.h"

#include <cmath>
#include <cstring>
#include <new>

namespace dsp {

FftPlan::~FftPlan() { release(); }

void FftPlan::release() {
    delete[] history_;
    delete[] window_;
    delete[] work_;
    history_ = window_ = work_ = nullptr;
    ready_ = false;
}

bool FftPlan::setup(uint32_t hop, uint32_t historyLen, uint32_t fftSize, float floorDb) {
    floorLevel_ = -floorDb;
    hop_ = hop;
    if (!ready_ || historyLen > historyLen_) {
        delete[] history_;
        history_ = new (std::nothrow) float[historyLen]();
    }
    historyLen_ = historyLen;
    keepLen_ = historyLen - hop;
    if (!ready_ || fftSize > fftSize_) {
        delete[] window_;
        delete[] work_;
        window_ = new (std::nothrow) float[fftSize];
        work_ = new (std::nothrow) float[fftSize];
        fftTables_.invalidate();
        smoothTables_.invalidate();
    }
    fftSize_ = fftSize;
    // Out of memory: nothing half-usable is left behind.
    if (history_ == nullptr || window_ == nullptr || work_ == nullptr) {
        release();
        return false;
    }
    const long double twoPi = 2 * std::acos(-1.0L);
    for (uint32_t i = 0; i < fftSize; ++i)
        window_[i] = float(0.5L * (1 - std::cos(twoPi * (i - 0.5L) / fftSize)));
    ready_ = true;
    return true;
}

void FftPlan::reset() {
    if (ready_) std::memset(history_, 0, sizeof(float) * historyLen_);
}

void FftPlan::loadFrame(const float* input) {
    // A forward move (the regions may overlap); every copy variant gives the same bytes.
    std::memmove(history_, history_ + hop_, sizeof(float) * keepLen_);
    std::memcpy(history_ + keepLen_, input, sizeof(float) * hop_);
    const float* frame = history_ + historyLen_ - fftSize_;
    for (uint32_t j = 0; j < fftSize_; ++j) work_[j] = window_[j] * frame[j];
}

void DirectFftPlan::loadFrame(const float* input) {
    for (uint32_t i = 0; i < fftSize_; ++i) work_[i] = window_[i] * input[i];
}

void FftPlan::transform(const float* input) {
    if (!ready_) return;
    loadFrame(input);
    realFft(work_, fftSize_, fftTables_);
}

uint32_t FftPlan::magnitudeDb(float* out, bool smooth) {
    if (!ready_) return 0;
    const uint32_t bins = fftSize_ / 2;
    const float floor = floorLevel_;
    magnitudesDb(work_, out, bins, floor, !smooth);
    if (smooth) {
        cosineTransform(out, bins, false, smoothTables_);
        std::memset(out + bins / 4, 0, sizeof(float) * (bins - bins / 4));
        cosineTransform(out, bins, true, smoothTables_);
        for (uint32_t k = 0; k < bins; ++k)
            if (out[k] < floor) out[k] = floor;
    }
    return bins;
}

}  // namespace dsp
