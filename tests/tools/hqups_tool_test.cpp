// dsptool's hqups effect end to end: a 22050 Hz file in, 48000 Hz out, with harmonics above
// the source's band that the HARMONICS and MIX arguments control.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "support/spectrum.h"
#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

namespace {

int tool(const wavetest::TempDir& dir, const std::string& args, std::string& err) {
    const tooltest::ToolRun r = tooltest::runTool(dir.path(), "-q " + args);
    err = r.err;
    return r.status;
}

// The left channel of a WAVE file as sox decodes it, with its rate.
std::vector<double> soxLeft(const wavetest::TempDir& dir, const std::string& wav, int& rate) {
    int status = 0;
    rate = std::stoi(wavetest::run("sox --i -r '" + dir.file(wav) + "'", status));
    const std::vector<int16_t> s = tooltest::soxDecode(dir.file(wav), dir.file("left.raw"), "-c 1 {raw} remix 1");
    return std::vector<double>(s.begin(), s.end());
}

// Power over [from, to) of 8192 samples from the middle of x.
double bandPower(const std::vector<double>& all, double from, double to, double rate) {
    const std::vector<double> x(all.begin() + all.size() / 2 - 4096, all.begin() + all.size() / 2 + 4096);
    return dsptest::bandPower(x, from, to, rate);
}

TEST(DsptoolHqups, ConvertsTo48kAndAddsHarmonicsAboveTheSourceBand) {
    wavetest::TempDir dir;
    int status = 0;
    const std::string made = wavetest::run("sox -V1 -n -r 22050 -c 2 -b 16 '" + dir.file("in.wav") +
                                               "' synth 2 sine 6000 sine 7900 gain -3 2>&1",
                                           status);
    ASSERT_EQ(status, 0) << made;
    std::string err;
    ASSERT_EQ(tool(dir, "process in.wav rich.wav hqups 0.4 100 5000", err), 0) << err;
    ASSERT_EQ(tool(dir, "process in.wav flat.wav hqups 0 100 5000", err), 0) << err;
    ASSERT_EQ(tool(dir, "process in.wav half.wav hqups 0.4 50 5000", err), 0) << err;
    int rate = 0;
    const std::vector<double> rich = soxLeft(dir, "rich.wav", rate);
    EXPECT_EQ(rate, 48000);
    // Every block is converted on its own and truncated: a frame or so short per block.
    EXPECT_LE(rich.size(), 96000u);
    EXPECT_GE(rich.size(), 95950u);
    const std::vector<double> flat = soxLeft(dir, "flat.wav", rate);
    const std::vector<double> half = soxLeft(dir, "half.wav", rate);
    const double top = bandPower(rich, 11500.0, 23500.0, 48000.0);
    const double topFlat = bandPower(flat, 11500.0, 23500.0, 48000.0);
    const double topHalf = bandPower(half, 11500.0, 23500.0, 48000.0);
    const double source = bandPower(flat, 5500.0, 8500.0, 48000.0);
    EXPECT_LT(topFlat, source * 1e-6) << "harmonics 0 adds nothing above the source band";
    EXPECT_GT(top, topFlat * 1e3);
    EXPECT_NEAR(top / topHalf, 4.0, 0.6) << "power goes with the square of MIX";
}

TEST(DsptoolHqups, RejectsArgumentsOutsideTheirRanges) {
    wavetest::TempDir dir;
    int status = 0;
    wavetest::run("sox -V1 -n -r 22050 -c 1 -b 16 '" + dir.file("in.wav") + "' synth 0.1 sine 1000", status);
    for (const char* args : {"hqups 2", "hqups 0.3 -5", "hqups 0.3 50 30000", "hqups 0.3 50 8000 2", "hqups 1 2 3 0 5"}) {
        std::string err;
        EXPECT_NE(tool(dir, std::string("process in.wav out.wav ") + args, err), 0) << args;
        EXPECT_NE(err.find("hqups"), std::string::npos) << args << ": " << err;
    }
}

}  // namespace
