// Drives one high-quality upsampler with fuzzed creation parameters, then an arbitrary sequence
// of blocks, setter calls and reconfigurations; every output must fit the size the effect
// announces, and nothing may touch memory outside the buffers.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "rate/hqups_effect.h"

#include "byte_reader.h"

namespace {

using Reader = dspfuzz::ByteReader;

const uint32_t kRates[] = {8000, 11025, 22050, 32000, 44100, 48000, 96000, 7350};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    const uint8_t shape = in.take<uint8_t>();
    const uint32_t frames = 1 + (in.take<uint16_t>() & 2047);
    const uint32_t inChannels = shape & 3, outChannels = (shape >> 2) & 3;
    uint32_t rate = kRates[(shape >> 4) & 7];
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
    dsp::HqupsEffect* effect = dsp::HqupsEffect::create(block, frames, inChannels, outChannels, rate, p);
    if (effect == nullptr) return 0;
    std::vector<int16_t> pcm(2 * 4096);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t(i * 7919 + (i >> 3) * 31);
    int steps = 0;
    while (in.size > 0 && steps++ < 64) {
        switch (in.take<uint8_t>() % 6) {
            case 0:
            case 1: {
                const uint32_t bytes = in.take<uint16_t>();
                const uint32_t channels = effect->inChannels;
                const uint32_t used = std::min<uint32_t>(bytes, effect->inSize * channels * 2);
                const uint32_t cap = effect->getDstSize(used / (channels * 2)) * effect->outChannels;
                std::vector<int16_t> out(cap + 1, 0x5a5a);
                if (used / 2 > pcm.size()) break;
                const uint32_t written = effect->processPcm(pcm.data(), out.data(), bytes);
                if (written > cap * 2 || out[cap] != 0x5a5a) std::abort();
                break;
            }
            case 2: effect->setMix(in.take<float>()); break;
            case 3: effect->setHarmonics(in.take<float>()); break;
            case 4: effect->setActiveMode(in.take<uint8_t>() & 3); break;
            case 5: {
                rate = kRates[in.take<uint8_t>() & 7];
                effect->configure(1 + (in.take<uint16_t>() & 2047), 1 + (in.take<uint8_t>() & 1), rate);
                break;
            }
        }
    }
    delete effect;
    return 0;
}
