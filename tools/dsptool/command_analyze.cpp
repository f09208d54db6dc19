// dsptool analyze FILE.wav: spectra of a WAVE file as an HTML report, CSV or JSON.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "analysis_report.h"
#include "registry.h"

namespace {

uint32_t readU32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t readU16(const unsigned char* p) { return uint16_t(p[0] | (p[1] << 8)); }

// Reads a 16-bit PCM RIFF WAVE file ("fmt " before "data", other chunks skipped).
bool loadWave(const std::string& path, dsptool::AudioClip& clip, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot open " + path;
        return false;
    }
    const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (bytes.size() < 12 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4) != 0) {
        error = path + " is not a RIFF WAVE file";
        return false;
    }
    bool haveFormat = false;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        const unsigned char* chunk = bytes.data() + at;
        const size_t size = std::min<size_t>(readU32(chunk + 4), bytes.size() - at - 8);
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size >= 16) {
            const uint16_t tag = readU16(chunk + 8);
            clip.channels = readU16(chunk + 10);
            clip.rate = readU32(chunk + 12);
            const uint16_t bits = readU16(chunk + 22);
            if ((tag != 1 && tag != 0xFFFE) || bits != 16 || clip.channels < 1 || clip.channels > 2) {
                error = path + ": only 16-bit PCM, mono or stereo, can be analysed";
                return false;
            }
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) break;
            const size_t samples = size / 2 / clip.channels * clip.channels;
            clip.pcm.resize(samples);
            for (size_t i = 0; i < samples; ++i) clip.pcm[i] = int16_t(readU16(chunk + 8 + 2 * i));
            return true;
        }
        at += 8 + size + (size & 1);
    }
    error = path + ": no \"fmt \" chunk before the \"data\" chunk";
    return false;
}

bool parseCount(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = uint32_t(std::stoul(text));
    return true;
}

std::string defaultReportPath(const std::string& input) {
    const size_t slash = input.find_last_of('/');
    std::string stem = input.substr(slash == std::string::npos ? 0 : slash + 1);
    const size_t dot = stem.find_last_of('.');
    if (dot != std::string::npos && dot > 0) stem.resize(dot);
    return stem + "-analysis.html";
}

int runAnalyze(const std::vector<std::string>& args) {
    dsptool::AnalyzeOptions options;
    std::string input;
    bool reportRequested = false, otherOutput = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        auto count = [&](uint32_t& field) {
            if (!hasValue || !parseCount(args[++i], field)) return false;
            return true;
        };
        if (arg == "--block" || arg == "--fft" || arg == "--history") {
            uint32_t& field = arg == "--block" ? options.block : arg == "--fft" ? options.fftSize : options.history;
            if (!count(field)) return dsptool::failWith(arg + " needs a whole number of samples");
        } else if (arg == "-o" || arg == "--html" || arg == "--csv" || arg == "--json") {
            if (!hasValue) return dsptool::failWith(arg + " needs a file name (or - for stdout)");
            const std::string& path = args[++i];
            if (arg == "--csv") options.csvPath = path, otherOutput = true;
            else if (arg == "--json") options.jsonPath = path, otherOutput = true;
            else options.htmlPath = path, reportRequested = true;
        } else if (!arg.empty() && arg[0] == '-' && arg != "-") {
            return dsptool::failWith("unknown option " + arg + " (see dsptool --help)");
        } else if (input.empty()) {
            input = arg;
        } else {
            return dsptool::failWith("analyze takes one input file");
        }
    }
    if (input.empty()) return dsptool::failWith("analyze needs a WAVE file");
    // The report is written by default; asking only for CSV or JSON leaves it out.
    if (!reportRequested && !otherOutput) options.htmlPath = defaultReportPath(input);
    const std::string problem = dsptool::checkAnalyzeOptions(options);
    if (!problem.empty()) return dsptool::failWith(problem);
    dsptool::AudioClip clip;
    std::string error;
    if (!loadWave(input, clip, error)) return dsptool::failWith(error);
    const size_t slash = input.find_last_of('/');
    clip.name = input.substr(slash == std::string::npos ? 0 : slash + 1);
    return dsptool::writeAnalysisOutputs(clip, options);
}

const dsptool::Registration analyzeCommand(dsptool::CommandInfo{
    "analyze", "analyze FILE.wav [-o REPORT.html] [--csv FILE] [--json FILE] [--block N] [--fft N] [--history N]",
    "      spectral analysis of a 16-bit WAVE file: an HTML report (waveform, spectrogram,\n"
    "      long-term spectrum; self-contained, opens in any browser), written to\n"
    "      FILE-analysis.html unless -o names it; --csv writes the long-term spectrum and\n"
    "      --json every short-time spectrum (dBFS; - for stdout; either alone skips the report).\n"
    "      --block N  frames per analysis step, the hop between spectra (default 1024)\n"
    "      --fft N    transform length, a power of two 4..16384 (default 4096)\n"
    "      --history N  sliding history in samples, >= FFT size and block (default: FFT size)",
    runAnalyze});

}  // namespace
