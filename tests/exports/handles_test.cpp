// The C API never trusts a handle: every call refuses NULL, an effect call refuses an effect of
// another family (false/0/NULL, nothing written, that effect left alive), and init refuses
// formats it cannot serve.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

#include "dsp.h"

namespace {

int16_t pcm[4096];
int16_t out[4096];
float spectrum[4096];

#define CALL(expr) [](dsp_effect* h) { return long(expr); }

struct Family {
    const char* name;
    int kind;  // the analysers share one kind: a handle of one is accepted by the others' term calls
    std::function<dsp_effect*()> make;
    std::vector<std::function<long(dsp_effect*)>> calls;  // the term call last
};

const std::vector<Family> kFamilies = {
    {"fader", 0, [] { return initFader(256, 2, 44100, 0, 0, 0); },
     {CALL(doFade(h, 0, pcm, out, 1024)), CALL(doCrossFade(h, pcm, pcm, out, 1024)),
      CALL(setFaderAction(h, 0, 1, 2, -6)), CALL(setCrossFaderAction(h, 1, 2, 1)), CALL(delFaderAction(h, 0, 1, 2)),
      CALL(delCrossFaderAction(h, 1, 2)), CALL(setCrossFaderCurve(h, -1, -40, 0.05f, 0.8f)), CALL(termFader(h))}},
    {"chorus", 1, [] { return initChorus(256, 2, 44100, 3, 20, 5, 2, 50, 100); },
     {CALL(doChorus(h, pcm, out, 1024)), CALL(setChorusDelaytime(h, 1)), CALL(setChorusDepth(h, 1)),
      CALL(setChorusSpeed(h, 1)), CALL(setChorusMix(h, 0, 1)), CALL(setChorusOrgMix(h, 1)), CALL(termChorus(h))}},
    {"iir", 2, [] { return initIirFilter(256, 2, 44100, 4, 1000, 0); },
     {CALL(doIirFilter(h, pcm, out, 1024)), CALL(termIirFilter(h))}},
    {"resampler", 3, [] { return initResampler(256, 2, 2, 44100, 48000, 1, 80, 40, true); },
     {CALL(doResampler(h, pcm, out, 1024)), CALL(getResamplerDstSize(h, 100)), CALL(termResampler(h))}},
    {"hqups", 4, [] { return initHqups(256, 2, 2, 44100, 0.3f, 50, 8000, 1, 80, 40, 0, true); },
     {CALL(doHqups(h, pcm, out, 1024)), CALL(getHqupsSrcSize(h, 1000)), CALL(getHqupsDstSize(h, 1000)),
      CALL(setHqupsActiveMode(h, 1)), CALL(setHqupsMix(h, 50)), CALL(setHqupsHarmonics(h, 0.2f)), CALL(termHqups(h))}},
    {"pitch", 5, [] { return initPitchShift(256, 2, 44100, 300, 0, 0.05f, 0.01f); },
     {CALL(doPitchShift(h, pcm, out, 1024)), CALL(setPitchShiftPitch(h, 100)), CALL(setPitchShiftOutLevel(h, -3)),
      CALL(termPitchShift(h))}},
    {"stretch", 6, [] { return initStretch(256, 2, 44100, 500, 0, 0.05f, 0.01f); },
     {CALL(doStretch(h, pcm, out, 1024)), CALL(setStretchScale(h, 100)), CALL(setStretchOutLevel(h, -3)),
      CALL(getStretchDstSize(h, 100)), CALL(termStretch(h))}},
    {"slice", 7, [] { return initWaveSlice(256, 2, 48000, -30, -40, 20, 0.05f); },
     {CALL(doWaveSlice(h, pcm, 1024)), CALL(getWaveSlice(h, 0) != nullptr), CALL(termWaveSlice(h))}},
    {"fft", 8, [] { return initFft(256, 2, 2, 96); },
     {CALL(doFft(h, pcm, spectrum, 1024)), CALL(termFft(h))}},
    {"fftAnalyze", 8, [] { return initFftAnalyze(256, 2, 512, 1024); },
     {CALL(doFftAnalyze(h, pcm, spectrum, 1024)), CALL(termFftAnalyze(h))}},
    {"envelope", 8, [] { return initEnvAnalyze(256, 2, 44100); },
     {CALL(doEnvAnalyze(h, pcm, spectrum, 1024)), CALL(termEnvAnalyze(h))}},
};

TEST(Handles, EffectCallsRefuseNullAndEveryOtherFamily) {
    std::fill(std::begin(pcm), std::end(pcm), int16_t(1234));
    std::vector<dsp_effect*> handles;
    for (const Family& f : kFamilies) handles.push_back(f.make());
    for (const Family& f : kFamilies)
        for (size_t other = 0; other <= handles.size(); ++other) {
            const bool isNull = other == handles.size();
            for (size_t c = 0; c < f.calls.size(); ++c) {
                // The analysers tell each other apart: only the term calls accept one another.
                const bool sameKind = !isNull && kFamilies[other].kind == f.kind;
                if (sameKind && (&kFamilies[other] == &f || f.kind != 8 || c + 1 == f.calls.size())) continue;
                std::fill(std::begin(out), std::end(out), int16_t(77));
                std::fill(std::begin(spectrum), std::end(spectrum), 3.0f);
                EXPECT_EQ(f.calls[c](isNull ? nullptr : handles[other]), 0)
                    << f.name << " call " << c << " on " << (isNull ? "NULL" : kFamilies[other].name);
                ASSERT_TRUE(out[0] == 77 && out[511] == 77 && spectrum[0] == 3.0f && spectrum[255] == 3.0f)
                    << f.name << " call " << c << " wrote output";
            }
        }
    // Nothing was ended by a foreign term call: each effect still ends through its own.
    for (size_t i = 0; i < handles.size(); ++i) EXPECT_NE(kFamilies[i].calls.back()(handles[i]), 0) << kFamilies[i].name;
}

// Chain and file handles: NULL does nothing and reports 0.
TEST(Handles, ChainAndFileCallsRefuseNull) {
    dspClear(nullptr);
    dspDestroy(nullptr);
    dspAdjust(nullptr, 1, 1, 1);
    EXPECT_EQ(dspSend(nullptr, pcm, out, 8), 0u);
    EXPECT_EQ(dspGetDstSize(nullptr, 10) + dspGetDstChannels(nullptr) + dspGetDstRate(nullptr), 0u);
    EXPECT_EQ(dspGetHandle(nullptr, 0), nullptr);
    termWavefileIn(nullptr);
    EXPECT_EQ(readWavefileIn(nullptr, out, 4), 0);
    EXPECT_EQ(getFormatWavefileIn(nullptr), nullptr);
    EXPECT_EQ(getHeaderWavefileIn(nullptr), nullptr);
    EXPECT_EQ(writeWavefileOut(nullptr, pcm, 4), 0);
    EXPECT_FALSE(flushWavefileOut(nullptr));
    EXPECT_EQ(termWavefileOut(nullptr), 0);
    EXPECT_EQ(getFormatWavefileOut(nullptr), nullptr);
}

#define REFUSED(expr) {#expr, [] { return expr; }}

// Channel counts other than one or two, FFT shapes outside the limits, and blocks or voice
// counts no buffer could hold (out of memory): no effect.
TEST(Handles, InitRefusesWhatItCannotServe) {
    const std::pair<const char*, std::function<dsp_effect*()>> refused[] = {
        REFUSED(initFader(256, 0, 44100, 0, 0, 0)),
        REFUSED(initFader(256, 3, 44100, 0, 0, 0)),
        REFUSED(initFader(0x40000000u, 2, 44100, 0, 0, 0)),
        REFUSED(initChorus(256, 2, 44100, 16384, 20, 5, 2, 50, 100)),
        REFUSED(initChorus(256, 2, 44100, 0xffffffffu, 20, 5, 2, 50, 100)),
        REFUSED(initResampler(100, 3, 3, 44100, 48000, 0, 80, 40, false)),
        REFUSED(initResampler(100, 0, 1, 44100, 48000, 0, 80, 40, false)),
        REFUSED(initResampler(1000, 1, 1, 1, 4000000, 0, 80, 40, true)),  // 4e9 output frames
        REFUSED(initHqups(0x40000000u, 2, 2, 44100, 0.3f, 100, 8000, 1, 80, 40, 0, true)),
        REFUSED(initHqupsBySrcsize(0x40000000u, 2, 2, 44100, 0.3f, 100, 8000, 1, 80, 40, 0, true)),
        REFUSED(initHqupsBySrcsize(0x30000000u, 2, 2, 8000, 0.3f, 100, 8000, 1, 80, 40, 0, true)),  // six times as many out
        REFUSED(initPitchShift(256, 3, 44100, 0, 0, 0.05f, 0.01f)),
        REFUSED(initStretch(256, 0, 44100, 0, 0, 0.05f, 0.01f)),
        REFUSED(initFft(0, 1, 1, 96)),
        REFUSED(initFft(2, 1, 1, 96)),
        REFUSED(initFft(1000, 1, 1, 96)),
        REFUSED(initFft(32768, 1, 1, 96)),
        REFUSED(initFft(64, 3, 1, 96)),
        REFUSED(initFft(64, 1, 2, 96)),
        REFUSED(initFft(64, 2, 0, 96)),
        REFUSED(initFftAnalyze(0, 1, 64, 64)),
        REFUSED(initFftAnalyze(32, 0, 64, 64)),
        REFUSED(initFftAnalyze(32, 1, 48, 64)),
        REFUSED(initFftAnalyze(32, 1, 64, 63)),
        REFUSED(initFftAnalyze(128, 1, 64, 100)),
    };
    for (const auto& [text, init] : refused) EXPECT_EQ(init(), nullptr) << text;
}

}  // namespace
