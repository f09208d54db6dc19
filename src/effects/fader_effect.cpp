#include "effects/fader_effect.h"

#include <new>

namespace dsp {

FaderEffect::FaderEffect(float cross, float fader0, float fader1)
    : DspEffect(kKind), crossInitial(cross), fader0Initial(fader0), fader1Initial(fader1) {}

FaderEffect* FaderEffect::create(uint32_t size, uint32_t channels, uint32_t rate, float crossInitial,
                                 float fader0Initial, float fader1Initial) {
    // Buffers are size * 4 bytes in 32 bits: larger blocks cannot be allocated.
    if ((channels != 1 && channels != 2) || size > 0x3FFFFFFFu) return nullptr;
    auto* effect = new (std::nothrow) FaderEffect(crossInitial, fader0Initial, fader1Initial);
    if (effect != nullptr) effect->configure(size, channels, rate);
    return keepIfReady(effect);
}

void FaderEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    DspEffect::configure(size, channels, rate);
    outRate = rate;
    for (uint32_t c = 0; c < 2; ++c) {
        fader(0, c).setup(size, rate, fader0Initial);
        fader(1, c).setup(size, rate, fader1Initial);
        crossEngines[c].setup(size, rate, crossInitial);
    }
    if (curveSet)
        for (CrossFadeEngine& engine : crossEngines)
            engine.setCurve(curveParams[0], curveParams[1], curveParams[2], curveParams[3]);
}

uint32_t FaderEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
    if (channel > 1 || !ready()) return 0;
    if (frames > inSize) frames = inSize;
    faderEngines[channel].process(in, out, frames);
    return frames;
}

uint32_t FaderEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) {
    if (!ready()) return 0;
    if (frames > inSize) frames = inSize;
    fader(activeFader_, 0).process(inL, outL, frames);
    if (inChannels == 2) fader(activeFader_, 1).process(inR, outR, frames);
    return frames;
}

bool FaderEffect::fade(uint32_t index, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    if (index > 1) return false;
    activeFader_ = index;
    const bool ran = runPcm(pcmIn, pcmOut, bytes);
    activeFader_ = 0;
    return ran;
}

bool FaderEffect::crossFade(const int16_t* pcmA, const int16_t* pcmB, int16_t* pcmOut, uint32_t bytes) {
    if (!ready() || inChannels == 0) return false;
    const bool stereo = inChannels == 2;
    const uint32_t frames = loadPcm(pcmA, bytes);
    fader(0, 0).process(inBufL, auxBufL, frames);
    if (stereo) fader(0, 1).process(inBufR, auxBufR, frames);
    loadPcm(pcmB, bytes);
    fader(1, 0).process(inBufL, outBufL, frames);
    if (stereo) fader(1, 1).process(inBufR, outBufR, frames);
    crossEngines[0].mix(auxBufL, outBufL, outBufL, frames);
    if (stereo) crossEngines[1].mix(auxBufR, outBufR, outBufR, frames);
    storePcm(frames, pcmOut);
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

}  // namespace dsp
