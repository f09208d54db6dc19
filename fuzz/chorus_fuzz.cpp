// Drives a chorus with arbitrary parameters, setter calls and block lengths, on either tap
// path, and checks every output sample against the literal per-voice model.
#include <memory>
#include <vector>

#include "cpu/cpu.h"
#include "effects/chorus_effect.h"
#include "harness.h"
#include "support/chorus_model.h"

using dspfuzz::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dspfuzz::ByteReader in{data, size};
    const uint32_t channels = 1 + (in.take<uint8_t>() & 1);
    const uint32_t rate = in.pick({1000u, 8000u, 44100u, 48000u});
    const uint32_t voices = in.take<uint8_t>() % 5;
    const uint32_t block = 1 + (in.take<uint16_t>() & 1023);
    float p[5];
    for (float& v : p) v = in.value<uint16_t>(0.001f);  // mostly 0 to 65.535
    std::unique_ptr<dsp::ChorusEffect> chorus(
        dsp::ChorusEffect::create(block, channels, rate, {voices, p[0], p[1], p[2], p[3], p[4]}));
    if (chorus == nullptr) return 0;
    std::vector<dsptest::ChorusModel> models;
    for (uint32_t ch = 0; ch < channels; ++ch) models.emplace_back(rate, voices, p[0], p[1], p[2], p[3], p[4]);
    const std::vector<float> x[2] = {dspfuzz::floatPattern(block), dspfuzz::floatPattern(block, 104729)};
    std::vector<float> y[2] = {std::vector<float>(block), std::vector<float>(block)}, want(block);
    const dsp::cpu::ForceLevel force(static_cast<dsp::cpu::Isa>(in.take<uint8_t>() & 3));
    for (int steps = 0; in.size > 0 && steps < 64; ++steps) {
        const uint8_t op = in.take<uint8_t>() % 7;
        const float value = in.value<uint16_t>(0.001f);
        if (op == 0 || op == 6) {
            const uint32_t n = in.take<uint16_t>() % (block + 1);
            if (op == 0) {
                chorus->processBlock(x[0].data(), x[1].data(), y[0].data(), y[1].data(), n);
            } else {
                for (uint32_t ch = 0; ch < channels; ++ch) chorus->processChannel(ch, x[ch].data(), y[ch].data(), n);
            }
            for (uint32_t ch = 0; ch < channels; ++ch) {
                models[ch].process(x[ch].data(), want.data(), n);
                dspfuzz::checkSame(y[ch].data(), want.data(), n);
            }
        } else if (op == 1) {
            chorus->setDelayTime(value);
            for (auto& m : models) m.setDelay(value);
        } else if (op == 2) {
            chorus->setDepth(value);
            for (auto& m : models) m.setDepth(value);
        } else if (op == 3) {
            chorus->setSpeed(value);
            for (auto& m : models) m.setSpeed(value);
        } else if (op == 4) {
            const int32_t voice = in.take<int8_t>();
            const bool inRange = voice >= 0 && uint32_t(voice) < voices;
            check(chorus->setMix(voice, value) == inRange);
            if (inRange)
                for (auto& m : models) m.setMix(uint32_t(voice), value);
        } else {
            chorus->setOrgMix(value);
            for (auto& m : models) m.setOrgMix(value);
        }
    }
    return 0;
}
