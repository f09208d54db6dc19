#include "analysis/fft_effect.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace dsp {

FftEffect* FftEffect::create(uint32_t size, uint32_t channels, uint32_t analysedChannels, uint32_t floorDb) {
    if (!isFftSize(size) || channels < 1 || channels > 2 || analysedChannels < 1 || analysedChannels > channels)
        return nullptr;
    auto* effect = new (std::nothrow) FftEffect(size);
    if (effect != nullptr) {
        effect->configure(size, channels, 0);
        effect->outChannels = analysedChannels;
        // Direct plans never read their history: hop and length are fixed placeholders.
        for (DirectFftPlan& plan : effect->plans)
            effect->enginesReady = plan.setup(576, 1344, size, float(floorDb)) && effect->enginesReady;
    }
    return keepIfReady(effect);
}

uint32_t FftEffect::analyse(const int16_t* pcm, float* out, uint32_t bytes) {
    if (!ready() || inChannels == 0) return 0;
    const bool stereo = outChannels == 2;
    // A chain may have configured a larger block: one frame holds fftSize samples at most.
    const uint32_t frames = loadPcm(pcm, bytes, !stereo, fftSize);
    std::memset(inBufL + frames, 0, sizeof(float) * (fftSize - frames));
    plans[0].transform(inBufL);
    const uint32_t bins = plans[0].magnitudeDb(out, false);
    if (stereo) {
        std::memset(inBufR + frames, 0, sizeof(float) * (fftSize - frames));
        plans[1].transform(inBufR);
        plans[1].magnitudeDb(out + fftSize / 2, false);
    }
    return bins;
}

FftAnalyzeEffect* FftAnalyzeEffect::create(uint32_t size, uint32_t channels, uint32_t fftSize, uint32_t historyLen) {
    if (size < 1 || channels < 1 || channels > 2 || !isFftSize(fftSize) || historyLen < fftSize ||
        historyLen < size)
        return nullptr;
    auto* effect = new (std::nothrow) FftAnalyzeEffect(fftSize, size);
    if (effect != nullptr) {
        effect->configure(size, channels, 0);
        for (FftPlan& plan : effect->plans)
            effect->enginesReady = plan.setup(size, historyLen, fftSize, 120.0f) && effect->enginesReady;
    }
    return keepIfReady(effect);
}

void FftAnalyzeEffect::analyse(const int16_t* pcm, float* out, uint32_t bytes) {
    if (!ready() || inChannels == 0) return;
    const uint32_t frames = loadPcm(pcm, bytes);
    const uint32_t padded = std::max(inSize, hopSize);  // the plans read hopSize samples
    std::memset(inBufL + frames, 0, sizeof(float) * (padded - frames));
    plans[0].transform(inBufL);
    plans[0].magnitudeDb(out, false);
    if (inChannels == 2) {
        std::memset(inBufR + frames, 0, sizeof(float) * (padded - frames));
        plans[1].transform(inBufR);
        plans[1].magnitudeDb(out + fftSize / 2, false);
    }
}

}  // namespace dsp
