// Each effect in a chain gives what its own processing call gives, even when it was created for
// another format; a new rate starts it over like a fresh effect made there with the same settings.
#include <gtest/gtest.h>

#include <vector>

#include "dsp.h"
#include "support/signals.h"

namespace {

struct Chained {
    const char* name;
    dsp_effect* (*make)(uint32_t size, uint32_t channels, uint32_t rate);
    uint32_t (*run)(dsp_effect*, const int16_t* in, int16_t* out, uint32_t bytes);  // bytes out
    bool (*term)(dsp_effect*);
    bool keepsHistoryAtTheSameRate;
};
inline void PrintTo(const Chained& c, std::ostream* os) { *os << c.name; }

const Chained kChained[] = {
    {"fader",  // the chain runs fader 0
     [](uint32_t size, uint32_t ch, uint32_t rate) {
         dsp_effect* f = initFader(size, ch, rate, -1.0f, 0.0f, -40.0f);
         setFaderAction(f, 0, 0.05f, 0.5f, -12.0f);  // still running at the new rate
         return f;
     },
     [](dsp_effect* h, const int16_t* in, int16_t* out, uint32_t bytes) { return doFade(h, 0, in, out, bytes) ? bytes : 0; },
     termFader, false},
    {"chorus",  // setters act again after a reconfiguration
     [](uint32_t size, uint32_t ch, uint32_t rate) {
         dsp_effect* c = initChorus(size, ch, rate, 4, 15.0f, 4.0f, 1.0f, 30.0f, 60.0f);
         setChorusDepth(c, 6.0f);
         setChorusDelaytime(c, 10.0f);
         return c;
     },
     [](dsp_effect* h, const int16_t* in, int16_t* out, uint32_t bytes) { return doChorus(h, in, out, bytes) ? bytes : 0; },
     termChorus, false},
    {"iir", [](uint32_t size, uint32_t ch, uint32_t rate) { return initIirFilter(size, ch, rate, 6, 3000.0f, 0); },
     [](dsp_effect* h, const int16_t* in, int16_t* out, uint32_t bytes) { return doIirFilter(h, in, out, bytes) ? bytes : 0; },
     termIirFilter, true},
    {"pitch", [](uint32_t size, uint32_t ch, uint32_t rate) { return initPitchShift(size, ch, rate, 700.0f, 0.0f, 0.05f, 0.01f); },
     [](dsp_effect* h, const int16_t* in, int16_t* out, uint32_t bytes) { return doPitchShift(h, in, out, bytes) ? bytes : 0; },
     termPitchShift, false},
    {"stretch",  // four times as long: the buffers must grow with the block
     [](uint32_t size, uint32_t ch, uint32_t rate) { return initStretch(size, ch, rate, -2000.0f, 0.0f, 0.01f, 0.002f); },
     doStretch, termStretch, false},
    {"resampler",
     [](uint32_t size, uint32_t ch, uint32_t rate) { return initResampler(size, ch, ch, rate, 48000, 1, 80.0f, 40.0f, true); },
     doResampler, termResampler, false},
};

class EffectInChain : public ::testing::TestWithParam<Chained> {};

TEST_P(EffectInChain, MatchesItsOwnCallAndStartsOverAtANewRate) {
    const Chained& c = GetParam();
    const uint32_t frames = 1024;
    dsp_chain* chain = dspCreate(frames, 2, 44100);
    ASSERT_EQ(dspAdd(chain, c.make(64, 1, 48000), 1), 1u);
    dsp_effect* alone = c.make(frames, 2, 44100);
    std::vector<int16_t> viaChain(16 * frames), want(16 * frames);
    const auto compare = [&](dsp_effect* reference, uint32_t size, int blocks, uint32_t seed) {
        for (int block = 0; block < blocks; ++block) {
            const std::vector<int16_t> in = dsptest::pcmNoise(2 * size, seed + block, 20000);
            const uint32_t bytes = dspSend(chain, in.data(), viaChain.data(), size * 4);
            ASSERT_EQ(bytes, c.run(reference, in.data(), want.data(), size * 4)) << "block " << block;
            ASSERT_GT(bytes, 0u);
            for (uint32_t i = 0; i < bytes / 2; ++i) ASSERT_EQ(viaChain[i], want[i]) << "block " << block << " sample " << i;
        }
    };
    compare(alone, frames, 6, 1);
    if (c.keepsHistoryAtTheSameRate) {
        dspAdjust(chain, frames / 2, 2, 44100);
        compare(alone, frames / 2, 2, 10);
    }
    dspAdjust(chain, frames / 2, 2, 11025);  // the resampler now needs larger output buffers
    dsp_effect* fresh = c.make(frames / 2, 2, 11025);
    compare(fresh, frames / 2, 3, 20);
    dspDestroy(chain);
    EXPECT_TRUE(c.term(alone) && c.term(fresh));
}

INSTANTIATE_TEST_SUITE_P(Effects, EffectInChain, ::testing::ValuesIn(kChained),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
