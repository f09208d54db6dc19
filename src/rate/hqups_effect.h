// High-quality upsampler: per channel a rate converter to 48000 Hz followed by a harmonic
// synthesis engine that regenerates content above the source's band limit. In the block path
// one band-edge analysis of the mid signal serves both channels.
#pragma once
#include <cstdint>

#include "chain/dsp_effect.h"
#include "exciter/harmonics_engine.h"
#include "rate/rate_converter.h"

namespace dsp {

struct HqupsParams {
    float harmonics = 0.0f;        // bend of the transfer curve
    float mixPercent = 0.0f;       // gain of the harmonics in percent
    uint32_t cutoff = 0;           // Hz, highpass before the curve
    uint32_t interpolation = 0;    // converter: 0 linear, else cubic
    float stopbandDb = 0.0f;       // converter filter attenuation
    float slopeDbPerOctave = 0.0f; // converter filter transition
    uint32_t activeMode = 0;       // 1: harmonics only above the detected band edge
    bool filterOn = false;         // converter lowpass on
};

class HqupsEffect : public DspEffect {
public:
    static constexpr uint32_t kKind = kKindHqups;
    static constexpr uint32_t kOutputRate = 48000;
    static constexpr uint32_t kTaps = 16;

    // Source block for an output block of dstFrames at 48000 Hz: trunc(dstFrames * srcRate *
    // (float)(1/48000)), corrected once by one frame toward what converts back to dstFrames.
    static uint32_t sourceFramesFor(uint32_t dstFrames, uint32_t srcRate);

    // Which block the size given to create() counts: output frames at 48000 Hz (initHqups) or
    // source frames (initHqupsBySrcsize).
    enum class Block { kOutput, kSource };

    // A configured effect, or nullptr when memory runs out. For an output block the source block
    // is sourceFramesFor(frames, srcRate) and the output room at least `frames`.
    static HqupsEffect* create(Block block, uint32_t frames, uint32_t inChannels, uint32_t outChannels,
                               uint32_t srcRate, const HqupsParams& params);

    void configure(uint32_t size, uint32_t channels, uint32_t rate) override;
    uint32_t getDstSize(uint32_t srcSize) override;
    uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) override;
    uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) override;

    // Source frames that yield dstFrames at the current rates (same one-frame correction).
    uint32_t sourceSize(uint32_t dstFrames) const;

    // Applied to both engines from the next block; the dry-path delay keeps the length set by
    // the last configure.
    void setActiveMode(uint32_t mode);
    void setMix(float percent);
    void setHarmonics(float harmonics);

    const HqupsParams& params() const { return params_; }
    const HarmonicsEngine& engine(int channel) const { return engines_[channel]; }

private:
    explicit HqupsEffect(const HqupsParams& params) : DspEffect(kKind), params_(params) { outRate = kOutputRate; }
    // configure with an output block of at least minOutFrames (create() for an output block).
    void configureFor(uint32_t size, uint32_t channels, uint32_t rate, uint32_t minOutFrames);

    // Declared converters first so that the engines are destroyed first.
    RateConverter converters_[2];
    HarmonicsEngine engines_[2];
    HqupsParams params_;
};

}  // namespace dsp
