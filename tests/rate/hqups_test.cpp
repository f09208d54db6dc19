// The high-quality upsampler through its C API: block arithmetic, buffer bounds, one band-edge
// analysis for both channels, chains, and the spectrum it adds above the source's band limit,
// measured with a plain Goertzel filter.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dsp.h"
#include "rate/hqups_effect.h"
#include "support/spectrum.h"

namespace {

using dsptest::bandPower;

constexpr double kPi = 3.141592653589793;

struct Settings {
    float harmonics = 0.3f;
    float mix = 100.0f;
    uint32_t cutoff = 8000;
    uint32_t interpolation = 1;
    float stopbandDb = 80.0f;
    float slope = 40.0f;
    uint32_t activeMode = 0;
    bool filterOn = true;
};

dsp_effect* makeForOutput(uint32_t dstFrames, uint32_t channels, uint32_t rate, const Settings& s = {},
                          uint32_t outChannels = 0) {
    return initHqups(dstFrames, channels, outChannels ? outChannels : channels, rate, s.harmonics, s.mix, s.cutoff,
                     s.interpolation, s.stopbandDb, s.slope, s.activeMode, s.filterOn);
}

dsp_effect* makeForSource(uint32_t srcFrames, uint32_t channels, uint32_t rate, const Settings& s = {},
                          uint32_t outChannels = 0) {
    return initHqupsBySrcsize(srcFrames, channels, outChannels ? outChannels : channels, rate, s.harmonics, s.mix,
                              s.cutoff, s.interpolation, s.stopbandDb, s.slope, s.activeMode, s.filterOn);
}

// Interleaved PCM of a few tones per channel plus seeded noise.
std::vector<int16_t> tones(uint32_t frames, uint32_t channels, uint32_t rate, const std::vector<double>& freqs,
                           double amplitude, uint32_t seed, double noiseLevel = 0.0, uint64_t offset = 0) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<int16_t> pcm(frames * channels);
    for (uint32_t i = 0; i < frames; ++i)
        for (uint32_t c = 0; c < channels; ++c) {
            double v = noiseLevel * dist(rng);
            for (double f : freqs) v += amplitude * std::sin(2 * kPi * f / rate * double(i + offset) + c);
            pcm[i * channels + c] = static_cast<int16_t>(std::lround(std::max(-32767.0, std::min(32767.0, v * 32767))));
        }
    return pcm;
}

// Runs `blocks` blocks of `srcFrames` frames of tone-rich input through doHqups; returns the
// left channel of the output as doubles, skipping the first `skipBlocks` blocks.
std::vector<double> runLeft(dsp_effect* effect, uint32_t srcFrames, uint32_t channels, uint32_t rate,
                            const std::vector<double>& freqs, int blocks, int skipBlocks, double noiseLevel = 0.0) {
    std::vector<double> left;
    const uint32_t dst = getHqupsDstSize(effect, srcFrames);
    std::vector<int16_t> out(dst * 2);
    for (int b = 0; b < blocks; ++b) {
        const std::vector<int16_t> in =
            tones(srcFrames, channels, rate, freqs, 0.2, 1000 + b, noiseLevel, uint64_t(b) * srcFrames);
        const uint32_t bytes = doHqups(effect, in.data(), out.data(), srcFrames * channels * 2);
        EXPECT_EQ(bytes, dst * channels * 2);
        if (b >= skipBlocks)
            for (uint32_t i = 0; i < bytes / (2 * channels); ++i) left.push_back(out[i * channels] / 32767.0);
    }
    return left;
}

// ---- Block arithmetic ------------------------------------------------------------------------

struct SizeCase {
    uint32_t rate;
    uint32_t dstFrames;
    uint32_t srcFrames;   // chosen source block
    uint32_t converted;   // what that block converts to
};

class HqupsSizes : public ::testing::TestWithParam<SizeCase> {};

TEST_P(HqupsSizes, SourceBlockAndItsConversion) {
    const SizeCase c = GetParam();
    EXPECT_EQ(dsp::HqupsEffect::sourceFramesFor(c.dstFrames, c.rate), c.srcFrames);
    dsp_effect* effect = makeForOutput(c.dstFrames, 2, c.rate);
    ASSERT_NE(effect, nullptr);
    EXPECT_EQ(getHqupsSrcSize(effect, c.dstFrames), c.srcFrames);
    EXPECT_EQ(getHqupsDstSize(effect, c.srcFrames), c.converted);
    EXPECT_TRUE(termHqups(effect));
}

// 44100: 1000 x 44100 / 48000 = 918.75 (918.7499... with the float 1/48000) -> 918 -> back to
// 999.18 -> one more. 22050: 459.375 -> 459 -> 999.18 -> 460, which converts to 1001.36.
INSTANTIATE_TEST_SUITE_P(Rates, HqupsSizes,
                         ::testing::Values(SizeCase{44100, 1000, 919, 1000}, SizeCase{22050, 1000, 460, 1001},
                                           SizeCase{48000, 1000, 1000, 1000}));

// ---- Harmonics ------------------------------------------------------------------

TEST(Hqups, IdenticalChannelsShareOneBandEdgeAndMatchMono) {
    // With L = R the mid signal is the channel itself: stereo output equals the mono effect's.
    Settings s;
    s.activeMode = 1;
    dsp_effect* stereo = makeForOutput(960, 2, 44100, s);
    dsp_effect* mono = makeForOutput(960, 1, 44100, s);
    const uint32_t src = getHqupsSrcSize(stereo, 960);
    for (int b = 0; b < 4; ++b) {
        const std::vector<int16_t> m = tones(src, 1, 44100, {2000.0, 9000.0, 14000.0}, 0.2, 70 + b, 0.2);
        std::vector<int16_t> st(src * 2);
        for (uint32_t i = 0; i < src; ++i) st[2 * i] = st[2 * i + 1] = m[i];
        std::vector<int16_t> outSt(960 * 2), outMono(960);
        ASSERT_EQ(doHqups(stereo, st.data(), outSt.data(), src * 4), 960u * 4);
        ASSERT_EQ(doHqups(mono, m.data(), outMono.data(), src * 2), 960u * 2);
        for (uint32_t i = 0; i < 960; ++i) {
            ASSERT_EQ(outSt[2 * i], outMono[i]) << "block " << b << " frame " << i;
            ASSERT_EQ(outSt[2 * i + 1], outMono[i]) << "block " << b << " frame " << i;
        }
    }
    termHqups(stereo);
    termHqups(mono);
}

TEST(Hqups, HarmonicsAbove11kGrowWithMixAndHarmonicsAndVanishWithMixZero) {
    // 22050 Hz source with tones up to 10 kHz and noise to its Nyquist frequency. The converter
    // lowpass reaches 60 dB at 11025 Hz a tenth of an octave above its 10.3 kHz edge.
    const std::vector<double> freqs = {700.0, 3100.0, 8200.0, 9400.0, 10000.0};
    auto energyAbove = [&](float harmonics, float mix) {
        Settings s;
        s.harmonics = harmonics;
        s.mix = mix;
        s.stopbandDb = 60.0f;
        s.slope = 600.0f;
        dsp_effect* effect = makeForSource(2205, 2, 22050, s);
        const std::vector<double> y = runLeft(effect, 2205, 2, 22050, freqs, 4, 1, 0.05);
        termHqups(effect);
        return std::make_pair(bandPower(y, 12000.0, 23500.0, 48000.0), bandPower(y, 500.0, 10800.0, 48000.0));
    };
    const auto [dry, dryLow] = energyAbove(0.4f, 0.0f);
    const auto [half, halfLow] = energyAbove(0.4f, 50.0f);
    const auto [full, fullLow] = energyAbove(0.4f, 100.0f);
    const auto [gentle, gentleLow] = energyAbove(0.15f, 100.0f);
    const auto [flat, flatLow] = energyAbove(0.0f, 100.0f);
    // Mix 0 and harmonics 0 leave only the converter's residue, far below the source.
    EXPECT_LT(dry, dryLow * 1e-5);
    EXPECT_LT(flat, flatLow * 1e-5);
    EXPECT_GT(half, dry * 1e4);
    EXPECT_NEAR(full / half, 4.0, 0.5) << "added power goes with the square of the mix";
    EXPECT_GT(full, gentle * 2.0);
    EXPECT_GT(gentle, flat * 1e4);
}

// ---- Kinds, chains ------------------------------------------------------------------

TEST(Hqups, HostileParametersStayInBounds) {
    // Odd channel counts count as mono, unknown modes as mode 0, tiny blocks in active mode
    // analyse a zero-padded frame; nothing may read or write outside the buffers (ASan).
    struct Case {
        uint32_t frames, inCh, outCh, rate, cutoff, mode;
        float harmonics, mix;
    };
    for (const Case& c : {Case{1, 2, 2, 44100, 11025, 1, 0.3f, 50.0f}, Case{64, 5, 3, 44100, 30000, 1, 2.0f, 1000.0f},
                          Case{333, 1, 2, 7350, 4000, 7, -3.0f, -50.0f}}) {
        for (bool bySource : {false, true}) {
            Settings s;
            s.cutoff = c.cutoff;
            s.activeMode = c.mode;
            s.harmonics = c.harmonics;
            s.mix = c.mix;
            dsp_effect* effect = bySource ? makeForSource(c.frames, c.inCh, c.rate, s, c.outCh)
                                          : makeForOutput(c.frames, c.inCh, c.rate, s, c.outCh);
            ASSERT_NE(effect, nullptr);
            const uint32_t src = bySource ? c.frames : getHqupsSrcSize(effect, c.frames);
            const uint32_t inCh = c.inCh == 2 ? 2 : 1, outCh = c.outCh == 2 ? 2 : 1;
            const std::vector<int16_t> in = tones(src, inCh, c.rate, {c.rate * 0.2, c.rate * 0.45}, 0.45, 3, 0.05);
            std::vector<int16_t> out(getHqupsDstSize(effect, src) * outCh);
            for (int rep = 0; rep < 4; ++rep)
                EXPECT_EQ(doHqups(effect, in.data(), out.data(), src * inCh * 2), out.size() * 2)
                    << "frames " << c.frames << " rate " << c.rate;
            EXPECT_TRUE(setHqupsActiveMode(effect, 1 - c.mode % 2));
            EXPECT_EQ(doHqups(effect, in.data(), out.data(), src * inCh * 2), out.size() * 2);
            termHqups(effect);
        }
    }
}

// In a chain the one-frame-longer conversion fits in exactly sized vectors (ASan).
TEST(Hqups, InAChainFollowsTheFormatAndAlwaysDelivers48k) {
    dsp_chain* chain = dspCreate(460, 2, 22050);
    ASSERT_EQ(dspAdd(chain, makeForOutput(1000, 2, 44100), 10), 1u);
    EXPECT_EQ(dspGetDstRate(chain), 48000u);
    EXPECT_EQ(dspGetDstSize(chain, 460), 1001u);
    const std::vector<int16_t> in = tones(460, 2, 22050, {1000.0, 9000.0}, 0.3, 1, 0.1);
    std::vector<int16_t> out(1001 * 2);
    EXPECT_EQ(dspSend(chain, in.data(), out.data(), 460 * 4), 1001u * 4);

    // A new source format reconfigures converters and engines; the output stays at 48000 Hz.
    dspAdjust(chain, 2000, 1, 32000);
    EXPECT_EQ(dspGetDstRate(chain), 48000u);
    EXPECT_EQ(dspGetDstChannels(chain), 1u);
    EXPECT_EQ(dspGetDstSize(chain, 2000), 3000u);
    const std::vector<int16_t> mono = tones(2000, 1, 32000, {1000.0, 12000.0}, 0.3, 2, 0.1);
    std::vector<int16_t> monoOut(3000);
    EXPECT_EQ(dspSend(chain, mono.data(), monoOut.data(), 2000 * 2), 3000u * 2);

    dspDestroy(chain);
}

}  // namespace
