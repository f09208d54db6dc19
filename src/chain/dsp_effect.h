// The abstract base of every effect and analyser: six float work buffers, the input/output
// format, and the virtual processing interface the chain drives.
#pragma once
#include <cstdint>

namespace dsp {

// Type tag stored in DspEffect::kind; every exported function checks it before acting.
enum EffectKind : uint32_t {
    kKindNone = 0,
    kKindFft = 1,         // initFft, initFftAnalyze, initEnvAnalyze
    kKindFader = 2,
    kKindIirFilter = 3,
    kKindWaveSlice = 4,
    kKindResampler = 5,
    kKindHqups = 6,
    kKindPitchShift = 7,
    kKindStretch = 8,
    kKindChorus = 9,
};

class DspEffect {
public:
    DspEffect() = default;
    DspEffect(const DspEffect&) = delete;
    DspEffect& operator=(const DspEffect&) = delete;

    // Frees the six buffers if configured.
    virtual ~DspEffect();

    // Frees the six buffers (if configured) and marks the effect unconfigured.
    virtual void releaseBuffers();

    // Base buffer rule and format record: keeps the buffers when already configured for at
    // least `size` frames (compared with the size last configured), else reallocates all six
    // with size floats each; then records the format. Derived classes call this first.
    virtual void configure(uint32_t size, uint32_t channels, uint32_t rate);

    // Output frames for an input block of srcSize frames.
    virtual uint32_t getDstSize(uint32_t srcSize);

    // Processes one channel (0 left/mono, 1 right) of `frames` frames.
    virtual uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) = 0;

    // Processes a block of `frames` frames; returns the frames written to outL/outR.
    virtual uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR,
                                  uint32_t frames) = 0;

    // Standalone PCM in, PCM out; returns bytes.
    virtual uint32_t processPcm(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) = 0;

    // `bytes` of input PCM cut to what the input buffers hold (inSize frames): a host that
    // sends more than the configured block gets the excess ignored instead of an overrun.
    uint32_t clampToCapacity(uint32_t bytes) const;

    bool configured = false;
    uint32_t kind = kKindNone;
    float* inBufL = nullptr;
    float* inBufR = nullptr;
    float* outBufL = nullptr;
    float* outBufR = nullptr;
    float* auxBufL = nullptr;
    float* auxBufR = nullptr;
    uint32_t inChannels = 0;
    uint32_t outChannels = 0;
    uint32_t inSize = 0;
    uint32_t outSize = 0;
    uint32_t inRate = 0;
    uint32_t outRate = 0;

    // True when all six buffers exist (false after a failed allocation); init functions and
    // processing paths use it to stay in bounds.
    bool buffersUsable() const;

protected:
    // The shared processPcm of the effects that keep the signal length: convert `bytes` of
    // PCM into the input buffers, processChannel per channel, convert back; returns `bytes`.
    uint32_t processPcmByChannel(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
};

// Analysers that produce no audio: slots 4 to 6 do nothing and return 0. outRate follows
// inRate, so a chain ending in one reports its input rate.
class SilentEffect : public DspEffect {
public:
    void configure(uint32_t size, uint32_t channels, uint32_t rate) override;
    uint32_t processChannel(uint32_t, const float*, float*, uint32_t) override { return 0; }
    uint32_t processBlock(const float*, const float*, float*, float*, uint32_t) override { return 0; }
    uint32_t processPcm(const int16_t*, int16_t*, uint32_t) override { return 0; }
};

// Returns the effect behind a handle when its kind matches, else nullptr (also for null).
template <class Effect>
Effect* effectOfKind(void* handle) {
    auto* effect = static_cast<DspEffect*>(handle);
    if (effect == nullptr || effect->kind != Effect::kKind) return nullptr;
    return static_cast<Effect*>(effect);
}

}  // namespace dsp
