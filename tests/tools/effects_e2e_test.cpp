// `dsptool process` end to end, each effect once, alone or in a chain: a WAVE file written here,
// run through the tool, decoded by sox and measured here (windowed Goertzel, RMS).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLevel = 0.3;  // amplitude of every input tone; dB figures below are relative to it

// 44 samples per cycle at 44.1 kHz, ten cycles per 440-sample grain hop: the grain effects'
// hop-spaced output lines fall on this tone and on its octaves.
constexpr double kF0 = 44100.0 / 44.0;

struct Input {
    uint32_t rate;
    std::vector<double> left, right;  // tone frequencies per channel; no right channel: mono
    double seconds = 1.0;
};

struct Audio {
    uint32_t rate = 0;
    std::vector<std::vector<double>> channel;
    size_t frames() const { return channel.empty() ? 0 : channel[0].size(); }
};

void writeInput(const std::string& path, const Input& in) {
    const uint16_t channels = in.right.empty() ? 1 : 2;
    std::vector<int16_t> pcm;
    for (size_t i = 0; i < size_t(std::lround(in.seconds * in.rate)); ++i)
        for (int c = 0; c < channels; ++c) {
            double v = 0;
            for (double hz : c == 0 ? in.left : in.right) v += kLevel * std::sin(2 * kPi * hz * double(i) / in.rate);
            pcm.push_back(int16_t(std::lround(v * 32767)));
        }
    tooltest::writeWave(path, pcm, channels, in.rate);
}

// Frame count, rate and channel count of a WAVE file as sox reports them.
void soxInfo(const std::string& path, uint64_t& frames, uint32_t& rate, uint32_t& channels) {
    std::string out;
    ASSERT_EQ(tooltest::runShell("soxi -s '" + path + "' && soxi -r '" + path + "' && soxi -c '" + path + "'", out), 0);
    std::istringstream fields(out);
    ASSERT_TRUE(fields >> frames >> rate >> channels) << out;
}

// A WAVE file as sox decodes it, one vector per channel, full scale 1.
void readAudio(const wavetest::TempDir& dir, const std::string& wav, Audio& a) {
    uint64_t frames = 0;
    uint32_t channels = 0;
    soxInfo(dir.file(wav), frames, a.rate, channels);
    const std::vector<int16_t> pcm = tooltest::soxDecode(dir.file(wav), dir.file("decoded.raw"));
    ASSERT_EQ(pcm.size(), frames * channels);
    a.channel.assign(channels, {});
    for (size_t i = 0; i < pcm.size(); ++i) a.channel[i % channels].push_back(pcm[i] / 32768.0);
}

// Amplitude of the `hz` component of x[from, from + n), Hann-windowed Goertzel.
double amplitude(const std::vector<double>& x, size_t from, size_t n, double hz, double rate) {
    const double coeff = 2 * std::cos(2 * kPi * hz / rate);
    double s1 = 0, s2 = 0, wsum = 0;
    for (size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2 * kPi * double(i) / double(n));
        const double s = w * x[from + i] + coeff * s1 - s2;
        s2 = s1, s1 = s;
        wsum += w;
    }
    return 2 * std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coeff * s1 * s2)) / wsum;
}

double rms(const std::vector<double>& x, size_t from, size_t n) {
    double s = 0;
    for (size_t i = from; i < from + n; ++i) s += x[i] * x[i];
    return std::sqrt(s / double(n));
}

// The strongest component within hz ± tolHz must lie between minDb and maxDb (relative to kLevel).
struct Tone {
    unsigned channel;
    double hz, tolHz, minDb, maxDb;
};

struct Case {
    const char* name;
    Input in;
    const char* effects;
    uint32_t outRate;
    double lengthFactor;  // output duration over input duration
    std::vector<Tone> tones;
};

std::ostream& operator<<(std::ostream& os, const Case& c) { return os << c.name; }

struct ToolRun {
    int status;
    std::string output;  // stdout and stderr together
};

ToolRun dsptool(const wavetest::TempDir& dir, const std::string& args) {
    ToolRun r{};
    r.status = tooltest::runShell("cd '" + dir.path() + "' && '" + DSPTOOL_PATH + "' -q " + args + " 2>&1", r.output);
    return r;
}

class EffectsEndToEnd : public ::testing::TestWithParam<Case> {};

TEST_P(EffectsEndToEnd, OutputHasTheExpectedFormatLengthAndTones) {
    const Case& c = GetParam();
    wavetest::TempDir dir;
    writeInput(dir.file("in.wav"), c.in);
    const ToolRun r = dsptool(dir, std::string("process in.wav out.wav ") + c.effects);
    ASSERT_EQ(r.status, 0) << c.effects << ": " << r.output;

    Audio out;
    ASSERT_NO_FATAL_FAILURE(readAudio(dir, "out.wav", out));
    const unsigned channels = c.in.right.empty() ? 1 : 2;
    EXPECT_EQ(out.rate, c.outRate);
    ASSERT_EQ(out.channel.size(), channels);
    // Stretchers truncate each block (converters get blocks of whole output frames): a few
    // frames short at most.
    const double inFrames = std::round(c.in.seconds * c.in.rate);
    const double expected = inFrames * c.outRate / c.in.rate * c.lengthFactor;
    EXPECT_NEAR(double(out.frames()), expected, 2 + 0.002 * expected);

    // Measured on the middle half, clear of fades and of the grains' start-up.
    const size_t from = out.frames() / 4, n = out.frames() / 2;
    ASSERT_GT(n, size_t(out.rate / 10));
    for (unsigned ch = 0; ch < channels; ++ch) {
        const std::vector<double>& x = out.channel[ch];
        size_t fullScale = 0;
        for (double v : x) fullScale += std::fabs(v) >= 32767.0 / 32768.0;
        EXPECT_EQ(fullScale, 0u) << "clipped samples in channel " << ch;
        // No dropouts: every 10 ms stays within 20 dB of the whole stretch (a chorus on a pure
        // tone swings by more than 12 dB as its voices pass in and out of phase).
        const double whole = rms(x, from, n);
        const size_t window = out.rate / 100;
        for (size_t at = from; at + window <= from + n; at += window)
            ASSERT_GT(rms(x, at, window), whole / 10) << "dropout in channel " << ch << " at frame " << at;
    }
    for (const Tone& t : c.tones) {
        double best = 0, bestHz = t.hz;
        for (double hz = t.hz - t.tolHz; hz <= t.hz + t.tolHz + 1e-9; hz += 0.25) {
            const double a = amplitude(out.channel[t.channel], from, n, hz, out.rate);
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
             {{0, kF0, 3, -8, 3}, {1, 660, 3, -8, 3}, {0, 660, 3, -200, -45}}}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

// A file with no frames writes a valid empty file at the rate and channel count the list ends
// with, a fade-out included.
TEST(EffectsEndToEndEmpty, GivesAValidEmptyOutput) {
    for (auto [effects, channels, outRate] :
         {std::tuple{"pitch 300 stretch 0.5", 1u, 44100u}, {"rate 48000 fade 1 1", 2u, 48000u}}) {
        wavetest::TempDir dir;
        tooltest::writeWave(dir.file("empty.wav"), {}, uint16_t(channels), 44100);
        const ToolRun r = dsptool(dir, std::string("process empty.wav out.wav ") + effects);
        ASSERT_EQ(r.status, 0) << r.output;
        uint64_t frames = 1;
        uint32_t rate = 0, got = 0;
        soxInfo(dir.file("out.wav"), frames, rate, got);
        EXPECT_EQ(frames, 0u) << effects;
        EXPECT_EQ(rate, outRate) << effects;
        EXPECT_EQ(got, channels) << effects;
    }
}

// Blocks are cut so that each converts to whole output frames: over a long file the output is
// round(frames x out / in) long within one frame (a per-block truncation would lose about half
// a frame per 4096 input frames: hundreds here).
TEST(EffectsEndToEndLength, ConvertedLengthIsTheInputLengthTimesTheRateRatio) {
    for (auto [effects, inRate, outRate] : {std::tuple{"rate 48000 rate 32000", 44100u, 32000u}, {"hqups", 22050u, 48000u}}) {
        wavetest::TempDir dir;
        std::string made;
        ASSERT_EQ(tooltest::runShell("sox -V1 -n -r " + std::to_string(inRate) + " -c 2 -b 16 '" + dir.file("in.wav") +
                                         "' synth 47.3 sine 440 gain -6 2>&1",
                                     made),
                  0)
            << made;
        const ToolRun r = dsptool(dir, std::string("process in.wav out.wav ") + effects);
        ASSERT_EQ(r.status, 0) << r.output;
        uint64_t inFrames = 0, outFrames = 0;
        uint32_t rate = 0, channels = 0;
        soxInfo(dir.file("in.wav"), inFrames, rate, channels);
        soxInfo(dir.file("out.wav"), outFrames, rate, channels);
        EXPECT_EQ(rate, outRate);
        EXPECT_EQ(channels, 2u);
        const double expected = std::round(double(inFrames) * outRate / inRate);
        EXPECT_LE(std::fabs(double(outFrames) - expected), 1.0) << effects << ": " << inFrames << " frames in";
    }
}

}  // namespace
