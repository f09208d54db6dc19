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
    "      --on-db DB    onset level of the slicer's envelope, dB re its peak (default -36)\n"
    "      --off-db DB   level below which a slice ends, dB re its peak (default -48)\n"
    "      --rise PCT    least rise above the last valley, percent of the peak (default 20)\n"
    "      --absolute-levels  the three above re an envelope of 1.0 (2.5 x the mean absolute level\n"
    "                    of the band), not the input's own peak; --rise then defaults to 10\n"
    "      --min-length S  shortest slice, seconds (default 0.05)";

bool parseOnsetOption(const std::vector<std::string>& args, size_t& i, std::string& error) {
    const std::string& name = args[i];
    if (name == "--absolute-levels") {
        onsetSettings().absolute = true;
        return true;
    }
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
    text << "onset slices: " << results.markers.size();
    if (results.markers.empty()) return text.str() + " (" + results.markerNote + ")\n";
    text << "\n      #    start (s)      end (s)   length (s)\n";
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

namespace {

constexpr uint32_t kBlock = 4096;
constexpr uint32_t kSlicerRate = 48000;   // the slicer's 20 kHz lowpass needs more than 40 kHz
constexpr double kCurveSeconds = 0.005;   // one envelope point per 5 ms (the peak within it)
constexpr double kBandLowHz = 2000.0;     // the slicer's band
// A steep converter filter keeps the passband up to 0.8 of the file's Nyquist frequency, where
// the slicer's 2 kHz highpass looks for onsets.
constexpr float kSlopeDbPerOctave = 240.0f;
constexpr double kPassband = 0.8;
// 16-bit rounding noise reads about -90 dB in the band: relative levels stay above it, and a
// band peaking below kQuietestPeakDb holds nothing worth slicing.
constexpr double kNoiseDb = -90.0;
constexpr double kQuietestPeakDb = -70.0;
// The first pass measures the band with the library's Chebyshev filters (1 dB down at the band
// edges), close enough to the slicer's own for a reference level.
constexpr int32_t kBandOrder = 8;

std::string number(double value, int decimals = 1) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

// The stream the slicer hears: the input re-blocked and, at 40 kHz or below, converted to 48 kHz
// with the library's resampler (cubic, filtered), so the slicer is never handed a rate it cannot
// take.
class SlicerInput {
public:
    SlicerInput(uint32_t rate, uint32_t channels) : channels_(channels) {
        if (rate > 40000) {
            rate_ = rate;
            block_ = outBlock_ = kBlock;
        } else {
            // Each block is converted on its own grid with no remainder carried over: blocks that
            // convert to a whole number of frames keep the time base (and the signal) seamless.
            const uint32_t step = rate / std::gcd(rate, kSlicerRate);
            block_ = step <= kBlock ? kBlock / step * step : kBlock;
            resampler_ = initResampler(block_, channels, channels, rate, kSlicerRate, 1, 80.0f, kSlopeDbPerOctave, true);
            rate_ = kSlicerRate;
            outBlock_ = resampler_ ? getResamplerDstSize(resampler_, block_) : 0;
            converted_.resize(size_t(outBlock_) * channels);
        }
        pending_.resize(size_t(block_) * channels);
    }
    ~SlicerInput() {
        if (resampler_ != nullptr) termResampler(resampler_);
    }
    SlicerInput(const SlicerInput&) = delete;
    SlicerInput& operator=(const SlicerInput&) = delete;

    bool ok() const { return outBlock_ > 0; }
    bool converts() const { return resampler_ != nullptr; }
    uint32_t rate() const { return rate_; }
    uint32_t block() const { return outBlock_; }  // most frames handed on at once

    template <typename Use>
    void push(const int16_t* pcm, uint32_t frames, Use&& use) {
        while (frames > 0) {
            const uint32_t n = std::min(frames, block_ - have_);
            std::copy_n(pcm, size_t(n) * channels_, &pending_[size_t(have_) * channels_]);
            have_ += n;
            pcm += size_t(n) * channels_;
            frames -= n;
            if (have_ == block_) deliver(use);
        }
    }
    template <typename Use>
    void flush(Use&& use) {
        if (have_ > 0) deliver(use);
    }

private:
    template <typename Use>
    void deliver(Use& use) {
        if (resampler_ != nullptr) {
            const uint32_t bytes = doResampler(resampler_, pending_.data(), converted_.data(), have_ * 2 * channels_);
            use(converted_.data(), bytes / (2 * channels_));
        } else {
            use(pending_.data(), have_);
        }
        have_ = 0;
    }

    uint32_t channels_;
    uint32_t rate_ = 0, block_ = 0, outBlock_ = 0, have_ = 0;
    dsp_effect* resampler_ = nullptr;
    std::vector<int16_t> pending_, converted_;
};

// The peak of the envelope the slicer follows: the mono mix, band-limited, through the library's
// envelope follower (which carries the slicer's gain of 2.5); 1.0 = 32767.
class BandPeak {
public:
    BandPeak(uint32_t rate, uint32_t block)
        : highpass_(initIirFilter(block, 1, rate, kBandOrder, float(kBandLowHz), 1)),
          lowpass_(initIirFilter(block, 1, rate, kBandOrder, 20000.0f, 0)), follower_(initEnvAnalyze(block, 1, rate)),
          mono_(block), envelope_(block) {}
    ~BandPeak() {
        if (highpass_) termIirFilter(highpass_);
        if (lowpass_) termIirFilter(lowpass_);
        if (follower_) termEnvAnalyze(follower_);
    }
    BandPeak(const BandPeak&) = delete;
    BandPeak& operator=(const BandPeak&) = delete;
    bool ok() const { return highpass_ && lowpass_ && follower_; }

    void add(const int16_t* pcm, uint32_t frames, uint32_t channels) {
        for (uint32_t i = 0; i < frames; ++i)
            mono_[i] = channels == 2 ? int16_t((pcm[2 * i] + pcm[2 * i + 1]) / 2) : pcm[i];
        doIirFilter(highpass_, mono_.data(), mono_.data(), frames * 2);
        doIirFilter(lowpass_, mono_.data(), mono_.data(), frames * 2);
        doEnvAnalyze(follower_, mono_.data(), envelope_.data(), frames * 2);
        for (uint32_t i = 0; i < frames; ++i) peak_ = std::max(peak_, envelope_[i]);
    }
    double level() const { return peak_ / 32767.0; }

private:
    dsp_effect* highpass_;
    dsp_effect* lowpass_;
    dsp_effect* follower_;
    std::vector<int16_t> mono_;
    std::vector<float> envelope_;
    float peak_ = 0.0f;
};

class OnsetStep : public AnalysisStep {
public:
    OnsetStep(const AudioSource& source, const AnalyzeOptions& options)
        : settings_(onsetSettings()), rate_(source.rate), channels_(source.channels),
          perPoint_(std::max<uint32_t>(1, uint32_t(kCurveSeconds * source.rate))), curves_(source.channels, kWaveformPoints),
          peakPoint_(source.channels, 0.0f), envelope_(size_t(kBlock) * source.channels),
          sliceCsvPath_(options.slicesCsvPath), envelopeCsvPath_(options.envelopeCsvPath) {
        follower_ = initEnvAnalyze(kBlock, channels_, rate_);
        // Nothing in the 2 kHz - 20 kHz band survives conversion of a file whose passband ends
        // below 2 kHz.
        bandTop_ = rate_ > 40000 ? std::min(20000.0, rate_ / 2.0) : kPassband * rate_ / 2;
        if (bandTop_ <= kBandLowHz) return;
        input_ = std::make_unique<SlicerInput>(rate_, channels_);
        if (!settings_.absolute && input_->ok()) {
            measureInput_ = std::make_unique<SlicerInput>(rate_, channels_);
            bandPeak_ = std::make_unique<BandPeak>(input_->rate(), input_->block());
        }
    }
    ~OnsetStep() override {
        if (follower_) termEnvAnalyze(follower_);
        if (slicer_) termWaveSlice(slicer_);
    }

    bool open(std::string& error) {
        if (!envelopeCsvPath_.empty()) {
            if (!envelopeCsv_.open(envelopeCsvPath_, error)) return false;
            envelopeCsv_.stream() << "time_s";
            for (uint32_t c = 0; c < channels_; ++c) envelopeCsv_.stream() << ',' << curveName(c);
            envelopeCsv_.stream() << '\n';
            envelopeCsv_.stream().precision(6);
        }
        return sliceCsvPath_.empty() || slicesCsv_.open(sliceCsvPath_, error);
    }

    bool wantsFirstPass() const override { return bandPeak_ != nullptr; }

    void measure(const int16_t* pcm, uint32_t frames) override {
        if (!bandPeak_->ok()) return;
        measureInput_->push(pcm, frames, [&](const int16_t* block, uint32_t n) { bandPeak_->add(block, n, channels_); });
    }

    void feed(const int16_t* pcm, uint32_t frames) override {
        frames_ += frames;
        for (uint32_t at = 0; at < frames && follower_ != nullptr; at += kBlock)
            followEnvelope(pcm + size_t(at) * channels_, std::min(kBlock, frames - at));
        if (input_ == nullptr || !input_->ok()) return;
        if (!slicerStarted_) startSlicer();
        if (slicer_ == nullptr) return;
        input_->push(pcm, frames, [&](const int16_t* block, uint32_t n) { doWaveSlice(slicer_, block, n * 2 * channels_); });
    }

    bool finish(AnalysisResults& results, std::string& error) override {
        for (uint32_t c = 0; c < channels_ && curves_.points() > 0; ++c) {
            TimeCurve curve;
            curve.name = curveName(c);
            curve.channel = c;
            curve.secondsPerPoint = double(curves_.itemsPerPoint()) * perPoint_ / rate_;
            for (uint32_t i = 0; i < curves_.points(); ++i) curve.values.push_back(curves_.point(i)[c]);
            results.curves.push_back(std::move(curve));
        }
        if (!envelopeCsvPath_.empty() && !commitOutput(envelopeCsv_, "envelope", error)) return false;
        std::vector<TimeMarker> slices;
        if (slicer_ != nullptr) {
            input_->flush([&](const int16_t* block, uint32_t n) { doWaveSlice(slicer_, block, n * 2 * channels_); });
            const DspSliceRecord* record = getWaveSlice(slicer_, 0);
            for (uint32_t index = 1; record != nullptr; record = record->next, ++index) {
                TimeMarker marker;
                marker.start = record->startTime;
                marker.end = record->endTime;
                marker.label = std::to_string(index);
                slices.push_back(marker);
            }
        }
        results.markerNote = slices.empty() ? whyNone() : "";
        results.sections.push_back(section(slices));
        if (!sliceCsvPath_.empty()) {
            std::ostream& csv = slicesCsv_.stream();
            csv << "slice,start_s,end_s,length_s\n";
            for (size_t i = 0; i < slices.size(); ++i)
                csv << i + 1 << ',' << number(slices[i].start, 6) << ',' << number(slices[i].end, 6) << ','
                    << number(slices[i].end - slices[i].start, 6) << '\n';
            if (!commitOutput(slicesCsv_, "slices", error)) return false;
        }
        results.markers.insert(results.markers.end(), slices.begin(), slices.end());
        return true;
    }

private:
    std::string curveName(uint32_t c) const {
        return channels_ == 2 ? (c == 0 ? "envelope (left)" : "envelope (right)") : "envelope";
    }

    // The envelope of each channel as a linear level (mean absolute value: the follower's
    // output without its gain of 2.5), one point every kCurveSeconds, kept decimated for the
    // report and written in full to the envelope CSV.
    void followEnvelope(const int16_t* pcm, uint32_t n) {
        doEnvAnalyze(follower_, pcm, envelope_.data(), n * 2 * channels_);
        float point[2] = {0, 0};
        for (uint32_t i = 0; i < n; ++i) {
            for (uint32_t c = 0; c < channels_; ++c)
                peakPoint_[c] = std::max(peakPoint_[c], envelope_[size_t(c) * n + i] / (2.5f * 32767.0f));
            if (++inPoint_ < perPoint_) continue;
            for (uint32_t c = 0; c < channels_; ++c) point[c] = peakPoint_[c], peakPoint_[c] = 0.0f;
            curves_.add(point);
            inPoint_ = 0;
            if (!envelopeCsvPath_.empty()) {
                std::ostream& csv = envelopeCsv_.stream();
                csv << double(curves_.items()) * perPoint_ / rate_;
                for (uint32_t c = 0; c < channels_; ++c) csv << ',' << point[c];
                csv << '\n';
            }
        }
    }

    // Levels are placed once the first pass (if any) has measured the band.
    void startSlicer() {
        slicerStarted_ = true;
        float on = settings_.onDb, off = settings_.offDb, rise = settings_.rise();
        if (bandPeak_ != nullptr) {
            if (bandPeak_->ok())
                measureInput_->flush([&](const int16_t* block, uint32_t n) { bandPeak_->add(block, n, channels_); });
            peakLevel_ = bandPeak_->ok() ? bandPeak_->level() : 0.0;
            if (peakLevel_ <= 0 || 20 * std::log10(peakLevel_) < kQuietestPeakDb) return;
            const double peakDb = 20 * std::log10(peakLevel_);
            // Never below the band's 16-bit rounding noise, which would keep slices open for good.
            off = std::max(off + float(peakDb), float(kNoiseDb));
            on = std::max(on + float(peakDb), off);
            rise *= float(peakLevel_);
        }
        slicer_ = initWaveSlice(input_->block(), channels_, input_->rate(), on, off, rise, settings_.minLengthSec);
    }

    std::string whyNone() const {
        if (frames_ == 0) return "the input is empty";
        if (input_ == nullptr)
            return "the slicer listens to 2-20 kHz, and a " + std::to_string(rate_) + " Hz file carries nothing above " +
                   number(bandTop_, 0) + " Hz";
        if (slicer_ == nullptr && bandPeak_ != nullptr)
            return peakLevel_ > 0 ? "nothing in the slicer's 2-20 kHz band: its envelope peaks at " +
                                        number(20 * std::log10(peakLevel_)) + " dB"
                                  : "nothing in the slicer's 2-20 kHz band";
        if (slicer_ == nullptr) return "the slicer could not be set up";
        return "no rise reached the on level";
    }

    // How the levels were placed, for the report.
    std::string levelsText() const {
        const OnsetSettings& s = settings_;
        std::ostringstream text;
        if (bandPeak_ != nullptr) {
            text << "Levels relative to the peak of the band's envelope";
            if (peakLevel_ > 0) text << " (" << number(20 * std::log10(peakLevel_)) << "&nbsp;dB re an envelope of 1.0)";
            text << ": ";
        } else {
            text << "Absolute levels (re an envelope of 1.0, i.e. 2.5 &times; the mean absolute level): ";
        }
        text << "a slice starts at the envelope valley before a rise of at least " << s.rise()
             << "&nbsp;% that reaches " << s.onDb << "&nbsp;dB and ends below " << s.offDb
             << "&nbsp;dB or at the next onset (at least " << s.minLengthSec << "&nbsp;s long).";
        return text.str();
    }

    ReportSection section(const std::vector<TimeMarker>& slices) const {
        // A long input can hold thousands of slices: the report lists the first of them.
        constexpr size_t kMostRows = 1000;
        std::ostringstream html;
        html << "<p>Onsets of the mono mix, band-limited to 2&ndash;20 kHz. " << levelsText();
        if (input_ != nullptr && input_->converts())
            html << " The input (" << rate_ << " Hz) was converted to " << kSlicerRate
                 << " Hz with the library's resampler before slicing.";
        html << "</p>";
        if (slices.empty()) {
            html << "<p>No slices: " << whyNone() << ".</p>";
        } else {
            html.setf(std::ios::fixed);
            html.precision(3);
            html << "<table><thead><tr><th>#</th><th>start (s)</th><th>end (s)</th><th>length (s)</th></tr></thead><tbody>";
            for (size_t i = 0; i < std::min(slices.size(), kMostRows); ++i)
                html << "<tr><td>" << i + 1 << "</td><td>" << slices[i].start << "</td><td>" << slices[i].end
                     << "</td><td>" << slices[i].end - slices[i].start << "</td></tr>";
            html << "</tbody></table>";
            if (slices.size() > kMostRows)
                html << "<p class=\"note\">The first " << kMostRows << " of " << slices.size()
                     << " slices; all of them are in the table dsptool prints and in --slices-csv and --json.</p>";
        }
        return {"slices", "Onset slices (" + std::to_string(slices.size()) + ")", html.str()};
    }

    const OnsetSettings settings_;
    uint32_t rate_, channels_;
    double bandTop_ = 0.0;
    uint64_t frames_ = 0;
    // Envelope
    dsp_effect* follower_ = nullptr;
    uint32_t perPoint_, inPoint_ = 0;
    MaxSeries curves_;
    std::vector<float> peakPoint_, envelope_;
    // Slicer
    std::unique_ptr<SlicerInput> input_, measureInput_;
    std::unique_ptr<BandPeak> bandPeak_;
    double peakLevel_ = 0.0;
    bool slicerStarted_ = false;
    dsp_effect* slicer_ = nullptr;
    // Outputs of their own
    std::string sliceCsvPath_, envelopeCsvPath_;
    TextOutput slicesCsv_, envelopeCsv_;
};

const AnalysisStepRegistration onsetStep([](const AudioSource& source, const AnalyzeOptions& options,
                                             std::string& error) -> std::unique_ptr<AnalysisStep> {
    auto step = std::make_unique<OnsetStep>(source, options);
    if (!step->open(error)) return nullptr;
    return step;
});

}  // namespace
}  // namespace dsptool
