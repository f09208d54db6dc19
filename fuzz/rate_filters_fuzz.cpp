// Drives a resampler, an IIR filter effect and a high-quality upsampler with fuzzed rates,
// filter parameters (hostile ones included: zero, negative, huge), block lengths, setter calls
// and reconfigurations. Every output must fit the size the effect announces, and nothing may
// touch memory outside the buffers.
#include <memory>
#include <vector>

#include "filters/iir_filter_effect.h"
#include "harness.h"
#include "rate/hqups_effect.h"
#include "rate/resampler_effect.h"

namespace {

const uint32_t kRates[] = {8000, 11025, 22050, 32000, 44100, 48000, 96000, 7350, 1, 192000, 44099, 100, 3, 65535,
                           88200, 12000};
const uint32_t kUpsamplerRates[] = {8000, 11025, 22050, 32000, 44100, 48000, 96000, 7350};

// Output blocks above a few million frames are legitimate but exceed the fuzzer's memory limit.
bool fitsHarness(uint32_t frames, uint32_t src, uint32_t dst) { return double(dst) * frames / src < 4e6; }

std::unique_ptr<dsp::HqupsEffect> upsampler(dspfuzz::ByteReader& in) {
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
    using Block = dsp::HqupsEffect::Block;
    const Block block = (in.take<uint8_t>() & 1) ? Block::kSource : Block::kOutput;
    return std::unique_ptr<dsp::HqupsEffect>(
        dsp::HqupsEffect::create(block, frames, shape & 3, (shape >> 2) & 3, kUpsamplerRates[(shape >> 4) & 7], p));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dspfuzz::ByteReader in{data, size};
    const uint8_t shape = in.take<uint8_t>();
    const uint32_t frames = 1 + (in.take<uint16_t>() & 8191);
    const uint32_t channels = 1 + (shape & 1);
    const uint32_t src = in.pick(kRates), dst = in.pick(kRates);
    const float stopband = in.take<float>(), slope = in.take<float>();
    if (!fitsHarness(frames, src, dst)) return 0;
    std::unique_ptr<dsp::ResamplerEffect> rs(dsp::ResamplerEffect::create(
        frames, channels, 1 + ((shape >> 1) & 1), src, dst, (shape >> 2) & 1, stopband, slope, (shape >> 3) & 1));
    const int32_t order = static_cast<int8_t>(in.take<uint8_t>()) / 2;  // -64..63
    std::unique_ptr<dsp::IirFilterEffect> iir(
        dsp::IirFilterEffect::create(frames, channels, src, order, in.take<float>(), (shape >> 4) & 3));
    std::unique_ptr<dsp::HqupsEffect> hq = upsampler(in);
    const std::vector<int16_t> pcm = dspfuzz::pattern(2 * 8192);
    for (int steps = 0; in.size > 0 && steps < 64; ++steps) {
        const uint8_t op = in.take<uint8_t>() % 7;
        if (op == 0 && rs != nullptr) {
            dspfuzz::processGuarded(*rs, pcm, in.take<uint16_t>() & 0x7fff);
        } else if (op == 1 && iir != nullptr) {
            dspfuzz::processGuarded(*iir, pcm, in.take<uint16_t>() & 0x7fff);
        } else if (op == 2) {  // a new input format for every effect
            const uint32_t size = 1 + (in.take<uint16_t>() & 8191);
            const uint32_t ch = 1 + (in.take<uint8_t>() & 1);
            const uint32_t rate = in.pick(kRates), upsamplerRate = in.pick(kUpsamplerRates);
            if (rs != nullptr && fitsHarness(size, rate, rs->outRate)) rs->configure(size, ch, rate);
            if (iir != nullptr) iir->configure(size, ch, rate);
            if (hq != nullptr) hq->configure(1 + (size & 2047), ch, upsamplerRate);
        } else if (hq != nullptr) {
            switch (op) {
                case 3: dspfuzz::processGuarded(*hq, pcm, in.take<uint16_t>()); break;
                case 4: hq->setMix(in.take<float>()); break;
                case 5: hq->setHarmonics(in.take<float>()); break;
                case 6: hq->setActiveMode(in.take<uint8_t>() & 3); break;
            }
        }
    }
    return 0;
}
