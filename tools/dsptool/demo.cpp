// dsptool demo: synthesises a stereo test signal and pushes it through a chain under each
// processor variant, reporting throughput and the largest difference from the reference.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "analysis_report.h"
#include "registry.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kBlock = 4096;

std::vector<int16_t> synthesise(uint32_t seconds) {
    const uint32_t frames = seconds * kRate;
    std::vector<int16_t> pcm(2 * size_t{frames});
    const double twoPi = 6.283185307179586;
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = double(i) / kRate;
        const double left = 0.5 * std::sin(twoPi * 440.0 * t) + 0.25 * std::sin(twoPi * 3520.0 * t);
        const double right = 0.6 * std::sin(twoPi * 660.0 * t) * (0.5 + 0.5 * std::sin(twoPi * 0.5 * t));
        pcm[2 * size_t{i}] = int16_t(std::lround(left * 32767.0));
        pcm[2 * size_t{i} + 1] = int16_t(std::lround(right * 32767.0));
    }
    return pcm;
}

struct Variant {
    const char* name;
    bool mmx, amd3dnow, sse;
};

int runDemo(const std::vector<std::string>&) {
    const std::vector<int16_t> input = synthesise(5);
    const uint32_t frames = uint32_t(input.size() / 2);
    const Variant variants[] = {{"reference", false, false, false},
                                {"mmx", true, false, false},
                                {"3dnow", false, true, false},
                                {"sse", false, false, true}};
    std::vector<int16_t> referenceOut;
    std::printf("%-10s %14s %10s %12s\n", "variant", "frames/s", "x realtime", "max |diff|");
    for (const Variant& variant : variants) {
        dspEnableMmx(variant.mmx);
        dspEnable3dnow(variant.amd3dnow);
        dspEnableSse(variant.sse);
        dsp_chain* chain = dspCreate(kBlock, 2, kRate);
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
        std::printf("%-10s %14.0f %10.0f %12d\n", variant.name, fps, fps / kRate, maxDiff);
    }
    dspEnableMmx(false);
    dspEnable3dnow(false);
    dspEnableSse(false);
    return dsptool::writeDemoReport(dsptool::AudioClip{"demo input", kRate, 2, input});
}

const dsptool::Registration demoCommand(dsptool::CommandInfo{
    "demo", "demo", "      synthesise a stereo test signal and run it through the library", runDemo});

}  // namespace
