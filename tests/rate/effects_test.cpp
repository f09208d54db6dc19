// The rate family's effects through the C API. The resampler: byte counts, channels, a size no
// buffer holds, and its place in a chain (it changes the block length and rate for the effects
// behind it). The high-quality upsampler: block arithmetic, buffer bounds, one band-edge analysis
// for both channels, chains, and the spectrum it adds above the source's band limit, measured
// with a plain Goertzel filter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "chain/dsp_effect.h"
#include "dsp.h"
#include "rate/hqups_effect.h"
#include "support/signals.h"
#include "support/spectrum.h"

namespace {

dsp_effect* resampler(uint32_t size, uint32_t inChannels, uint32_t outChannels, uint32_t src, uint32_t dst,
                      uint32_t interpolation = 1) {
    return initResampler(size, inChannels, outChannels, src, dst, interpolation, 80.0f, 40.0f, true);
}

TEST(Resampler, ByteCountsTruncatePerCall) {
    dsp_effect* e = resampler(3000, 2, 2, 44100, 48000);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(getResamplerDstSize(e, 1000), 1088u);
    EXPECT_EQ(getResamplerDstSize(e, 3000), 3265u);
    const std::vector<int16_t> in = dsptest::pcmNoise(6000, 1, 25000);
    std::vector<int16_t> out(2 * 3265);
    uint32_t total = 0;
    for (int call = 0; call < 3; ++call) total += doResampler(e, &in[2000 * call], out.data(), 4000);
    EXPECT_EQ(total, 3264u * 4);
    EXPECT_EQ(doResampler(e, in.data(), out.data(), 12000), 3265u * 4);
    EXPECT_EQ(doResampler(e, in.data(), out.data(), 12003), 3265u * 4);  // partial frame ignored
    termResampler(e);
}

TEST(Resampler, StereoEqualsTwoMonoAndChannelCountsConvert) {
    const uint32_t frames = 5000;
    const std::vector<int16_t> stereo = dsptest::pcmNoise(2 * frames, 4, 25000);
    std::vector<int16_t> left(frames), right(frames);
    for (uint32_t i = 0; i < frames; ++i) left[i] = stereo[2 * i], right[i] = stereo[2 * i + 1];
    for (uint32_t interpolation : {0u, 1u}) {
        dsp_effect* s = resampler(frames, 2, 2, 44100, 32000, interpolation);
        dsp_effect* l = resampler(frames, 1, 1, 44100, 32000, interpolation);
        dsp_effect* r = resampler(frames, 1, 1, 44100, 32000, interpolation);
        dsp_effect* toStereo = resampler(frames, 1, 2, 44100, 32000, interpolation);
        const uint32_t n = getResamplerDstSize(s, frames);
        std::vector<int16_t> outS(2 * n), outL(n), outR(n), dup(2 * n);
        ASSERT_EQ(doResampler(s, stereo.data(), outS.data(), frames * 4), n * 4);
        ASSERT_EQ(doResampler(l, left.data(), outL.data(), frames * 2), n * 2);
        ASSERT_EQ(doResampler(r, right.data(), outR.data(), frames * 2), n * 2);
        ASSERT_EQ(doResampler(toStereo, left.data(), dup.data(), frames * 2), n * 4);
        for (uint32_t j = 0; j < n; ++j) {
            ASSERT_EQ(outS[2 * j], outL[j]) << "interp " << interpolation << " frame " << j;
            ASSERT_EQ(outS[2 * j + 1], outR[j]) << "interp " << interpolation << " frame " << j;
            ASSERT_TRUE(dup[2 * j] == outL[j] && dup[2 * j + 1] == outL[j]) << "frame " << j;
        }
        for (dsp_effect* e : {s, l, r, toStereo}) termResampler(e);
    }
}

TEST(Resampler, ChainCarriesConvertedLengthAndRate) {
    dsp_chain* chain = dspCreate(1000, 2, 44100);
    ASSERT_EQ(dspAdd(chain, resampler(1000, 2, 2, 44100, 48000), 1), 1u);
    ASSERT_EQ(dspAdd(chain, initIirFilter(1000, 2, 44100, 4, 3000.0f, 0), 2), 2u);
    EXPECT_EQ(dspGetDstSize(chain, 1000), 1088u);
    EXPECT_EQ(dspGetDstRate(chain), 48000u);
    auto* behind = reinterpret_cast<dsp::DspEffect*>(dspGetHandle(chain, 1));
    dspAdjust(chain, 1000, 2, 8000);  // 1000 frames at 8000 Hz become 6000 behind the resampler
    EXPECT_EQ(dspGetDstSize(chain, 1000), 6000u);
    EXPECT_EQ(behind->inSize, 6000u);
    dspDestroy(chain);
}

// ---- High-quality upsampler ----------------------------------------------------------------

// The effect's parameters in initHqups' order (the converter filter always on).
struct Settings {
    float harmonics = 0.3f, mix = 100.0f;
    uint32_t cutoff = 8000, interpolation = 1;
    float stopbandDb = 80.0f, slope = 40.0f;
    uint32_t activeMode = 0;
};
const Settings kActive{0.3f, 100.0f, 8000, 1, 80.0f, 40.0f, 1};

// The block counts output frames at 48000 Hz (initHqups) or, bySource, source frames.
dsp_effect* make(bool bySource, uint32_t frames, uint32_t inChannels, uint32_t rate, const Settings& s = {},
                 uint32_t outChannels = 0) {
    auto* init = bySource ? initHqupsBySrcsize : initHqups;
    return init(frames, inChannels, outChannels ? outChannels : inChannels, rate, s.harmonics, s.mix,
                s.cutoff, s.interpolation, s.stopbandDb, s.slope, s.activeMode, true);
}

// Interleaved PCM of a few tones per channel plus seeded noise.
std::vector<int16_t> tones(uint32_t frames, uint32_t channels, uint32_t rate,
                           const std::vector<double>& freqs, double amplitude, uint32_t seed,
                           double noiseLevel = 0.0, uint64_t offset = 0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<int16_t> pcm(frames * channels);
    for (uint32_t i = 0; i < frames; ++i)
        for (uint32_t c = 0; c < channels; ++c) {
            double v = noiseLevel * dist(rng);
            for (double f : freqs) v += amplitude * std::sin(2 * M_PI * f / rate * double(i + offset) + c);
            const double clipped = std::max(-32767.0, std::min(32767.0, v * 32767));
            pcm[i * channels + c] = static_cast<int16_t>(std::lround(clipped));
        }
    return pcm;
}

// 44100: 1000 x 44100 / 48000 = 918.75 (918.7499... with the float 1/48000) -> 918 -> back to
// 999.18 -> one more. 22050: 459.375 -> 459 -> 999.18 -> 460, which converts to 1001.36.
TEST(Hqups, SourceBlockAndItsConversion) {
    struct Case { uint32_t rate, dstFrames, srcFrames, converted; } cases[] = {
        {44100, 1000, 919, 1000}, {22050, 1000, 460, 1001}, {48000, 1000, 1000, 1000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rate);
        EXPECT_EQ(dsp::HqupsEffect::sourceFramesFor(c.dstFrames, c.rate), c.srcFrames);
        dsp_effect* effect = make(false, c.dstFrames, 2, c.rate);
        ASSERT_NE(effect, nullptr);
        EXPECT_EQ(getHqupsSrcSize(effect, c.dstFrames), c.srcFrames);
        EXPECT_EQ(getHqupsDstSize(effect, c.srcFrames), c.converted);
        EXPECT_TRUE(termHqups(effect));
    }
}

TEST(Hqups, IdenticalChannelsShareOneBandEdgeAndMatchMono) {
    // With L = R the mid signal is the channel itself: stereo output equals the mono effect's.
    dsp_effect* stereo = make(false, 960, 2, 44100, kActive);
    dsp_effect* mono = make(false, 960, 1, 44100, kActive);
    const uint32_t src = getHqupsSrcSize(stereo, 960);
    for (int b = 0; b < 4; ++b) {
        const std::vector<int16_t> m = tones(src, 1, 44100, {2000.0, 9000.0, 14000.0}, 0.2, 70 + b, 0.2);
        std::vector<int16_t> st(src * 2), outSt(960 * 2), outMono(960), dup(960 * 2);
        for (uint32_t i = 0; i < src; ++i) st[2 * i] = st[2 * i + 1] = m[i];
        ASSERT_EQ(doHqups(stereo, st.data(), outSt.data(), src * 4), 960u * 4);
        ASSERT_EQ(doHqups(mono, m.data(), outMono.data(), src * 2), 960u * 2);
        for (uint32_t i = 0; i < 960; ++i) dup[2 * i] = dup[2 * i + 1] = outMono[i];
        ASSERT_EQ(outSt, dup) << "block " << b;
    }
    termHqups(stereo);
    termHqups(mono);
}

TEST(Hqups, HarmonicsAbove11kGrowWithMixAndHarmonicsAndVanishWithMixZero) {
    // 22050 Hz source with tones up to 10 kHz and noise to its Nyquist frequency. The converter
    // lowpass reaches 60 dB at 11025 Hz a tenth of an octave above its 10.3 kHz edge. Returns the
    // power of the left output above 12 kHz and, for scale, in the source band (first block skipped).
    auto powerAbove = [](float harmonics, float mix) {
        dsp_effect* effect = make(true, 2205, 2, 22050, {harmonics, mix, 8000, 1, 60.0f, 600.0f});
        const uint32_t dst = getHqupsDstSize(effect, 2205);
        std::vector<int16_t> out(dst * 2);
        std::vector<double> left;
        for (int b = 0; b < 4; ++b) {
            const std::vector<int16_t> in = tones(2205, 2, 22050, {700.0, 3100.0, 8200.0, 9400.0, 10000.0}, 0.2,
                                                  1000 + b, 0.05, b * 2205);
            EXPECT_EQ(doHqups(effect, in.data(), out.data(), 2205 * 4), dst * 4);
            for (uint32_t i = 0; b > 0 && i < dst; ++i) left.push_back(out[2 * i] / 32767.0);
        }
        termHqups(effect);
        return std::make_pair(dsptest::bandPower(left, 12000.0, 23500.0, 48000.0),
                              dsptest::bandPower(left, 500.0, 10800.0, 48000.0));
    };
    const auto [dry, dryLow] = powerAbove(0.4f, 0.0f);
    const auto [half, halfLow] = powerAbove(0.4f, 50.0f);
    const auto [full, fullLow] = powerAbove(0.4f, 100.0f);
    const auto [gentle, gentleLow] = powerAbove(0.15f, 100.0f);
    const auto [flat, flatLow] = powerAbove(0.0f, 100.0f);
    // Mix 0 and harmonics 0 leave only the converter's residue, far below the source.
    EXPECT_LT(dry, dryLow * 1e-5);
    EXPECT_LT(flat, flatLow * 1e-5);
    EXPECT_GT(half, dry * 1e4);
    EXPECT_NEAR(full / half, 4.0, 0.5) << "added power goes with the square of the mix";
    EXPECT_GT(full, gentle * 2.0);
    EXPECT_GT(gentle, flat * 1e4);
}

TEST(Hqups, HostileParametersStayInBounds) {
    // Odd channel counts count as mono, unknown modes as mode 0, tiny blocks in active mode
    // analyse a zero-padded frame; nothing may read or write outside the buffers (ASan).
    struct Case { uint32_t frames, inCh, outCh, rate; Settings s; };
    const Case cases[] = {{1, 2, 2, 44100, {0.3f, 50.0f, 11025, 1, 80.0f, 40.0f, 1}},
                          {64, 5, 3, 44100, {2.0f, 1000.0f, 30000, 1, 80.0f, 40.0f, 1}},
                          {333, 1, 2, 7350, {-3.0f, -50.0f, 4000, 1, 80.0f, 40.0f, 7}}};
    for (const Case& c : cases) {
        for (bool bySource : {false, true}) {
            dsp_effect* effect = make(bySource, c.frames, c.inCh, c.rate, c.s, c.outCh);
            ASSERT_NE(effect, nullptr);
            const uint32_t src = bySource ? c.frames : getHqupsSrcSize(effect, c.frames);
            const uint32_t inCh = c.inCh == 2 ? 2 : 1, outCh = c.outCh == 2 ? 2 : 1;
            const std::vector<int16_t> in = tones(src, inCh, c.rate, {c.rate * 0.2, c.rate * 0.45}, 0.45, 3, 0.05);
            std::vector<int16_t> out(getHqupsDstSize(effect, src) * outCh);
            for (int rep = 0; rep < 4; ++rep)
                EXPECT_EQ(doHqups(effect, in.data(), out.data(), src * inCh * 2), out.size() * 2)
                    << "frames " << c.frames << " rate " << c.rate << " by source " << bySource;
            EXPECT_TRUE(setHqupsActiveMode(effect, 1 - c.s.activeMode % 2));
            EXPECT_EQ(doHqups(effect, in.data(), out.data(), src * inCh * 2), out.size() * 2);
            termHqups(effect);
        }
    }
}

// In a chain the one-frame-longer conversion fits in exactly sized vectors (ASan); a new source
// format (the second step) reconfigures converters and engines; the output stays at 48000 Hz.
TEST(Hqups, InAChainFollowsTheFormatAndAlwaysDelivers48k) {
    dsp_chain* chain = dspCreate(460, 2, 22050);
    ASSERT_EQ(dspAdd(chain, make(false, 1000, 2, 44100), 10), 1u);
    struct Step { uint32_t frames, channels, rate, dstFrames; };
    const Step steps[] = {{460, 2, 22050, 1001}, {2000, 1, 32000, 3000}};
    for (const Step& s : steps) {
        if (&s != &steps[0]) dspAdjust(chain, s.frames, s.channels, s.rate);
        EXPECT_EQ(dspGetDstRate(chain), 48000u);
        EXPECT_EQ(dspGetDstChannels(chain), s.channels);
        EXPECT_EQ(dspGetDstSize(chain, s.frames), s.dstFrames);
        const std::vector<int16_t> in = tones(s.frames, s.channels, s.rate, {1000.0, 9000.0}, 0.3, 1, 0.1);
        std::vector<int16_t> out(s.dstFrames * s.channels);
        EXPECT_EQ(dspSend(chain, in.data(), out.data(), s.frames * s.channels * 2),
                  s.dstFrames * s.channels * 2);
    }
    dspDestroy(chain);
}

}  // namespace
