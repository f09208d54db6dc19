// The shared part of the three analysers of one kind code (1): the block spectrum (FftEffect),
// the short-time spectrum (FftAnalyzeEffect) and the envelope (EnvelopeEffect). They produce
// no audio (in a chain they yield zero frames); `analysis` tells them apart behind the kind.
#pragma once
#include <algorithm>
#include <cstdint>

#include "chain/dsp_effect.h"

namespace dsp {

class AnalyserEffect : public SilentEffect {
public:
    static constexpr uint32_t kKind = kKindFft;
    enum class Analysis { kSpectrum, kShortTime, kEnvelope };

    // The base buffer rule, except that the buffers never hold fewer floats than a transform
    // frame or a hop needs: a chain that reconfigures the analyser cannot make it read past them.
    void configure(uint32_t size, uint32_t channels, uint32_t rate) override {
        SilentEffect::configure(std::max({size, fftSize, hopSize}), channels, rate);
        inSize = outSize = size;
    }

    const Analysis analysis;
    const uint32_t fftSize;  // 0 for the envelope
    const uint32_t hopSize;  // the short-time analyser's hop, else 0

protected:
    AnalyserEffect(Analysis analysis_, uint32_t fftSize_, uint32_t hopSize_)
        : SilentEffect(kKind), analysis(analysis_), fftSize(fftSize_), hopSize(hopSize_) {}
};

// One analyser class behind the shared kind: effectOfKind also compares `analysis`.
template <AnalyserEffect::Analysis kAnalysis>
class AnalyserOf : public AnalyserEffect {
public:
    static bool sameClass(const DspEffect& effect) {
        return static_cast<const AnalyserEffect&>(effect).analysis == kAnalysis;
    }

protected:
    AnalyserOf(uint32_t fftSize_, uint32_t hopSize_) : AnalyserEffect(kAnalysis, fftSize_, hopSize_) {}
};

}  // namespace dsp
