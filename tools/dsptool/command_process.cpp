// dsptool process IN OUT [EFFECT [ARGS...]]...: runs an audio file through an effect list;
// dsptool process -o DIR [--jobs N] IN... [-- EFFECT [ARGS...]...]: many files, one per thread.
#include <unistd.h>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "arguments.h"
#include "audio_io.h"
#include "registry.h"
#include "wave_process.h"

namespace {

struct ProcessOptions {
    std::string outDir;  // batch form
    std::string type;    // batch: output extension (default: the input's)
    uint32_t jobs = 0;   // batch: threads (default: every core)
    uint32_t bits = 16;
    std::vector<std::string> positional, effectWords;
};

bool parseCount(const std::string& option, const std::string& text, uint32_t low, uint32_t high, uint32_t& out,
                std::string& error) {
    double v;
    if (!dsptool::parseNumber(text, v) || v < low || v > high || v != uint32_t(v)) {
        error = option + " must be a whole number from " + std::to_string(low) + " to " + std::to_string(high) +
                ", got '" + text + "'";
        return false;
    }
    out = uint32_t(v);
    return true;
}

// Options stand anywhere before "--" (the batch form's effect list follows it).
bool parseOptions(const std::vector<std::string>& args, ProcessOptions& o, std::string& error) {
    bool effects = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (effects) {
            o.effectWords.push_back(a);
            continue;
        }
        const bool valued = a == "-o" || a == "--output-dir" || a == "-j" || a == "--jobs" || a == "-b" ||
                            a == "--bits" || a == "-t" || a == "--type";
        if (valued && i + 1 >= args.size()) {
            error = a + " needs a value";
            return false;
        }
        if (a == "--") {
            effects = true;
        } else if (a == "-o" || a == "--output-dir") {
            o.outDir = args[++i];
        } else if (a == "-t" || a == "--type") {
            o.type = args[++i];
        } else if (a == "-j" || a == "--jobs") {
            if (!parseCount(a, args[++i], 1, 256, o.jobs, error)) return false;
        } else if (a == "-b" || a == "--bits") {
            if (!parseCount(a, args[++i], 16, 32, o.bits, error)) return false;
        } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
            error = "process: unknown option " + a + " (see dsptool process --help)";
            return false;
        } else {
            o.positional.push_back(a);
        }
    }
    return true;
}

void printSummary(FILE* to, const std::string& in, const std::string& out, const dsptool::ProcessReport& r) {
    std::fprintf(to, "%s: %u ch %u Hz, %llu frames (%.3f s) -> %s: %u ch %u Hz, %llu frames (%.3f s)\n", in.c_str(),
                 r.inChannels, r.inRate, static_cast<unsigned long long>(r.inFrames), double(r.inFrames) / r.inRate,
                 out.c_str(), r.outChannels, r.outRate, static_cast<unsigned long long>(r.outFrames),
                 r.outRate != 0 ? double(r.outFrames) / r.outRate : 0.0);
}

// What one file's run has to say besides the summary: a cut-short input, dither, clipping.
void printNotes(const std::string& in, const std::string& out, const dsptool::ProcessReport& r) {
    if (r.inFrames < r.declaredFrames)
        std::fprintf(stderr, "dsptool: warning: '%s' is truncated: %llu of %llu frames present\n", in.c_str(),
                     static_cast<unsigned long long>(r.inFrames), static_cast<unsigned long long>(r.declaredFrames));
    if (r.dithered && !dsptool::options().quiet)
        std::fprintf(stderr, "dsptool: '%s' (%s) reduced to 16 bits with TPDF dither\n", in.c_str(),
                     r.inDescription.c_str());
    if (r.inputClipped != 0)
        std::fprintf(stderr, "dsptool: '%s': %llu samples clipped on the way to 16 bits\n", in.c_str(),
                     static_cast<unsigned long long>(r.inputClipped));
    if (r.clipped != 0)
        std::fprintf(stderr, "dsptool: '%s': %llu samples clipped\n", out.c_str(),
                     static_cast<unsigned long long>(r.clipped));
}

int runSingle(const ProcessOptions& o) {
    const std::vector<std::string>& p = o.positional;
    if (p.size() < 2) return dsptool::failWith("process: needs IN OUT [EFFECT [ARGS...]]... (see dsptool --help)");
    // `process in.wav chorus`: the output was forgotten, not meant to be called "chorus".
    if (dsptool::findEffect(p[1]) != nullptr)
        return dsptool::failWith("process: '" + p[1] + "' is an effect name; name the output file (e.g. out.wav) " +
                                 "before the effects");
    std::vector<std::string> words(p.begin() + 2, p.end());
    words.insert(words.end(), o.effectWords.begin(), o.effectWords.end());
    std::vector<dsptool::ListedEffect> effects;
    std::string error;
    if (!dsptool::parseEffectList(words, effects, error)) return dsptool::failWith(error);
    dsptool::ProcessSettings settings;
    settings.progress = !dsptool::options().quiet;
    settings.bits = o.bits;
    dsptool::ProcessReport report;
    const auto start = std::chrono::steady_clock::now();
    if (!dsptool::processFile(p[0], p[1], effects, settings, report, error)) return dsptool::failWith(error);
    printNotes(p[0], p[1], report);
    if (!dsptool::options().quiet || !report.toStdout) printSummary(report.toStdout ? stderr : stdout, p[0], p[1], report);
    if (dsptool::options().verbose) {
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr, "dsptool: %.3f s of audio in %.3f s\n", double(report.inFrames) / report.inRate, took);
    }
    return 0;
}

std::string baseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The batch output for an input: same name in the output folder; the extension replaced by
// --type, or by .wav when the input's is not one dsptool writes.
std::string batchOutput(const ProcessOptions& o, const std::string& in) {
    std::string name = baseName(in);
    if (!o.type.empty() || !dsptool::hasAudioExtension(name)) {
        const size_t dot = name.find_last_of('.');
        if (dot != std::string::npos && dot > 0) name.resize(dot);
        name += "." + (o.type.empty() ? std::string("wav") : o.type);
    }
    return o.outDir + "/" + name;
}

int runBatch(const ProcessOptions& o) {
    const std::vector<std::string>& inputs = o.positional;
    if (inputs.empty()) return dsptool::failWith("process: -o DIR needs input files: process -o DIR IN... [-- EFFECTS]");
    std::string error;
    {
        std::vector<dsptool::ListedEffect> check;  // refuse a bad effect list before any work
        if (!dsptool::parseEffectList(o.effectWords, check, error)) return dsptool::failWith(error);
    }
    std::vector<std::string> outputs;
    for (const std::string& in : inputs) {
        if (in == "-") return dsptool::failWith("process: stdin cannot be one of several inputs");
        outputs.push_back(batchOutput(o, in));
        for (size_t k = 0; k + 1 < outputs.size(); ++k)
            if (outputs[k] == outputs.back())
                return dsptool::failWith("process: '" + inputs[k] + "' and '" + in + "' would both write '" +
                                         outputs.back() + "'");
        if (!dsptool::checkOutputName(outputs.back(), o.bits, error)) return dsptool::failWith(error);
    }
    struct stat st {};
    if (::stat(o.outDir.c_str(), &st) != 0 && !dsptool::makeDirectory(o.outDir))
        return dsptool::failWith("cannot create folder '" + o.outDir + "'");
    if (::stat(o.outDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return dsptool::failWith("'" + o.outDir + "' is not a folder");

    // Seconds of audio for the progress line: every input's length and rate, read up front.
    double totalSeconds = 0;
    for (const std::string& in : inputs) {
        dsptool::AudioInput probe;
        std::string ignored;  // a file that cannot be opened fails again, with its message, below
        if (probe.open(in, ignored, 2)) totalSeconds += double(probe.frames()) / probe.rate();
    }
    const uint32_t jobs = std::max<uint32_t>(
        1, std::min<uint32_t>(o.jobs != 0 ? o.jobs : std::max(1u, std::thread::hardware_concurrency()),
                              uint32_t(inputs.size())));
    std::atomic<size_t> next{0}, finished{0}, failed{0};
    std::atomic<double> seconds{0};
    std::mutex printing;
    const bool meter = !dsptool::options().quiet && ::isatty(STDERR_FILENO) != 0;
    dsptool::InterruptGuard interruptible;  // one Ctrl-C stops the whole batch
    auto worker = [&] {
        for (size_t i; !dsptool::InterruptGuard::interrupted() && (i = next++) < inputs.size();) {
            std::vector<dsptool::ListedEffect> effects;
            std::string problem;
            dsptool::ProcessReport report;
            dsptool::ProcessSettings settings;
            settings.bits = o.bits;
            uint32_t rate = 0;
            settings.onFrames = [&](uint64_t frames) {
                if (rate == 0) rate = report.inRate;
                double now = seconds.load();
                while (!seconds.compare_exchange_weak(now, now + double(frames) / rate)) {}
            };
            const bool ok = dsptool::parseEffectList(o.effectWords, effects, problem) &&
                            dsptool::processFile(inputs[i], outputs[i], effects, settings, report, problem);
            std::lock_guard<std::mutex> hold(printing);
            if (meter) std::fprintf(stderr, "\r\033[K");  // the progress line makes way
            if (!ok) {
                ++failed;
                std::fprintf(stderr, "dsptool: %s: %s\n", inputs[i].c_str(), problem.c_str());
            } else {
                printNotes(inputs[i], outputs[i], report);
                printSummary(stdout, inputs[i], outputs[i], report);
                std::fflush(stdout);
            }
            ++finished;
        }
    };
    std::vector<std::thread> threads;
    for (uint32_t t = 0; t < jobs; ++t) threads.emplace_back(worker);
    while (meter && finished < inputs.size() && !dsptool::InterruptGuard::interrupted()) {
        {
            std::lock_guard<std::mutex> hold(printing);
            std::fprintf(stderr, "\r\033[Kprocessing: %zu of %zu files, %.1f of %.1f s of audio", finished.load(),
                         inputs.size(), seconds.load(), totalSeconds);
            std::fflush(stderr);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (std::thread& t : threads) t.join();
    if (meter) std::fprintf(stderr, "\r\033[K");
    if (dsptool::InterruptGuard::interrupted()) return dsptool::failWith("interrupted");
    if (failed != 0)
        return dsptool::failWith(std::to_string(failed.load()) + " of " + std::to_string(inputs.size()) +
                                 " files failed");
    if (!dsptool::options().quiet)
        std::fprintf(stderr, "dsptool: %zu files, %.1f s of audio, written to %s/ (%u jobs)\n", inputs.size(),
                     seconds.load(), o.outDir.c_str(), jobs);
    return 0;
}

int runProcess(const std::vector<std::string>& args) {
    ProcessOptions o;
    std::string error;
    if (!parseOptions(args, o, error)) return dsptool::failWith(error);
    if (o.outDir.empty()) {
        if (o.jobs != 0 || !o.type.empty()) return dsptool::failWith("process: --jobs and --type need -o DIR");
        return runSingle(o);
    }
    return runBatch(o);
}

const dsptool::Registration processCommand(dsptool::CommandInfo{
    "process", "process [OPTIONS] IN OUT [EFFECT [ARGS...]]...\n"
               "  or: process -o DIR [--jobs N] [--type EXT] [OPTIONS] IN... [-- EFFECT [ARGS...]...]",
    "      streams an audio file through the effects in the order given, each effect word followed\n"
    "      by its arguments (a word naming an effect starts the next one), and writes the result\n"
    "      at the rate and channel count the chain ends with. No effect: a plain copy.\n"
    "      Inputs: 16-bit PCM WAVE through the library's reader; with libsndfile also 8/24/32-bit\n"
    "      and float WAVE, AIFF, FLAC, Ogg Vorbis/Opus..., reduced to 16 bits with TPDF dither when\n"
    "      they have more (said on stderr). - reads stdin. Mono or stereo: more channels need\n"
    "      `channels 2` (or 1) first in the effect list.\n"
    "      Outputs by extension: .wav (none: WAVE too), .flac, .aiff/.aif, .ogg (Vorbis), 16-bit\n"
    "      unless -b/--bits 24|32; 16-bit WAVE goes through the library's writer. A file is\n"
    "      written under a temporary name and renamed over OUT when complete (an existing OUT\n"
    "      keeps its mode and survives a failure; a symbolic link is followed). Devices, FIFOs\n"
    "      and - (stdout) are written directly; a WAVE stream there that cannot seek back has\n"
    "      0xFFFFFFFF as its RIFF and data sizes (length unknown: read to the end).\n"
    "      Output samples at full scale are counted: \"N samples clipped\" on stderr.\n"
    "      Batch: -o DIR writes DIR/NAME for every input (DIR is created; --type flac changes the\n"
    "      extension), --jobs N files at once (default: every core). A failing file reports its\n"
    "      error and the others go on; the exit status is then 1. Progress counts files and\n"
    "      seconds of audio.\n"
    "      Options may also be written --name=value. Progress on stderr when it is a terminal.\n"
    "      example: dsptool process in.flac out.wav lowpass 3k fade 0.5 1 gain -3",
    runProcess});

}  // namespace
