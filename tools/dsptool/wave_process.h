// Streaming a WAVE file through an effect list: shared by `process` and `demo`.
#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "registry.h"

namespace dsptool {

// One parsed effect of an effect list.
struct ListedEffect {
    std::string name;
    std::vector<std::string> args;
    std::unique_ptr<ToolEffect> effect;
};

// Splits "EFFECT ARGS... EFFECT ARGS..." (each argument list ends at the next registered
// effect name) and parses each effect's arguments. False with `error` set on the first problem.
bool parseEffectList(const std::vector<std::string>& words, std::vector<ListedEffect>& effects, std::string& error);

struct ProcessReport {
    uint32_t inChannels = 0, inRate = 0;
    uint64_t inFrames = 0;          // frames present in the file
    uint64_t declaredFrames = 0;    // frames its header claims (more when the file is cut short)
    std::string inDescription;      // e.g. "16-bit PCM WAVE"
    bool dithered = false;          // the input had more than 16 bits
    uint64_t inputClipped = 0;      // input samples clipped on the way to 16 bits
    uint32_t outChannels = 0, outRate = 0;
    uint64_t outFrames = 0;
    uint64_t clipped = 0;           // output samples at full scale
    bool toStdout = false;          // the output is standard output
};

struct ProcessSettings {
    bool progress = false;  // a percentage on stderr when it is a terminal
    uint32_t bits = 16;     // output sample size
    // Called after every block with the input frames it held (batch progress; any thread).
    std::function<void(uint64_t frames)> onFrames;
};

// Catches Ctrl-C and SIGTERM while it lives (nested guards share one state: a batch holds one
// over all its files): processFile then stops between blocks and removes its temporary file.
class InterruptGuard {
public:
    InterruptGuard();
    ~InterruptGuard();
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;
    static bool interrupted();
};

// Reads `inPath` (any format audio_io reads, "-" = stdin), sends it block by block through a
// chain built from `effects`, and writes the chain's output to `outPath` (see AudioOutput: an
// existing file is replaced only when the run completes). False with `error` set on failure.
bool processFile(const std::string& inPath, const std::string& outPath, std::vector<ListedEffect>& effects,
                 const ProcessSettings& settings, ProcessReport& report, std::string& error);

// Writes interleaved 16-bit PCM to `path` as AudioOutput does.
bool writeWaveFile(const std::string& path, const std::vector<int16_t>& pcm, uint32_t channels, uint32_t rate,
                   std::string& error);

}  // namespace dsptool
