// Drives a resampler and an IIR filter effect with fuzzed rates, filter parameters (hostile
// ones included: zero, negative, huge), block lengths and reconfigurations. Every output must
// fit the size the effect announces, and nothing may touch memory outside the buffers.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "filters/iir_filter_effect.h"
#include "rate/resampler_effect.h"

#include "byte_reader.h"

namespace {

using Reader = dspfuzz::ByteReader;

const uint32_t kRates[] = {8000, 11025, 22050, 32000, 44100, 48000, 96000, 7350, 1, 192000, 44099, 100, 3, 65535,
                           88200, 12000};

uint32_t pickRate(Reader& in) { return kRates[in.take<uint8_t>() & 15]; }

// Output blocks above a few million frames are legitimate but exceed the fuzzer's memory limit.
bool fitsHarness(uint32_t frames, uint32_t src, uint32_t dst) { return double(dst) * frames / src < 4e6; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    const uint8_t shape = in.take<uint8_t>();
    const uint32_t frames = 1 + (in.take<uint16_t>() & 8191);
    const uint32_t channels = 1 + (shape & 1);
    const uint32_t src = pickRate(in), dst = pickRate(in);
    const float stopband = in.take<float>(), slope = in.take<float>();
    if (!fitsHarness(frames, src, dst)) return 0;
    dsp::ResamplerEffect* rs = dsp::ResamplerEffect::create(frames, channels, 1 + ((shape >> 1) & 1), src, dst,
                                                            (shape >> 2) & 1, stopband, slope, (shape >> 3) & 1);
    const int32_t order = static_cast<int8_t>(in.take<uint8_t>()) / 2;  // -64..63
    dsp::IirFilterEffect* iir =
        dsp::IirFilterEffect::create(frames, channels, src, order, in.take<float>(), (shape >> 4) & 3);
    std::vector<int16_t> pcm(2 * 8192);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = int16_t(i * 7919 + (i >> 3) * 31);
    int steps = 0;
    while (in.size > 0 && steps++ < 32) {
        const uint8_t op = in.take<uint8_t>() % 4;
        if (op <= 1 && rs != nullptr) {
            const uint32_t bytes = in.take<uint16_t>() & 0x7fff;
            const uint32_t used = std::min<uint32_t>(bytes, rs->inSize * rs->inChannels * 2);
            const uint64_t announced = uint64_t{rs->getDstSize(used / (rs->inChannels * 2))} * rs->outChannels;
            if (announced > (1u << 22)) continue;  // output would not fit this harness's buffer
            std::vector<int16_t> out(announced + 1, 0x5a5a);
            const uint32_t written = rs->processPcm(pcm.data(), out.data(), bytes);
            if (written > announced * 2 || out[announced] != 0x5a5a) std::abort();
        } else if (op == 2 && iir != nullptr) {
            const uint32_t bytes = in.take<uint16_t>() & 0x7fff;
            std::vector<int16_t> out(pcm.size() + 1, 0x5a5a);
            iir->runPcm(pcm.data(), out.data(), bytes);
            if (out[pcm.size()] != 0x5a5a) std::abort();
        } else if (op == 3) {
            const uint32_t size = 1 + (in.take<uint16_t>() & 8191);
            const uint32_t ch = 1 + (in.take<uint8_t>() & 1);
            const uint32_t rate = pickRate(in);
            if (rs != nullptr && fitsHarness(size, rate, rs->outRate)) rs->configure(size, ch, rate);
            if (iir != nullptr) iir->configure(size, ch, rate);
        }
    }
    delete rs;
    delete iir;
    return 0;
}
