#include "effects/stretch_effect.h"

#include <algorithm>
#include <limits>
#include <new>

namespace dsp {

StretchEffect* StretchEffect::create(uint32_t size, uint32_t channels, uint32_t rate, float scale, float outLevel,
                                     float grainTime, float hopTime) {
    if (channels != 1 && channels != 2) return nullptr;
    auto* effect = new (std::nothrow) StretchEffect(scale, outLevel, grainTime, hopTime);
    if (effect != nullptr) effect->configure(size, channels, rate);
    return keepIfReady(effect);
}

uint32_t StretchEffect::maxDstSize(uint32_t size) {
    const uint64_t frames = uint64_t{size} * Stretcher::kMaxFactor;
    return frames > std::numeric_limits<uint32_t>::max() / 4 ? std::numeric_limits<uint32_t>::max() / 4
                                                              : uint32_t(frames);
}

void StretchEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    configureEngines(size, channels, rate);
    outSize = maxDstSize(size);
    reserveOutput(outSize);
}

uint32_t StretchEffect::getDstSize(uint32_t srcSize) { return engines[0].dstSize(srcSize); }

uint32_t StretchEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
    if (channel > 1) return 0;
    return engines[channel].process(in, out, std::min(frames, inSize));
}

uint32_t StretchEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR,
                                     uint32_t frames) {
    frames = std::min(frames, inSize);
    const uint32_t produced = engines[0].process(inL, outL, frames);
    if (inChannels != 2) return produced;
    const uint32_t right = engines[1].process(inR, outR, frames);
    // A scale set while the effect ran mono reaches the idle right engine one chunk late, so it
    // can write fewer frames than the left: the frames it did not write are silence.
    if (right < produced) std::fill(outR + right, outR + produced, 0.0f);
    return produced;
}

void StretchEffect::setScale(float value) {
    for (Stretcher& stretcher : engines) stretcher.setScale(value);
    amount = value;
}

}  // namespace dsp
