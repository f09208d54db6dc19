// dsptool analyze end to end: a WAVE file in, a report that a real headless browser renders,
// and CSV numbers that put known tones where they belong.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

namespace {

const double kPi = std::acos(-1.0);

using tooltest::writeWave;

// Runs a shell command; returns its exit status and stdout.
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

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

class AnalyzeCommand : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(DSPTOOL_PATH).empty()) GTEST_SKIP() << "dsptool is not built";
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
    std::istringstream lines(readFile(csv));
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
    const std::string page = readFile(html);
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
    std::vector<int16_t> pcm(3000, 1000);
    const std::string path = dir + "/trailing.wav";
    writeWave(path, pcm, 1, 8000);
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out.write("LIST", 4);
        const uint32_t size = 64;
        out.write(reinterpret_cast<const char*>(&size), 4);
        out << std::string(64, 'x');
    }
    std::string out;
    ASSERT_EQ(run(std::string(DSPTOOL_PATH) + " -q analyze " + path + " --fft 256 --block 256 --json -", out), 0);
    EXPECT_NE(out.find("\"channels\":1,\"frames\":3000,"), std::string::npos) << out.substr(0, 200);
    // 3000 frames in hops of 256: 12 spectra.
    size_t spectra = 0;
    for (size_t at = out.find("{\"time\""); at != std::string::npos; at = out.find("{\"time\"", at + 1)) ++spectra;
    EXPECT_EQ(spectra, 12u);
}

TEST_F(AnalyzeCommand, BadInputAndOptionsFailWithAMessage) {
    std::string out;
    const std::string tool = std::string(DSPTOOL_PATH) + " analyze ";
    EXPECT_NE(run(tool + dir + "/missing.wav 2>&1", out), 0);
    EXPECT_NE(out.find("cannot open"), std::string::npos) << out;
    EXPECT_NE(run(tool + wave + " --fft 1000 2>&1", out), 0);
    EXPECT_NE(out.find("power of two"), std::string::npos) << out;
    EXPECT_NE(run(tool + wave + " --fft 1024 --history 512 2>&1", out), 0);
    EXPECT_NE(run(tool + wave + " --block 4096 --fft 1024 2>&1", out), 0);
    EXPECT_NE(out.find("block"), std::string::npos) << out;
    const std::string notWave = dir + "/not.wav";
    std::ofstream(notWave) << "hello";
    EXPECT_NE(run(tool + notWave + " 2>&1", out), 0);
    EXPECT_NE(out.find("RIFF"), std::string::npos) << out;
}

}  // namespace
