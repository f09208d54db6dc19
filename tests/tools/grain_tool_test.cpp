// dsptool's pitch and stretch arguments: amounts outside their ranges fail with a message (the
// tones and lengths they give are measured by the effects end-to-end test).
#include <gtest/gtest.h>

#include <string>

#include "support/tool_runner.h"
#include "wavefile/riff_builder.h"

namespace {

int tool(const wavetest::TempDir& dir, const std::string& args, std::string& err) {
    const tooltest::ToolRun r = tooltest::runTool(dir.path(), "-q " + args);
    err = r.err;
    return r.status;
}

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
