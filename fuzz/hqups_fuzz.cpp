// Drives one high-quality upsampler with fuzzed creation parameters, then an arbitrary sequence
// of blocks, setter calls and reconfigurations; every output must fit the size the effect
// announces, and nothing may touch memory outside the buffers.
#include <memory>
#include <vector>

#include "harness.h"
#include "rate/hqups_effect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint32_t rates[] = {8000, 11025, 22050, 32000, 44100, 48000, 96000, 7350};
    dspfuzz::ByteReader in{data, size};
    const uint8_t shape = in.take<uint8_t>();
    const uint32_t frames = 1 + (in.take<uint16_t>() & 2047);
    dsp::HqupsParams p;
    p.harmonics = in.take<float>();
    p.mixPercent = in.take<float>();
    p.cutoff = in.take<uint16_t>();
    p.interpolation = in.take<uint8_t>() & 1;
    // The converter's filter needs a positive attenuation above its ripple and a positive slope.
    p.stopbandDb = 1.0f + (in.take<uint8_t>() & 127);
    p.slopeDbPerOctave = 10.0f + (in.take<uint8_t>() * 4);
    p.activeMode = in.take<uint8_t>() & 3;
    p.filterOn = (shape >> 7) != 0;
    const auto block = (in.take<uint8_t>() & 1) ? dsp::HqupsEffect::Block::kSource : dsp::HqupsEffect::Block::kOutput;
    std::unique_ptr<dsp::HqupsEffect> effect(
        dsp::HqupsEffect::create(block, frames, shape & 3, (shape >> 2) & 3, rates[(shape >> 4) & 7], p));
    if (effect == nullptr) return 0;
    const std::vector<int16_t> pcm = dspfuzz::pattern(2 * 4096);
    for (int steps = 0; in.size > 0 && steps < 64; ++steps) {
        switch (in.take<uint8_t>() % 6) {
            case 0:
            case 1: dspfuzz::processGuarded(*effect, pcm, in.take<uint16_t>()); break;
            case 2: effect->setMix(in.take<float>()); break;
            case 3: effect->setHarmonics(in.take<float>()); break;
            case 4: effect->setActiveMode(in.take<uint8_t>() & 3); break;
            case 5: effect->configure(1 + (in.take<uint16_t>() & 2047), 1 + (in.take<uint8_t>() & 1), in.pick(rates)); break;
        }
    }
    return 0;
}
