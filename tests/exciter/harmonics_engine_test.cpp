// The harmonic synthesis engine: its dry path and latency, the band-edge scan on synthetic
// spectra and on band-limited noise, streaming in pieces, and short blocks in active mode.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "convert/convert.h"
#include "exciter/harmonics_engine.h"
#include "support/signals.h"

namespace {

constexpr double kPi = 3.141592653589793;

using dsptest::noise;

// Sines every 50 Hz below `edge` Hz (48 kHz) with random phases: a flat band that stops there.
std::vector<float> bandLimitedNoise(std::size_t n, double edge, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> phase(0.0, 2 * kPi);
    std::vector<float> x(n, 0.0f);
    for (double f = 50.0; f < edge; f += 50.0) {
        const double p = phase(rng);
        for (std::size_t i = 0; i < n; ++i) x[i] += static_cast<float>(0.02 * std::sin(2 * kPi * f * i / 48000.0 + p));
    }
    return x;
}

// Restores the processor switches after each test.
struct SwitchGuard {
    ~SwitchGuard() { dsp::use3dnow = dsp::useSse = dsp::useMmx = false; }
};

// With no harmonics or no mix, under each variant's kernels.
TEST(HarmonicsEngine, DryPathIsTheInputDelayedByTheFilterLatency) {
    SwitchGuard guard;
    const struct {
        float harmonics, mix;
        uint32_t mode, expectedDelay;
        int kernels;  // 0 reference, 1 3DNow!, 2 SSE
    } cases[] = {{0.0f, 100.0f, 0, 8, 0}, {0.4f, 0.0f, 1, 16, 0}, {0.0f, 80.0f, 0, 8, 1}, {0.0f, 50.0f, 1, 16, 2}};
    for (const auto& c : cases) {
        dsp::use3dnow = c.kernels == 1;
        dsp::useSse = c.kernels == 2;
        dsp::HarmonicsEngine engine;
        engine.setup(480, 48000, c.harmonics, c.mix, 11025, c.mode, 16);
        EXPECT_EQ(engine.latency(), c.expectedDelay);
        const std::vector<float> x = noise(480 * 4, 9, 0.5f);
        std::vector<float> y(x.size());
        for (std::size_t at = 0; at < x.size(); at += 480) engine.process(x.data() + at, y.data() + at, 480);
        for (std::size_t n = 0; n < y.size(); ++n)
            ASSERT_EQ(y[n], n >= c.expectedDelay ? x[n - c.expectedDelay] : 0.0f) << c.kernels << " n " << n;
    }
}

TEST(HarmonicsEngine, PiecesLongerThanTheCapacityEqualCapacityBlocks) {
    dsp::HarmonicsEngine whole, pieces;
    for (dsp::HarmonicsEngine* e : {&whole, &pieces}) e->setup(256, 48000, 0.35f, 70.0f, 9000, 0, 16);
    const std::vector<float> x = noise(256 * 6, 4, 0.5f);
    std::vector<float> a(x.size()), b(x.size());
    whole.process(x.data(), a.data(), static_cast<uint32_t>(x.size()));
    for (std::size_t s = 0; s < x.size(); s += 256) pieces.process(x.data() + s, b.data() + s, 256);
    for (std::size_t n = 0; n < x.size(); ++n) ASSERT_EQ(a[n], b[n]) << "n=" << n;
}

// Spectra of 128 bins in dB, and the bin the scan reports.
TEST(HarmonicsEngine, BandEdgeScanFindsTheBinWhereTheRiseReaches15Db) {
    const struct {
        const char* name;
        float (*level)(int);  // dB at bin i
        int expectedBin;
    } cases[] = {
        // Floor from bin 100 up, 3 dB per bin louder below it: 15 dB above the floor at bin 95.
        {"floor_then_ramp", [](int i) { return i >= 100 ? -100.0f : -100.0f + 3.0f * (100 - i); }, 95},
        // A cliff at bin 109: the first bin up arms the detector, the next one reports.
        {"cliff", [](int i) { return i >= 110 ? -90.0f : -50.0f; }, 108},
        // A 10 dB bump near the top falls back into a deeper valley; the rise counts from there.
        {"bump_then_valley", [](int i) {
             return i >= 120 ? -100.0f : i >= 116 ? -90.0f : i >= 105 ? -104.0f : -104.0f + 2.0f * (105 - i);
         }, 97},
        // The rise lies below the upper third (bin 86 is the last bin scanned): no edge.
        {"rise_too_low", [](int i) { return i >= 85 ? -110.0f : -20.0f; }, 127},
        // A rise of 14 dB is not enough.
        {"rise_of_14_db", [](int i) { return i >= 100 ? -100.0f : -86.0f; }, 127}};
    for (const auto& c : cases) {
        std::vector<float> spectrum(128);
        for (int i = 0; i < 128; ++i) spectrum[i] = c.level(i);
        EXPECT_EQ(dsp::scanBandEdge(spectrum.data(), 128, 48000), 48000.0f * c.expectedBin / 256.0f) << c.name;
    }
}

// Only the upper third of the band (from bin 86, 16125 Hz) is searched: silence and a 15 kHz
// edge read as no edge at all, the top bin. Outside active mode there is no analysis.
TEST(HarmonicsEngine, BandEdgeOfBandLimitedNoiseSitsAtItsEdge) {
    for (double edge : {0.0, 15000.0, 19000.0}) {
        dsp::HarmonicsEngine engine;
        engine.setup(480, 48000, 0.3f, 100.0f, 11025, 1, 16);
        const std::vector<float> x = edge > 0 ? bandLimitedNoise(480 * 4, edge, 31) : std::vector<float>(480 * 4);
        float found = 0.0f;
        for (std::size_t s = 0; s < x.size(); s += 480) found = engine.findBandEdge(x.data() + s, 480);
        EXPECT_NEAR(found, edge < 16125.0 ? 23812.5 : edge, edge < 16125.0 ? 0.0 : 800.0) << edge;
        engine.setActiveMode(0);
        EXPECT_EQ(engine.findBandEdge(x.data(), 480), 0.0f);
    }
}

TEST(HarmonicsEngine, ShortBlockInActiveModeIsAnalysedZeroPadded) {
    // The short block sits in an exactly sized vector: reading past it would trip ASan.
    std::vector<float> padded = bandLimitedNoise(480, 16000.0, 8);
    std::fill(padded.begin() + 300, padded.end(), 0.0f);
    const std::vector<float> shortBlock(padded.begin(), padded.begin() + 300);
    dsp::HarmonicsEngine a, b;
    for (dsp::HarmonicsEngine* e : {&a, &b}) e->setup(480, 48000, 0.3f, 100.0f, 11025, 1, 16);
    EXPECT_EQ(a.findBandEdge(shortBlock.data(), 300), b.findBandEdge(padded.data(), 480));
    for (int i = 0; i < 128; ++i) ASSERT_EQ(a.spectrum()[i], b.spectrum()[i]) << "bin " << i;
    std::vector<float> out(300);
    a.process(shortBlock.data(), out.data(), 300);
}

}  // namespace
