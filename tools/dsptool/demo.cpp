// dsptool demo: synthesises a stereo test signal, times the processor variants on it, writes it
// as a WAVE file and then a processed version for every effect that offers demo arguments,
// through the same streaming path as `dsptool process`.
#include <sys/stat.h>
#if defined(_WIN32)
#include <direct.h>
#define mkdir(path, mode) _mkdir(path)  // Windows has no permission bits to give
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

#include "analysis_report.h"
#include "registry.h"
#include "wave_process.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kBlock = 4096;
constexpr double kTwoPi = 6.283185307179586;

// Six seconds of stereo: plucked notes (a few harmonics, decaying) on a slow arpeggio, panned
// apart, with short noise ticks every half second for the onset and transient effects.
std::vector<int16_t> synthesise(double seconds) {
    const uint32_t frames = uint32_t(seconds * kRate);
    std::vector<int16_t> pcm(2 * size_t{frames});
    const double notes[] = {220.0, 277.18, 329.63, 440.0, 329.63, 277.18, 246.94, 293.66};
    const double noteLength = 0.75;
    uint32_t noise = 12345;
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = double(i) / kRate;
        const int note = int(t / noteLength);
        const double age = t - note * noteLength;
        const double f = notes[note % 8];
        const double envelope = std::exp(-3.0 * age) * std::min(1.0, age * 200.0);
        double tone = 0.0;
        for (int h = 1; h <= 6; ++h) tone += std::sin(kTwoPi * f * h * t) / (h * h);
        const double pad = 0.12 * std::sin(kTwoPi * 110.0 * t) * (0.6 + 0.4 * std::sin(kTwoPi * 0.25 * t));
        const double tickAge = std::fmod(t, 0.5);
        noise = noise * 1664525u + 1013904223u;
        const double tick = tickAge < 0.02 ? 0.25 * (double(noise >> 8) / 8388608.0 - 1.0) * (1.0 - tickAge / 0.02) : 0.0;
        const double left = 0.32 * envelope * tone + pad + tick;
        const double right = 0.22 * envelope * tone + 0.8 * pad + tick;
        pcm[2 * size_t{i}] = int16_t(std::lround(std::clamp(left, -1.0, 1.0) * 32767.0));
        pcm[2 * size_t{i} + 1] = int16_t(std::lround(std::clamp(right, -1.0, 1.0) * 32767.0));
    }
    return pcm;
}

struct Variant {
    const char* name;
    bool mmx, amd3dnow, sse;
};

// Pushes the signal through a chain holding one -3 dB fader under each variant, so that both
// conversions run and their rounding differences show.
void variantTable(const std::vector<int16_t>& input) {
    const uint32_t frames = uint32_t(input.size() / 2);
    const Variant variants[] = {{"reference", false, false, false},
                                {"mmx", true, false, false},
                                {"3dnow", false, true, false},
                                {"sse", false, false, true}};
    std::vector<int16_t> referenceOut;
    std::printf("conversion variants (chain with a -3 dB fader, %u frames):\n", frames);
    std::printf("  %-10s %14s %10s %12s\n", "variant", "frames/s", "x realtime", "max |diff|");
    for (const Variant& variant : variants) {
        dspEnableMmx(variant.mmx);
        dspEnable3dnow(variant.amd3dnow);
        dspEnableSse(variant.sse);
        dsp_chain* chain = dspCreate(kBlock, 2, kRate);
        dspAdd(chain, initFader(kBlock, 2, kRate, 0.0f, -3.0f, 0.0f), 0);
        std::vector<int16_t> output(input.size());
        const auto start = std::chrono::steady_clock::now();
        for (uint32_t at = 0; at < frames; at += kBlock) {
            const uint32_t n = std::min(kBlock, frames - at);
            dspSend(chain, &input[2 * size_t{at}], &output[2 * size_t{at}], n * 4);
        }
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        dspDestroy(chain);
        int maxDiff = 0;
        if (referenceOut.empty()) referenceOut = output;
        for (size_t i = 0; i < output.size(); ++i) maxDiff = std::max(maxDiff, std::abs(output[i] - referenceOut[i]));
        const double fps = frames / std::max(seconds, 1e-9);
        std::printf("  %-10s %14.0f %10.0f %12d\n", variant.name, fps, fps / kRate, maxDiff);
    }
    dspEnableMmx(false);
    dspEnable3dnow(false);
    dspEnableSse(false);
}

// mkdir -p.
bool makeDirectories(const std::string& path, std::string& error) {
    for (size_t at = 1; at <= path.size(); ++at) {
        if (at < path.size() && path[at] != '/') continue;
        const std::string prefix = path.substr(0, at);
        if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
            error = "cannot create directory '" + prefix + "': " + std::strerror(errno);
            return false;
        }
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        error = "'" + path + "' is not a directory";
        return false;
    }
    return true;
}

std::vector<std::string> splitWords(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

int runDemo(const std::vector<std::string>& args) {
    std::string outDir = "demo-out";
    for (size_t i = 0; i < args.size(); ++i) {
        if ((args[i] == "-o" || args[i] == "--out") && i + 1 < args.size()) {
            outDir = args[++i];
        } else {
            return dsptool::failWith("demo: unexpected argument '" + args[i] + "' (usage: demo [-o DIR])");
        }
    }
    while (outDir.size() > 1 && outDir.back() == '/') outDir.pop_back();
    std::string error;
    if (!makeDirectories(outDir, error)) return dsptool::failWith(error);

    const std::vector<int16_t> input = synthesise(6.0);
    variantTable(input);

    const std::string inputPath = outDir + "/input.wav";
    if (!dsptool::writeWaveFile(inputPath, input, 2, kRate, error)) return dsptool::failWith(error);
    std::printf("\nsynthesised input: %s (stereo, %u Hz, 6 s)\n", inputPath.c_str(), kRate);
    std::printf("effects (each file is `dsptool process %s OUT.wav EFFECT ARGS...`):\n", inputPath.c_str());
    int failures = 0;
    int written = 0;
    for (const dsptool::EffectInfo& info : dsptool::effects()) {
        if (info.demoArgs.empty()) continue;
        std::vector<std::string> words = splitWords(info.demoArgs);
        words.insert(words.begin(), info.name);
        std::vector<dsptool::ListedEffect> effects;
        const std::string outPath = outDir + "/" + info.name + ".wav";
        dsptool::ProcessReport report;
        if (!dsptool::parseEffectList(words, effects, error) ||
            !dsptool::processFile(inputPath, outPath, effects, dsptool::ProcessSettings{}, report, error)) {
            std::fprintf(stderr, "dsptool: demo: %s %s: %s\n", info.name.c_str(), info.demoArgs.c_str(), error.c_str());
            ++failures;
            continue;
        }
        ++written;
        std::printf("  %-28s -> %s (%u ch, %u Hz, %.2f s)\n", (info.name + " " + info.demoArgs).c_str(), outPath.c_str(),
                    report.outChannels, report.outRate, double(report.outFrames) / report.outRate);
    }
    // The analysis report of the input, beside the directory.
    const std::string reportPath = outDir + "-analysis.html";
    dsptool::ClipSource source("demo input", kRate, 2, input);
    const int reportStatus = dsptool::writeDemoReport(source, reportPath);
    std::printf("\n%d processed file%s and the input are in %s/", written, written == 1 ? "" : "s", outDir.c_str());
    if (reportStatus == 0) std::printf(", the analysis report of the input is %s", reportPath.c_str());
    std::printf("\n");
    return failures == 0 && reportStatus == 0 ? 0 : 1;
}

const dsptool::Registration demoCommand(dsptool::CommandInfo{
    "demo", "demo [-o DIR]",
    "      synthesises a stereo test signal, times the conversion variants on it, and writes it\n"
    "      to DIR/input.wav (default demo-out/) with one processed file DIR/EFFECT.wav for every\n"
    "      effect below, made with that effect's demo arguments; the analysis report of the input\n"
    "      goes to DIR-analysis.html, beside the directory",
    runDemo});

}  // namespace
