// The onset slicer as an effect (initWaveSlice): the mono mix of each block runs through one
// WaveSlicer. It produces no audio; in a chain it yields zero frames.
#pragma once
#include <cstdint>

#include "analysis/wave_slicer.h"
#include "chain/dsp_effect.h"

namespace dsp {

class WaveSliceEffect : public SilentEffect {
public:
    static constexpr uint32_t kKind = kKindWaveSlice;

    // Levels in dB, rise in percent of full envelope, minimum length in seconds; channels other
    // than 2 are mono. nullptr when memory runs out.
    static WaveSliceEffect* create(uint32_t size, uint32_t channels, uint32_t rate, float onDb, float offDb,
                                   float risePercent, float minLengthSec);

    // Runs the mono mix of `bytes` of PCM (cut to the block size) through the slicer.
    void detect(const int16_t* pcm, uint32_t bytes);

    WaveSlicer slicer;

private:
    WaveSliceEffect() : SilentEffect(kKind) {}
};

}  // namespace dsp
