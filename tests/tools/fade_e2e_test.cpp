// dsptool fade end to end: a generated WAVE file through `dsptool process ... fade ...`, with
// the output's gain measured against the levels the fade should have at known times.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kFrames = 3 * kRate;
constexpr int16_t kLeft = 16000, kRight = -12000;

using tooltest::writeWave;

// The samples of the first "data" chunk of a RIFF WAVE file; empty when there is none.
std::vector<int16_t> readWaveData(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    const std::string bytes = text.str();
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0) return {};
    for (size_t at = 12; at + 8 <= bytes.size();) {
        uint32_t size;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (bytes.compare(at, 4, "data") == 0) {
            const size_t n = std::min<size_t>(size, bytes.size() - at - 8) / 2;
            std::vector<int16_t> pcm(n);
            std::memcpy(pcm.data(), bytes.data() + at + 8, n * 2);
            return pcm;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

int run(const std::string& command) {
    std::string ignored;
    return tooltest::runShell(command + " >/dev/null 2>&1", ignored);
}

class FadeTool : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(DSPTOOL_PATH).empty()) GTEST_SKIP() << "dsptool is not built";
        dir = temp.path();  // each test its own: ctest runs them in parallel processes
        // Three seconds of a constant on each channel: the output over the input is the gain.
        std::vector<int16_t> pcm(2 * size_t{kFrames});
        for (uint32_t i = 0; i < kFrames; ++i) {
            pcm[2 * i] = kLeft;
            pcm[2 * i + 1] = kRight;
        }
        input = dir + "/fade_in.wav";
        writeWave(input, pcm, 2, kRate);
    }

    // Runs `fade ARGS` over the input; returns the output samples.
    std::vector<int16_t> fade(const std::string& args) {
        const std::string output = dir + "/fade_out.wav";
        std::remove(output.c_str());
        const int status = run(std::string(DSPTOOL_PATH) + " -q process " + input + " " + output + " fade " + args);
        EXPECT_EQ(status, 0) << "fade " << args;
        return readWaveData(output);
    }

    // Expects the level at `seconds` (both channels) to be `db` within `tolerance` dB.
    static void expectLevel(const std::vector<int16_t>& out, double seconds, double db, double tolerance) {
        const size_t frame = size_t(seconds * kRate);
        for (int c = 0; c < 2; ++c) {
            const double ratio = double(out[2 * frame + c]) / (c == 0 ? kLeft : kRight);
            EXPECT_NEAR(20.0 * std::log10(ratio), db, tolerance) << "channel " << c << " at " << seconds << " s";
        }
    }

    wavetest::TempDir temp;
    std::string dir, input;
};

}  // namespace

// Fade-in from silence and fade-out to silence, both moving linearly in dB through -50 dB,
// around an overall -6 dB.
TEST_F(FadeTool, FadesInAndOutAroundTheGain) {
    const std::vector<int16_t> out = fade("0.5 0.5 gain -6");
    ASSERT_EQ(out.size(), 2 * size_t{kFrames});
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 0);
    expectLevel(out, 0.25, (-50.0 - 6.0) / 2, 0.05);  // halfway up the fade-in
    expectLevel(out, 0.5, -6.0, 0.05);
    expectLevel(out, 1.5, -6.0, 0.02);
    expectLevel(out, 2.5, -6.0, 0.05);
    expectLevel(out, 2.75, (-50.0 - 6.0) / 2, 0.05);  // halfway down the fade-out
    for (size_t i = out.size() - 4; i < out.size(); ++i) EXPECT_EQ(out[i], 0) << "sample " << i;
}

// A ramp to an absolute level between two times, without fades.
TEST_F(FadeTool, RampMovesToTheLevelBetweenItsTimes) {
    const std::vector<int16_t> out = fade("ramp 1 2 -20");
    ASSERT_EQ(out.size(), 2 * size_t{kFrames});
    expectLevel(out, 0.5, 0.0, 0.01);
    expectLevel(out, 1.5, -10.0, 0.02);
    expectLevel(out, 2.5, -20.0, 0.02);
}

TEST_F(FadeTool, BadArgumentsFailWithoutOutput) {
    const std::string tool = std::string(DSPTOOL_PATH) + " -q process " + input + " " + dir + "/fade_bad.wav fade ";
    for (const char* args : {"1 x", "-1", "gain -60", "gain", "ramp 2 1 -6", "1 2 3"})
        EXPECT_NE(run(tool + args), 0) << "fade " << args;
}
