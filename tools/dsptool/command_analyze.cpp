// dsptool analyze FILE.wav: spectra of a WAVE file as an HTML report, CSV or JSON.
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "analysis_onsets.h"
#include "analysis_report.h"
#include "dsp.h"
#include "registry.h"

namespace {

// Reads a 16-bit PCM WAVE file, mono or stereo, with the library's reader.
bool loadWave(const std::string& path, dsptool::AudioClip& clip, std::string& error) {
    if (!std::ifstream(path, std::ios::binary)) {
        error = "cannot open " + path;
        return false;
    }
    constexpr uint32_t kChunkFrames = 65536;
    struct Close {
        void operator()(dsp_wavefile_in* reader) const { termWavefileIn(reader); }
    };
    std::unique_ptr<dsp_wavefile_in, Close> reader(initWavefileIn(path.c_str(), kChunkFrames));
    const dsp_wave_format* format = reader ? getFormatWavefileIn(reader.get()) : nullptr;
    const dsp_wave_header* header = reader ? getHeaderWavefileIn(reader.get()) : nullptr;
    if (format == nullptr || header == nullptr) {
        error = "out of memory opening " + path;
        return false;
    }
    if (format->nChannels == 0) {
        error = path + " is not a RIFF WAVE file with a \"fmt \" chunk before its \"data\" chunk";
        return false;
    }
    if (format->wBitsPerSample != 16 || format->nChannels > 2 || format->nSamplesPerSec == 0) {
        error = path + ": only 16-bit PCM, mono or stereo, can be analysed";
        return false;
    }
    clip.channels = format->nChannels;
    clip.rate = format->nSamplesPerSec;
    // The reader does not stop at the end of the data chunk: read exactly its frames.
    const uint64_t frames = header->dwBufferLength / (2u * clip.channels);
    clip.pcm.resize(frames * clip.channels);
    uint64_t done = 0;
    while (done < frames) {
        const uint32_t want = uint32_t(std::min<uint64_t>(kChunkFrames, frames - done));
        const int32_t got = readWavefileIn(reader.get(), clip.pcm.data() + done * clip.channels, want);
        if (got <= 0) break;
        done += uint32_t(got) / (2u * clip.channels);
    }
    clip.pcm.resize(done * clip.channels);  // a data chunk cut short by the end of the file
    return true;
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
        } else if (std::string problem; dsptool::parseOnsetOption(args, i, problem)) {
            if (!problem.empty()) return dsptool::failWith(problem);
        } else if (arg == "--envelope-csv") {
            if (!hasValue) return dsptool::failWith(arg + " needs a file name (or - for stdout)");
            options.envelopeCsvPath = args[++i];
            otherOutput = true;
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
    // The slice table goes to stdout unless stdout already carries a CSV or JSON export.
    options.printSlices = options.csvPath != "-" && options.jsonPath != "-" && options.envelopeCsvPath != "-";
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
    "analyze", "analyze FILE.wav [-o REPORT.html] [--csv FILE] [--json FILE] [--envelope-csv FILE] [OPTIONS]",
    std::string("      onsets, envelope and spectra of a 16-bit WAVE file: prints the onset slices (start and\n"
    "      end in seconds) and writes an HTML report (waveform with envelope and slice markers,\n"
    "      spectrogram, long-term spectrum, slice table; self-contained, opens in any browser) to\n"
    "      FILE-analysis.html unless -o names it; --csv writes the long-term spectrum, --json every\n"
    "      short-time spectrum (dBFS), --envelope-csv the envelope (- for stdout; any of them alone\n"
    "      skips the report). The slicer listens to 2-20 kHz only (16th-order highpass at 2 kHz and\n"
    "      lowpass at 20 kHz on the mono mix): bass and kick drums below 2 kHz start no slice. Files\n"
    "      at 40 kHz or less are converted to 48 kHz for slicing, their band then ending near 0.8 of\n"
    "      their own Nyquist frequency.\n"
    "      --block N  frames per analysis step, the hop between spectra (default 1024)\n"
    "      --fft N    transform length, a power of two 4..16384 (default 4096)\n"
    "      --history N  sliding history in samples, >= FFT size and block (default: FFT size)\n") +
        dsptool::kOnsetOptionsHelp,
    runAnalyze});

}  // namespace
