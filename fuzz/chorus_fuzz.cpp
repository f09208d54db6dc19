// Drives a chorus with arbitrary parameters, setter calls and block lengths, on either tap
// path, and checks every output sample against the literal per-voice model.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "cpu/cpu.h"
#include "effects/chorus_effect.h"
#include "support/chorus_model.h"

#include "byte_reader.h"

namespace {

struct Reader : dspfuzz::ByteReader {
    // Mostly an everyday value (0 to 65.535), sometimes any float at all.
    float value() { return take<uint8_t>() < 220 ? take<uint16_t>() / 1000.0f : take<float>(); }
};

bool same(float a, float b) { return a == b ? std::signbit(a) == std::signbit(b) : (std::isnan(a) && std::isnan(b)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{{data, size}};
    const uint32_t channels = 1 + (in.take<uint8_t>() & 1);
    const uint32_t rates[] = {1000, 8000, 44100, 48000};
    const uint32_t rate = rates[in.take<uint8_t>() & 3];
    const uint32_t voices = in.take<uint8_t>() % 5;
    const uint32_t block = 1 + (in.take<uint16_t>() & 1023);
    float p[5];
    for (float& v : p) v = in.value();
    std::unique_ptr<dsp::ChorusEffect> owner(
        dsp::ChorusEffect::create(block, channels, rate, {voices, p[0], p[1], p[2], p[3], p[4]}));
    if (owner == nullptr) return 0;
    dsp::ChorusEffect& chorus = *owner;
    std::vector<dsptest::ChorusModel> models;
    for (uint32_t ch = 0; ch < channels; ++ch) models.emplace_back(rate, voices, p[0], p[1], p[2], p[3], p[4]);
    std::vector<float> x[2], y[2], want(block);
    for (int ch = 0; ch < 2; ++ch) {
        x[ch].resize(block);
        y[ch].resize(block);
        for (uint32_t i = 0; i < block; ++i) x[ch][i] = float(int16_t(i * (ch ? 104729 : 7919))) / 32768.0f;
    }
    const dsp::cpu::ForceLevel force(static_cast<dsp::cpu::Isa>(in.take<uint8_t>() & 3));
    for (int steps = 0; in.size > 0 && steps < 64; ++steps) {
        const uint8_t op = in.take<uint8_t>() % 7;
        const float value = in.value();
        if (op == 0 || op == 6) {
            const uint32_t n = in.take<uint16_t>() % (block + 1);
            if (op == 0) {
                chorus.processBlock(x[0].data(), x[1].data(), y[0].data(), y[1].data(), n);
            } else {
                for (uint32_t ch = 0; ch < channels; ++ch) chorus.processChannel(ch, x[ch].data(), y[ch].data(), n);
            }
            for (uint32_t ch = 0; ch < channels; ++ch) {
                models[ch].process(x[ch].data(), want.data(), n);
                for (uint32_t i = 0; i < n; ++i)
                    if (!same(y[ch][i], want[i])) std::abort();
            }
        } else if (op == 1) {
            chorus.setDelayTime(value);
            for (auto& m : models) m.setDelay(value);
        } else if (op == 2) {
            chorus.setDepth(value);
            for (auto& m : models) m.setDepth(value);
        } else if (op == 3) {
            chorus.setSpeed(value);
            for (auto& m : models) m.setSpeed(value);
        } else if (op == 4) {
            const int32_t voice = in.take<int8_t>();
            const bool inRange = voice >= 0 && uint32_t(voice) < voices;
            if (chorus.setMix(voice, value) != inRange) std::abort();
            if (inRange)
                for (auto& m : models) m.setMix(uint32_t(voice), value);
        } else {
            chorus.setOrgMix(value);
            for (auto& m : models) m.setOrgMix(value);
        }
    }
    return 0;
}
