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

// A 16-bit PCM WAVE file, mono or stereo, read with the library's reader.
class WaveFileSource : public dsptool::AudioSource {
public:
    ~WaveFileSource() override { close(); }

    bool open(const std::string& path, std::string& error) {
        path_ = path;
        if (!std::ifstream(path, std::ios::binary)) {
            error = "cannot open " + path;
            return false;
        }
        reader_ = initWavefileIn(path.c_str(), kChunkFrames);
        const dsp_wave_format* format = reader_ ? getFormatWavefileIn(reader_) : nullptr;
        const dsp_wave_header* header = reader_ ? getHeaderWavefileIn(reader_) : nullptr;
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
        channels = format->nChannels;
        rate = format->nSamplesPerSec;
        description = "16-bit PCM WAVE";
        // The reader does not stop at the end of the data chunk: read exactly its frames.
        frames = header->dwBufferLength / (2u * channels);
        left_ = frames;
        return true;
    }

    int64_t read(int16_t* pcm, uint32_t count, std::string&) override {
        const uint32_t want = uint32_t(std::min<uint64_t>({count, left_, kChunkFrames}));
        const int32_t got = want ? readWavefileIn(reader_, pcm, want) : 0;
        if (got <= 0) return 0;  // a data chunk cut short by the end of the file
        left_ -= uint32_t(got) / (2u * channels);
        return uint32_t(got) / (2u * channels);
    }

    bool rewind(std::string& error) override {
        close();
        return open(path_, error);
    }

private:
    static constexpr uint32_t kChunkFrames = 65536;
    void close() {
        if (reader_ != nullptr) termWavefileIn(reader_);
        reader_ = nullptr;
    }
    std::string path_;
    dsp_wavefile_in* reader_ = nullptr;
    uint64_t left_ = 0;
};

bool parseCount(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    value = uint32_t(std::stoul(text));
    return true;
}

// Beside the input: DIR/NAME.wav gives DIR/NAME-analysis.html (stdin: stdin-analysis.html here).
std::string defaultReportPath(const std::string& input) {
    if (input == "-") return "stdin-analysis.html";
    const size_t slash = input.find_last_of('/');
    const size_t dot = input.find_last_of('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos ? dot > 0 : dot > slash + 1);
    return (hasExtension ? input.substr(0, dot) : input) + "-analysis.html";
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
        } else if (arg == "--all-spectra") {
            options.everySpectrum = true;
        } else if (arg == "-o" || arg == "--html" || arg == "--csv" || arg == "--json" || arg == "--slices-csv") {
            if (!hasValue) return dsptool::failWith(arg + " needs a file name (or - for stdout)");
            const std::string& path = args[++i];
            if (arg == "--csv") options.csvPath = path, otherOutput = true;
            else if (arg == "--json") options.jsonPath = path, otherOutput = true;
            else if (arg == "--slices-csv") options.slicesCsvPath = path, otherOutput = true;
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
    options.printSlices = options.csvPath != "-" && options.jsonPath != "-" && options.envelopeCsvPath != "-" &&
                          options.slicesCsvPath != "-" && options.htmlPath != "-";
    options.progress = true;
    const std::string problem = dsptool::checkAnalyzeOptions(options);
    if (!problem.empty()) return dsptool::failWith(problem);
    WaveFileSource source;
    std::string error;
    if (!source.open(input, error)) return dsptool::failWith(error);
    const size_t slash = input.find_last_of('/');
    source.name = input.substr(slash == std::string::npos ? 0 : slash + 1);
    return dsptool::writeAnalysisOutputs(source, options);
}

const dsptool::Registration analyzeCommand(dsptool::CommandInfo{
    "analyze",
    "analyze FILE.wav [-o REPORT.html] [--csv FILE] [--json FILE [--all-spectra]] [--slices-csv FILE]\n"
    "                   [--envelope-csv FILE] [OPTIONS]",
    std::string("      onsets, envelope and spectra of a 16-bit WAVE file, streamed (memory does not grow\n"
    "      with the length): prints the onset slices (start, end, length in seconds) and writes an\n"
    "      HTML report (waveform with envelope and slice markers, spectrogram, long-term spectrum,\n"
    "      slice table; self-contained, a few hundred kB to a few MB however long the input) beside\n"
    "      the input as FILE-analysis.html unless -o names it. --csv writes the long-term spectrum;\n"
    "      --json the long-term spectrum, the spectrogram as the report draws it and the slices, and\n"
    "      with --all-spectra every short-time spectrum too (large: about 10 kB per spectrum and\n"
    "      channel at FFT 4096); --slices-csv the slices; --envelope-csv the envelope every 5 ms.\n"
    "      Any of them alone skips the report; - is stdout. Progress on stderr when it is a terminal.\n"
    "      The slicer listens to 2-20 kHz only (16th-order highpass at 2 kHz and lowpass at 20 kHz on\n"
    "      the mono mix): bass and kick drums below 2 kHz start no slice. Its levels are relative to\n"
    "      the peak of the input's envelope in that band, measured by a first pass. Files at 40 kHz\n"
    "      or less are converted to 48 kHz for slicing, their band then ending near 0.8 of their own\n"
    "      Nyquist frequency (5 kHz and below leave nothing to slice, and say so).\n"
    "      --block N  frames per analysis step, the hop between spectra (default 1024)\n"
    "      --fft N    transform length, a power of two 4..16384 (default 4096)\n"
    "      --history N  sliding history in samples, >= FFT size and block (default: FFT size)\n") +
        dsptool::kOnsetOptionsHelp,
    runAnalyze});

}  // namespace
