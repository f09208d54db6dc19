// The FFT analyser effect: blocks of interleaved 16-bit PCM in, one dB magnitude spectrum of
// fftSize/2 values per analysed channel out (left first). It produces no audio; in a chain it
// yields zero frames.
//
// Two ways of analysing share the class:
//   block analysis (createBlockAnalyser + analyseBlock): each block, zero-padded to the block
//     size, is one frame; no state is kept between calls;
//   short-time analysis (createShortTimeAnalyser + analyseShortTime): each block is appended
//     to a sliding history of historyLen samples and the newest fftSize are analysed.
// Other analysers built on the same object (per-channel engines after the analysis plans)
// start from allocate().
#pragma once
#include <cstdint>

#include "analysis/envelope_tracker.h"
#include "analysis/fft_plan.h"
#include "chain/dsp_effect.h"

namespace dsp {

class FftEffect : public SilentEffect {
public:
    static constexpr uint32_t kKind = kKindFft;

    FftEffect() { kind = kKind; }

    // The base buffer rule, except that the buffers never hold fewer floats than a transform
    // frame or a hop needs: a chain that reconfigures the analyser cannot make it read past them.
    void configure(uint32_t size, uint32_t channels, uint32_t rate) override;

    // A new effect with the six buffers allocated for `size` frames of `channels` channels
    // (input rate 0); nullptr when memory runs out.
    static FftEffect* allocate(uint32_t size, uint32_t channels);

    // Block analysis of `size`-frame blocks, which is also the transform length (a power of
    // two, 4..16384); channels 1 or 2; analysedChannels 1 (mono mix) up to channels; floor at
    // -floorDb dB. nullptr for arguments outside those limits or when memory runs out.
    static FftEffect* createBlockAnalyser(uint32_t size, uint32_t channels, uint32_t analysedChannels,
                                          uint32_t floorDb);

    // Short-time analysis of blocks of up to `size` frames (the hop, >= 1), channels 1 or 2,
    // frames of fftSize (a power of two, 4..16384) from a history of historyLen >= fftSize and
    // >= size samples; floor -120 dB. nullptr outside those limits or when memory runs out.
    static FftEffect* createShortTimeAnalyser(uint32_t size, uint32_t channels, uint32_t fftSize,
                                              uint32_t historyLen);

    // Analyses `bytes` of PCM (cut to the block size) into out[0 .. fftSize/2 - 1], and for two
    // analysed channels the right channel into out[fftSize/2 ..]; returns fftSize/2.
    uint32_t analyseBlock(const int16_t* pcm, float* out, uint32_t bytes);

    // Appends `bytes` of PCM (cut to the block size; a short block is padded with zeros to the
    // hop) to each channel's history and writes one spectrum per input channel.
    void analyseShortTime(const int16_t* pcm, float* out, uint32_t bytes);

    // Envelope analysis of blocks of up to `size` frames at `rate` Hz (channels other than 2 are
    // mono); nullptr when memory runs out.
    static FftEffect* createEnvelopeAnalyser(uint32_t size, uint32_t channels, uint32_t rate);

    // Follows each channel's envelope over `bytes` of PCM (cut to the block size); when `out`
    // is given writes frames left values, then frames right values, in 16-bit units truncated.
    // False, writing nothing, for an analyser whose envelope engines were never set up.
    bool analyseEnvelope(const int16_t* pcm, float* out, uint32_t bytes);

    uint32_t hopSize = 0;
    uint32_t fftSize = 0;
    FftPlan analysisPlans[2];
    EnvelopeTracker envelopeTrackers[2];  // envelope analysis only
    DirectFftPlan blockPlans[2];
};

}  // namespace dsp
