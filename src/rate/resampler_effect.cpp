#include "rate/resampler_effect.h"

#include <algorithm>
#include <new>

#include "convert/convert.h"
#include "memory/fastmem.h"

namespace dsp {

ResamplerEffect* ResamplerEffect::create(uint32_t size, uint32_t inChannels, uint32_t outChannels, uint32_t srcRate,
                                         uint32_t dstRate, uint32_t interpolation, float stopbandDb,
                                         float slopeDbPerOctave, bool filterOn) {
    // Only mono and stereo exist; other counts would make the byte counts lie about the data.
    if (inChannels < 1 || inChannels > 2 || outChannels < 1 || outChannels > 2) return nullptr;
    auto* e = new (std::nothrow) ResamplerEffect();
    if (e == nullptr) return nullptr;
    e->interpolation_ = interpolation;
    e->stopbandDb_ = stopbandDb;
    e->slopeDbPerOctave_ = slopeDbPerOctave;
    e->filterOn_ = filterOn;
    e->DspEffect::configure(size, inChannels, srcRate);
    e->outCapacity_ = size;
    e->outChannels = outChannels;
    e->outRate = dstRate;
    const uint32_t m = e->setupConverters(size, srcRate);
    // The output buffers are always replaced by ones sized for the converted block.
    fastmemFree(e->outBufL);
    fastmemFree(e->outBufR);
    e->outBufL = e->outBufR = nullptr;
    e->outCapacity_ = 0;
    e->ensureOutputCapacity(m);
    e->outSize = m;
    return e;
}

uint32_t ResamplerEffect::setupConverters(uint32_t size, uint32_t srcRate) {
    const uint32_t m = converters_[0].setup(size, srcRate, outRate, interpolation_, stopbandDb_, slopeDbPerOctave_,
                                            filterOn_, kRippleDb);
    converters_[1].setup(size, srcRate, outRate, interpolation_, stopbandDb_, slopeDbPerOctave_, filterOn_, kRippleDb);
    return m;
}

void ResamplerEffect::ensureOutputCapacity(uint32_t frames) {
    if (outCapacity_ >= frames && outBufL != nullptr && outBufR != nullptr) return;
    fastmemFree(outBufL);
    fastmemFree(outBufR);
    outBufL = outBufR = nullptr;
    outCapacity_ = 0;
    if (frames > 0xffffffffu / 4) return;  // no buffer that large: the effect stays unusable
    outBufL = static_cast<float*>(fastmemAlloc(frames * 4));
    outBufR = static_cast<float*>(fastmemAlloc(frames * 4));
    if (outBufL != nullptr && outBufR != nullptr) outCapacity_ = frames;
}

void ResamplerEffect::releaseBuffers() {
    DspEffect::releaseBuffers();
    outCapacity_ = 0;
}

void ResamplerEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    const bool reallocates = !(configured && inSize >= size);
    DspEffect::configure(size, channels, rate);
    if (reallocates) outCapacity_ = size;
    const uint32_t m = setupConverters(size, rate);
    ensureOutputCapacity(m);
    outSize = m;
}

uint32_t ResamplerEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
    if (!usable() || channel > 1) return 0;
    return converters_[channel].process(in, out, std::min(frames, inSize));
}

uint32_t ResamplerEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR,
                                       uint32_t frames) {
    if (!usable()) return 0;
    frames = std::min(frames, inSize);
    if (inChannels == 2) return RateConverter::processPair(converters_[0], inL, outL, converters_[1], inR, outR, frames);
    return converters_[0].process(inL, outL, frames);
}

uint32_t ResamplerEffect::processPcm(const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes) {
    if (!usable() || inChannels < 1 || inChannels > 2) return 0;
    bytes = clampToCapacity(bytes);
    const uint32_t frames = bytes / (inChannels * 2);
    pcmToFloat(pcmIn, bytes, inBufL, inBufR, inChannels);
    const uint32_t n = processBlock(inBufL, inBufR, outBufL, outBufR, frames);
    floatToPcm(outBufL, inChannels == 2 ? outBufR : nullptr, n, pcmOut, outChannels);
    return outChannels * n * 2;
}

}  // namespace dsp
