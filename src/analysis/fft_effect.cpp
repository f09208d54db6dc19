#include "analysis/fft_effect.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "convert/convert.h"

namespace dsp {

void FftEffect::configure(uint32_t size, uint32_t channels, uint32_t rate) {
    // Buffers are only reallocated when inSize < size, and always for at least fftSize and
    // hopSize floats, so they keep holding max(inSize, fftSize, hopSize) floats.
    const uint32_t needed = std::max({size, fftSize, hopSize});
    SilentEffect::configure(needed, channels, rate);
    inSize = outSize = size;
}

FftEffect* FftEffect::allocate(uint32_t size, uint32_t channels) {
    auto* effect = new (std::nothrow) FftEffect;
    if (effect == nullptr) return nullptr;
    effect->configure(size, channels, 0);
    if (!effect->buffersUsable()) {
        delete effect;
        return nullptr;
    }
    return effect;
}

FftEffect* FftEffect::createBlockAnalyser(uint32_t size, uint32_t channels, uint32_t analysedChannels,
                                          uint32_t floorDb) {
    if (!isFftSize(size) || channels < 1 || channels > 2 || analysedChannels < 1 || analysedChannels > channels)
        return nullptr;
    FftEffect* effect = allocate(size, channels);
    if (effect == nullptr) return nullptr;
    effect->outChannels = analysedChannels;
    effect->fftSize = size;
    const float floor = float(floorDb);
    // Direct plans never read their history: hop and length are fixed placeholders.
    for (DirectFftPlan& plan : effect->blockPlans) {
        if (!plan.setup(576, 1344, size, floor)) {
            delete effect;
            return nullptr;
        }
    }
    return effect;
}

FftEffect* FftEffect::createShortTimeAnalyser(uint32_t size, uint32_t channels, uint32_t fftSize,
                                              uint32_t historyLen) {
    if (size < 1 || channels < 1 || channels > 2 || !isFftSize(fftSize) || historyLen < fftSize ||
        historyLen < size)
        return nullptr;
    FftEffect* effect = allocate(size, channels);
    if (effect == nullptr) return nullptr;
    effect->hopSize = size;
    effect->fftSize = fftSize;
    for (FftPlan& plan : effect->analysisPlans) {
        if (!plan.setup(size, historyLen, fftSize, 120.0f)) {
            delete effect;
            return nullptr;
        }
    }
    return effect;
}

uint32_t FftEffect::analyseBlock(const int16_t* pcm, float* out, uint32_t bytes) {
    if (!buffersUsable() || inChannels == 0) return 0;
    // A chain may have configured a larger block: one frame holds fftSize samples at most.
    bytes = std::min(clampToCapacity(bytes), fftSize * inChannels * 2);
    const uint32_t frames = bytes / (2 * inChannels);
    const bool stereo = outChannels == 2;
    pcmToFloat(pcm, bytes, inBufL, stereo ? inBufR : nullptr, inChannels);
    std::memset(inBufL + frames, 0, sizeof(float) * (fftSize - frames));
    blockPlans[0].transform(inBufL);
    const uint32_t bins = blockPlans[0].magnitudeDb(out, false);
    if (stereo) {
        std::memset(inBufR + frames, 0, sizeof(float) * (fftSize - frames));
        blockPlans[1].transform(inBufR);
        blockPlans[1].magnitudeDb(out + fftSize / 2, false);
    }
    return bins;
}

void FftEffect::analyseShortTime(const int16_t* pcm, float* out, uint32_t bytes) {
    if (!buffersUsable() || inChannels == 0) return;
    bytes = clampToCapacity(bytes);
    const uint32_t frames = bytes / (2 * inChannels);
    const uint32_t padded = std::max(inSize, hopSize);  // the plans read hopSize samples
    pcmToFloat(pcm, bytes, inBufL, inBufR, inChannels);
    std::memset(inBufL + frames, 0, sizeof(float) * (padded - frames));
    analysisPlans[0].transform(inBufL);
    analysisPlans[0].magnitudeDb(out, false);
    if (inChannels == 2) {
        std::memset(inBufR + frames, 0, sizeof(float) * (padded - frames));
        analysisPlans[1].transform(inBufR);
        analysisPlans[1].magnitudeDb(out + fftSize / 2, false);
    }
}

}  // namespace dsp
