#include "effects/pitch_shift_effect.h"

#include <algorithm>
#include <new>

namespace dsp {

PitchShiftEffect* PitchShiftEffect::create(uint32_t size, uint32_t channels, uint32_t rate, float pitch,
                                           float outLevel, float grainTime, float hopTime) {
    if (channels != 1 && channels != 2) return nullptr;
    auto* effect = new (std::nothrow) PitchShiftEffect;
    if (effect == nullptr) return nullptr;
    effect->pitch = pitch;
    effect->outLevel = outLevel;
    effect->grainTime = grainTime;
    effect->hopTime = hopTime;
    effect->DspEffect::configure(size, channels, rate);
    effect->outRate = rate;
    if (!effect->buffersUsable() || !effect->initEngines(rate)) {
        delete effect;
        return nullptr;
    }
    return effect;
}

bool PitchShiftEffect::initEngines(uint32_t rate) {
    bool ok = true;
    for (PitchShifter& shifter : shifters) ok = shifter.init(rate, pitch, outLevel, grainTime, hopTime) && ok;
    return ok;
}

void PitchShiftEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    DspEffect::configure(size, channels, rate);
    if (rate != outRate) initEngines(rate);
    outRate = rate;
}

uint32_t PitchShiftEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
    if (channel > 1) return 0;
    frames = std::min(frames, inSize);
    shifters[channel].process(in, out, frames);
    return frames;
}

uint32_t PitchShiftEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR,
                                        uint32_t frames) {
    frames = std::min(frames, inSize);
    shifters[0].process(inL, outL, frames);
    if (inChannels == 2) shifters[1].process(inR, outR, frames);
    return frames;
}

uint32_t PitchShiftEffect::processPcm(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    return processPcmByChannel(pcmIn, pcmOut, bytes);
}

void PitchShiftEffect::setPitch(float cents) {
    for (PitchShifter& shifter : shifters) shifter.setPitch(cents);
    pitch = cents;
}

void PitchShiftEffect::setOutLevel(float db) {
    for (PitchShifter& shifter : shifters) shifter.setOutLevel(db);
    outLevel = db;
}

}  // namespace dsp
