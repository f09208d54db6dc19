// dsptool process IN.wav OUT.wav EFFECT [ARGS...]...: runs a WAVE file through an effect list.
#include <cstdio>

#include "registry.h"
#include "wave_process.h"

namespace {

int runProcess(const std::vector<std::string>& args) {
    if (args.size() < 2) return dsptool::failWith("process: needs IN.wav OUT.wav [EFFECT [ARGS...]]... (see dsptool --help)");
    const std::vector<std::string> words(args.begin() + 2, args.end());
    std::vector<dsptool::ListedEffect> effects;
    std::string error;
    if (!dsptool::parseEffectList(words, effects, error)) return dsptool::failWith(error);
    dsptool::ProcessReport report;
    if (!dsptool::processFile(args[0], args[1], effects, !dsptool::options().quiet, report, error)) {
        return dsptool::failWith(error);
    }
    // A data chunk cut short by the end of the file is processed as far as it goes, with a warning.
    if (report.inFrames < report.declaredFrames) {
        std::fprintf(stderr, "dsptool: warning: '%s' is truncated: %llu of %llu frames present\n", args[0].c_str(),
                     static_cast<unsigned long long>(report.inFrames),
                     static_cast<unsigned long long>(report.declaredFrames));
    }
    std::printf("%s: %u ch %u Hz, %llu frames (%.3f s) -> %s: %u ch %u Hz, %llu frames (%.3f s)\n", args[0].c_str(),
                report.inChannels, report.inRate, static_cast<unsigned long long>(report.inFrames),
                double(report.inFrames) / report.inRate, args[1].c_str(), report.outChannels, report.outRate,
                static_cast<unsigned long long>(report.outFrames), double(report.outFrames) / report.outRate);
    return 0;
}

const dsptool::Registration processCommand(dsptool::CommandInfo{
    "process", "process IN.wav OUT.wav [EFFECT [ARGS...]]...",
    "      streams a 16-bit PCM WAVE file (mono or stereo) through the effects in the order given,\n"
    "      each effect word followed by its arguments (a word naming an effect starts the next\n"
    "      one), and writes the result as a WAVE file at the rate and channel count the chain ends\n"
    "      with. No effect: a plain copy of the samples. OUT.wav appears only when complete; a\n"
    "      progress figure shows on stderr when it is a terminal.\n"
    "      example: dsptool process in.wav out.wav lowpass 3000 fade 0.5 1 gain -3",
    runProcess});

}  // namespace
