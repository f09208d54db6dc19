#include "effects/stretch_effect.h"

#include <algorithm>
#include <limits>
#include <new>

#include "convert/convert.h"
#include "memory/fastmem.h"

namespace dsp {

StretchEffect* StretchEffect::create(uint32_t size, uint32_t channels, uint32_t rate, float scale, float outLevel,
                                     float grainTime, float hopTime) {
    if (channels != 1 && channels != 2) return nullptr;
    auto* effect = new (std::nothrow) StretchEffect;
    if (effect == nullptr) return nullptr;
    effect->scale = scale;
    effect->outLevel = outLevel;
    effect->grainTime = grainTime;
    effect->hopTime = hopTime;
    effect->DspEffect::configure(size, channels, rate);
    effect->outCapacity = size;
    effect->outRate = rate;
    effect->initEngines(size, rate);
    effect->outSize = maxDstSize(size);
    effect->growOutputBuffers();
    if (!effect->buffersUsable() || !effect->enginesReady()) {
        delete effect;
        return nullptr;
    }
    return effect;
}

uint32_t StretchEffect::maxDstSize(uint32_t size) {
    const uint64_t frames = uint64_t{size} * Stretcher::kMaxFactor;
    return frames > std::numeric_limits<uint32_t>::max() / 4 ? std::numeric_limits<uint32_t>::max() / 4
                                                              : uint32_t(frames);
}

void StretchEffect::initEngines(uint32_t size, uint32_t rate) {
    for (Stretcher& stretcher : stretchers) stretcher.init(size, rate, scale, outLevel, grainTime, hopTime);
}

bool StretchEffect::enginesReady() const { return stretchers[0].allocated() && stretchers[1].allocated(); }

// Replaces the two output buffers by ones of outSize frames when they hold fewer.
void StretchEffect::growOutputBuffers() {
    if (outCapacity >= outSize) return;
    fastmemFree(outBufL);
    fastmemFree(outBufR);
    outBufL = static_cast<float*>(fastmemAlloc(outSize * 4));
    outBufR = static_cast<float*>(fastmemAlloc(outSize * 4));
    if (outBufL == nullptr || outBufR == nullptr) {  // out of memory: the effect then refuses to run
        fastmemFree(outBufL);
        fastmemFree(outBufR);
        outBufL = outBufR = nullptr;
        outCapacity = 0;
        return;
    }
    outCapacity = outSize;
}

void StretchEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    const bool keepsBuffers = configured && inSize >= size;
    DspEffect::configure(size, channels, rate);
    if (!keepsBuffers) outCapacity = size;  // the base step has just allocated size frames each
    if (rate != outRate) initEngines(size, rate);
    outRate = rate;
    outSize = maxDstSize(size);
    growOutputBuffers();
}

uint32_t StretchEffect::getDstSize(uint32_t srcSize) { return stretchers[0].dstSize(srcSize); }

uint32_t StretchEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
    if (channel > 1) return 0;
    return stretchers[channel].process(in, out, std::min(frames, inSize));
}

uint32_t StretchEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR,
                                     uint32_t frames) {
    frames = std::min(frames, inSize);
    const uint32_t produced = stretchers[0].process(inL, outL, frames);
    if (inChannels != 2) return produced;
    const uint32_t right = stretchers[1].process(inR, outR, frames);
    // A scale set while the effect ran mono reaches the idle right engine one chunk late, so it
    // can write fewer frames than the left: the frames it did not write are silence.
    if (right < produced) std::fill(outR + right, outR + produced, 0.0f);
    return produced;
}

uint32_t StretchEffect::processPcm(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    if (!buffersUsable() || outCapacity < maxDstSize(inSize) || (inChannels != 1 && inChannels != 2)) return 0;
    bytes = clampToCapacity(bytes);
    const uint32_t frames = bytes / (inChannels * 2);
    pcmToFloat(pcmIn, bytes, inBufL, inBufR, inChannels);
    const uint32_t produced = processBlock(inBufL, inBufR, outBufL, outBufR, frames);
    floatToPcm(outBufL, outBufR, produced, pcmOut, inChannels);
    return inChannels * produced * 2;
}

void StretchEffect::setScale(float value) {
    for (Stretcher& stretcher : stretchers) stretcher.setScale(value);
    scale = value;
}

void StretchEffect::setOutLevel(float db) {
    for (Stretcher& stretcher : stretchers) stretcher.setOutLevel(db);
    outLevel = db;
}

}  // namespace dsp
