// dsptool analyze: the onset slice table and the envelope export, end to end.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "wavefile/riff_builder.h"

namespace {

// A mono file at `rate` with 6 kHz bursts of 0.2 s starting every 0.5 s from 0.25 s.
std::string burstsFile(uint32_t rate, int bursts) {
    const size_t frames = size_t(rate) * size_t(bursts) / 2 + rate / 2;
    std::string samples;
    for (size_t i = 0; i < frames; ++i) {
        const double t = double(i) / rate;
        const double inBurst = std::fmod(t - 0.25, 0.5);
        const bool on = t >= 0.25 && inBurst < 0.2 && t < 0.25 + 0.5 * bursts;
        const int16_t v = on ? int16_t(std::lround(16000.0 * std::sin(2.0 * M_PI * 6000.0 * t))) : 0;
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

}  // namespace

// 22050 Hz is below what the slicer takes: the tool converts to 48 kHz first, and the slice
// times still come out in the file's own seconds.
TEST(AnalyzeOnsets, PrintsOneSlicePerBurstAtEveryRate) {
    for (uint32_t rate : {22050u, 44100u, 48000u}) {
        wavetest::TempDir dir;
        wavetest::writeFile(dir.file("b.wav"), burstsFile(rate, 4));
        int status = 0;
        const std::string out = wavetest::run(std::string("cd '") + dir.path() + "' && '" + DSPTOOL_PATH +
                                                  "' -q analyze b.wav --html r.html 2>&1",
                                              status);
        ASSERT_EQ(status, 0) << out;
        const auto rows = tableRows(out);
        ASSERT_EQ(rows.size(), 4u) << rate << " Hz:\n" << out;
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
        EXPECT_NE(html.find("Onset slices (4)"), std::string::npos);
    }
}

TEST(AnalyzeOnsets, EnvelopeCsvFollowsTheBursts) {
    wavetest::TempDir dir;
    wavetest::writeFile(dir.file("b.wav"), burstsFile(44100, 2));
    int status = 0;
    const std::string csv = wavetest::run(
        std::string("cd '") + dir.path() + "' && '" + DSPTOOL_PATH + "' analyze b.wav --envelope-csv - 2>/dev/null",
        status);
    ASSERT_EQ(status, 0);
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

TEST(AnalyzeOnsets, RejectsBadSlicerOptions) {
    wavetest::TempDir dir;
    wavetest::writeFile(dir.file("b.wav"), burstsFile(48000, 1));
    for (const char* args : {"--rise -3", "--on-db", "--min-length abc", "--off-db 1e99"}) {
        int status = 0;
        const std::string out = wavetest::run(
            std::string("cd '") + dir.path() + "' && '" + DSPTOOL_PATH + "' analyze b.wav " + args + " 2>&1", status);
        EXPECT_NE(status, 0) << args;
        EXPECT_NE(out.find("dsptool: "), std::string::npos) << args << ": " << out;
    }
}
