// Drives one fader effect with an arbitrary sequence of actions, deletions, curves,
// reconfigurations and processing calls, checking that every schedule stays ordered and free
// of overlaps and that processing stays in bounds.
#include <memory>
#include <vector>

#include "effects/fader_effect.h"
#include "harness.h"

using dspfuzz::check;

namespace {

const uint32_t kRates[] = {8000, 11025, 44100, 48000};

void checkSchedule(const dsp::FadeEngine& engine) {
    const dsp::FadeAction* previous = nullptr;
    for (const dsp::FadeAction* a = engine.firstPending(); a != nullptr; a = a->next) {
        check(a->start < a->end);
        check(previous == nullptr || (previous->end <= a->start && a->prev == previous));
        previous = a;
    }
    check(engine.pending == (engine.firstPending() != nullptr));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dspfuzz::ByteReader in{data, size};
    const uint32_t channels = 1 + (in.take<uint8_t>() & 1);
    const uint32_t block = 1 + (in.take<uint16_t>() & 1023);
    const uint32_t rate = in.pick(kRates);
    std::unique_ptr<dsp::FaderEffect> fader(
        dsp::FaderEffect::create(block, channels, rate, in.take<float>(), in.take<float>(), in.take<float>()));
    if (fader == nullptr) return 0;
    const std::vector<int16_t> a = dspfuzz::pattern(2 * 1024), b = dspfuzz::pattern(2 * 1024, 104729);
    std::vector<int16_t> out(2 * 1024);
    // A time in seconds, mostly in the first few seconds, sometimes hostile.
    const auto time = [&in] { return in.value<uint16_t>(1e-4f); };
    for (int steps = 0; in.size > 0 && steps < 200; ++steps) {
        const uint8_t op = in.take<uint8_t>() % 8;
        const uint32_t index = in.take<uint8_t>() & 3;  // 2 and 3 are refused
        switch (op) {
        case 0: fader->setFaderAction(index, time(), time(), in.take<float>()); break;
        case 1: fader->delFaderAction(index, time(), time()); break;
        case 2: fader->setCrossFaderAction(time(), time(), in.take<float>()); break;
        case 3: fader->delCrossFaderAction(time(), time()); break;
        case 4: fader->setCrossFaderCurve(in.take<float>(), in.take<float>(), in.take<float>(), in.take<float>()); break;
        case 5: fader->fade(index, a.data(), out.data(), in.take<uint16_t>() * 4u); break;
        case 6: fader->crossFade(a.data(), b.data(), out.data(), in.take<uint16_t>() * 4u); break;
        case 7: fader->configure(1 + (in.take<uint16_t>() & 1023), channels, in.pick(kRates)); break;
        }
        for (const dsp::FadeEngine& engine : fader->faderEngines) checkSchedule(engine);
        for (const dsp::CrossFadeEngine& engine : fader->crossEngines) checkSchedule(engine);
    }
    return 0;
}
