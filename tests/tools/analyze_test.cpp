// dsptool analyze end to end: a WAVE file in, a report that a real headless browser renders,
// CSV numbers that put known tones where they belong, the onset slices in every output, the
// envelope, and memory and output sizes that stay put however long the input.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/signals.h"
#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

namespace {

using tooltest::runTool;
using tooltest::ToolRun;

// Value of the first `attribute="..."` at or after `from`, empty when missing.
std::string attribute(const std::string& text, const std::string& name, size_t from = 0) {
    const size_t at = text.find(name + "=\"", from);
    if (at == std::string::npos) return "";
    const size_t start = at + name.size() + 2;
    return text.substr(start, text.find('"', start) - start);
}

// Where `needle` starts in `text`, every time.
std::vector<size_t> positions(const std::string& text, const std::string& needle) {
    std::vector<size_t> at;
    for (size_t i = text.find(needle); i != std::string::npos; i = text.find(needle, i + 1)) at.push_back(i);
    return at;
}

// A mono file at `rate` with `hz` bursts of 0.2 s starting every 0.5 s from 0.25 s.
void writeBursts(const std::string& path, uint32_t rate, int bursts, double hz = 6000.0, double amplitude = 16000.0) {
    std::vector<int16_t> pcm(size_t(rate) * size_t(bursts) / 2 + rate / 2);
    for (size_t i = 0; i < pcm.size(); ++i) {
        const double t = double(i) / rate;
        if (t >= 0.25 && std::fmod(t - 0.25, 0.5) < 0.2 && t < 0.25 + 0.5 * bursts)
            pcm[i] = int16_t(std::lround(amplitude * std::sin(dsptest::kTwoPi * hz * t)));
    }
    tooltest::writeWave(path, pcm, 1, rate);
}

// The rows of `text` that hold exactly `fields` numbers separated by `separator`.
std::vector<std::vector<double>> numberRows(const std::string& text, size_t fields, char separator = ' ') {
    std::vector<std::vector<double>> rows;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::replace(line.begin(), line.end(), separator, ' ');
        std::istringstream words(line);
        std::vector<double> row;
        for (double value; words >> value;) row.push_back(value);
        if (row.size() == fields && words.eof()) rows.push_back(row);
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
        // Two seconds: 1 kHz on the left, 3 kHz on the right, both over quiet noise.
        const std::vector<float> left = dsptest::sine(88200, 1000, 44100, 0.5);
        const std::vector<float> right = dsptest::sine(88200, 3000, 44100, 0.25), noise = dsptest::noise(2 * 88200, 42, 0.005f);
        std::vector<int16_t> pcm(2 * 88200);
        for (size_t i = 0; i < pcm.size(); ++i)
            pcm[i] = int16_t(std::lround(((i % 2 ? right : left)[i / 2] + noise[i]) * 32767));
        tooltest::writeWave(dir.file("tones.wav"), pcm, 2, 44100);
    }
    ToolRun analyze(const std::string& args) { return runTool(dir.path(), "-q analyze " + args); }
    wavetest::TempDir dir;  // each test its own: ctest runs them in parallel processes
};

// Stereo tones; 150 slices close together (their labels must not collide); an empty file.
TEST_F(AnalyzeCommand, ReportIsSelfContainedAndRendersInAHeadlessBrowser) {
    writeBursts(dir.file("bursts.wav"), 44100, 150);
    tooltest::writeWave(dir.file("empty.wav"), {}, 1, 44100);
    for (auto [input, lanes, minPainted, minLabels] :
         {std::tuple{"tones.wav", 2u, 256 * 100 * 9 / 10, 0}, {"bursts.wav", 1u, 256 * 40, 50}, {"empty.wav", 1u, 0, 0}}) {
        std::remove(dir.file("report.html").c_str());
        ASSERT_EQ(analyze(std::string(input) + " -o report.html --block 512 --fft 2048").status, 0);
        const std::string page = wavetest::readFile(dir.file("report.html"));
        for (const char* external : {"http://", "https://", " src=", "<link", "@import"})
            EXPECT_EQ(page.find(external), std::string::npos) << "the report refers outside itself: " << external;
        for (const char* section : {"id=\"summary\"", "id=\"waveform\"", "id=\"spectrogram\"", "id=\"spectrum\"", "id=\"slices\""})
            EXPECT_NE(page.find(section), std::string::npos) << input << ": no " << section;
        EXPECT_EQ(page.find("-200"), std::string::npos) << input << ": silence must read \"silent\"";
        EXPECT_EQ(page.find("silent") != std::string::npos, minPainted == 0) << input;

        const std::string browser = "timeout 180 chromium --headless --no-sandbox --disable-gpu --disable-sync "
                                    "--disable-background-networking --disable-component-update --no-first-run";
        std::string out;
        ASSERT_EQ(tooltest::runShell(browser + " --user-data-dir=" + dir.file("browser-profile") + " --dump-dom file://" +
                                         dir.file("report.html") + " 2>/dev/null", out), 0) << "chromium failed to load the report";
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
        const std::vector<size_t> waves = positions(out, "<path class=\"wave\""),
                                  curves = positions(out, "<polyline class=\"spectrum\"");
        ASSERT_EQ(waves.size(), minPainted ? lanes : 0u) << input;
        ASSERT_EQ(curves.size(), minPainted ? lanes : 0u) << input;
        for (size_t at : waves) EXPECT_GT(attribute(out, "d", at).size(), 2000u);
        for (size_t at : curves) EXPECT_GT(attribute(out, "points", at).size(), 2000u);
        EXPECT_EQ(positions(out, "<text class=\"amplitude\"").size(), 5 * lanes) << input;
    }
}

// Two minutes take no more memory than one second (in memory they would take some 40 MB more), the
// report stays small, every spectrum streams into the JSON, and the report lands beside the input.
// Standard input and lossless FLAC give the very numbers the WAVE file gives.
TEST_F(AnalyzeCommand, LongInputsStdinFlacAndTheLongTermSpectrum) {
    ASSERT_TRUE(tooltest::shellIn(dir.path(), "sox -V1 -n -r 44100 -c 1 -b 16 short.wav synth 1 pinknoise && sox -V1 -n -r "
                                              "44100 -c 1 -b 16 long.wav synth 120 pinknoise tremolo 3 100 && sox -V1 "
                                              "tones.wav tones.flac"));
    long memory[2];
    for (int i = 0; i < 2; ++i)
        memory[i] = peakMemoryKb("'" + std::string(tooltest::toolPath()) + "' -q analyze " + dir.file(i ? "long.wav" : "short.wav") +
                                 " --json " + dir.file("all.json") + " --all-spectra --fft 256 --history 1024 --html - > " +
                                 dir.file("r.html"));
    ASSERT_GT(memory[0], 0);
    EXPECT_LT(memory[1], memory[0] + 4096) << "peak memory of 1 s and 120 s: " << memory[0] << " kB, " << memory[1] << " kB";
    EXPECT_LT(wavetest::readFile(dir.file("r.html")).size(), 1500000u);
    EXPECT_NE(wavetest::readFile(dir.file("all.json")).find("\"spectrumCount\":5168,"), std::string::npos);
    ASSERT_EQ(runTool("/tmp", "-q analyze " + dir.file("short.wav")).status, 0);
    EXPECT_FALSE(wavetest::readFile(dir.file("short-analysis.html")).empty());

    // The long-term spectrum puts each tone in its channel.
    const std::string wav = analyze("tones.wav --fft 4096 --csv -").out;
    EXPECT_EQ(wav.substr(0, wav.find('\n')), "bin,frequency_hz,left_dbfs,right_dbfs");
    const std::vector<std::vector<double>> rows = numberRows(wav, 4, ',');
    ASSERT_EQ(rows.size(), 2048u);
    auto loudest = [&](size_t column) {
        return *std::max_element(rows.begin(), rows.end(), [&](auto& a, auto& b) { return a[column] < b[column]; });
    };
    EXPECT_NEAR(loudest(2)[1], 1000.0, 44100.0 / 4096);  // within a bin
    EXPECT_NEAR(loudest(3)[1], 3000.0, 44100.0 / 4096);
    // Levels in dBFS: a full-scale sine on a bin is 0 dB; off-bin tones lose up to 1.4 dB.
    EXPECT_NEAR(loudest(2)[2], 20 * std::log10(0.5), 1.6);
    EXPECT_NEAR(loudest(3)[3], 20 * std::log10(0.25), 1.6);
    EXPECT_EQ(analyze("- --fft 4096 --csv - < tones.wav").out, wav);
    EXPECT_EQ(analyze("tones.flac --fft 4096 --csv -").out, wav);
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
        writeBursts(dir.file("b.wav"), rate, 4, hz, amplitude);
        const ToolRun r = runTool(dir.path(), std::string("-q analyze b.wav --html r.html --slices-csv s.csv --json j.json ") + args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string label = std::to_string(rate) + " Hz, " + std::to_string(hz) + " Hz bursts " + args;
        const auto rows = numberRows(r.out, 4);
        ASSERT_EQ(rows.size(), slices) << label << ":\n" << r.out;
        EXPECT_NE((r.out + r.err).find(why), std::string::npos) << label << ":\n" << r.out << r.err;
        // The same slices in the CSV and the JSON.
        const auto csv = numberRows(wavetest::readFile(dir.file("s.csv")), 4, ',');
        const std::string json = wavetest::readFile(dir.file("j.json"));
        const std::vector<size_t> jsonStarts = positions(json, "{\"start\":");
        ASSERT_EQ(csv.size(), slices) << label;
        ASSERT_EQ(jsonStarts.size(), slices) << label;
        for (size_t i = 0; i < rows.size(); ++i) {
            // A slice starts at the envelope's last valley, which the decay of the previous burst
            // can leave a little before the next onset.
            const double onset = 0.25 + 0.5 * double(i), start = rows[i][1], length = rows[i][2] - start;
            EXPECT_TRUE(start >= onset - 0.03 && start <= onset + 0.003) << label << ", slice " << i + 1 << ": " << start;
            EXPECT_TRUE(length > 0.19 && length < 0.5) << label << ", slice " << i + 1 << ": " << length << " s";
            EXPECT_NEAR(csv[i][1], start, 6e-4) << label << ", slice " << i + 1;
            EXPECT_NEAR(std::stod(json.substr(jsonStarts[i] + 9)), start, 6e-4) << label << ", slice " << i + 1;
        }
        EXPECT_NE(wavetest::readFile(dir.file("r.html")).find("Onset slices (" + std::to_string(slices) + ")"), std::string::npos)
            << label;
    }
}

TEST(AnalyzeOnsets, EnvelopeCsvFollowsTheBursts) {
    wavetest::TempDir dir;
    writeBursts(dir.file("b.wav"), 44100, 2);
    const std::string csv = runTool(dir.path(), "analyze b.wav --envelope-csv -").out;
    EXPECT_EQ(csv.substr(0, csv.find('\n')), "time_s,envelope");
    double quiet = 0, loud = 0;
    for (const std::vector<double>& row : numberRows(csv, 2, ',')) {
        if (row[0] < 0.2) quiet = std::max(quiet, row[1]);
        if (row[0] > 0.35 && row[0] < 0.45) loud = std::max(loud, row[1]);
    }
    EXPECT_EQ(quiet, 0.0);
    // Mean absolute value of a sine of amplitude 16000/32767 is 2/pi of it.
    EXPECT_NEAR(loud, 16000.0 / 32767.0 * 2.0 / M_PI, 0.03);
    // No slice table on stdout when the export goes there.
    EXPECT_EQ(csv.find("onset slices"), std::string::npos);
}

}  // namespace
