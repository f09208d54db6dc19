// dsptool analyze end to end: a WAVE file in, a report that a real headless browser renders,
// CSV numbers that put known tones where they belong, the onset slice table and the envelope.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

namespace {

const double kPi = std::acos(-1.0);

using tooltest::writeWave;

int run(const std::string& command, std::string& output) { return tooltest::runShell(command, output); }

// Value of the first `attribute="..."` at or after `from`, empty when missing.
std::string attribute(const std::string& text, const std::string& attribute, size_t from = 0) {
    const std::string key = attribute + "=\"";
    const size_t at = text.find(key, from);
    if (at == std::string::npos) return "";
    const size_t start = at + key.size();
    return text.substr(start, text.find('"', start) - start);
}

// Lengths of the `attribute` values of every element opening with `tag`.
std::vector<size_t> attributeLengths(const std::string& text, const std::string& tag, const std::string& name) {
    std::vector<size_t> lengths;
    for (size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at + 1))
        lengths.push_back(attribute(text, name, at).size());
    return lengths;
}

// A mono file at `rate` with `hz` bursts of 0.2 s starting every 0.5 s from 0.25 s.
std::string burstsFile(uint32_t rate, int bursts, double hz = 6000.0) {
    const size_t frames = size_t(rate) * size_t(bursts) / 2 + rate / 2;
    std::string samples;
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double inBurst = std::fmod(t - 0.25, 0.5);
        const bool on = t >= 0.25 && inBurst < 0.2 && t < 0.25 + 0.5 * bursts;
        const int16_t v = on ? int16_t(std::lround(16000.0 * std::sin(2.0 * M_PI * hz * t))) : 0;
        samples += wavetest::le16(uint16_t(v));
    }
    return wavetest::riff("WAVE", wavetest::chunk("fmt ", wavetest::fmtPayload(1, 1, rate, 16, false)) +
                                      wavetest::chunk("data", samples));
}

std::vector<std::vector<double>> tableRows(const std::string& out) {
    std::vector<std::vector<double>> rows;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<double> row;
        double value;
        while (fields >> value) row.push_back(value);
        if (row.size() == 4) rows.push_back(row);
    }
    return rows;
}

class AnalyzeCommand : public ::testing::Test {
protected:
    void SetUp() override {
        dir = temp.path();  // each test its own: ctest runs them in parallel processes
        // Two seconds: 1 kHz on the left, 3 kHz on the right, both over quiet noise.
        constexpr uint32_t rate = 44100, frames = 2 * rate;
        std::mt19937 rng(42);
        std::normal_distribution<double> noise(0.0, 0.003);
        std::vector<int16_t> pcm(2 * frames);
        for (uint32_t i = 0; i < frames; ++i) {
            pcm[2 * i] = int16_t(std::lround((0.5 * std::sin(2 * kPi * 1000.0 * i / rate) + noise(rng)) * 32767));
            pcm[2 * i + 1] = int16_t(std::lround((0.25 * std::sin(2 * kPi * 3000.0 * i / rate) + noise(rng)) * 32767));
        }
        wave = dir + "/tones.wav";
        writeWave(wave, pcm, 2, rate);
    }
    wavetest::TempDir temp;
    std::string dir, wave;
};

TEST_F(AnalyzeCommand, LongTermSpectrumPutsEachToneInItsChannel) {
    std::string out;
    const std::string csv = dir + "/tones.csv";
    ASSERT_EQ(run(std::string(DSPTOOL_PATH) + " -q analyze " + wave + " --fft 4096 --csv " + csv, out), 0);
    std::istringstream lines(wavetest::readFile(csv));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, "bin,frequency_hz,left_dbfs,right_dbfs");
    double bestLeft = -1e9, bestRight = -1e9, leftHz = 0, rightHz = 0;
    int rows = 0;
    while (std::getline(lines, line)) {
        double bin, hz, left, right;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf", &bin, &hz, &left, &right), 4) << line;
        if (left > bestLeft) bestLeft = left, leftHz = hz;
        if (right > bestRight) bestRight = right, rightHz = hz;
        ++rows;
    }
    EXPECT_EQ(rows, 2048);
    const double binHz = 44100.0 / 4096;
    EXPECT_NEAR(leftHz, 1000.0, binHz);
    EXPECT_NEAR(rightHz, 3000.0, binHz);
    // Levels in dBFS: a full-scale sine on a bin is 0 dB; off-bin tones lose up to 1.4 dB.
    EXPECT_NEAR(bestLeft, 20 * std::log10(0.5), 1.6);
    EXPECT_NEAR(bestRight, 20 * std::log10(0.25), 1.6);
}

TEST_F(AnalyzeCommand, ReportIsSelfContainedAndRendersInAHeadlessBrowser) {
    std::string out;
    const std::string html = dir + "/tones.html";
    std::remove(html.c_str());
    ASSERT_EQ(run(std::string(DSPTOOL_PATH) + " -q analyze " + wave + " -o " + html + " --block 512 --fft 2048", out), 0);
    const std::string page = wavetest::readFile(html);
    ASSERT_FALSE(page.empty());
    for (const char* external : {"http://", "https://", " src=", "<link", "@import"})
        EXPECT_EQ(page.find(external), std::string::npos) << "the report refers outside itself: " << external;

    const std::string profile = dir + "/browser-profile";
    const std::string browser =
        "timeout 180 chromium --headless --no-sandbox --disable-gpu --disable-background-networking "
        "--disable-component-update --disable-sync --no-first-run --user-data-dir=" + profile +
        " --dump-dom file://" + html + " 2>/dev/null";
    ASSERT_EQ(run(browser, out), 0) << "chromium failed to load the report";
    // What the page's own script recorded after drawing the spectrogram.
    const size_t body = out.find("<body");
    ASSERT_NE(body, std::string::npos) << out.substr(0, 500);
    EXPECT_EQ(attribute(out, "data-rendered", body), "spectrogram");
    const std::string painted = attribute(out, "data-painted", body);
    ASSERT_FALSE(painted.empty()) << "the spectrogram script did not run";
    EXPECT_GT(std::stol(painted), 256 * 100 * 9 / 10) << "most of the spectrogram lies above the floor colour";
    // The waveform (one shape per channel) and the long-term spectrum (one curve per channel).
    const std::vector<size_t> waves = attributeLengths(out, "<path class=\"wave\"", "d");
    ASSERT_EQ(waves.size(), 2u);
    for (size_t length : waves) EXPECT_GT(length, 2000u);
    const std::vector<size_t> curves = attributeLengths(out, "<polyline class=\"spectrum\"", "points");
    ASSERT_EQ(curves.size(), 2u);
    for (size_t length : curves) EXPECT_GT(length, 2000u);
}

TEST_F(AnalyzeCommand, ChunksAfterTheDataAreNotTakenForSamples) {
    const std::string path = dir + "/trailing.wav";
    std::string samples;
    for (int i = 0; i < 3000; ++i) samples += wavetest::le16(1000);
    wavetest::writeFile(path, wavetest::riff("WAVE", wavetest::chunk("fmt ", wavetest::fmtPayload(1, 1, 8000, 16, false)) +
                                                         wavetest::chunk("data", samples) +
                                                         wavetest::chunk("LIST", std::string(64, 'x'))));
    std::string out;
    ASSERT_EQ(run(std::string(DSPTOOL_PATH) + " -q analyze " + path + " --fft 256 --block 256 --json -", out), 0);
    EXPECT_NE(out.find("\"channels\":1,\"frames\":3000,"), std::string::npos) << out.substr(0, 200);
    // 3000 frames in hops of 256: 12 spectra.
    size_t spectra = 0;
    for (size_t at = out.find("{\"time\""); at != std::string::npos; at = out.find("{\"time\"", at + 1)) ++spectra;
    EXPECT_EQ(spectra, 12u);
}

// 22050 Hz is below what the slicer takes: the tool converts to 48 kHz first, and the slice
// times still come out in the file's own seconds. The slicer listens to 2-20 kHz only: bursts
// below that band start no slice.
TEST(AnalyzeOnsets, PrintsOneSlicePerBurstInTheBandAtEveryRate) {
    for (auto [rate, hz, slices] : {std::tuple{22050u, 6000.0, 4u}, {48000u, 1000.0, 0u}}) {
        wavetest::TempDir dir;
        wavetest::writeFile(dir.file("b.wav"), burstsFile(rate, 4, hz));
        std::string out;
        ASSERT_EQ(run("cd '" + dir.path() + "' && '" + DSPTOOL_PATH + "' -q analyze b.wav --html r.html 2>&1", out), 0) << out;
        const auto rows = tableRows(out);
        ASSERT_EQ(rows.size(), slices) << hz << " Hz bursts at " << rate << " Hz:\n" << out;
        for (size_t i = 0; i < rows.size(); ++i) {
            // A slice starts at the envelope's last valley, which the decay of the previous burst
            // can leave a little before the next onset.
            const double onset = 0.25 + 0.5 * double(i);
            EXPECT_GE(rows[i][1], onset - 0.03) << rate << " Hz, slice " << i + 1;
            EXPECT_LE(rows[i][1], onset + 0.003) << rate << " Hz, slice " << i + 1;
            EXPECT_GT(rows[i][2], rows[i][1] + 0.19) << rate << " Hz, slice " << i + 1;
            EXPECT_LT(rows[i][2], rows[i][1] + 0.5) << rate << " Hz, slice " << i + 1;
        }
        const std::string html = wavetest::readFile(dir.file("r.html"));
        EXPECT_TRUE(slices == 0 || html.find("Onset slices (4)") != std::string::npos);
    }
}

TEST(AnalyzeOnsets, EnvelopeCsvFollowsTheBursts) {
    wavetest::TempDir dir;
    wavetest::writeFile(dir.file("b.wav"), burstsFile(44100, 2));
    std::string csv;
    ASSERT_EQ(run("cd '" + dir.path() + "' && '" + DSPTOOL_PATH + "' analyze b.wav --envelope-csv - 2>/dev/null", csv), 0);
    std::istringstream lines(csv);
    std::string header, line;
    std::getline(lines, header);
    EXPECT_EQ(header, "time_s,envelope");
    double quiet = 0, loud = 0;
    while (std::getline(lines, line)) {
        const double t = std::stod(line), level = std::stod(line.substr(line.find(',') + 1));
        if (t < 0.2) quiet = std::max(quiet, level);
        if (t > 0.35 && t < 0.45) loud = std::max(loud, level);
    }
    EXPECT_EQ(quiet, 0.0);
    // Mean absolute value of a sine of amplitude 16000/32767 is 2/pi of it.
    EXPECT_NEAR(loud, 16000.0 / 32767.0 * 2.0 / M_PI, 0.03);
    // No slice table on stdout when the export goes there.
    EXPECT_EQ(csv.find("onset slices"), std::string::npos);
}


}  // namespace
