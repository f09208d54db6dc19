#include "effects/fader_effect.h"

#include <new>

#include "convert/convert.h"

namespace dsp {

FaderEffect::FaderEffect(float cross, float fader0, float fader1)
    : crossInitial(cross), fader0Initial(fader0), fader1Initial(fader1) {
    kind = kKind;
}

void FaderEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    DspEffect::configure(size, channels, rate);
    outRate = rate;
    for (uint32_t c = 0; c < 2; ++c) {
        fader(0, c).init(size, rate, fader0Initial);
        fader(1, c).init(size, rate, fader1Initial);
        crossEngines[c].init(size, rate, crossInitial);
    }
    if (curveSet)
        for (CrossFadeEngine& engine : crossEngines)
            engine.setCurve(curveParams[0], curveParams[1], curveParams[2], curveParams[3]);
}

uint32_t FaderEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
    if (channel > 1 || !buffersUsable()) return 0;
    if (frames > inSize) frames = inSize;
    faderEngines[channel].process(in, out, frames);
    return frames;
}

uint32_t FaderEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) {
    if (!buffersUsable()) return 0;
    if (frames > inSize) frames = inSize;
    fader(0, 0).process(inL, outL, frames);
    if (inChannels == 2) fader(0, 1).process(inR, outR, frames);
    return frames;
}

uint32_t FaderEffect::processPcm(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    return processPcmByChannel(pcmIn, pcmOut, bytes);
}

bool FaderEffect::framesFor(uint32_t& bytes, uint32_t& frames) const {
    if (!buffersUsable() || (inChannels != 1 && inChannels != 2)) return false;
    bytes = clampToCapacity(bytes);
    frames = bytes / (inChannels * 2);
    return true;
}

bool FaderEffect::fade(uint32_t index, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    uint32_t frames = 0;
    if (index > 1 || !framesFor(bytes, frames)) return false;
    pcmToFloat(pcmIn, bytes, inBufL, inBufR, inChannels);
    fader(index, 0).process(inBufL, outBufL, frames);
    if (inChannels > 1) fader(index, 1).process(inBufR, outBufR, frames);
    floatToPcm(outBufL, outBufR, frames, pcmOut, inChannels);
    return true;
}

bool FaderEffect::crossFade(const int16_t* pcmA, const int16_t* pcmB, int16_t* pcmOut, uint32_t bytes) {
    uint32_t frames = 0;
    if (!framesFor(bytes, frames)) return false;
    const bool stereo = inChannels == 2;
    pcmToFloat(pcmA, bytes, inBufL, inBufR, inChannels);
    fader(0, 0).process(inBufL, auxBufL, frames);
    if (stereo) fader(0, 1).process(inBufR, auxBufR, frames);
    pcmToFloat(pcmB, bytes, inBufL, inBufR, inChannels);
    fader(1, 0).process(inBufL, outBufL, frames);
    if (stereo) fader(1, 1).process(inBufR, outBufR, frames);
    crossEngines[0].mix(auxBufL, outBufL, outBufL, frames);
    if (stereo) crossEngines[1].mix(auxBufR, outBufR, outBufR, frames);
    floatToPcm(outBufL, outBufR, frames, pcmOut, inChannels);
    return true;
}

bool FaderEffect::setFaderAction(uint32_t index, float start, float end, float targetDb) {
    if (index > 1) return false;
    fader(index, 0).add(start, end, targetDb);
    fader(index, 1).add(start, end, targetDb);
    return true;
}

bool FaderEffect::delFaderAction(uint32_t index, float start, float end) {
    if (index > 1) return false;
    fader(index, 0).remove(start, end);
    fader(index, 1).remove(start, end);
    return true;
}

void FaderEffect::setCrossFaderAction(float start, float end, float targetPosition) {
    for (CrossFadeEngine& engine : crossEngines) engine.add(start, end, targetPosition);
}

void FaderEffect::delCrossFaderAction(float start, float end) {
    for (CrossFadeEngine& engine : crossEngines) engine.remove(start, end);
}

void FaderEffect::setCrossFaderCurve(float centreDb, float edgeDb, float unityWidth, float fadeWidth) {
    for (CrossFadeEngine& engine : crossEngines) engine.setCurve(centreDb, edgeDb, unityWidth, fadeWidth);
    curveParams[0] = centreDb;
    curveParams[1] = edgeDb;
    curveParams[2] = unityWidth;
    curveParams[3] = fadeWidth;
    curveSet = true;
}

FaderEffect* createFader(uint32_t size, uint32_t channels, uint32_t rate, float crossInitial,
                         float fader0Initial, float fader1Initial) {
    // Buffers are size * 4 bytes in 32 bits: larger blocks cannot be allocated.
    if ((channels != 1 && channels != 2) || size > 0x3FFFFFFFu) return nullptr;
    auto* effect = new (std::nothrow) FaderEffect(crossInitial, fader0Initial, fader1Initial);
    if (effect == nullptr) return nullptr;
    effect->configure(size, channels, rate);
    uint32_t bytes = 0;
    uint32_t frames = 0;
    if (!effect->framesFor(bytes, frames)) {
        delete effect;
        return nullptr;
    }
    return effect;
}

}  // namespace dsp
