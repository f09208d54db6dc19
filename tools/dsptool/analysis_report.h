// dsptool's audio analysis and its self-contained HTML report (waveform, spectrogram,
// long-term spectrum), plus CSV/JSON exports of the spectra.
//
// The input streams through block by block, so memory does not grow with its length: what the
// report draws is decimated as it arrives, and exports that grow with the length (every
// spectrum, the envelope) are written as they are computed.
//
// Further analyses plug in without touching this code: a file registers a factory of
// AnalysisStep objects with a static AnalysisStepRegistration; each step sees every block (and,
// when it asks, the whole input once before) and at the end may add curves and markers drawn
// over the waveform, and sections of its own to the report.
#pragma once
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio_io.h"

namespace dsptool {

// Interleaved 16-bit PCM, mono or stereo, read block by block.
class AudioSource {
public:
    virtual ~AudioSource() = default;
    // Up to `frames` frames into `pcm`: the frames read, 0 at the end, -1 on a read error.
    virtual int64_t read(int16_t* pcm, uint32_t frames, std::string& error) = 0;
    // Back to the first frame for another pass.
    virtual bool rewind(std::string& error) = 0;
    std::string name;         // shown in the report title
    std::string description;  // the format as stored, e.g. "16-bit PCM WAVE"
    uint32_t rate = 0;
    uint32_t channels = 0;
    uint64_t frames = 0;      // expected length (progress); the stream may end sooner
};

// A clip held in memory (the demo's input).
class ClipSource : public AudioSource {
public:
    ClipSource(std::string clipName, uint32_t clipRate, uint32_t clipChannels, const std::vector<int16_t>& clipPcm);
    int64_t read(int16_t* pcm, uint32_t frames, std::string& error) override;
    bool rewind(std::string& error) override;

private:
    const std::vector<int16_t>& pcm_;
    uint64_t at_ = 0;
};

struct AnalyzeOptions {
    uint32_t block = 1024;    // frames per analysis call: the hop between spectra
    uint32_t fftSize = 4096;  // transform length (power of two, 4..16384)
    uint32_t history = 0;     // sliding history in samples; 0 = fftSize
    std::string htmlPath;     // report; empty = none
    std::string csvPath;      // long-term spectrum as CSV; "-" = stdout; empty = none
    std::string jsonPath;     // spectra, spectrogram and slices as JSON; "-" = stdout; empty = none
    bool everySpectrum = false;   // the JSON also holds every short-time spectrum
    std::string envelopeCsvPath;  // envelope curves as CSV; "-" = stdout; empty = none
    std::string slicesCsvPath;    // onset slices as CSV; "-" = stdout; empty = none
    bool printSlices = false;     // onset slices as a table on stdout
    bool progress = false;        // a percentage on stderr when it is a terminal
};

// A text output named on the command line, written where OutputPlace says ("-" is stdout) and
// completed by commit(), so an existing file survives a failed run.
class TextOutput {
public:
    TextOutput() = default;
    TextOutput(const TextOutput&) = delete;
    TextOutput& operator=(const TextOutput&) = delete;
    bool open(const std::string& path, std::string& error);
    std::ostream& stream() { return direct_ ? *direct_ : file_; }
    bool commit(std::string& error);
    const std::string& path() const { return path_; }

private:
    std::string path_;
    OutputPlace place_;   // declared before file_: the file closes before its temporary name goes
    std::ofstream file_;
    std::ostream* direct_ = nullptr;
};

// Commits `output` and, unless quiet, says on stderr where `what` went.
bool commitOutput(TextOutput& output, const char* what, std::string& error);

// Items of `width` values each, kept as at most `capacity` points merged by their maximum:
// each point holds itemsPerPoint() items, and when every point is taken, neighbours merge in
// pairs (itemsPerPoint doubles). A stream of any length so ends with at most `capacity`
// points, and at least half as many once it is longer than that.
class MaxSeries {
public:
    MaxSeries(uint32_t width, uint32_t capacity);
    void add(const float* values);
    uint32_t width() const { return width_; }
    uint32_t points() const { return uint32_t((items_ + per_ - 1) / per_); }
    uint64_t itemsPerPoint() const { return per_; }
    uint64_t items() const { return items_; }
    const float* point(uint32_t index) const { return &data_[size_t(index) * width_]; }

private:
    uint32_t width_, capacity_;
    uint64_t per_ = 1, items_ = 0;
    std::vector<float> data_;
};

// A curve over the waveform, e.g. an amplitude envelope: `values` are linear amplitudes
// (full scale 1.0), each the peak over secondsPerPoint, drawn mirrored in lane `channel`.
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

constexpr uint32_t kWaveformPoints = 2048;    // waveform and curves: at most this many columns
constexpr uint32_t kSpectrogramPoints = 1024; // spectrogram: at most this many columns
constexpr uint32_t kSpectrumRows = 256;       // spectrogram rows (log-spaced frequencies)

struct AnalysisResults {
    std::string name;
    std::string description;
    uint32_t rate = 0;
    uint32_t channels = 0;
    uint64_t frames = 0;
    uint32_t fftSize = 0;
    uint32_t hop = 0;
    uint32_t history = 0;
    double peak = 0.0;        // largest magnitude, full scale 1, all channels
    double meanSquare = 0.0;  // over all samples of all channels
    // Waveform: per point (a run of frames), for each channel minus the least and the largest
    // sample (full scale 1): so one maximum merges both.
    MaxSeries waveform{4, kWaveformPoints};
    // Spectrogram: per point (a run of spectra), the rows' levels in dBFS from the highest
    // frequency down, channels averaged in power; spectrum s covers the input up to (s + 1) * hop.
    MaxSeries spectrogram{kSpectrumRows, kSpectrogramPoints};
    uint64_t spectrumCount = 0;
    // Long-term spectrum per channel: the power average of all spectra, in dBFS.
    std::vector<std::vector<float>> longTermDb;
    // Filled by registered steps.
    std::vector<TimeCurve> curves;
    std::vector<TimeMarker> markers;
    std::vector<ReportSection> sections;
    std::string markerNote;  // why there are no markers, or how they were found
};

class AnalysisStep {
public:
    virtual ~AnalysisStep() = default;
    // True to be shown the whole input once (measure) before the main pass (feed).
    virtual bool wantsFirstPass() const { return false; }
    virtual void measure(const int16_t* /*pcm*/, uint32_t /*frames*/) {}
    virtual void feed(const int16_t* pcm, uint32_t frames) = 0;
    // False with `error` set when an output of the step cannot be written.
    virtual bool finish(AnalysisResults& results, std::string& error) = 0;
};

// Makes a step for an input; nullptr with `error` set when it cannot (e.g. an output of its
// own does not open).
using AnalysisStepFactory =
    std::function<std::unique_ptr<AnalysisStep>(const AudioSource&, const AnalyzeOptions&, std::string& error)>;

struct AnalysisStepRegistration {
    explicit AnalysisStepRegistration(AnalysisStepFactory factory);
};

// Checks the options; an empty string when they are usable, else the reason.
std::string checkAnalyzeOptions(const AnalyzeOptions& options);

// "-12.3 dBFS", or "silent" for no signal at all.
std::string levelText(double linear);

std::string renderHtmlReport(const AnalysisResults& results);

// Analyses the source and writes whatever outputs the options name; prints the paths written
// unless quiet. Returns the process exit status.
int writeAnalysisOutputs(AudioSource& source, const AnalyzeOptions& options);

// The demo's report: the clip analysed with the default options into `path`.
int writeDemoReport(AudioSource& source, const std::string& path = "dsptool-demo-analysis.html");

}  // namespace dsptool
