#include "effects/chorus_effect.h"

#include <new>

namespace dsp {

ChorusEffect* ChorusEffect::create(uint32_t size, uint32_t channels, uint32_t rate, const ChorusParams& params) {
    auto* effect = new (std::nothrow) ChorusEffect(params);
    if (effect != nullptr) effect->configure(size, channels, rate);
    return keepIfReady(effect);
}

void ChorusEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    DspEffect::configure(size, channels, rate);
    outRate = rate;
    enginesReady = true;
    for (ChorusLine& line : lines)
        enginesReady &= line.setup(rate, params.voices, params.delayTime, params.depth, params.speed, params.mix,
                                   params.orgMix);
}

uint32_t ChorusEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
    // Only channels 0 and 1 exist; any other channel number processes nothing.
    if (channel > 1) return 0;
    lines[channel].process(in, out, frames);
    return frames;
}

uint32_t ChorusEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) {
    if (inChannels == 2)
        ChorusLine::processPair(lines[0], lines[1], inL, inR, outL, outR, frames);
    else
        lines[0].process(inL, outL, frames);
    return frames;
}

void ChorusEffect::setDelayTime(float ms) {
    for (ChorusLine& line : lines) line.setDelayTime(ms);
    params.delayTime = ms;
}

void ChorusEffect::setDepth(float ms) {
    for (ChorusLine& line : lines) line.setDepth(ms);
    params.depth = ms;
}

void ChorusEffect::setSpeed(float seconds) {
    for (ChorusLine& line : lines) line.setSpeed(seconds);
    params.speed = seconds;
}

bool ChorusEffect::setMix(int32_t voice, float percent) {
    if (voice < 0 || static_cast<uint32_t>(voice) >= params.voices) return false;
    for (ChorusLine& line : lines) line.setVoiceMix(voice, percent);
    params.mix = percent;
    return true;
}

void ChorusEffect::setOrgMix(float percent) {
    for (ChorusLine& line : lines) line.setDryMix(percent);
    params.orgMix = percent;
}

}  // namespace dsp
