// dsptool's pitch and stretch effects end to end: a stereo sine file through `process`, the
// result decoded by sox and measured here.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "effects/grain_test_util.h"
#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

namespace {

// One cycle per 440-sample hop, four of them: the grains of both effects stay in phase.
constexpr double kTone = 4 * 44100.0 / 440.0;

int tool(const wavetest::TempDir& dir, const std::string& args, std::string& err) {
    const tooltest::ToolRun r = tooltest::runTool(dir.path(), "-q " + args);
    err = r.err;
    return r.status;
}

std::vector<float> soxLeft(const wavetest::TempDir& dir, const std::string& wav) {
    const std::vector<int16_t> s = tooltest::soxDecode(dir.file(wav), dir.file("left.raw"), "-c 1 {raw} remix 1");
    std::vector<float> x(s.size());
    for (size_t i = 0; i < s.size(); ++i) x[i] = s[i] / 32768.0f;
    return x;
}

struct ToolCase {
    std::string args;
    size_t minFrames, maxFrames;
    double expectHz;
};

class DsptoolGrain : public ::testing::TestWithParam<ToolCase> {};

TEST_P(DsptoolGrain, ProcessesAFileToTheExpectedLengthAndTone) {
    const ToolCase c = GetParam();
    if (std::string(DSPTOOL_PATH).empty()) GTEST_SKIP() << "dsptool not built";
    wavetest::TempDir dir;
    int status = 0;
    const std::string made = wavetest::run("sox -V1 -n -r 44100 -c 2 -b 16 '" + dir.file("in.wav") + "' synth 2 sine " +
                                               std::to_string(kTone) + " gain -6 2>&1",
                                           status);
    ASSERT_EQ(status, 0) << made;
    std::string err;
    ASSERT_EQ(tool(dir, "process in.wav out.wav " + c.args, err), 0) << err;
    const std::vector<float> out = soxLeft(dir, "out.wav");
    EXPECT_GE(out.size(), c.minFrames) << c.args;
    EXPECT_LE(out.size(), c.maxFrames) << c.args;
    ASSERT_GT(out.size(), 20000u);
    const double hz = graintest::dominantFrequency(out, out.size() / 2 - 8192, 16384, 44100.0, 100.0, 1500.0);
    EXPECT_NEAR(hz, c.expectHz, c.expectHz * 0.003) << c.args;
}

// Blocks are stretched one by one and each output truncated: a frame short per block at most.
INSTANTIATE_TEST_SUITE_P(Effects, DsptoolGrain,
                         ::testing::Values(ToolCase{"stretch len=2", 176400, 176400, kTone},
                                           ToolCase{"stretch -1000 40 10", 176400, 176400, kTone},
                                           ToolCase{"stretch tempo=2", 44100 - 64, 44100, kTone},
                                           ToolCase{"stretch len=2 pitch 1200", 176400, 176400, 2 * kTone},
                                           ToolCase{"pitch -1200 50 10 -3", 88200, 88200, kTone / 2}));

TEST(DsptoolGrain, RefusesAmountsOutsideTheirRanges) {
    if (std::string(DSPTOOL_PATH).empty()) GTEST_SKIP() << "dsptool not built";
    wavetest::TempDir dir;
    int status = 0;
    wavetest::run("sox -V1 -n -r 44100 -c 1 -b 16 '" + dir.file("in.wav") + "' synth 0.1 sine 440", status);
    std::string err;
    for (const char* args : {"stretch len=8", "stretch tempo=0.1", "stretch 4000", "pitch 1300", "pitch", "stretch x"}) {
        EXPECT_NE(tool(dir, std::string("process in.wav out.wav ") + args, err), 0) << args;
        EXPECT_NE(err.find("dsptool:"), std::string::npos) << args << ": " << err;
    }
}

}  // namespace
