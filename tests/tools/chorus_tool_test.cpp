// dsptool's chorus effect end to end: arguments reach the library in the documented units, and
// bad arguments fail with one clear line.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

namespace {

int tool(const wavetest::TempDir& dir, const std::string& args, std::string& err) {
    const tooltest::ToolRun r = tooltest::runTool(dir.path(), "-q " + args);
    err = r.err;
    return r.status;
}

// Interleaved samples of a WAVE file as sox decodes it.
std::vector<int16_t> samples(const wavetest::TempDir& dir, const std::string& wav) {
    std::vector<int16_t> s = tooltest::soxDecode(dir.file(wav), dir.file("raw"));
    EXPECT_FALSE(s.empty()) << "sox cannot read " << wav;
    return s;
}

class ChorusTool : public testing::Test {
protected:
    void SetUp() override {
        if (std::string(DSPTOOL_PATH).empty()) GTEST_SKIP() << "dsptool is not built";
        int status = 0;
        wavetest::run("sox -V1 -n -r 44100 -c 2 -b 16 '" + dir.file("in.wav") +
                          "' synth 1 sine 300-3000 whitenoise gain -8",
                      status);
        ASSERT_EQ(status, 0);
    }
    wavetest::TempDir dir;
};

TEST_F(ChorusTool, OneStoppedVoiceDelaysByItsMilliseconds) {
    std::string err;
    // Dry only, then one voice alone at 10 ms (441 frames) with the sweep stopped.
    ASSERT_EQ(tool(dir, "process in.wav dry.wav chorus 0 20 0 0 0 100", err), 0) << err;
    ASSERT_EQ(tool(dir, "process in.wav wet.wav chorus 1 10 0 0 100 0", err), 0) << err;
    const std::vector<int16_t> dry = samples(dir, "dry.wav"), wet = samples(dir, "wet.wav");
    ASSERT_EQ(dry.size(), 88200u);
    ASSERT_EQ(wet.size(), dry.size());
    for (size_t i = 0; i < wet.size(); ++i) {
        const int16_t expected = i < 882 ? 0 : dry[i - 882];
        ASSERT_EQ(wet[i], expected) << "sample " << i;
    }
}

TEST_F(ChorusTool, RejectsBadArguments) {
    const std::pair<const char*, const char*> cases[] = {
        {"chorus 2.5", "VOICES must be an integer"}, {"chorus 65", "VOICES must be an integer"},
        {"chorus 3 5 6", "DEPTH_MS must not exceed DELAY_MS"}, {"chorus 3 20 3 -1", "SPEED_S must be"},
        {"chorus 3 20 3 2 x", "MIX_PCT must be"}, {"chorus 3 1000 500", "must stay below"},
        {"chorus 1 2 3 4 5 6 7", "too many arguments"}};
    for (auto [args, message] : cases) {
        std::string err;
        EXPECT_NE(tool(dir, std::string("process in.wav out.wav ") + args, err), 0) << args;
        EXPECT_NE(err.find(message), std::string::npos) << args << ": " << err;
    }
}

}  // namespace
