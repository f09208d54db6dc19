// Drives a pitch shifter and a time stretcher with arbitrary pitches, scales, levels and block
// lengths (grain and hop times in a range that keeps each run short), on each inner-loop form,
// and checks every output sample against the sample-by-sample models.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "support/grain_model.h"
#include "byte_reader.h"
#include "effects/grain_kernels.h"
#include "effects/pitch_shifter.h"
#include "effects/stretcher.h"

namespace {

struct Reader : dspfuzz::ByteReader {
    // Mostly an everyday value (-3276.8 to 3276.7), sometimes any float at all.
    float value() { return take<uint8_t>() < 220 ? take<int16_t>() / 10.0f : take<float>(); }
};

bool same(float a, float b) { return a == b ? std::signbit(a) == std::signbit(b) : (std::isnan(a) && std::isnan(b)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{{data, size}};
    const uint32_t rates[] = {1000, 8000, 44100, 96000};
    const uint32_t rate = rates[in.take<uint8_t>() & 3];
    const float grainTime = (in.take<uint8_t>() + 1) / 2000.0f;  // up to 0.128 s
    const float hopTime = grainTime * (in.take<uint8_t>() + 4) / 256.0f;
    const float level = in.value() / 100.0f;
    const dsp::cpu::ForceLevel force(static_cast<dsp::cpu::Isa>(in.take<uint8_t>() & 3));
    const float pitch = in.value(), scale = in.value();

    dsp::PitchShifter shifter;
    grainref::PitchModel pitchModel;
    if (!shifter.setup(rate, pitch, level, grainTime, hopTime)) std::abort();
    pitchModel.init(rate, pitch, level, grainTime, hopTime);
    dsp::Stretcher stretcher;
    grainref::StretchModel stretchModel;
    stretcher.setup(rate, scale, level, grainTime, hopTime);
    stretchModel.init(rate, scale, level, grainTime, hopTime);

    std::vector<float> x(4096), got(4 * 4096 + 1), want(4 * 4096);
    for (size_t i = 0; i < x.size(); ++i) x[i] = float(int16_t(i * 7919)) / 32768.0f;
    for (int steps = 0; in.size > 0 && steps < 48; ++steps) {
        const uint8_t op = in.take<uint8_t>() % 5;
        const float value = in.value();
        const uint32_t n = in.take<uint16_t>() % 4097;
        if (op == 0) {
            shifter.process(x.data(), got.data(), n);
            pitchModel.process(x.data(), want.data(), n);
            for (uint32_t i = 0; i < n; ++i)
                if (!same(got[i], want[i])) std::abort();
        } else if (op == 1) {
            got[4 * n] = 12345.0f;
            const uint32_t produced = stretcher.process(x.data(), got.data(), n);
            if (produced > 4 * n || got[4 * n] != 12345.0f) std::abort();
            if (produced != stretchModel.process(x.data(), want.data(), n)) std::abort();
            for (uint32_t i = 0; i < produced; ++i)
                if (!same(got[i], want[i])) std::abort();
        } else if (op == 2) {
            shifter.setPitch(value);
            pitchModel.setPitch(value);
        } else if (op == 3) {
            stretcher.setScale(value);
            stretchModel.setScale(value);
        } else {
            shifter.setOutLevel(value / 100.0f);
            stretcher.setOutLevel(value / 100.0f);
            pitchModel.gain = shifter.outGain();
            stretchModel.gain = stretcher.outGain();
        }
    }
    return 0;
}
