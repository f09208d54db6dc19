#include "rate/hqups_effect.h"

#include <algorithm>
#include <cmath>
#include <new>

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

// Buffer sizes are 32-bit byte counts: a block whose floats would not fit counts as running
// out of memory instead of wrapping around to a small allocation.
bool fitsInBuffers(double frames) { return frames <= 1073741823.0; }

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

HqupsEffect* HqupsEffect::create(Block block, uint32_t frames, uint32_t inChannels, uint32_t outChannels,
                                 uint32_t srcRate, const HqupsParams& params) {
    const bool output = block == Block::kOutput;
    const uint32_t srcFrames = output ? sourceFramesFor(frames, srcRate) : frames;
    const double dstFrames = output ? frames : srcRate != 0 ? 48000.0 * frames / srcRate : 0.0;
    if (!fitsInBuffers(srcFrames + (output ? 1.0 : 0.0)) || !fitsInBuffers(dstFrames)) return nullptr;
    auto* effect = new (std::nothrow) HqupsEffect(params);
    if (effect != nullptr) {
        effect->configureFor(srcFrames, inChannels, srcRate, output ? frames : 0);
        effect->outChannels = channelCount(outChannels);
    }
    return keepIfReady(effect);
}

void HqupsEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) { configureFor(size, channels, rate, 0); }

void HqupsEffect::configureFor(uint32_t size, uint32_t channels, uint32_t rate, uint32_t minOutFrames) {
    DspEffect::configure(size, channelCount(channels), rate);
    const uint32_t converted =
        converters_[0].setup(size, rate, outRate, params_.interpolation, params_.stopbandDb, params_.slopeDbPerOctave,
                             params_.filterOn, 0.1f);
    converters_[1].setup(size, rate, outRate, params_.interpolation, params_.stopbandDb, params_.slopeDbPerOctave,
                         params_.filterOn, 0.1f);
    // The source block chosen for an output block can convert to one frame more (22050 Hz and
    // 1000 frames: 460 -> 1001); buffers, engines and outSize take the larger count.
    const uint32_t frames = std::max(minOutFrames, converted);
    enginesReady = converters_[0].ready() && converters_[1].ready();
    for (HarmonicsEngine& engine : engines_)
        enginesReady = engine.setup(frames, outRate, params_.harmonics, params_.mixPercent, params_.cutoff,
                                    params_.activeMode, kTaps) && enginesReady;
    // Both channels pass through the auxiliary buffers between converter and engine.
    reserveOutput(frames, true);
    outSize = frames;
}

uint32_t HqupsEffect::getDstSize(uint32_t srcSize) { return converters_[0].getDstSize(srcSize); }

uint32_t HqupsEffect::processChannel(uint32_t channel, const float* in, float* out, uint32_t frames) {
    if (channel > 1 || !ready()) return 0;
    frames = std::min(frames, inSize);
    if (frames == 0) return 0;
    // Both channels pass through auxBufL on their way from the converter to the engine.
    const uint32_t n = converters_[channel].process(in, auxBufL, frames);
    engines_[channel].process(auxBufL, out, n);
    return n;
}

uint32_t HqupsEffect::processBlock(const float* inL, const float* inR, float* outL, float* outR, uint32_t frames) {
    if (!ready()) return 0;
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
