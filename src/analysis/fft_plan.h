// FFT plans: one frame of float samples in, a magnitude spectrum in dB out (optionally
// smoothed across frequency).
//
//   FftPlan plan;
//   plan.setup(hop, historyLen, fftSize, floorDb);   // may allocate
//   plan.transform(block);                           // never allocates
//   plan.magnitudeDb(out, smooth);                   // fftSize/2 values
//
// FftPlan slides: each transform appends `hop` new samples to a history of `historyLen` and
// windows the newest fftSize of them, so consecutive frames overlap by fftSize - hop.
// DirectFftPlan windows fftSize samples of its input directly and keeps no history.
// The window is a periodic Hann window sampled half a sample early:
//   w[i] = 0.5·(1 - cos(2π(i - 0.5)/n)).
#pragma once
#include <cstdint>

#include "analysis/real_fft.h"

namespace dsp {

class FftPlan {
public:
    FftPlan() = default;
    FftPlan(const FftPlan&) = delete;
    FftPlan& operator=(const FftPlan&) = delete;
    virtual ~FftPlan();

    // Fills the work buffer with the next windowed frame: reads `hop` samples here, fftSize
    // samples in DirectFftPlan.
    virtual void loadFrame(const float* input);

    // fftSize: a power of two, 4..16384 (from 8 when smoothing); historyLen >= fftSize and
    // >= hop. The floor is -floorDb dB. Buffers only grow: a smaller setup keeps them, the
    // history's contents and the trig tables. Returns false, with the plan released and not
    // ready, when memory runs out (the arguments are not checked).
    bool setup(uint32_t hop, uint32_t historyLen, uint32_t fftSize, float floorDb);

    // Zeroes the history; never allocates.
    void reset();

    // loadFrame on `input`, then the forward real FFT of the frame in place. Does nothing
    // before a successful setup.
    void transform(const float* input);

    // Writes fftSize/2 dB values to `out` from the last transform and returns fftSize/2
    // (0 before a successful setup). Value k is 20·log10 of the magnitude of bin k (bin 0
    // combines DC and Nyquist), at least the floor; exact zeros give the floor. With
    // `smooth`, the dB curve is low-passed across frequency by two unscaled cosine transforms
    // (content below a quarter of the curve kept, scaled by fftSize/4, a constant by fftSize/2).
    uint32_t magnitudeDb(float* out, bool smooth);

    bool ready() const { return ready_; }
    uint32_t fftSize() const { return fftSize_; }
    uint32_t hop() const { return hop_; }
    uint32_t historyLen() const { return historyLen_; }
    float floorLevel() const { return floorLevel_; }
    const float* window() const { return window_; }
    const float* work() const { return work_; }          // packed spectrum after transform
    const float* history() const { return history_; }    // oldest sample first
    const FftTables& fftTables() const { return fftTables_; }
    const FftTables& smoothTables() const { return smoothTables_; }

protected:
    void release();

    bool ready_ = false;
    float* history_ = nullptr;
    float* window_ = nullptr;
    float* work_ = nullptr;
    uint32_t fftSize_ = 0;
    uint32_t keepLen_ = 0;
    uint32_t hop_ = 0;
    uint32_t historyLen_ = 0;
    float floorLevel_ = 0.0f;
    FftTables fftTables_;
    FftTables smoothTables_;
};

class DirectFftPlan : public FftPlan {
public:
    void loadFrame(const float* input) override;
};

}  // namespace dsp
