#include "support/tool_runner.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "wavefile/riff_builder.h"

#if defined(_WIN32)
// Windows builds run no shell commands (the tests that need one skip there).
#define popen _popen
#define pclose _pclose
#define WIFEXITED(status) true
#define WEXITSTATUS(status) (status)
#define mkstemp(path) -1
#endif

namespace tooltest {

const char* toolPath() {
    const char* chosen = std::getenv("DSPTOOL_UNDER_TEST");
    return chosen != nullptr && *chosen != '\0' ? chosen : DSPTOOL_BUILT_PATH;
}

int runShell(const std::string& command, std::string& output) {
    output.clear();
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

::testing::AssertionResult shellIn(const std::string& dir, const std::string& command) {
    std::string output;
    if (runShell("cd '" + dir + "' && " + command + " 2>&1", output) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << command << ": " << output;
}

ToolRun runTool(const std::string& dir, const std::string& args) {
    ToolRun r{};
    char errPath[] = "/tmp/dsptool-stderr-XXXXXX";
    const int fd = mkstemp(errPath);
    if (fd >= 0) close(fd);
    r.status = runShell("cd '" + dir + "' && '" + std::string(toolPath()) + "' " + args + " 2>'" + errPath + "'",
                        r.out);
    r.err = wavetest::readFile(errPath);
    std::remove(errPath);
    return r;
}

std::vector<int16_t> soxDecode(const std::string& wavPath, const std::string& rawPath, const std::string& options) {
    std::string ignored;
    if (runShell("sox -V1 '" + wavPath + "' -t raw " + options + " '" + rawPath + "'", ignored) != 0) return {};
    const std::string bytes = wavetest::readFile(rawPath);
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

std::vector<std::string> listDir(const std::string& path) {
    std::vector<std::string> names;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(path, missing))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void writeWave(const std::string& path, const std::vector<int16_t>& pcm, uint16_t channels, uint32_t rate) {
    using namespace wavetest;
    const std::string data(reinterpret_cast<const char*>(pcm.data()), pcm.size() * 2);
    writeFile(path, riff("WAVE", chunk("fmt ", fmtPayload(1, channels, rate, 16, false)) + chunk("data", data)));
}

}  // namespace tooltest
