// The spectrum analysers: blocks of interleaved 16-bit PCM in, one dB magnitude spectrum of
// fftSize/2 values per analysed channel out (left first).
//   FftEffect (initFft): each block, zero-padded to the block size, is one frame; no state is
//     kept between calls.
//   FftAnalyzeEffect (initFftAnalyze): each block is appended to a sliding history of
//     historyLen samples and the newest fftSize are analysed.
#pragma once
#include <cstdint>

#include "analysis/analyser_effect.h"
#include "analysis/fft_plan.h"

namespace dsp {

class FftEffect : public AnalyserOf<AnalyserEffect::Analysis::kSpectrum> {
public:
    // Blocks of `size` frames, which is also the transform length (a power of two, 4..16384);
    // channels 1 or 2; analysedChannels 1 (mono mix) up to channels; floor at -floorDb dB.
    // nullptr for arguments outside those limits or when memory runs out.
    static FftEffect* create(uint32_t size, uint32_t channels, uint32_t analysedChannels, uint32_t floorDb);

    // Analyses `bytes` of PCM (cut to the block size) into out[0 .. fftSize/2 - 1], and for two
    // analysed channels the right channel into out[fftSize/2 ..]; returns fftSize/2.
    uint32_t analyse(const int16_t* pcm, float* out, uint32_t bytes);

    DirectFftPlan plans[2];

private:
    explicit FftEffect(uint32_t size) : AnalyserOf(size, 0) {}
};

class FftAnalyzeEffect : public AnalyserOf<AnalyserEffect::Analysis::kShortTime> {
public:
    // Blocks of up to `size` frames (the hop, >= 1), channels 1 or 2, frames of fftSize (a
    // power of two, 4..16384) from a history of historyLen >= fftSize and >= size samples;
    // floor -120 dB. nullptr outside those limits or when memory runs out.
    static FftAnalyzeEffect* create(uint32_t size, uint32_t channels, uint32_t fftSize, uint32_t historyLen);

    // Appends `bytes` of PCM (cut to the block size; a short block is padded with zeros to the
    // hop) to each channel's history and writes one spectrum per input channel.
    void analyse(const int16_t* pcm, float* out, uint32_t bytes);

    FftPlan plans[2];

private:
    FftAnalyzeEffect(uint32_t fftSize_, uint32_t hop) : AnalyserOf(fftSize_, hop) {}
};

}  // namespace dsp
