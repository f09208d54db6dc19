// Streaming a WAVE file through an effect list: shared by `process` and `demo`.
#pragma once
#include <cstdint>
#include <memory>
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
    uint64_t declaredFrames = 0;    // frames its data chunk claims (more when the file is cut short)
    uint32_t outChannels = 0, outRate = 0;
    uint64_t outFrames = 0;
};

// Reads `inPath` with the library's reader, sends it block by block through a chain built from
// `effects`, and writes the chain's output with the library's writer. The output is written
// under a temporary name next to `outPath` and renamed at the end; on any failure it is removed
// and `error` says why. With `progress`, a percentage is shown on stderr.
bool processFile(const std::string& inPath, const std::string& outPath, std::vector<ListedEffect>& effects,
                 bool progress, ProcessReport& report, std::string& error);

// Writes interleaved 16-bit PCM as a WAVE file with the library's writer (same temporary-name
// discipline as processFile).
bool writeWaveFile(const std::string& path, const std::vector<int16_t>& pcm, uint32_t channels, uint32_t rate,
                   std::string& error);

}  // namespace dsptool
