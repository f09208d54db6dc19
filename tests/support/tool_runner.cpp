#include "support/tool_runner.h"

#if !defined(_WIN32)
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

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

bool toolBuilt() { return *toolPath() != '\0'; }

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

ToolRun runTool(const std::string& dir, const std::string& args) {
    ToolRun r{};
    char errPath[] = "/tmp/dsptool-stderr-XXXXXX";
    const int fd = mkstemp(errPath);
    if (fd >= 0) close(fd);
    r.status = runShell("cd '" + dir + "' && '" + std::string(DSPTOOL_PATH) + "' " + args + " 2>'" + errPath + "'",
                        r.out);
    std::ifstream in(errPath, std::ios::binary);
    r.err.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    std::remove(errPath);
    return r;
}

std::vector<int16_t> soxDecode(const std::string& wavPath, const std::string& rawPath, const std::string& tail) {
    std::string command = "sox -V1 '" + wavPath + "' -t raw " + tail;
    const size_t at = command.find("{raw}");
    if (at != std::string::npos) command.replace(at, 5, "'" + rawPath + "'");
    std::string ignored;
    if (runShell(command, ignored) != 0) return {};
    std::ifstream in(rawPath, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int16_t> samples(bytes.size() / 2);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
    return samples;
}

void writeWave(const std::string& path, const std::vector<int16_t>& pcm, uint16_t channels, uint32_t rate) {
    std::ofstream out(path, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    const uint32_t dataBytes = uint32_t(pcm.size() * 2);
    out.write("RIFF", 4);
    u32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(channels);
    u32(rate);
    u32(rate * channels * 2);
    u16(uint16_t(channels * 2));
    u16(16);
    out.write("data", 4);
    u32(dataBytes);
    out.write(reinterpret_cast<const char*>(pcm.data()), dataBytes);
}

}  // namespace tooltest
