// `dsptool process` end to end over every effect and over chains of them: a WAVE file written
// here, run through the tool, and the result parsed and measured here (own RIFF walk, windowed
// Goertzel, RMS) without the library's reader or transforms.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
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

std::string waveBytes(const Input& in) {
    const uint16_t channels = in.right.empty() ? 1 : 2;
    const size_t frames = size_t(std::lround(in.seconds * in.rate));
    std::string data;
    data.reserve(frames * channels * 2);
    for (size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) {
            double v = 0;
            for (double hz : c == 0 ? in.left : in.right) v += kLevel * std::sin(2 * kPi * hz * double(i) / in.rate);
            data += wavetest::le16(uint16_t(int16_t(std::lround(v * 32767))));
        }
    return wavetest::riff("WAVE", wavetest::chunk("fmt ", wavetest::fmtPayload(1, channels, in.rate, 16, false)) +
                                      wavetest::chunk("data", data));
}

// Walks the RIFF chunks; accepts 16-bit PCM only.
bool parseWave(const std::string& b, Audio& a, std::string& why) {
    if (b.size() < 12 || b.compare(0, 4, "RIFF") != 0 || b.compare(8, 4, "WAVE") != 0) return why = "no RIFF WAVE", false;
    uint16_t channels = 0, bits = 0, tag = 0;
    for (size_t at = 12; at + 8 <= b.size();) {
        const std::string id = b.substr(at, 4);
        const size_t size = wavetest::readLe32(b, at + 4), body = at + 8;
        if (body + size > b.size()) return why = "chunk '" + id + "' runs past the end", false;
        if (id == "fmt ") {
            tag = uint16_t(wavetest::readLe32(b, body) & 0xFFFF);
            channels = uint16_t(wavetest::readLe32(b, body) >> 16);
            a.rate = wavetest::readLe32(b, body + 4);
            bits = uint16_t(wavetest::readLe32(b, body + 12) >> 16);
        } else if (id == "data") {
            if (tag != 1 || bits != 16 || channels == 0) return why = "not 16-bit PCM", false;
            a.channel.assign(channels, {});
            for (size_t i = 0; i + 2 * channels <= size; i += 2 * channels)
                for (uint16_t c = 0; c < channels; ++c) {
                    const size_t p = body + i + 2 * c;
                    a.channel[c].push_back(int16_t(uint8_t(b[p]) | uint8_t(b[p + 1]) << 8) / 32768.0);
                }
            return true;
        }
        at = body + size + (size & 1);
    }
    return why = "no data chunk", false;
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

class EffectsEndToEnd : public ::testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        if (std::string(DSPTOOL_PATH).empty()) GTEST_SKIP() << "dsptool is not built";
    }
};

TEST_P(EffectsEndToEnd, OutputHasTheExpectedFormatLengthAndTones) {
    const Case& c = GetParam();
    wavetest::TempDir dir;
    wavetest::writeFile(dir.file("in.wav"), waveBytes(c.in));
    const ToolRun r = dsptool(dir, std::string("process in.wav out.wav ") + c.effects);
    ASSERT_EQ(r.status, 0) << c.effects << ": " << r.output;

    Audio out;
    std::string why;
    ASSERT_TRUE(parseWave(wavetest::readFile(dir.file("out.wav")), out, why)) << why;
    const unsigned channels = c.in.right.empty() ? 1 : 2;
    EXPECT_EQ(out.rate, c.outRate);
    ASSERT_EQ(out.channel.size(), channels);
    // Stretchers truncate each block (converters get blocks of whole output frames): a few
    // frames short at most.
    const double inFrames = std::round(c.in.seconds * c.in.rate);
    const double expected = inFrames * c.outRate / c.in.rate * c.lengthFactor;
    EXPECT_NEAR(double(out.frames()), expected, 2 + 0.002 * expected);

    // `dsptool info` reads the same file the same way.
    const ToolRun info = dsptool(dir, "info out.wav");
    EXPECT_NE(info.output.find("frames:    " + std::to_string(out.frames()) + " "), std::string::npos) << info.output;
    EXPECT_NE(info.output.find(std::to_string(out.rate) + " Hz"), std::string::npos) << info.output;

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
        Case{"chorus_dry_only", kMono44, "chorus 0", 44100, 1, {{0, kF0, 0, -3.2, -3.0}}},
        // The swept taps leave a floor of spurs about 50 dB down; a channel leak would be far above.
        Case{"chorus_default", kStereo44, "chorus", 44100, 1,
             {{0, kF0, 3, -8, 3}, {1, 660, 3, -8, 3}, {0, 660, 3, -200, -45}}},
        Case{"lowpass_default", Input{44100, {1000, 8000}, {}}, "lowpass", 44100, 1,
             {{0, 1000, 0, -1.1, 0.1}, {0, 8000, 0, -200, -40}}},
        Case{"highpass_default", Input{44100, {100, 2000}, {}}, "highpass", 44100, 1,
             {{0, 2000, 0, -1.1, 0.1}, {0, 100, 0, -200, -40}}},
        Case{"lowpass_order8_48k", Input{48000, {5000, 12000}, {}}, "lowpass 8000 8", 48000, 1,
             {{0, 5000, 0, -1.1, 0.1}, {0, 12000, 0, -200, -60}}},
        Case{"rate_44k_48k", kStereo44, "rate 48000", 48000, 1, {{0, kF0, 0, -0.3, 0.1}, {1, 660, 0, -0.3, 0.1}}},
        Case{"rate_down_no_alias", Input{44100, {1000, 15000}, {}}, "rate 22050 linear", 22050, 1,
             {{0, 1000, 0, -0.5, 0.1}, {0, 22050 - 15000, 0, -200, -60}}},
        // Each 4096-frame block loses its fraction of an output frame: 0.1 % shorter, 1 Hz higher.
        Case{"rate_48k_8k", Input{48000, {1000, 6000}, {}}, "rate 8000", 8000, 1,
             {{0, 1000, 2, -0.5, 0.1}, {0, 2000, 0, -200, -50}}},
        Case{"rate_up_nofilter", Input{22050, {1000}, {}}, "rate 44100 nofilter", 44100, 1, {{0, 1000, 0, -0.5, 0.1}}},
        Case{"hqups_no_harmonics", Input{22050, {1000, 7000}, {}}, "hqups 0", 48000, 1,
             {{0, 1000, 0, -0.5, 0.1}, {0, 21000, 0, -200, -70}, {0, 22050 - 7000, 0, -200, -70}}},
        Case{"hqups_harmonics", Input{22050, {1000, 7000}, {}}, "hqups", 48000, 1,
             {{0, 1000, 0, -0.5, 0.5}, {0, 21000, 0, -45, 0}}},
        Case{"hqups_from_44k", kStereo44, "hqups", 48000, 1, {{0, kF0, 0, -0.5, 0.5}, {1, 660, 0, -0.5, 0.5}}},
        Case{"pitch_octave_up", Input{44100, {kF0}, {kF0 * 1.5}}, "pitch 1200", 44100, 1,
             {{0, 2 * kF0, 0, -3, 1}, {1, 3 * kF0, 0, -3, 1}, {0, kF0, 0, -200, -30}}},
        Case{"pitch_octave_down_quieter", kMono44, "pitch -1200 50 10 -3", 44100, 1,
             {{0, kF0 / 2, 0, -6, -2}, {0, kF0, 0, -200, -30}}},
        Case{"stretch_half", kMono44, "stretch 1000", 44100, 0.5, {{0, kF0, 0, -3, 1}}},
        Case{"stretch_double_stereo", kStereo44, "stretch len=2", 44100, 2, {{0, kF0, 0, -3, 1}, {1, 660, 50, -12, 1}}},
        Case{"stretch_tempo_short_hop", kMono44, "stretch tempo=2 40 8", 44100, 0.5, {{0, kF0, 0, -3, 1}}},
        // Off the grain hop's comb of lines the tone lands on the nearest line, weaker.
        Case{"stretch_one_and_a_half", kMono44, "stretch len=1.5", 44100, 1.5, {{0, kF0, 50, -18, 1}}},
        Case{"chain_rate_lowpass_fade", Input{44100, {kF0}, {660}, 2}, "rate 48000 lowpass 8000 fade 0.5 0.5", 48000, 1,
             {{0, kF0, 0, -1.3, 0.1}, {1, 660, 0, -1.3, 0.1}}},
        Case{"chain_stretch_rate_chorus", kMono44, "stretch -1000 rate 48000 chorus 0", 48000, 2,
             {{0, kF0, 0, -6.5, -2.5}}},
        Case{"chain_hqups_stretch_pitch", Input{22050, {1000}, {}}, "hqups stretch tempo=2 pitch 1200", 48000, 0.5,
             {{0, 2000, 10, -6, 1}}},
        Case{"chain_rate_hqups", kStereo44, "rate 22050 hqups", 48000, 1, {{0, kF0, 0, -0.6, 0.6}, {1, 660, 0, -0.6, 0.6}}},
        Case{"chain_pitch_stretch_highpass_gain", kMono44, "pitch 1200 stretch -1000 highpass 1500 fade gain -6", 44100,
             2, {{0, 2 * kF0, 0, -10, -5}, {0, kF0, 0, -200, -40}}}),
    [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

// Each effect is set up for the rate that reaches it along the list.
struct ChainLimit {
    const char* effects;
    bool accepted;
};

class EffectsEndToEndLimits : public ::testing::TestWithParam<ChainLimit> {};

TEST_P(EffectsEndToEndLimits, FollowTheRateWithinTheList) {
    if (std::string(DSPTOOL_PATH).empty()) GTEST_SKIP() << "dsptool is not built";
    const ChainLimit& c = GetParam();
    wavetest::TempDir dir;
    wavetest::writeFile(dir.file("in.wav"), waveBytes(Input{44100, {kF0}, {}, 0.1}));
    const ToolRun r = dsptool(dir, std::string("process in.wav out.wav ") + c.effects);
    EXPECT_EQ(r.status == 0, c.accepted) << c.effects << ": " << r.output;
    if (!c.accepted) {
        EXPECT_EQ(r.output.rfind("dsptool: ", 0), 0u) << r.output;
        EXPECT_EQ(wavetest::readFile(dir.file("out.wav")), "") << "a failed run left an output file";
    }
}

INSTANTIATE_TEST_SUITE_P(Dsptool, EffectsEndToEndLimits,
                         ::testing::Values(ChainLimit{"rate 96000 lowpass 30000", true},
                                           ChainLimit{"rate 8000 lowpass 5000", false},
                                           ChainLimit{"rate 8000 highpass 3900", true},
                                           ChainLimit{"rate 8000 highpass 4000", false},
                                           ChainLimit{"hqups lowpass 23000", true},
                                           ChainLimit{"hqups stretch len=4 rate 1000", true},
                                           ChainLimit{"fade 0.5 0.5 rate 22050 lowpass 11025", false}));

}  // namespace
