// dsptool's audio analysis and its self-contained HTML report (waveform, spectrogram,
// long-term spectrum), plus CSV/JSON exports of the spectra.
//
// Further analyses plug in without touching this code: a file registers an AnalysisStep with a
// static AnalysisStepRegistration; each step runs after the spectra are computed and may add
// curves and markers drawn over the waveform, and sections of its own to the report.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace dsptool {

// Interleaved 16-bit PCM held in memory.
struct AudioClip {
    std::string name;  // shown in the report title
    uint32_t rate = 44100;
    uint32_t channels = 2;
    std::vector<int16_t> pcm;
    uint64_t frames() const { return channels ? pcm.size() / channels : 0; }
};

struct AnalyzeOptions {
    uint32_t block = 1024;    // frames per analysis call: the hop between spectra
    uint32_t fftSize = 4096;  // transform length (power of two, 4..16384)
    uint32_t history = 0;     // sliding history in samples; 0 = fftSize
    std::string htmlPath;     // report; empty = none
    std::string csvPath;      // long-term spectrum as CSV; "-" = stdout; empty = none
    std::string jsonPath;     // every spectrum as JSON; "-" = stdout; empty = none
    std::string envelopeCsvPath;  // envelope curves as CSV; "-" = stdout; empty = none
    bool printSlices = false;     // onset slices as a table on stdout
};

// A curve over the waveform, e.g. an amplitude envelope: `values` are linear amplitudes
// (full scale 1.0), one every secondsPerPoint, drawn mirrored in lane `channel`.
struct TimeCurve {
    std::string name;
    std::string color = "#d62728";
    uint32_t channel = 0;
    double secondsPerPoint = 0.01;
    std::vector<float> values;
};

// A point or span in time (end < 0 for a point), e.g. an onset slice.
struct TimeMarker {
    double start = 0.0;
    double end = -1.0;
    std::string label;
};

// A block of the report, placed after the built-in pictures. `html` is trusted markup.
struct ReportSection {
    std::string id;
    std::string title;
    std::string html;
};

struct AnalysisResults {
    std::string name;
    uint32_t rate = 0;
    uint32_t channels = 0;
    uint64_t frames = 0;
    uint32_t fftSize = 0;
    uint32_t hop = 0;
    uint32_t history = 0;
    double peakDbfs = -200.0;  // per whole clip, all channels
    double rmsDbfs = -200.0;
    // Waveform: per channel, per picture column, the smallest and largest sample (full scale 1).
    std::vector<std::vector<float>> waveMin, waveMax;
    // Short-time spectra in dBFS (a full-scale sine on a bin reads 0), spectrum count x channels
    // x fftSize/2, flattened; spectrum s covers the input up to (s + 1) * hop frames.
    uint32_t spectrumCount = 0;
    std::vector<float> spectra;
    // Long-term spectrum per channel: the power average of all spectra, in dBFS.
    std::vector<std::vector<float>> longTermDb;
    // Filled by registered steps.
    std::vector<TimeCurve> curves;
    std::vector<TimeMarker> markers;
    std::vector<ReportSection> sections;

    const float* spectrum(uint32_t index, uint32_t channel) const {
        return spectra.data() + (size_t(index) * channels + channel) * (fftSize / 2);
    }
};

using AnalysisStep = std::function<void(const AudioClip&, const AnalyzeOptions&, AnalysisResults&)>;

struct AnalysisStepRegistration {
    AnalysisStepRegistration(std::string name, AnalysisStep step);
};

// Checks the options; an empty string when they are usable, else the reason.
std::string checkAnalyzeOptions(const AnalyzeOptions& options);

// Runs the spectra and every registered step. False with `error` set when the library refuses.
bool analyseClip(const AudioClip& clip, const AnalyzeOptions& options, AnalysisResults& results,
                 std::string& error);

std::string renderHtmlReport(const AnalysisResults& results);
std::string longTermCsv(const AnalysisResults& results);
std::string spectraJson(const AnalysisResults& results);

// Analyses the clip and writes whatever outputs the options name; prints the paths written
// unless quiet. Returns the process exit status.
int writeAnalysisOutputs(const AudioClip& clip, const AnalyzeOptions& options);

// The demo's report: the clip analysed with the default options into `path`.
int writeDemoReport(const AudioClip& clip, const std::string& path = "dsptool-demo-analysis.html");

}  // namespace dsptool
