#include "effects/pitch_shift_effect.h"

#include <algorithm>
#include <new>

namespace dsp {

PitchShiftEffect* PitchShiftEffect::create(uint32_t size, uint32_t channels, uint32_t rate, float pitch,
                                           float outLevel, float grainTime, float hopTime) {
    if (channels != 1 && channels != 2) return nullptr;
    auto* effect = new (std::nothrow) PitchShiftEffect(pitch, outLevel, grainTime, hopTime);
    if (effect != nullptr) effect->configure(size, channels, rate);
    return keepIfReady(effect);
}

uint32_t PitchShiftEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
    if (channel > 1) return 0;
    frames = std::min(frames, inSize);
    engines[channel].process(in, out, frames);
    return frames;
}

uint32_t PitchShiftEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR,
                                        uint32_t frames) {
    frames = std::min(frames, inSize);
    engines[0].process(inL, outL, frames);
    if (inChannels == 2) engines[1].process(inR, outR, frames);
    return frames;
}

void PitchShiftEffect::setPitch(float cents) {
    for (PitchShifter& shifter : engines) shifter.setPitch(cents);
    amount = cents;
}

}  // namespace dsp
