// Drives a pitch shifter and a time stretcher with arbitrary pitches, scales, levels and block
// lengths (grain and hop times in a range that keeps each run short), on each inner-loop form,
// and checks every output sample against the sample-by-sample models.
#include <vector>

#include "effects/grain_kernels.h"
#include "effects/pitch_shifter.h"
#include "effects/stretcher.h"
#include "harness.h"
#include "support/grain_model.h"

using dspfuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dspfuzz::ByteReader in{data, size};
    const uint32_t rate = in.pick({1000u, 8000u, 44100u, 96000u});
    const float grainTime = (in.take<uint8_t>() + 1) / 2000.0f;  // up to 0.128 s
    const float hopTime = grainTime * (in.take<uint8_t>() + 4) / 256.0f;
    const float level = in.value<int16_t>(0.1f) / 100.0f;
    const dsp::cpu::ForceLevel force(static_cast<dsp::cpu::Isa>(in.take<uint8_t>() & 3));
    const float pitch = in.value<int16_t>(0.1f), scale = in.value<int16_t>(0.1f);

    dsp::PitchShifter shifter;
    grainref::PitchModel pitchModel;
    check(shifter.setup(rate, pitch, level, grainTime, hopTime));
    pitchModel.init(rate, pitch, level, grainTime, hopTime);
    dsp::Stretcher stretcher;
    grainref::StretchModel stretchModel;
    stretcher.setup(rate, scale, level, grainTime, hopTime);
    stretchModel.init(rate, scale, level, grainTime, hopTime);

    const std::vector<float> x = dspfuzz::floatPattern(4096);
    std::vector<float> got(4 * 4096 + 1), want(4 * 4096);
    for (int steps = 0; in.size > 0 && steps < 48; ++steps) {
        const uint8_t op = in.take<uint8_t>() % 5;
        const float value = in.value<int16_t>(0.1f);  // mostly -3276.8 to 3276.7
        const uint32_t n = in.take<uint16_t>() % 4097;
        if (op == 0) {
            shifter.process(x.data(), got.data(), n);
            pitchModel.process(x.data(), want.data(), n);
            dspfuzz::checkSame(got.data(), want.data(), n);
        } else if (op == 1) {
            got[4 * n] = 12345.0f;
            const uint32_t produced = stretcher.process(x.data(), got.data(), n);
            check(produced <= 4 * n && got[4 * n] == 12345.0f);
            check(produced == stretchModel.process(x.data(), want.data(), n));
            dspfuzz::checkSame(got.data(), want.data(), produced);
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
