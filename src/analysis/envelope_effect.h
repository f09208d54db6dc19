// The envelope analyser (initEnvAnalyze): per channel |x| x 2.5 smoothed by a 33 Hz
// second-order Butterworth lowpass, continuous across blocks.
#pragma once
#include <cstdint>

#include "analysis/analyser_effect.h"
#include "analysis/envelope_tracker.h"

namespace dsp {

class EnvelopeEffect : public AnalyserOf<AnalyserEffect::Analysis::kEnvelope> {
public:
    // Blocks of up to `size` frames at `rate` Hz (channels other than 2 are mono); nullptr
    // when memory runs out.
    static EnvelopeEffect* create(uint32_t size, uint32_t channels, uint32_t rate);

    // Follows each channel's envelope over `bytes` of PCM (cut to the block size); when `out`
    // is given writes frames left values, then frames right values, in 16-bit units truncated.
    // False, writing nothing, when the analyser is not ready.
    bool analyse(const int16_t* pcm, float* out, uint32_t bytes);

    EnvelopeTracker trackers[2];

private:
    EnvelopeEffect() : AnalyserOf(0, 0) {}
};

}  // namespace dsp
