// Drives one fader effect with an arbitrary sequence of actions, deletions, curves,
// reconfigurations and processing calls, checking that every schedule stays ordered and free
// of overlaps and that processing stays in bounds.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "effects/fader_effect.h"

#include "byte_reader.h"

namespace {

struct Reader : dspfuzz::ByteReader {
    // A time in seconds, mostly in the first few seconds, sometimes hostile.
    float time() {
        const uint8_t kind = take<uint8_t>();
        if (kind < 200) return take<uint16_t>() / 10000.0f;
        return take<float>();
    }
};

void checkSchedule(const dsp::FadeEngine& engine) {
    const dsp::FadeAction* previous = nullptr;
    for (const dsp::FadeAction* a = engine.firstPending(); a != nullptr; a = a->next) {
        if (a->start >= a->end) std::abort();
        if (previous != nullptr && (previous->end > a->start || a->prev != previous)) std::abort();
        previous = a;
    }
    if (engine.pending != (engine.firstPending() != nullptr)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{{data, size}};
    const uint32_t channels = 1 + (in.take<uint8_t>() & 1);
    const uint32_t block = 1 + (in.take<uint16_t>() & 1023);
    const uint32_t rates[] = {8000, 11025, 44100, 48000};
    dsp::FaderEffect* fader = dsp::FaderEffect::create(block, channels, rates[in.take<uint8_t>() & 3], in.take<float>(),
                                               in.take<float>(), in.take<float>());
    if (fader == nullptr) return 0;
    std::vector<int16_t> a(2 * 1024), b(2 * 1024), out(2 * 1024);
    for (size_t i = 0; i < a.size(); ++i) {
        a[i] = int16_t(i * 7919);
        b[i] = int16_t(i * 104729);
    }
    int steps = 0;
    while (in.size > 0 && steps++ < 200) {
        const uint8_t op = in.take<uint8_t>() % 8;
        const uint32_t index = in.take<uint8_t>() & 3;  // 2 and 3 are refused
        switch (op) {
        case 0: fader->setFaderAction(index, in.time(), in.time(), in.take<float>()); break;
        case 1: fader->delFaderAction(index, in.time(), in.time()); break;
        case 2: fader->setCrossFaderAction(in.time(), in.time(), in.take<float>()); break;
        case 3: fader->delCrossFaderAction(in.time(), in.time()); break;
        case 4: fader->setCrossFaderCurve(in.take<float>(), in.take<float>(), in.take<float>(), in.take<float>()); break;
        case 5: fader->fade(index, a.data(), out.data(), in.take<uint16_t>() * 4u); break;
        case 6: fader->crossFade(a.data(), b.data(), out.data(), in.take<uint16_t>() * 4u); break;
        case 7: fader->configure(1 + (in.take<uint16_t>() & 1023), channels, rates[in.take<uint8_t>() & 3]); break;
        }
        for (const dsp::FadeEngine& engine : fader->faderEngines) checkSchedule(engine);
        for (const dsp::CrossFadeEngine& engine : fader->crossEngines) checkSchedule(engine);
    }
    delete fader;
    return 0;
}
