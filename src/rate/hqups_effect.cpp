#include "rate/hqups_effect.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "convert/convert.h"
#include "memory/fastmem.h"

namespace dsp {
namespace {

// Truncation toward zero into a frame count; NaN and negatives give 0, overflow saturates.
uint32_t toFrames(double value) {
    if (!(value > 0.0)) return 0;
    if (value >= 4294967295.0) return 4294967295u;
    return static_cast<uint32_t>(value);
}

// Any channel count other than 2 is mono, as in the PCM conversions.
uint32_t channelCount(uint32_t channels) { return channels == 2 ? 2 : 1; }

// An effect whose buffers could not be allocated is given up: the init functions report
// running out of memory with nullptr.
HqupsEffect* keepIfUsable(HqupsEffect* effect) {
    if (effect && !(effect->configured && effect->inBufL && effect->inBufR && effect->outBufL && effect->outBufR &&
                    effect->auxBufL && effect->auxBufR)) {
        delete effect;
        return nullptr;
    }
    return effect;
}

uint32_t correctOnce(uint32_t s, uint32_t back, uint32_t wanted) {
    if (back < wanted) return s + 1;
    if (back > wanted && s > 0) return s - 1;
    return s;
}

}  // namespace

uint32_t HqupsEffect::sourceFramesFor(uint32_t dstFrames, uint32_t srcRate) {
    if (srcRate == 0) return 0;
    const float perOutputSample = 1.0f / 48000.0f;  // 2.0833333e-05, the float nearest 1/48000
    const uint32_t s = toFrames(static_cast<double>(dstFrames) * srcRate * perOutputSample);
    const uint32_t back = toFrames(s * static_cast<double>(48000.0f) / srcRate);
    return correctOnce(s, back, dstFrames);
}

uint32_t HqupsEffect::sourceSize(uint32_t dstFrames) const {
    if (inRate == 0 || outRate == 0) return 0;
    const uint32_t s = toFrames(static_cast<double>(dstFrames) * inRate / outRate);
    const uint32_t back = toFrames(static_cast<double>(s) * outRate / inRate);
    return correctOnce(s, back, dstFrames);
}

HqupsEffect::HqupsEffect() {
    kind = kKind;
    outRate = kOutputRate;
}

HqupsEffect* HqupsEffect::createForOutput(uint32_t dstFrames, uint32_t inChannels, uint32_t outChannels,
                                          uint32_t srcRate, const HqupsParams& params) {
    auto* effect = new (std::nothrow) HqupsEffect;
    if (effect) effect->init(sourceFramesFor(dstFrames, srcRate), inChannels, outChannels, srcRate, params, &dstFrames);
    return keepIfUsable(effect);
}

HqupsEffect* HqupsEffect::createForSource(uint32_t srcFrames, uint32_t inChannels, uint32_t outChannels,
                                          uint32_t srcRate, const HqupsParams& params) {
    auto* effect = new (std::nothrow) HqupsEffect;
    if (effect) effect->init(srcFrames, inChannels, outChannels, srcRate, params, nullptr);
    return keepIfUsable(effect);
}

void HqupsEffect::init(uint32_t srcFrames, uint32_t inChannelCount, uint32_t outChannelCount, uint32_t srcRate,
                       const HqupsParams& params, const uint32_t* dstFrames) {
    params_ = params;
    DspEffect::configure(srcFrames, channelCount(inChannelCount), srcRate);
    outChannels = channelCount(outChannelCount);
    outCapacity_ = srcFrames;
    const uint32_t converted = setupConverters(srcFrames, srcRate);
    // The source block chosen for dstFrames can convert to one frame more (22050 Hz and 1000
    // frames: 460 -> 1001); buffers, engines and outSize take the larger count.
    const uint32_t frames = dstFrames ? std::max(*dstFrames, converted) : converted;
    setupEngines(frames);
    fastmemFree(outBufL);
    fastmemFree(outBufR);
    fastmemFree(auxBufL);
    fastmemFree(auxBufR);
    outBufL = outBufR = auxBufL = auxBufR = nullptr;
    outCapacity_ = 0;
    growOutputBuffers(frames);
    outSize = frames;
}

uint32_t HqupsEffect::setupConverters(uint32_t size, uint32_t rate) {
    const uint32_t converted = converters_[0].setup(size, rate, outRate, params_.interpolation, params_.stopbandDb,
                                                    params_.slopeDbPerOctave, params_.filterOn, 0.1f);
    converters_[1].setup(size, rate, outRate, params_.interpolation, params_.stopbandDb, params_.slopeDbPerOctave,
                         params_.filterOn, 0.1f);
    return converted;
}

void HqupsEffect::setupEngines(uint32_t frames) {
    for (HarmonicsEngine& engine : engines_)
        engine.setup(frames, outRate, params_.harmonics, params_.mixPercent, params_.cutoff, params_.activeMode, kTaps);
}

void HqupsEffect::growOutputBuffers(uint32_t frames) {
    if (outCapacity_ >= frames && outBufL && outBufR && auxBufL && auxBufR) return;
    for (float** buffer : {&outBufL, &outBufR, &auxBufL, &auxBufR}) {
        fastmemFree(*buffer);
        *buffer = static_cast<float*>(fastmemAlloc(std::max(frames, 1u) * 4));
    }
    outCapacity_ = frames;
}

void HqupsEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    const bool keepsBuffers = configured && inSize >= size;
    DspEffect::configure(size, channelCount(channels), rate);
    if (!keepsBuffers) outCapacity_ = size;
    const uint32_t converted = setupConverters(size, rate);
    setupEngines(converted);
    growOutputBuffers(converted);
    outSize = converted;
}

uint32_t HqupsEffect::getDstSize(uint32_t srcSize) { return converters_[0].getDstSize(srcSize); }

uint32_t HqupsEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
    if (channel > 1 || !buffersUsable()) return 0;
    frames = std::min(frames, inSize);
    if (frames == 0) return 0;
    // Both channels pass through auxBufL on their way from the converter to the engine.
    const uint32_t n = converters_[channel].process(in, auxBufL, frames);
    engines_[channel].process(auxBufL, out, n);
    return n;
}

uint32_t HqupsEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) {
    if (!buffersUsable()) return 0;
    frames = std::min(frames, inSize);
    // An empty block changes nothing: no converter, analysis or filter state moves.
    if (frames == 0) return 0;
    const bool stereo = inChannels == 2;
    const uint32_t n = stereo ? RateConverter::processPair(converters_[0], inL, auxBufL, converters_[1], inR, auxBufR, frames)
                              : converters_[0].process(inL, auxBufL, frames);
    // The mid signal goes through outR, which is overwritten by the right channel afterwards.
    if (stereo) {
        for (uint32_t i = 0; i < n; ++i) outR[i] = (auxBufR[i] + auxBufL[i]) * 0.5f;
    } else {
        std::copy(auxBufL, auxBufL + n, outR);
    }
    const float edge = engines_[0].findBandEdge(outR, n);
    engines_[0].processWithEdge(auxBufL, outL, edge, n);
    if (stereo) engines_[1].processWithEdge(auxBufR, outR, edge, n);
    return n;
}

uint32_t HqupsEffect::processPcm(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    if (!buffersUsable() || inChannels == 0) return 0;
    bytes = clampToCapacity(bytes);
    const uint32_t frames = bytes / (inChannels * 2);
    if (frames == 0) return 0;
    pcmToFloat(pcmIn, bytes, inBufL, inBufR, inChannels);
    const uint32_t n = processBlock(inBufL, inBufR, outBufL, outBufR, frames);
    floatToPcm(outBufL, inChannels == 2 ? outBufR : nullptr, n, pcmOut, outChannels);
    return outChannels * n * 2;
}

void HqupsEffect::setActiveMode(uint32_t mode) {
    for (HarmonicsEngine& engine : engines_) engine.setActiveMode(mode);
    params_.activeMode = mode;
}

void HqupsEffect::setMix(float percent) {
    for (HarmonicsEngine& engine : engines_) engine.setMix(percent);
    params_.mixPercent = percent;
}

void HqupsEffect::setHarmonics(float harmonics) {
    for (HarmonicsEngine& engine : engines_) engine.setHarmonics(harmonics);
    params_.harmonics = harmonics;
}

}  // namespace dsp
