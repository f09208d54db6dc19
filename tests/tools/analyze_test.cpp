// dsptool analyze end to end: a WAVE file in, a report that a real headless browser renders,
// CSV numbers that put known tones where they belong, the onset slices in every output, the
// envelope, and memory and output sizes that stay put however long the input.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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
std::string burstsFile(uint32_t rate, int bursts, double hz = 6000.0, double amplitude = 16000.0) {
    const size_t frames = size_t(rate) * size_t(bursts) / 2 + rate / 2;
    std::string samples;
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double inBurst = std::fmod(t - 0.25, 0.5);
        const bool on = t >= 0.25 && inBurst < 0.2 && t < 0.25 + 0.5 * bursts;
        const int16_t v = on ? int16_t(std::lround(amplitude * std::sin(2.0 * M_PI * hz * t))) : 0;
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

// Peak resident memory in kB of a command run to completion, -1 when it fails.
long peakMemoryKb(const std::string& command) {
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", ("exec " + command).c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return usage.ru_maxrss;
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

// Stereo tones; 150 slices close together (their labels must not collide); an empty file.
TEST_F(AnalyzeCommand, ReportIsSelfContainedAndRendersInAHeadlessBrowser) {
    wavetest::writeFile(dir + "/bursts.wav", burstsFile(44100, 150));
    tooltest::writeWave(dir + "/empty.wav", {}, 1, 44100);
    for (auto [input, lanes, minPainted, minLabels] :
         {std::tuple{wave, 2u, 256 * 100 * 9 / 10, 0}, {dir + "/bursts.wav", 1u, 256 * 40, 50}, {dir + "/empty.wav", 1u, 0, 0}}) {
        std::string out;
        const std::string html = dir + "/report.html";
        std::remove(html.c_str());
        ASSERT_EQ(run(std::string(DSPTOOL_PATH) + " -q analyze " + input + " -o " + html + " --block 512 --fft 2048", out), 0);
        const std::string page = wavetest::readFile(html);
        ASSERT_FALSE(page.empty()) << input;
        for (const char* external : {"http://", "https://", " src=", "<link", "@import"})
            EXPECT_EQ(page.find(external), std::string::npos) << "the report refers outside itself: " << external;
        for (const char* section : {"id=\"summary\"", "id=\"waveform\"", "id=\"spectrogram\"", "id=\"spectrum\"", "id=\"slices\""})
            EXPECT_NE(page.find(section), std::string::npos) << input << ": no " << section;
        EXPECT_EQ(page.find("-200"), std::string::npos) << input << ": silence must read \"silent\"";
        EXPECT_EQ(page.find("silent") != std::string::npos, minPainted == 0) << input;

        const std::string browser =
            "timeout 180 chromium --headless --no-sandbox --disable-gpu --disable-background-networking "
            "--disable-component-update --disable-sync --no-first-run --user-data-dir=" + dir + "/browser-profile"
            " --dump-dom file://" + html + " 2>/dev/null";
        ASSERT_EQ(run(browser, out), 0) << "chromium failed to load the report";
        // What the page's own script recorded after drawing the spectrogram and laying out labels.
        const size_t body = out.find("<body");
        ASSERT_NE(body, std::string::npos) << out.substr(0, 500);
        EXPECT_EQ(attribute(out, "data-rendered", body), "spectrogram") << input;
        const std::string painted = attribute(out, "data-painted", body);
        ASSERT_FALSE(painted.empty()) << "the spectrogram script did not run";
        EXPECT_GE(std::stol(painted), minPainted) << input << ": most of the spectrogram lies above the floor colour";
        EXPECT_GE(std::stol(attribute(out, "data-labels", body)), minLabels) << input;
        EXPECT_EQ(attribute(out, "data-label-overlaps", body), "0") << input;
        // The waveform (one shape per channel, each with its amplitude axis) and the long-term
        // spectrum (one curve per channel).
        const std::vector<size_t> waves = attributeLengths(out, "<path class=\"wave\"", "d");
        const std::vector<size_t> curves = attributeLengths(out, "<polyline class=\"spectrum\"", "points");
        ASSERT_EQ(waves.size(), minPainted ? lanes : 0u) << input;
        ASSERT_EQ(curves.size(), minPainted ? lanes : 0u) << input;
        for (size_t length : waves) EXPECT_GT(length, 2000u);
        for (size_t length : curves) EXPECT_GT(length, 2000u);
        EXPECT_EQ(attributeLengths(out, "<text class=\"amplitude\"", "x").size(), 5 * lanes) << input;
    }
}

// Two minutes take no more memory than one second (in memory they would take some 40 MB more), the
// report stays small, every spectrum streams into the JSON, and the report lands beside the input.
TEST_F(AnalyzeCommand, LongInputsStreamInBoundedMemory) {
    std::string out;
    ASSERT_EQ(run("mkdir " + dir + "/in && cd " + dir + "/in && sox -V1 -n -r 44100 -c 1 -b 16 short.wav synth 1 pinknoise && "
                  "sox -V1 -n -r 44100 -c 1 -b 16 long.wav synth 120 pinknoise tremolo 3 100", out), 0);
    long memory[2];
    for (int i = 0; i < 2; ++i)
        memory[i] = peakMemoryKb("'" + std::string(DSPTOOL_PATH) + "' -q analyze " + dir + "/in/" + (i ? "long" : "short") +
                                 ".wav --json " + dir + "/all.json --all-spectra --fft 256 --history 1024 --html - > " + dir + "/r.html");
    ASSERT_GT(memory[0], 0);
    EXPECT_LT(memory[1], memory[0] + 4096) << "peak memory of 1 s and 120 s: " << memory[0] << " kB, " << memory[1] << " kB";
    EXPECT_LT(wavetest::readFile(dir + "/r.html").size(), 1500000u);
    EXPECT_NE(wavetest::readFile(dir + "/all.json").find("\"spectrumCount\":5168,"), std::string::npos);
    ASSERT_EQ(run("cd /tmp && '" + std::string(DSPTOOL_PATH) + "' -q analyze " + dir + "/in/short.wav", out), 0);
    EXPECT_FALSE(wavetest::readFile(dir + "/in/short-analysis.html").empty());
}

// Standard input and lossless FLAC give the very numbers the WAVE file gives.
TEST_F(AnalyzeCommand, StdinAndFlacGiveTheSameSpectrum) {
    const std::string tool = "'" + std::string(DSPTOOL_PATH) + "' -q analyze ";
    std::string wav, piped, flac;
    ASSERT_EQ(run(tool + wave + " --csv -", wav), 0);
    ASSERT_EQ(run("cat " + wave + " | " + tool + "- --csv -", piped), 0);
    ASSERT_EQ(run("sox -V1 " + wave + " " + dir + "/tones.flac && " + tool + dir + "/tones.flac --csv -", flac), 0);
    EXPECT_GT(wav.size(), 50000u);
    EXPECT_EQ(piped, wav);
    EXPECT_EQ(flac, wav);
}

TEST_F(AnalyzeCommand, ChunksAfterTheDataAreNotTakenForSamples) {
    const std::string path = dir + "/trailing.wav";
    std::string samples;
    for (int i = 0; i < 3000; ++i) samples += wavetest::le16(1000);
    wavetest::writeFile(path, wavetest::riff("WAVE", wavetest::chunk("fmt ", wavetest::fmtPayload(1, 1, 8000, 16, false)) +
                                                         wavetest::chunk("data", samples) +
                                                         wavetest::chunk("LIST", std::string(64, 'x'))));
    std::string out;
    ASSERT_EQ(run(std::string(DSPTOOL_PATH) + " -q analyze " + path + " --fft 256 --block 256 --json - --all-spectra", out), 0);
    EXPECT_NE(out.find("\"frames\":3000,\"spectrumCount\":12,"), std::string::npos) << out.substr(0, 200);
    // 3000 frames in hops of 256: 12 spectra.
    size_t spectra = 0;
    for (size_t at = out.find("{\"time\""); at != std::string::npos; at = out.find("{\"time\"", at + 1)) ++spectra;
    EXPECT_EQ(spectra, 12u);
}

// Rates of 40 kHz and below are converted to 48 kHz for the slicer, and the slice times still
// come out in the file's own seconds. Levels follow the file's own peak in the slicer's 2-20 kHz
// band, so quiet bursts slice like loud ones unless absolute levels are asked for; bursts below
// the band, or a rate whose band is empty, give none, and the tool says why.
TEST(AnalyzeOnsets, PrintsOneSlicePerBurstInTheBandAtEveryRate) {
    for (auto [rate, hz, amplitude, args, slices, why] :
         {std::tuple{22050u, 6000.0, 16000.0, "", 4u, ""}, {16000u, 3000.0, 3000.0, "", 4u, ""},
          {44100u, 6000.0, 160.0, "", 4u, ""}, {44100u, 6000.0, 160.0, "--absolute-levels", 0u, "no rise reached"},
          {48000u, 1000.0, 16000.0, "--absolute-levels", 0u, "no rise reached"},
          {4000u, 1000.0, 16000.0, "", 0u, "carries nothing above 1600 Hz"}}) {
        wavetest::TempDir dir;
        wavetest::writeFile(dir.file("b.wav"), burstsFile(rate, 4, hz, amplitude));
        std::string out;
        ASSERT_EQ(run("cd '" + dir.path() + "' && '" + DSPTOOL_PATH + "' -q analyze b.wav --html r.html --slices-csv s.csv --json j.json " +
                          args + " 2>&1", out), 0) << out;
        const std::string label = std::to_string(rate) + " Hz, " + std::to_string(hz) + " Hz bursts " + args;
        const auto rows = tableRows(out);
        ASSERT_EQ(rows.size(), slices) << label << ":\n" << out;
        EXPECT_NE(out.find(why), std::string::npos) << label << ":\n" << out;
        // The same slices in the CSV and the JSON.
        std::vector<double> csvStarts, jsonStarts;
        std::istringstream csv(wavetest::readFile(dir.file("s.csv")));
        std::string line;
        for (std::getline(csv, line); std::getline(csv, line);) csvStarts.push_back(std::stod(line.substr(line.find(',') + 1)));
        const std::string json = wavetest::readFile(dir.file("j.json"));
        for (size_t at = json.find("{\"start\":"); at != std::string::npos; at = json.find("{\"start\":", at + 1))
            jsonStarts.push_back(std::stod(json.substr(at + 9)));
        ASSERT_EQ(csvStarts.size(), slices) << label;
        ASSERT_EQ(jsonStarts.size(), slices) << label;
        for (size_t i = 0; i < rows.size(); ++i) {
            // A slice starts at the envelope's last valley, which the decay of the previous burst
            // can leave a little before the next onset.
            const double onset = 0.25 + 0.5 * double(i);
            EXPECT_GE(rows[i][1], onset - 0.03) << label << ", slice " << i + 1;
            EXPECT_LE(rows[i][1], onset + 0.003) << label << ", slice " << i + 1;
            EXPECT_GT(rows[i][2], rows[i][1] + 0.19) << label << ", slice " << i + 1;
            EXPECT_LT(rows[i][2], rows[i][1] + 0.5) << label << ", slice " << i + 1;
            EXPECT_NEAR(csvStarts[i], rows[i][1], 6e-4) << label << ", slice " << i + 1;
            EXPECT_NEAR(jsonStarts[i], rows[i][1], 6e-4) << label << ", slice " << i + 1;
        }
        const std::string html = wavetest::readFile(dir.file("r.html"));
        EXPECT_NE(html.find("Onset slices (" + std::to_string(slices) + ")"), std::string::npos) << label;
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
