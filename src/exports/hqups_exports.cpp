// High-quality upsampler: the exported functions of effect kind 6.
#include "exports/export.h"
#include "platform/fp_scope.h"
#include "rate/hqups_effect.h"

namespace {

dsp::HqupsParams makeParams(float harmonics, float mix, uint32_t cutoff, uint32_t interpolation, float stopbandDb,
                            float slopeDbPerOctave, uint32_t activeMode, bool filterOn) {
    dsp::HqupsParams p;
    p.harmonics = harmonics;
    p.mixPercent = mix;
    p.cutoff = cutoff;
    p.interpolation = interpolation;
    p.stopbandDb = stopbandDb;
    p.slopeDbPerOctave = slopeDbPerOctave;
    p.activeMode = activeMode;
    p.filterOn = filterOn;
    return p;
}

}  // namespace

extern "C" {

DSP_API dsp_effect* initHqups(uint32_t dstFrames, uint32_t inChannels, uint32_t outChannels, uint32_t srcRate,
                              float harmonics, float mix, uint32_t cutoff, uint32_t interpolation, float stopbandDb,
                              float slopeDbPerOctave, uint32_t activeMode, bool filterOn) {
    const dsp::FpScope fpScope;
    return dsp::toHandle(dsp::HqupsEffect::create(
        dsp::HqupsEffect::Block::kOutput, dstFrames, inChannels, outChannels, srcRate,
        makeParams(harmonics, mix, cutoff, interpolation, stopbandDb, slopeDbPerOctave, activeMode, filterOn)));
}

DSP_API dsp_effect* initHqupsBySrcsize(uint32_t srcFrames, uint32_t inChannels, uint32_t outChannels,
                                       uint32_t srcRate, float harmonics, float mix, uint32_t cutoff,
                                       uint32_t interpolation, float stopbandDb, float slopeDbPerOctave,
                                       uint32_t activeMode, bool filterOn) {
    const dsp::FpScope fpScope;
    return dsp::toHandle(dsp::HqupsEffect::create(
        dsp::HqupsEffect::Block::kSource, srcFrames, inChannels, outChannels, srcRate,
        makeParams(harmonics, mix, cutoff, interpolation, stopbandDb, slopeDbPerOctave, activeMode, filterOn)));
}

DSP_API uint32_t doHqups(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    const dsp::FpScope fpScope;
    auto* effect = dsp::effectOfKind<dsp::HqupsEffect>(handle);
    return effect ? effect->processPcm(pcmIn, pcmOut, bytes) : 0;
}

DSP_API uint32_t getHqupsSrcSize(dsp_effect* handle, uint32_t dstFrames) {
    const dsp::FpScope fpScope;
    auto* effect = dsp::effectOfKind<dsp::HqupsEffect>(handle);
    return effect ? effect->sourceSize(dstFrames) : 0;
}

DSP_API uint32_t getHqupsDstSize(dsp_effect* handle, uint32_t srcFrames) {
    const dsp::FpScope fpScope;
    auto* effect = dsp::effectOfKind<dsp::HqupsEffect>(handle);
    return effect ? effect->getDstSize(srcFrames) : 0;
}

DSP_API bool setHqupsActiveMode(dsp_effect* handle, uint32_t activeMode) {
    const dsp::FpScope fpScope;
    auto* effect = dsp::effectOfKind<dsp::HqupsEffect>(handle);
    if (effect) effect->setActiveMode(activeMode);
    return effect != nullptr;
}

DSP_API bool setHqupsMix(dsp_effect* handle, float mix) {
    const dsp::FpScope fpScope;
    auto* effect = dsp::effectOfKind<dsp::HqupsEffect>(handle);
    if (effect) effect->setMix(mix);
    return effect != nullptr;
}

DSP_API bool setHqupsHarmonics(dsp_effect* handle, float harmonics) {
    const dsp::FpScope fpScope;
    auto* effect = dsp::effectOfKind<dsp::HqupsEffect>(handle);
    if (effect) effect->setHarmonics(harmonics);
    return effect != nullptr;
}

DSP_API bool termHqups(dsp_effect* handle) {
    const dsp::FpScope fpScope;
    auto* effect = dsp::effectOfKind<dsp::HqupsEffect>(handle);
    delete effect;
    return effect != nullptr;
}

}  // extern "C"
