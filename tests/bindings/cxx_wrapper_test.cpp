// The C++ owners give the bytes the bare C calls give, and own their handles exactly once.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dsp.hpp"
#include "support/signals.h"
#include "wavefile/riff_builder.h"

namespace {

constexpr uint32_t kBlock = 1024, kRate = 44100;

using Pcm = std::vector<int16_t>;

// Each case runs the same work once through the C API and once through the owners.
struct Case {
    const char* name;
    Pcm (*c)(const Pcm& in);
    Pcm (*cxx)(const Pcm& in);
};

const Case kCases[] = {
    {"chain of pitch, chorus, lowpass; chorus depth changed through the chain",
     [](const Pcm& in) {
         dsp_chain* chain = dspCreate(kBlock, 2, kRate);
         dspAdd(chain, initChorus(kBlock, 2, kRate, 3, 20, 3, 2, 30, 70), 20);
         dspAdd(chain, initPitchShift(kBlock, 2, kRate, 300, 0, 0.05f, 0.01f), 10);
         dspAdd(chain, initIirFilter(kBlock, 2, kRate, 4, 3000, 0), 30);
         Pcm out(in.size());
         for (uint32_t b = 0; b < 3; ++b) {
             if (b == 2) setChorusDepth(dspGetHandle(chain, 1), 5);
             dspSend(chain, in.data() + b * kBlock * 2, out.data() + b * kBlock * 2, kBlock * 4);
         }
         dspDestroy(chain);
         return out;
     },
     [](const Pcm& in) {
         dsp::Chain chain(kBlock, 2, kRate);
         chain.add(dsp::Chorus(kBlock, 2, kRate), 20);
         chain.add(dsp::PitchShift(kBlock, 2, kRate, 300), 10);
         chain.add(dsp::IirFilter(kBlock, 2, kRate, 4, 3000, dsp::IirFilter::Lowpass), 30);
         Pcm out(in.size());
         for (uint32_t b = 0; b < 3; ++b) {
             if (b == 2) chain.get<dsp::ChorusRef>(1).setDepth(5);
             chain.send({in.data() + b * kBlock * 2, kBlock, 2}, {out.data() + b * kBlock * 2, kBlock, 2});
         }
         return out;
     }},
    {"stretch and resample, whose outputs change length",
     [](const Pcm& in) {
         dsp_effect* s = initStretch(kBlock, 2, kRate, -500, 0, 0.05f, 0.01f);
         dsp_effect* r = initResampler(4 * kBlock, 2, 1, kRate, 48000, 1, 80, 40, true);
         Pcm mid(8 * kBlock), out(8 * kBlock);
         const uint32_t bytes = doStretch(s, in.data(), mid.data(), kBlock * 4);
         out.resize(doResampler(r, mid.data(), out.data(), bytes) / 2);
         termStretch(s);
         termResampler(r);
         return out;
     },
     [](const Pcm& in) {
         dsp::Stretch s(kBlock, 2, kRate, -500);
         dsp::Resampler r(4 * kBlock, 2, 1, kRate, 48000);
         dsp::FrameBuffer mid(4 * kBlock, 2), out(8 * kBlock, 1);
         const dsp::Frames done = r.process(s.process({in.data(), kBlock, 2}, mid.view()), out.view());
         return Pcm(done.data, done.data + done.frames);
     }},
    {"spectra, envelopes and slices",
     [](const Pcm& in) {
         dsp_effect* fft = initFft(kBlock, 2, 2, 120);
         dsp_effect* env = initEnvAnalyze(kBlock, 2, 48000);
         dsp_effect* slicer = initWaveSlice(kBlock, 2, 48000, -36, -48, 10, 0.01f);
         std::vector<float> values(kBlock * 3);
         doFft(fft, in.data(), values.data(), kBlock * 4);
         doEnvAnalyze(env, in.data(), values.data() + kBlock, kBlock * 4);
         for (uint32_t b = 0; b < 3; ++b) doWaveSlice(slicer, in.data() + b * kBlock * 2, kBlock * 4);
         for (const DspSliceRecord* r = getWaveSlice(slicer, 0); r; r = r->next) {
             values.push_back(r->startTime);
             values.push_back(r->endTime);
         }
         termFft(fft);
         termEnvAnalyze(env);
         termWaveSlice(slicer);
         const auto* p = reinterpret_cast<const int16_t*>(values.data());
         return Pcm(p, p + values.size() * 2);
     },
     [](const Pcm& in) {
         dsp::Fft fft(kBlock, 2, 2);
         dsp::Envelope env(kBlock, 2, 48000);
         dsp::Slicer slicer(kBlock, 2, 48000, -36, -48, 10, 0.01f);
         const dsp::ConstFrames block{in.data(), kBlock, 2};
         std::vector<float> values;
         for (dsp::Channels c : {fft.analyse(block), env.analyse(block)})
             values.insert(values.end(), c.data, c.data + c.length * c.channels);
         for (uint32_t b = 0; b < 3; ++b) slicer.feed({in.data() + b * kBlock * 2, kBlock, 2});
         for (dsp::Slice s : slicer.slices()) values.insert(values.end(), {s.start, s.end});
         const auto* p = reinterpret_cast<const int16_t*>(values.data());
         return Pcm(p, p + values.size() * 2);
     }},
    {"wave file written, then read back from its second frame",
     [](const Pcm& in) {
         const dsp_wave_format f = {1, 2, kRate, kRate * 4, 4, 16, 0};
         dsp_wavefile_out* w = initWavefileOut("cxx_wrapper_c.wav", &f);
         writeWavefileOut(w, in.data(), kBlock * 4);
         termWavefileOut(w);
         dsp_wavefile_in* r = initWavefileIn("cxx_wrapper_c.wav", 64);
         seekWavefileIn(r, 4, 0);
         Pcm out(kBlock * 2);
         out.resize(readWavefileIn(r, out.data(), kBlock) / 2);
         termWavefileIn(r);
         const std::string file = wavetest::readFile("cxx_wrapper_c.wav");
         std::remove("cxx_wrapper_c.wav");
         out.insert(out.end(), file.begin(), file.end());
         return out;
     },
     [](const Pcm& in) {
         {
             dsp::WaveWriter w("cxx_wrapper_cxx.wav", dsp::pcmFormat(2, kRate));
             w.write({in.data(), kBlock, 2});
         }
         dsp::WaveReader r("cxx_wrapper_cxx.wav", 64);
         r.seek(1);
         dsp::FrameBuffer buffer(kBlock, 2);
         const dsp::Frames got = r.read(buffer.view());
         Pcm out(got.data, got.data + got.frames * 2);
         const std::string file = wavetest::readFile("cxx_wrapper_cxx.wav");
         std::remove("cxx_wrapper_cxx.wav");
         out.insert(out.end(), file.begin(), file.end());
         return out;
     }},
};

}  // namespace

TEST(CxxWrapper, SameBytesAsTheCApi) {
    const Pcm in = dsptest::pcmNoise(kBlock * 2 * 3, 7, 20000);
    for (const Case& c : kCases) {
        const Pcm expected = c.c(in), actual = c.cxx(in);
        EXPECT_GT(expected.size(), 16u) << c.name;
        EXPECT_EQ(expected, actual) << c.name;
    }
}

TEST(CxxWrapper, OwnershipMovesOnceAndNullCreationsThrow) {
    dsp::Chain chain(kBlock, 2, kRate);
    dsp::Chorus chorus(kBlock, 2, kRate);
    EXPECT_EQ(dsp::ChainRef().add(std::move(chorus), 1), 0u);  // refused: the owner keeps it
    EXPECT_TRUE(chorus);
    dsp::Chorus moved = std::move(chorus);
    EXPECT_FALSE(chorus);
    EXPECT_EQ(chain.add(std::move(moved), 1), 1u);
    EXPECT_FALSE(moved);
    EXPECT_TRUE(chain.get<dsp::ChorusRef>(0).setMix(0, 50));
    EXPECT_FALSE(chain.get<dsp::StretchRef>(0).setScale(1));  // wrong family: refused by kind
    EXPECT_THROW(dsp::Chorus(kBlock, 2, kRate, 16384), std::bad_alloc);
    EXPECT_FALSE(dsp::WaveReader("no/such/file.wav").isOpen());
}
