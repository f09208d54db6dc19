#include "analysis_onsets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <sstream>

#include "analysis_report.h"
#include "dsp.h"

namespace dsptool {

OnsetSettings& onsetSettings() {
    static OnsetSettings settings;
    return settings;
}

const char* const kOnsetOptionsHelp =
    "      --on-db DB    onset level of the slicer's envelope, dB (default -36)\n"
    "      --off-db DB   level below which a slice ends, dB (default -48)\n"
    "      --rise PCT    least rise above the last valley, percent of full envelope (default 10)\n"
    "      --min-length S  shortest slice, seconds (default 0.05)";

bool parseOnsetOption(const std::vector<std::string>& args, size_t& i, std::string& error) {
    const std::string& name = args[i];
    float* field = name == "--on-db"        ? &onsetSettings().onDb
                   : name == "--off-db"     ? &onsetSettings().offDb
                   : name == "--rise"       ? &onsetSettings().risePercent
                   : name == "--min-length" ? &onsetSettings().minLengthSec
                                            : nullptr;
    if (field == nullptr) return false;
    char* end = nullptr;
    const char* text = i + 1 < args.size() ? args[i + 1].c_str() : "";
    const double value = std::strtod(text, &end);
    if (*text == '\0' || *end != '\0' || !std::isfinite(value) || std::fabs(value) > 1e6 ||
        (name != "--on-db" && name != "--off-db" && value < 0)) {
        error = name + " needs a number" + (name == "--rise" || name == "--min-length" ? " >= 0" : "");
        return true;
    }
    *field = float(value);
    i += 1;
    return true;
}

std::string sliceTable(const AnalysisResults& results) {
    std::ostringstream text;
    text.setf(std::ios::fixed);
    text.precision(3);
    text << "onset slices: " << results.markers.size() << "\n";
    if (results.markers.empty()) return text.str();
    text << "      #    start (s)      end (s)   length (s)\n";
    for (size_t i = 0; i < results.markers.size(); ++i) {
        const TimeMarker& m = results.markers[i];
        text.width(7);
        text << i + 1;
        for (double value : {m.start, m.end, m.end - m.start}) {
            text << ' ';
            text.width(12);
            text << value;
        }
        text << "\n";
    }
    return text.str();
}

std::string envelopeCsv(const AnalysisResults& results) {
    std::ostringstream csv;
    csv << "time_s";
    size_t points = 0;
    for (const TimeCurve& curve : results.curves) {
        csv << ',' << curve.name;
        points = std::max(points, curve.values.size());
    }
    csv << "\n";
    const double step = results.curves.empty() ? 0.0 : results.curves.front().secondsPerPoint;
    csv.precision(6);
    for (size_t i = 0; i < points; ++i) {
        csv << double(i + 1) * step;
        for (const TimeCurve& curve : results.curves) csv << ',' << (i < curve.values.size() ? curve.values[i] : 0.0f);
        csv << "\n";
    }
    return csv.str();
}

namespace {

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kSlicerRate = 48000;   // the slicer's 20 kHz lowpass needs more than 40 kHz
constexpr double kCurveSeconds = 0.005;   // one envelope point per 5 ms (the peak within it)
// A steep converter filter keeps the passband up to 0.8 of the file's Nyquist frequency, where
// the slicer's 2 kHz highpass looks for onsets.
constexpr float kSlopeDbPerOctave = 240.0f;

// The envelope of each channel as a linear level (mean absolute value: the follower's output
// without its gain of 2.5), one point every kCurveSeconds.
void addEnvelopes(const AudioClip& clip, AnalysisResults& results) {
    dsp_effect* follower = initEnvAnalyze(kBlock, clip.channels, clip.rate);
    if (follower == nullptr) return;
    const uint64_t frames = clip.frames();
    const uint32_t perPoint = std::max<uint32_t>(1, uint32_t(kCurveSeconds * clip.rate));
    std::vector<TimeCurve> curves(clip.channels);
    for (uint32_t c = 0; c < clip.channels; ++c) {
        curves[c].name = clip.channels == 2 ? (c == 0 ? "envelope (left)" : "envelope (right)") : "envelope";
        curves[c].channel = c;
        curves[c].color = "#d62728";
        curves[c].secondsPerPoint = double(perPoint) / clip.rate;
        curves[c].values.reserve(size_t(frames / perPoint + 1));
    }
    std::vector<float> out(2 * size_t{kBlock});
    std::vector<float> peak(clip.channels, 0.0f);
    uint64_t inPoint = 0;
    for (uint64_t at = 0; at < frames; at += kBlock) {
        const uint32_t n = uint32_t(std::min<uint64_t>(kBlock, frames - at));
        doEnvAnalyze(follower, &clip.pcm[size_t(at) * clip.channels], out.data(), n * 2 * clip.channels);
        for (uint32_t i = 0; i < n; ++i) {
            for (uint32_t c = 0; c < clip.channels; ++c)
                peak[c] = std::max(peak[c], out[size_t(c) * n + i] / (2.5f * 32767.0f));
            if (++inPoint == perPoint) {
                for (uint32_t c = 0; c < clip.channels; ++c) {
                    curves[c].values.push_back(peak[c]);
                    peak[c] = 0.0f;
                }
                inPoint = 0;
            }
        }
    }
    termEnvAnalyze(follower);
    for (TimeCurve& curve : curves) results.curves.push_back(std::move(curve));
}

// Onset slices of the mono mix; clips at 40 kHz or below are brought to 48 kHz first with the
// library's resampler (cubic, filtered), so the slicer is never handed a rate it cannot take.
std::vector<TimeMarker> findSlices(const AudioClip& clip, std::string& note) {
    std::vector<TimeMarker> slices;
    const bool resample = clip.rate <= 40000;
    dsp_effect* resampler = nullptr;
    uint32_t block = kBlock;
    uint32_t slicerBlock = kBlock;
    if (resample) {
        // Each block is converted on its own grid with no remainder carried over: blocks that
        // convert to a whole number of frames keep the time base (and the signal) seamless.
        const uint32_t step = clip.rate / std::gcd(clip.rate, kSlicerRate);
        if (step <= kBlock) block = kBlock / step * step;
        resampler = initResampler(block, clip.channels, clip.channels, clip.rate, kSlicerRate, 1, 80.0f, kSlopeDbPerOctave, true);
        if (resampler == nullptr) return slices;
        slicerBlock = getResamplerDstSize(resampler, block);
        std::ostringstream text;
        text << "The clip (" << clip.rate << " Hz) was converted to " << kSlicerRate
             << " Hz with the library's resampler before slicing.";
        note = text.str();
    }
    const OnsetSettings& s = onsetSettings();
    dsp_effect* slicer = initWaveSlice(slicerBlock, clip.channels, resample ? kSlicerRate : clip.rate, s.onDb, s.offDb,
                                       s.risePercent, s.minLengthSec);
    if (slicer == nullptr) {
        if (resampler != nullptr) termResampler(resampler);
        return slices;
    }
    std::vector<int16_t> converted(size_t{slicerBlock} * clip.channels);
    const uint64_t frames = clip.frames();
    for (uint64_t at = 0; at < frames; at += block) {
        const uint32_t n = uint32_t(std::min<uint64_t>(block, frames - at));
        const int16_t* pcm = &clip.pcm[size_t(at) * clip.channels];
        uint32_t bytes = n * 2 * clip.channels;
        if (resampler != nullptr) {
            bytes = doResampler(resampler, pcm, converted.data(), bytes);
            pcm = converted.data();
        }
        doWaveSlice(slicer, pcm, bytes);
    }
    const DspSliceRecord* record = getWaveSlice(slicer, 0);
    for (uint32_t index = 1; record != nullptr; record = record->next, ++index) {
        TimeMarker marker;
        marker.start = record->startTime;
        marker.end = record->endTime;
        marker.label = "slice " + std::to_string(index);
        slices.push_back(marker);
    }
    termWaveSlice(slicer);
    if (resampler != nullptr) termResampler(resampler);
    return slices;
}

ReportSection sliceTable(const std::vector<TimeMarker>& slices, const std::string& note) {
    const OnsetSettings& s = onsetSettings();
    std::ostringstream html;
    html << "<p>Onsets of the mono mix, band-limited to 2&ndash;20 kHz: a slice starts at the envelope valley "
         << "before a rise of at least " << s.risePercent << "&nbsp;% that reaches " << s.onDb << "&nbsp;dB and ends "
         << "below " << s.offDb << "&nbsp;dB or at the next onset (at least " << s.minLengthSec << "&nbsp;s long). "
         << note << "</p>";
    if (slices.empty()) {
        html << "<p>No onsets found.</p>";
    } else {
        html.setf(std::ios::fixed);
        html.precision(3);
        html << "<table><thead><tr><th>#</th><th>start (s)</th><th>end (s)</th><th>length (s)</th></tr></thead><tbody>";
        for (size_t i = 0; i < slices.size(); ++i)
            html << "<tr><td>" << i + 1 << "</td><td>" << slices[i].start << "</td><td>" << slices[i].end << "</td><td>"
                 << slices[i].end - slices[i].start << "</td></tr>";
        html << "</tbody></table>";
    }
    return {"slices", "Onset slices (" + std::to_string(slices.size()) + ")", html.str()};
}

const AnalysisStepRegistration onsetStep("onsets", [](const AudioClip& clip, const AnalyzeOptions&,
                                                      AnalysisResults& results) {
    if (clip.frames() == 0) return;
    addEnvelopes(clip, results);
    std::string note;
    const std::vector<TimeMarker> slices = findSlices(clip, note);
    results.sections.push_back(sliceTable(slices, note));
    results.markers.insert(results.markers.end(), slices.begin(), slices.end());
});

}  // namespace
}  // namespace dsptool
