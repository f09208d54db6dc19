// Running dsptool and other programs from the tests, and the plain WAVE files they exchange.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tooltest {

// The dsptool the tests run: $DSPTOOL_UNDER_TEST when set (the Windows build runs dsptool.exe
// under Wine through it), else the one this build made ("" when it made none).
const char* toolPath();

struct ToolRun {
    int status;       // exit status, -1 when the program did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs `dsptool ARGS` with `dir` as working directory; ARGS is shell text (the caller quotes).
ToolRun runTool(const std::string& dir, const std::string& args);

// Runs a shell command: its exit status (-1 when it did not exit normally), its stdout in `output`.
int runShell(const std::string& command, std::string& output);

// Runs a shell command in `dir`, for ASSERT_TRUE: a failure carries the command and its output.
::testing::AssertionResult shellIn(const std::string& dir, const std::string& command);

// Interleaved 16-bit samples of a WAVE file as sox decodes it (an independent reader) into the
// raw file `rawPath`, with sox's output `options` (e.g. "-e signed -b 32"). Empty when sox fails.
std::vector<int16_t> soxDecode(const std::string& wavPath, const std::string& rawPath, const std::string& options = "");

// Sorted names in a folder (none when it does not exist).
std::vector<std::string> listDir(const std::string& path);

// A canonical 44-byte-header 16-bit PCM WAVE file of interleaved `pcm`.
void writeWave(const std::string& path, const std::vector<int16_t>& pcm, uint16_t channels, uint32_t rate);

}  // namespace tooltest
