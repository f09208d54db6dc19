#include "rate/resampler_effect.h"

#include <algorithm>
#include <new>


namespace dsp {

ResamplerEffect* ResamplerEffect::create(uint32_t size, uint32_t inChannels, uint32_t outChannels, uint32_t srcRate,
                                         uint32_t dstRate, uint32_t interpolation, float stopbandDb,
                                         float slopeDbPerOctave, bool filterOn) {
    // Only mono and stereo exist; other counts would make the byte counts lie about the data.
    if (inChannels < 1 || inChannels > 2 || outChannels < 1 || outChannels > 2) return nullptr;
    auto* effect = new (std::nothrow) ResamplerEffect(dstRate, interpolation, stopbandDb, slopeDbPerOctave, filterOn);
    if (effect != nullptr) {
        effect->configure(size, inChannels, srcRate);
        effect->outChannels = outChannels;
    }
    return keepIfReady(effect);
}

void ResamplerEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    DspEffect::configure(size, channels, rate);
    const uint32_t m = converters_[0].setup(size, rate, outRate, interpolation_, stopbandDb_, slopeDbPerOctave_,
                                            filterOn_, kRippleDb);
    converters_[1].setup(size, rate, outRate, interpolation_, stopbandDb_, slopeDbPerOctave_, filterOn_, kRippleDb);
    enginesReady = converters_[0].ready() && converters_[1].ready();
    reserveOutput(m);
    outSize = m;
}

uint32_t ResamplerEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
    if (!ready() || channel > 1) return 0;
    return converters_[channel].process(in, out, std::min(frames, inSize));
}

uint32_t ResamplerEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR,
                                       uint32_t frames) {
    if (!ready()) return 0;
    frames = std::min(frames, inSize);
    if (inChannels == 2) return RateConverter::processPair(converters_[0], inL, outL, converters_[1], inR, outR, frames);
    return converters_[0].process(inL, outL, frames);
}

}  // namespace dsp
