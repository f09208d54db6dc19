// dsptool analyze FILE: onsets, envelope and spectra of an audio file as an HTML report, CSV or JSON.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "analysis_onsets.h"
#include "analysis_report.h"
#include "audio_io.h"
#include "registry.h"

namespace {

// An input in any format the tool reads ("-" = stdin, spooled once so that it can be read twice).
// More than two channels are mixed to stereo: odd-numbered ones to the left, even to the right.
class FileSource : public dsptool::AudioSource {
public:
    bool open(const std::string& input, std::string& error) {
        if (!file_.open(input, error) || !reopen(error)) return false;
        name = file_.name() == "-" ? "stdin" : file_.name().substr(file_.name().find_last_of('/') + 1);
        description = in_->description();
        rate = in_->rate();
        channels = in_->channels();
        frames = in_->frames();
        if (in_->channels() != in_->sourceChannels() && !dsptool::options().quiet)
            std::fprintf(stderr, "dsptool: '%s' has %u channels: analysing them mixed to stereo\n", input.c_str(),
                         in_->sourceChannels());
        if (in_->dithered() && !dsptool::options().quiet)
            std::fprintf(stderr, "dsptool: '%s' (%s) reduced to 16 bits with TPDF dither\n", input.c_str(),
                         description.c_str());
        return true;
    }

    int64_t read(int16_t* pcm, uint32_t count, std::string& error) override {
        const int64_t got = in_->read(pcm, count);
        if (got < 0) error = "cannot read " + file_.name();
        return got;
    }

    bool rewind(std::string& error) override { return reopen(error); }

private:
    bool reopen(std::string& error) {
        in_ = std::make_unique<dsptool::AudioInput>();
        if (in_->open(file_.path(), error)) return true;
        std::string mixed;
        in_ = std::make_unique<dsptool::AudioInput>();
        if (in_->open(file_.path(), mixed, 2) && in_->sourceChannels() > 2) return true;
        // Messages name the input as given, not the spooled copy of stdin.
        const size_t at = error.find(file_.path());
        if (file_.path() != file_.name() && at != std::string::npos) error.replace(at, file_.path().size(), file_.name());
        return false;
    }

    dsptool::InputPath file_;
    std::unique_ptr<dsptool::AudioInput> in_;
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
    if (input.empty()) return dsptool::failWith("analyze needs an input file (- for stdin)");
    // The report is written by default; asking only for CSV or JSON leaves it out.
    if (!reportRequested && !otherOutput) options.htmlPath = defaultReportPath(input);
    // The slice table goes to stdout unless stdout already carries a CSV or JSON export.
    options.printSlices = options.csvPath != "-" && options.jsonPath != "-" && options.envelopeCsvPath != "-" &&
                          options.slicesCsvPath != "-" && options.htmlPath != "-";
    options.progress = true;
    const std::string problem = dsptool::checkAnalyzeOptions(options);
    if (!problem.empty()) return dsptool::failWith(problem);
    FileSource source;
    std::string error;
    if (!source.open(input, error)) return dsptool::failWith(error);
    return dsptool::writeAnalysisOutputs(source, options);
}

const dsptool::Registration analyzeCommand(dsptool::CommandInfo{
    "analyze",
    "analyze FILE [-o REPORT.html] [--csv FILE] [--json FILE [--all-spectra]] [--slices-csv FILE]\n"
    "                   [--envelope-csv FILE] [OPTIONS]",
    std::string("      onsets, envelope and spectra of an audio file (whatever `process` reads, - = stdin;\n"
    "      more than two channels are mixed to stereo), streamed: memory does not grow with the\n"
    "      length. Prints the onset slices (start, end, length in seconds) and writes an HTML report\n"
    "      (waveform with envelope and slice markers, spectrogram, long-term spectrum, slice table;\n"
    "      self-contained, well under 2 MB however long the input) beside the input as\n"
    "      FILE-analysis.html unless -o names it. --csv writes the long-term spectrum; --json the\n"
    "      long-term spectrum, the spectrogram as the report draws it and the slices, and with\n"
    "      --all-spectra every short-time spectrum too (large: about 12 kB per spectrum and channel\n"
    "      at FFT 4096); --slices-csv the slices; --envelope-csv the envelope every 5 ms. Any of\n"
    "      them alone skips the report; - is stdout. Progress on stderr when it is a terminal.\n"
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
