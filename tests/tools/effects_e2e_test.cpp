// `dsptool process` end to end, each effect once, alone or in a chain: a WAVE file written here,
// run through the tool, decoded by sox and measured here (windowed Goertzel, RMS).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "support/signals.h"
#include "support/spectrum.h"
#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

namespace {

constexpr double kLevel = 0.3;  // amplitude of every input tone; dB figures below are relative to it

// 44 samples per cycle at 44.1 kHz, ten cycles per 440-sample grain hop: the grain effects'
// hop-spaced output lines fall on this tone and on its octaves.
constexpr double kF0 = 44100.0 / 44.0;

struct Input {
    uint32_t rate;
    std::vector<double> left, right;  // tone frequencies per channel; no right channel: mono
    double seconds = 1.0;
};

void writeInput(const std::string& path, const Input& in) {
    const uint16_t channels = in.right.empty() ? 1 : 2;
    std::vector<int16_t> pcm;
    for (size_t i = 0; i < size_t(std::lround(in.seconds * in.rate)); ++i)
        for (int c = 0; c < channels; ++c) {
            double v = 0;
            for (double hz : c == 0 ? in.left : in.right) v += kLevel * std::sin(dsptest::kTwoPi * hz * double(i) / in.rate);
            pcm.push_back(int16_t(std::lround(v * 32767)));
        }
    tooltest::writeWave(path, pcm, channels, in.rate);
}

// The strongest component within hz ± tolHz must lie between minDb and maxDb (relative to kLevel).
struct Tone { unsigned channel; double hz, tolHz, minDb, maxDb; };

struct Case {
    const char* name;
    Input in;
    const char* effects;
    uint32_t outRate;
    double lengthFactor;  // output duration over input duration
    std::vector<Tone> tones;
    // Within a frame of the rate ratio (none for no input): blocks are cut to convert to whole output
    // frames (truncation would lose half a frame per 4096 input frames). Else stretchers run short.
    bool exactLength = false;
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.name; }

class EffectsEndToEnd : public ::testing::TestWithParam<Case> {};

TEST_P(EffectsEndToEnd, OutputHasTheExpectedFormatLengthAndTones) {
    const Case& c = GetParam();
    wavetest::TempDir dir;
    writeInput(dir.file("in.wav"), c.in);
    const tooltest::ToolRun r = tooltest::runTool(dir.path(), std::string("-q process in.wav out.wav ") + c.effects);
    ASSERT_EQ(r.status, 0) << c.effects << ": " << r.err;

    // Rate and channel count as sox reports them, the samples as it decodes them (full scale 1).
    std::string info;
    ASSERT_EQ(tooltest::runShell("soxi -r '" + dir.file("out.wav") + "' && soxi -c '" + dir.file("out.wav") + "'", info), 0);
    uint32_t rate = 0, channels = 0;
    ASSERT_TRUE(std::istringstream(info) >> rate >> channels) << info;
    EXPECT_EQ(rate, c.outRate);
    ASSERT_EQ(channels, c.in.right.empty() ? 1u : 2u);
    std::vector<std::vector<float>> out(channels);
    const std::vector<int16_t> pcm = tooltest::soxDecode(dir.file("out.wav"), dir.file("decoded.raw"));
    for (size_t i = 0; i < pcm.size(); ++i) out[i % channels].push_back(pcm[i] / 32768.0f);
    const size_t frames = out[0].size();
    const double inFrames = std::round(c.in.seconds * c.in.rate);
    const double expected = inFrames * c.outRate / c.in.rate * c.lengthFactor;
    EXPECT_NEAR(double(frames), std::round(expected), c.exactLength ? double(inFrames > 0) : 2 + 0.002 * expected);
    if (frames == 0) return;

    // Measured on the middle half, clear of fades and of the grains' start-up.
    const size_t from = frames / 4, n = frames / 2;
    for (unsigned ch = 0; ch < channels; ++ch) {
        const std::vector<float>& x = out[ch];
        size_t fullScale = 0;
        for (float v : x) fullScale += std::fabs(v) >= 32767.0f / 32768.0f;
        EXPECT_EQ(fullScale, 0u) << "clipped samples in channel " << ch;
        // No dropouts: every 10 ms stays within 20 dB of the whole stretch (a chorus on a pure
        // tone swings by more than 12 dB as its voices pass in and out of phase).
        const double whole = dsptest::rms(x, from, from + n);
        const size_t window = rate / 100;
        for (size_t at = from; at + window <= from + n; at += window)
            ASSERT_GT(dsptest::rms(x, at, at + window), whole / 10) << "dropout in channel " << ch << " at frame " << at;
    }
    for (const Tone& t : c.tones) {
        const std::vector<double> middle(out[t.channel].begin() + from, out[t.channel].begin() + from + n);
        double best = 0, bestHz = t.hz;
        for (double hz = t.hz - t.tolHz; hz <= t.hz + t.tolHz + 1e-9; hz += 0.25) {
            // A sine of amplitude a has power (a x 0.35875 / 2)^2: the window's mean is 0.35875.
            const double a = 2 * std::sqrt(dsptest::powerAt(middle, hz, rate)) / 0.35875;
            if (a > best) best = a, bestHz = hz;
        }
        const double db = 20 * std::log10(best / kLevel + 1e-12);
        EXPECT_TRUE(db >= t.minDb && db <= t.maxDb)
            << "channel " << t.channel << ", " << t.hz << " Hz +- " << t.tolHz << ": expected " << t.minDb << ".."
            << t.maxDb << " dB, got " << db << " dB at " << bestHz << " Hz";
    }
}

const Input kStereo44{44100, {kF0}, {660}};
const Input kMono44{44100, {kF0}, {}};

INSTANTIATE_TEST_SUITE_P(
    Dsptool, EffectsEndToEnd,
    ::testing::Values(
        Case{"lowpass_default", Input{44100, {1000, 8000}, {}}, "lowpass", 44100, 1,
             {{0, 1000, 0, -1.1, 0.1}, {0, 8000, 0, -200, -40}}},
        Case{"stretch_double_stereo", kStereo44, "stretch len=2", 44100, 2, {{0, kF0, 0, -3, 1}, {1, 660, 50, -12, 1}}},
        Case{"chain_pitch_stretch_highpass_gain", kMono44, "pitch 1200 stretch scale=-1000 highpass 1500 fade gain -6", 44100,
             2, {{0, 2 * kF0, 0, -10, -5}, {0, kF0, 0, -200, -40}}},
        // A bare number is the length factor; rates take a k; the default converter filter keeps
        // 0.8 of the lower Nyquist frequency (the old default: -26 dB at 7.2 kHz); hqups' default
        // cutoff suits any input rate.
        Case{"stretch_bare_factor", kMono44, "stretch 1.5", 44100, 1.5, {}},
        Case{"rate_k_keeps_the_band", Input{44100, {1000, 16000}, {}}, "rate 48k", 48000, 1,
             {{0, 1000, 0, -0.3, 0.3}, {0, 16000, 0, -1.5, 0.3}}},  // the cubic interpolator's -1.2 dB
        Case{"hqups_from_96k", Input{96000, {1000}, {}}, "hqups", 48000, 1, {{0, 1000, 0, -1, 1}}},
        Case{"chain_rate_hqups_chorus", kStereo44, "rate 22050 hqups chorus", 48000, 1,
             {{0, kF0, 3, -8, 3}, {1, 660, 3, -8, 3}, {0, 660, 3, -200, -45}}},
        // A file with no frames writes a valid empty file at the rate and channel count the list
        // ends with, a fade-out included.
        Case{"empty_pitch_stretch", Input{44100, {}, {}, 0}, "pitch 300 stretch 0.5", 44100, 0.5, {}, true},
        Case{"empty_rate_fade", Input{44100, {kF0}, {660}, 0}, "rate 48000 fade 1 1", 48000, 1, {}, true},
        // Long files, over which per-block truncation would add up.
        Case{"long_rate_rate", Input{44100, {440}, {440}, 47.3}, "rate 48000 rate 32000", 32000, 1,
             {{0, 440, 0, -0.3, 0.3}}, true},
        Case{"long_hqups", Input{22050, {440}, {440}, 47.3}, "hqups", 48000, 1, {{1, 440, 0, -1, 1}}, true}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
