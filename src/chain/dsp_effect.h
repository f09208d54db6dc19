// The abstract base of every effect and analyser: six float work buffers, the input/output
// format, the virtual interface the chain drives, and what every effect shares:
//  - creation: each effect has a static create(...) over a private constructor that news it,
//    configures it for its first format and ends in keepIfReady (nullptr when memory ran out);
//  - readiness: ready() says the buffers and the engines' storage were had;
//  - the standalone PCM path of the do functions (loadPcm -> processBlock -> storePcm);
//  - output room for effects whose output block is longer than their input (reserveOutput).
// Engines inside the effects share one vocabulary: setup (may allocate, clears state), process
// (never allocates), reset (clears state without allocating), release (frees), ready().
#pragma once
#include <cstdint>

namespace dsp {

// Type tag stored in DspEffect::kind; every exported function checks it before acting.
enum EffectKind : uint32_t {
    kKindNone = 0,
    kKindFft = 1,  // the three analysers of analysis/analyser_effect.h
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
    DspEffect(const DspEffect&) = delete;
    DspEffect& operator=(const DspEffect&) = delete;

    // The seven virtual slots, in order, and where each is reached.
    // 0: dspClear, dspDestroy and the term functions delete effects through it.
    virtual ~DspEffect();
    // 1: frees the six buffers, marks the effect unconfigured; reached from configure and the
    //    destructor.
    virtual void releaseBuffers();
    // 2: the base buffer rule (keep the buffers when configured for at least `size` frames,
    //    compared with the size last configured, else reallocate all six) and the format record;
    //    derived classes call it first. Reached from create() and the chain's format propagation.
    virtual void configure(uint32_t size, uint32_t channels, uint32_t rate);
    // 3: output frames for an input block of srcSize frames; dspGetDstSize and get*DstSize.
    virtual uint32_t getDstSize(uint32_t srcSize);
    // 4: one channel (0 left/mono, 1 right) alone; no library path calls it (the chain and the
    //    standalone path run whole blocks): it serves hosts of this C++ interface.
    virtual uint32_t processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) = 0;
    // 5: a block of `frames` frames; returns the frames written to outL/outR. dspSend calls it
    //    for every effect of a chain, processPcm for one effect alone.
    virtual uint32_t processBlock(const float* inL, const float* inR, float* outL, float* outR,
                                  uint32_t frames) = 0;
    // 6: standalone PCM in, PCM out (runPcm); returns bytes. Reached from the do functions.
    virtual uint32_t processPcm(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);

    // True when the six buffers, the output room and every engine's storage were had: create()
    // gives up an effect that is not, and processing refuses one.
    bool ready() const;

    // The standalone path: loadPcm, processBlock, storePcm. False, writing nothing, when the
    // effect is not ready or has no channels; else *written (when given) holds the bytes written.
    bool runPcm(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes, uint32_t* written = nullptr);

    // `bytes` of PCM, cut to the block (and to maxFrames), into inBufL and inBufR, or as a mono
    // mix into inBufL when `mix`; returns the frames. The chain's head conversion as well.
    uint32_t loadPcm(const int16_t* pcm, uint32_t bytes, bool mix = false, uint32_t maxFrames = 0xFFFFFFFFu);

    // `frames` frames of outBufL (and outBufR for stereo input) into outChannels channels of
    // PCM; returns the bytes written. The chain's tail conversion as well.
    uint32_t storePcm(uint32_t frames, int16_t* pcm) const;

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
    uint32_t outCapacity = 0;  // frames outBufL and outBufR hold; at least outSize when ready

    // Every class of a kind is told apart by its kind alone, except where one kind code covers
    // several classes (see AnalyserEffect).
    static bool sameClass(const DspEffect&) { return true; }

protected:
    explicit DspEffect(uint32_t kind_ = kKindNone) : kind(kind_) {}

    // The end of every create(): the effect when ready(), else nullptr (and it is deleted).
    template <class Effect>
    static Effect* keepIfReady(Effect* effect) {
        if (effect != nullptr && effect->ready()) return effect;
        delete effect;
        return nullptr;
    }

    // Makes outBufL and outBufR (with `aux` also auxBufL and auxBufR, which then share
    // outCapacity) hold at least `frames` frames, replacing them when they hold fewer. Out of
    // memory leaves them null and the effect not ready.
    void reserveOutput(uint32_t frames, bool aux = false);

    // Set by derived configure(): false when an engine could not get its storage.
    bool enginesReady = true;
};

// Analysers that produce no audio: slots 4 to 6 do nothing and return 0. outRate follows
// inRate, so a chain ending in one reports its input rate.
class SilentEffect : public DspEffect {
public:
    void configure(uint32_t size, uint32_t channels, uint32_t rate) override;
    uint32_t processChannel(uint32_t, const float*, float*, uint32_t) override { return 0; }
    uint32_t processBlock(const float*, const float*, float*, float*, uint32_t) override { return 0; }
    uint32_t processPcm(const int16_t*, int16_t*, uint32_t) override { return 0; }

protected:
    using DspEffect::DspEffect;
};

// Returns the effect behind a handle when its kind (and class) matches, else nullptr (also for null).
template <class Effect>
Effect* effectOfKind(void* handle) {
    auto* effect = static_cast<DspEffect*>(handle);
    if (effect == nullptr || effect->kind != Effect::kKind || !Effect::sameClass(*effect)) return nullptr;
    return static_cast<Effect*>(effect);
}

}  // namespace dsp
