// Harmonic synthesis for one channel at the output rate: isolates the top of the existing band
// with a highpass FIR, bends it through an odd transfer curve, keeps the distortion products
// (curve output minus input), optionally restricts them to the region above a band edge found
// on a smoothed 256-point spectrum, and adds them, scaled by the mix, to the input delayed by
// the filter latency.
#pragma once
#include <cstdint>

#include "analysis/fft_plan.h"
#include "exciter/allpass_delay.h"
#include "exciter/kaiser_fir.h"
#include "exciter/transfer_curve.h"

namespace dsp {

// Scans a smoothed dB spectrum of `bins` bins downward from the top through the upper third
// and returns the frequency of the first bin at which the level has climbed 15 dB above the
// last valley; the top bin's frequency when there is no such rise. Bin k lies at
// rate * k / (2 * bins).
float scanBandEdge(const float* spectrum, uint32_t bins, uint32_t rate);

class HarmonicsEngine {
public:
    static constexpr uint32_t kSpectrumSize = 256;

    HarmonicsEngine() = default;
    HarmonicsEngine(const HarmonicsEngine&) = delete;
    HarmonicsEngine& operator=(const HarmonicsEngine&) = delete;
    virtual ~HarmonicsEngine();

    // Configures for blocks of up to `frames` frames at `rate` Hz: harmonics (curve bend),
    // mix in percent, highpass cutoff in Hz, activeMode (1 = band-edge restriction, else none)
    // and taps (a power of two, at least 2). Clears the filter histories and the delay line;
    // rebuilds the curve only when harmonics changed; keeps the analysis history unless it
    // grows. Allocates. Latency afterwards: taps/2 samples, or taps in mode 1.
    bool setup(uint32_t frames, uint32_t rate, float harmonics, float mixPercent, uint32_t cutoff,
               uint32_t activeMode, uint32_t taps);

    // Clears filter histories and the delay line without allocating.
    void reset();

    // in == out is allowed; blocks longer than the capacity are processed in capacity pieces.
    void process(const float* in, float* out, uint32_t frames);
    // As process, with the band edge given instead of measured (mode 1 only uses it).
    void processWithEdge(const float* in, float* out, float edge, uint32_t frames);
    // Feeds `frames` samples of `in` into the sliding spectrum and returns the band edge in Hz;
    // 0 unless activeMode is 1. The analysis always advances by the capacity: a shorter block
    // is padded with zeros, so nothing past in[frames - 1] is read.
    float findBandEdge(const float* in, uint32_t frames);

    void setActiveMode(uint32_t mode) { activeMode_ = mode; }
    void setMix(float percent) { mix_ = static_cast<float>(percent * 0.01); }
    void setHarmonics(float harmonics);

    uint32_t capacity() const { return capacity_; }
    uint32_t latency() const { return static_cast<uint32_t>(delay_.length()); }
    float bandEdge() const { return bandEdge_; }
    float mix() const { return mix_; }
    uint32_t activeMode() const { return activeMode_; }
    const float* spectrum() const { return spectrum_; }

private:
    void processBlock(const float* in, float* out, const float* edge, uint32_t frames);

    bool ready_ = false;
    uint32_t capacity_ = 0;
    uint32_t rate_ = 0;
    float* highpassed_ = nullptr;  // h, then e (fastmem, capacity floats)
    float* shaped_ = nullptr;      // s (fastmem, capacity floats)
    float* spectrum_ = nullptr;    // smoothed dB spectrum (fastmem, 256 floats)
    float cutoff_ = 0.0f;
    float harmonics_ = 0.0f;
    float mix_ = 0.0f;
    uint32_t activeMode_ = 0;
    TransferCurve curve_;
    KaiserFir fir1_;
    KaiserFir fir2_;
    AllpassDelay delay_;
    FftPlan analyser_;
    float bandEdge_ = 0.0f;
};

}  // namespace dsp
