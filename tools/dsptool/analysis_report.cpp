#include "analysis_report.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "analysis_onsets.h"
#include "dsp.h"
#include "registry.h"

namespace dsptool {

namespace {

std::vector<AnalysisStepFactory>& stepFactories() {
    static std::vector<AnalysisStepFactory> registered;
    return registered;
}

constexpr double kLowHz = 20.0;
constexpr double kRangeDb = 120.0;  // pictures show 0 down to -120 dBFS
constexpr double kLn10Over10 = 0.23025850929940458;

double toDb(double power) { return power > 0 ? 10.0 * std::log10(power) : -200.0; }

// ---------------------------------------------------------------------------------------
// Small text helpers
// ---------------------------------------------------------------------------------------

std::string fmt(double value, int decimals = 1) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string escapeHtml(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string escapeJson(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) < 0x20) continue;
        out += c;
    }
    return out;
}

// Writes `value` with two decimals at `out` (as %.2f, many times faster: every spectrum of a long
// input is a hundred million numbers); returns the end.
char* fixed2(char* out, float value) {
    long long hundredths = std::llround(double(value) * 100);
    if (hundredths < 0) *out++ = '-', hundredths = -hundredths;
    char digits[24];
    int n = 0;
    for (long long whole = hundredths / 100; n == 0 || whole > 0; whole /= 10) digits[n++] = char('0' + whole % 10);
    while (n > 0) *out++ = digits[--n];
    *out++ = '.';
    *out++ = char('0' + hundredths % 100 / 10);
    *out++ = char('0' + hundredths % 10);
    return out;
}

// A level for JSON: dBFS, or null for silence.
std::string jsonLevel(double linear) { return linear > 0 ? fmt(20 * std::log10(linear), 2) : "null"; }

std::string base64(const std::vector<uint8_t>& bytes) {
    static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t b0 = bytes[i];
        const uint32_t b1 = i + 1 < bytes.size() ? bytes[i + 1] : 0;
        const uint32_t b2 = i + 2 < bytes.size() ? bytes[i + 2] : 0;
        const uint32_t triple = (b0 << 16) | (b1 << 8) | b2;
        out += alphabet[(triple >> 18) & 63];
        out += alphabet[(triple >> 12) & 63];
        out += i + 1 < bytes.size() ? alphabet[(triple >> 6) & 63] : '=';
        out += i + 2 < bytes.size() ? alphabet[triple & 63] : '=';
    }
    return out;
}

// A time axis label; `step` (the tick spacing) decides the decimals below a minute.
std::string timeLabel(double seconds, double step) {
    if (seconds >= 3600) {
        const int hours = int(seconds / 3600), minutes = int(seconds / 60) % 60;
        return std::to_string(hours) + ":" + (minutes < 10 ? "0" : "") + std::to_string(minutes) + ":00";
    }
    if (seconds >= 60) {
        const int minutes = int(seconds / 60);
        return std::to_string(minutes) + ":" + (seconds - minutes * 60 < 9.5 ? "0" : "") +
               fmt(seconds - minutes * 60, 0);
    }
    return fmt(seconds, step >= 1 ? 0 : step >= 0.1 ? 1 : step >= 0.01 ? 2 : 3) + " s";
}

// Round steps for a time axis of `seconds`.
double tickStep(double seconds) {
    for (double step : {0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0,
                        120.0, 300.0, 600.0, 900.0, 1800.0, 3600.0})
        if (seconds / step <= 10) return step;
    return 7200.0;
}

std::string frequencyLabel(double hz) {
    if (hz < 1000) return fmt(hz, 0);
    const double khz = hz / 1000;
    return fmt(khz, khz == std::floor(khz) ? 0 : 1) + " k";
}

// ---------------------------------------------------------------------------------------
// Streaming analysis
// ---------------------------------------------------------------------------------------

// Where a spectrogram row takes its level from: the largest bin within its band, or between two
// bins when the band is narrower than a bin.
struct RowSource {
    uint32_t first = 0, last = 0;  // bins, when first <= last
    uint32_t bin = 0;              // else interpolated from bin and bin + 1
    double fraction = 0;
};

std::vector<RowSource> spectrogramRows(uint32_t rate, uint32_t fftSize) {
    const uint32_t bins = fftSize / 2;
    const double nyquist = rate / 2.0, binHz = double(rate) / fftSize;
    std::vector<RowSource> rows(kSpectrumRows);
    for (uint32_t row = 0; row < kSpectrumRows; ++row) {
        // Row 0 is the top of the picture.
        const double t0 = double(kSpectrumRows - 1 - row) / kSpectrumRows, t1 = t0 + 1.0 / kSpectrumRows;
        const double lo = kLowHz * std::pow(nyquist / kLowHz, t0) / binHz;
        const double hi = kLowHz * std::pow(nyquist / kLowHz, t1) / binHz;
        RowSource& source = rows[row];
        source.first = uint32_t(std::ceil(lo));
        source.last = std::min(bins - 1, uint32_t(std::floor(hi)));
        const double centre = std::min((lo + hi) / 2, double(bins - 1));
        source.bin = uint32_t(centre);
        source.fraction = centre - source.bin;
    }
    return rows;
}

// Turns each hop of the input into a spectrum per channel and folds it into the long-term sums
// and the spectrogram; with a JSON stream, writes every spectrum to it as it comes.
class SpectrumStage {
public:
    SpectrumStage(AnalysisResults& results, std::ostream* everySpectrum)
        : r_(results), json_(everySpectrum), bins_(results.fftSize / 2),
          offset_(float(20 * std::log10(results.fftSize / 4.0))), rows_(spectrogramRows(results.rate, results.fftSize)),
          out_(size_t(results.channels) * bins_), average_(bins_), rowDb_(kSpectrumRows),
          power_(size_t(results.channels) * bins_, 0.0) {}

    bool open(std::string& error) {
        analyser_ = initFftAnalyze(r_.hop, r_.channels, r_.fftSize, r_.history);
        if (analyser_ == nullptr)
            error = "the FFT analyser refused block " + std::to_string(r_.hop) + ", FFT size " +
                    std::to_string(r_.fftSize) + ", history " + std::to_string(r_.history);
        return analyser_ != nullptr;
    }
    ~SpectrumStage() {
        if (analyser_ != nullptr) termFftAnalyze(analyser_);
    }
    SpectrumStage(const SpectrumStage&) = delete;
    SpectrumStage& operator=(const SpectrumStage&) = delete;

    // One hop of `frames` (the last of the input may be short; the analyser zero-pads it).
    void hop(const int16_t* pcm, uint32_t frames) {
        const uint32_t channels = r_.channels;
        doFftAnalyze(analyser_, pcm, out_.data(), frames * channels * 2);
        // dB of the unnormalised transform to dBFS: a full-scale sine on a bin reads n/4.
        for (float& value : out_) value -= offset_;
        std::fill(average_.begin(), average_.end(), 0.0);
        for (uint32_t c = 0; c < channels; ++c) {
            const float* db = &out_[size_t(c) * bins_];
            double* sum = &power_[size_t(c) * bins_];
            for (uint32_t k = 0; k < bins_; ++k) {
                const double power = std::exp(double(db[k]) * kLn10Over10);
                sum[k] += power;
                average_[k] += power;
            }
        }
        for (double& p : average_) p /= channels;
        for (uint32_t row = 0; row < kSpectrumRows; ++row) {
            const RowSource& source = rows_[row];
            if (source.first <= source.last) {
                double most = 0;
                for (uint32_t k = source.first; k <= source.last; ++k) most = std::max(most, average_[k]);
                rowDb_[row] = float(toDb(most));
            } else {
                const double a = toDb(average_[source.bin]);
                const double b = toDb(average_[std::min(source.bin + 1, bins_ - 1)]);
                rowDb_[row] = float(a * (1 - source.fraction) + b * source.fraction);
            }
        }
        r_.spectrogram.add(rowDb_.data());
        ++r_.spectrumCount;
        if (json_ != nullptr) {
            std::ostream& json = *json_;
            json << (r_.spectrumCount > 1 ? ",\n" : "\n") << "{\"time\":"
                 << fmt(double(r_.spectrumCount * r_.hop) / r_.rate, 6) << ",\"db\":";
            text_.resize(size_t(channels) * bins_ * 24 + 8);
            char* at = text_.data();
            for (uint32_t c = 0; c < channels; ++c) {
                *at++ = c ? ',' : '[';
                *at++ = '[';
                for (uint32_t k = 0; k < bins_; ++k) {
                    if (k) *at++ = ',';
                    at = fixed2(at, out_[size_t(c) * bins_ + k]);
                }
                *at++ = ']';
            }
            json.write(text_.data(), at - text_.data());
            json << "]}";
        }
    }

    void finish() {
        r_.longTermDb.assign(r_.channels, std::vector<float>(bins_, -200.0f));
        for (uint32_t c = 0; c < r_.channels; ++c)
            for (uint32_t k = 0; k < bins_; ++k)
                r_.longTermDb[c][k] =
                    r_.spectrumCount ? float(toDb(power_[size_t(c) * bins_ + k] / double(r_.spectrumCount))) : -200.0f;
    }

private:
    AnalysisResults& r_;
    std::ostream* json_;
    uint32_t bins_;
    float offset_;
    std::vector<RowSource> rows_;
    std::vector<float> out_;
    std::vector<double> average_;
    std::vector<float> rowDb_;
    std::vector<double> power_;  // long-term power sums, channel after channel
    std::vector<char> text_;
    dsp_effect* analyser_ = nullptr;
};

// Folds frames into the waveform columns, the peak and the mean square.
void measureWaveform(const int16_t* pcm, uint32_t frames, AnalysisResults& r, double& sumSquares) {
    float values[4] = {0, 0, 0, 0};
    double peak = r.peak;
    for (uint32_t i = 0; i < frames; ++i) {
        for (uint32_t c = 0; c < r.channels; ++c) {
            const float x = pcm[size_t(i) * r.channels + c] / 32767.0f;
            values[2 * c] = -x;
            values[2 * c + 1] = x;
            peak = std::max(peak, double(std::fabs(x)));
            sumSquares += double(x) * x;
        }
        r.waveform.add(values);
    }
    r.peak = peak;
}

// A percentage on stderr while a terminal watches.
class Progress {
public:
    Progress(bool enabled, std::string label, uint64_t total)
        : enabled_(enabled && total > 0 && ::isatty(STDERR_FILENO) != 0), label_(std::move(label)), total_(total) {}
    ~Progress() { finish(); }
    void finish() {
        if (enabled_ && shown_ >= 0) std::fprintf(stderr, "\r%*s\r", int(label_.size()) + 6, "");
        shown_ = -1;
    }
    void update(uint64_t done) {
        const int percent = int(std::min(done, total_) * 100 / std::max<uint64_t>(1, total_));
        if (!enabled_ || percent == shown_) return;
        shown_ = percent;
        std::fprintf(stderr, "\r%s: %3d%%", label_.c_str(), percent);
        std::fflush(stderr);
    }

private:
    bool enabled_;
    std::string label_;
    uint64_t total_;
    int shown_ = -1;
};

// Set by SIGINT/SIGTERM while an analysis runs, so it stops between chunks and its temporary
// output files are removed.
volatile std::sig_atomic_t interrupted = 0;
extern "C" void onInterrupt(int) { interrupted = 1; }

class InterruptGuard {
public:
    InterruptGuard() : oldInt_(std::signal(SIGINT, onInterrupt)), oldTerm_(std::signal(SIGTERM, onInterrupt)) {
        interrupted = 0;
    }
    ~InterruptGuard() {
        std::signal(SIGINT, oldInt_);
        std::signal(SIGTERM, oldTerm_);
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    void (*oldInt_)(int);
    void (*oldTerm_)(int);
};

// Reads the whole source once in chunks of `chunk` frames (whole hops, except at the end),
// handing each to `use`. False with `error` set on a read error.
template <typename Use>
bool readAll(AudioSource& source, uint32_t chunk, Progress& progress, uint64_t& done, Use&& use, std::string& error) {
    std::vector<int16_t> pcm(size_t(chunk) * source.channels);
    for (;;) {
        uint32_t have = 0;
        while (have < chunk) {
            const int64_t got = source.read(&pcm[size_t(have) * source.channels], chunk - have, error);
            if (got < 0) return false;
            if (got == 0) break;
            have += uint32_t(got);
        }
        if (interrupted != 0) {
            error = "interrupted";
            return false;
        }
        if (have == 0) return true;
        use(pcm.data(), have);
        progress.update(done += have);
        if (have < chunk) return true;
    }
}

// ---------------------------------------------------------------------------------------
// Pictures
// ---------------------------------------------------------------------------------------

constexpr int kPlotWidth = 1000;
constexpr int kLeft = 56;
constexpr int kRight = 12;
constexpr double kDigitWidth = 6.6;  // width of a digit in the 11 px labels, a little generous

// x position of frequency hz on a log axis from kLowHz to the Nyquist frequency.
double frequencyX(double hz, double nyquist) {
    const double t = std::log(hz / kLowHz) / std::log(nyquist / kLowHz);
    return kLeft + t * (kPlotWidth - kLeft - kRight);
}

// Markers as one path of lines and one of spans, each drawn once per half pixel; when they
// crowd (less than 4 px apart on average) only as ticks in a strip above the lanes, which they
// would otherwise paint over. Labels go in two rows above that, each only where it clears the
// labels already placed in its row.
std::string markersSvg(const AnalysisResults& r, double seconds, int top, double bottom, double plotW) {
    const bool crowded = double(r.markers.size()) * 4 > plotW;
    const double lineTop = crowded ? top - 7 : top, lineBottom = crowded ? top - 1 : bottom;
    std::ostringstream lines, spans, labels;
    double lastLine = -1, spanStart = -1, spanEnd = -1;
    double rowEnd[2] = {-1e9, -1e9};
    auto flushSpan = [&] {
        if (spanEnd > spanStart)
            spans << 'M' << fmt(spanStart) << ',' << top << 'H' << fmt(spanEnd) << 'V' << fmt(bottom) << 'H'
                  << fmt(spanStart) << 'Z';
    };
    for (const TimeMarker& marker : r.markers) {
        const double x0 = kLeft + plotW * std::clamp(marker.start / seconds, 0.0, 1.0);
        if (x0 - lastLine >= 0.5) {
            lines << 'M' << fmt(x0) << ',' << fmt(lineTop) << 'V' << fmt(lineBottom);
            lastLine = x0;
        }
        if (marker.end > marker.start && !crowded) {
            const double x1 = kLeft + plotW * std::clamp(marker.end / seconds, 0.0, 1.0);
            if (x0 > spanEnd + 0.5) {
                flushSpan();
                spanStart = x0;
            }
            spanEnd = std::max(spanEnd, x1);
        }
        const double width = kDigitWidth * double(marker.label.size());
        for (int row = 0; row < 2 && !marker.label.empty(); ++row) {
            if (x0 < rowEnd[row] + 3 || x0 + 1 + width > kPlotWidth) continue;
            labels << "<text class=\"marker-label\" x=\"" << fmt(x0 + 1) << "\" y=\"" << top - 24 + 14 * row
                   << "\" style=\"fill:#e6550d\">" << escapeHtml(marker.label) << "</text>";
            rowEnd[row] = x0 + 1 + width;
            break;
        }
    }
    flushSpan();
    std::string svg;
    if (!spans.str().empty())
        svg += "<path class=\"marker-span\" fill=\"#ff7f0e\" fill-opacity=\"0.08\" d=\"" + spans.str() + "\"/>";
    if (!lines.str().empty())
        svg += "<path class=\"marker\" stroke=\"#e6550d\" stroke-width=\"1\" d=\"" + lines.str() + "\"/>";
    return svg + labels.str();
}

// Where a time axis label goes: centred on its tick, but kept inside the picture at the ends.
std::string tickAnchor(double x) {
    return x > kPlotWidth - 24 ? "end" : "middle";
}

std::string waveformSvg(const AnalysisResults& r) {
    const int lane = 110, gap = 8, top = 44, bottom = 24;
    const int height = top + int(r.channels) * (lane + gap) - gap + bottom;
    const double plotW = kPlotWidth - kLeft - kRight;
    const double seconds = double(r.frames) / r.rate;
    std::ostringstream svg;
    svg << "<svg id=\"waveform-svg\" viewBox=\"0 0 " << kPlotWidth << ' ' << height << "\" width=\"" << kPlotWidth
        << "\" height=\"" << height << "\" role=\"img\" aria-label=\"waveform\">";
    const char* names[] = {"left", "right"};
    const uint32_t points = r.waveform.points();
    const uint64_t perPoint = r.waveform.itemsPerPoint();
    // x of the middle of point i, whose frames run from i * perPoint to the next point or the end.
    auto pointX = [&](uint32_t i) {
        const double from = double(i) * perPoint, to = std::min(double(r.frames), double(i + 1) * perPoint);
        return kLeft + plotW * (from + to) / 2 / std::max<double>(1, r.frames);
    };
    for (uint32_t c = 0; c < r.channels; ++c) {
        const double laneTop = top + c * (lane + gap), mid = laneTop + lane / 2.0, half = lane / 2.0 - 8;
        svg << "<rect x=\"" << kLeft << "\" y=\"" << laneTop << "\" width=\"" << plotW << "\" height=\"" << lane
            << "\" fill=\"#f4f6fa\"/>";
        // The amplitude axis: full scale is 1.
        for (const auto& [value, text] : {std::pair{1.0, "1"}, {0.5, "0.5"}, {0.0, "0"}, {-0.5, "-0.5"}, {-1.0, "-1"}}) {
            const double y = mid - value * half;
            svg << "<line x1=\"" << kLeft - 3 << "\" x2=\"" << kLeft + plotW << "\" y1=\"" << fmt(y) << "\" y2=\""
                << fmt(y) << "\" stroke=\"" << (value == 0 ? "#c8ccd4" : "#e3e6ec") << "\"/><text class=\"amplitude\" x=\""
                << kLeft - 5 << "\" y=\"" << fmt(y + 4) << "\" text-anchor=\"end\">" << text << "</text>";
        }
        svg << "<text x=\"4\" y=\"" << mid + 4 << "\">" << (r.channels == 1 ? "mono" : names[c]) << "</text>";
        if (points == 0) {
            svg << "<text x=\"" << kLeft + plotW / 2 << "\" y=\"" << mid - 6 << "\" text-anchor=\"middle\">"
                << "no audio: the input is empty</text>";
            continue;
        }
        svg << "<path class=\"wave\" fill=\"#3b6fb6\" stroke=\"#3b6fb6\" stroke-width=\"0.6\" d=\"";
        for (uint32_t i = 0; i < points; ++i)
            svg << (i ? 'L' : 'M') << fmt(pointX(i), 1) << ',' << fmt(mid - r.waveform.point(i)[2 * c + 1] * half, 1);
        for (uint32_t i = points; i-- > 0;)
            svg << 'L' << fmt(pointX(i), 1) << ',' << fmt(mid + r.waveform.point(i)[2 * c] * half, 1);
        svg << "Z\"/>";
        for (const TimeCurve& curve : r.curves) {
            if (curve.channel != c || curve.values.empty() || seconds <= 0) continue;
            for (int sign : {1, -1}) {
                svg << "<polyline class=\"curve\" fill=\"none\" stroke=\"" << escapeHtml(curve.color)
                    << "\" stroke-width=\"1.2\" points=\"";
                for (size_t i = 0; i < curve.values.size(); ++i) {
                    const double t = std::min(seconds, (i + 0.5) * curve.secondsPerPoint);
                    svg << fmt(kLeft + plotW * t / seconds, 1) << ','
                        << fmt(mid - sign * std::min(1.0f, curve.values[i]) * half, 1) << ' ';
                }
                svg << "\"><title>" << escapeHtml(curve.name) << "</title></polyline>";
            }
        }
    }
    const double laneBottom = top + r.channels * (lane + gap) - gap;
    if (seconds > 0) svg << markersSvg(r, seconds, top, laneBottom, plotW);
    const double step = tickStep(seconds);
    for (double t = 0; t <= seconds + 1e-9; t += step) {
        const double x = kLeft + plotW * (seconds > 0 ? t / seconds : 0);
        svg << "<line x1=\"" << fmt(x) << "\" x2=\"" << fmt(x) << "\" y1=\"" << laneBottom << "\" y2=\""
            << laneBottom + 4 << "\" stroke=\"#888\"/><text x=\"" << fmt(x) << "\" y=\"" << laneBottom + 16
            << "\" text-anchor=\"" << tickAnchor(x) << "\">" << timeLabel(t, step) << "</text>";
    }
    svg << "</svg>";
    return svg.str();
}

// The spectrogram as bytes (0 = -120 dBFS or below, 255 = 0 dBFS), row after row from the
// highest frequency down.
std::vector<uint8_t> spectrogramBytes(const AnalysisResults& r, uint32_t& columns) {
    columns = r.spectrogram.points();
    std::vector<uint8_t> bytes(size_t(columns) * kSpectrumRows, 0);
    for (uint32_t column = 0; column < columns; ++column) {
        const float* levels = r.spectrogram.point(column);
        for (uint32_t row = 0; row < kSpectrumRows; ++row) {
            const double level = std::clamp((levels[row] + kRangeDb) / kRangeDb, 0.0, 1.0);
            bytes[size_t(row) * columns + column] = uint8_t(std::lround(level * 255));
        }
    }
    return bytes;
}

std::string spectrumSvg(const AnalysisResults& r) {
    const int height = 320, top = 12, bottom = 30;
    const double plotW = kPlotWidth - kLeft - kRight, plotH = height - top - bottom;
    const double nyquist = r.rate / 2.0, binHz = double(r.rate) / r.fftSize;
    auto y = [&](double db) { return top + plotH * std::clamp(-db / kRangeDb, 0.0, 1.0); };
    std::ostringstream svg;
    svg << "<svg id=\"spectrum-svg\" viewBox=\"0 0 " << kPlotWidth << ' ' << height << "\" width=\"" << kPlotWidth
        << "\" height=\"" << height << "\" role=\"img\" aria-label=\"long-term spectrum\">";
    svg << "<rect x=\"" << kLeft << "\" y=\"" << top << "\" width=\"" << plotW << "\" height=\"" << plotH
        << "\" fill=\"#f4f6fa\"/>";
    for (int db = 0; db >= -int(kRangeDb); db -= 20)
        svg << "<line x1=\"" << kLeft << "\" x2=\"" << kLeft + plotW << "\" y1=\"" << fmt(y(db)) << "\" y2=\""
            << fmt(y(db)) << "\" stroke=\"#dde1e8\"/><text x=\"" << kLeft - 6 << "\" y=\"" << fmt(y(db) + 4)
            << "\" text-anchor=\"end\">" << db << "</text>";
    for (double hz : {20.0, 50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0, 20000.0, 50000.0}) {
        if (hz > nyquist) break;
        const double x = frequencyX(hz, nyquist);
        svg << "<line x1=\"" << fmt(x) << "\" x2=\"" << fmt(x) << "\" y1=\"" << top << "\" y2=\"" << top + plotH
            << "\" stroke=\"#dde1e8\"/><text x=\"" << fmt(x) << "\" y=\"" << height - 12 << "\" text-anchor=\"middle\">"
            << frequencyLabel(hz) << "</text>";
    }
    svg << "<text x=\"" << kPlotWidth - kRight << "\" y=\"" << height - 1 << "\" text-anchor=\"end\">Hz</text>"
        << "<text x=\"4\" y=\"" << top + 10 << "\">dBFS</text>";
    if (r.spectrumCount == 0)
        svg << "<text x=\"" << kLeft + plotW / 2 << "\" y=\"" << top + plotH / 2 << "\" text-anchor=\"middle\">"
            << "no audio: the input is empty</text>";
    const char* colors[] = {"#3b6fb6", "#e6550d"};
    for (uint32_t c = 0; c < r.channels && r.spectrumCount > 0; ++c) {
        svg << "<polyline class=\"spectrum\" fill=\"none\" stroke=\"" << colors[c] << "\" stroke-width=\"1.3\" points=\"";
        // Above a few hundred hertz bins crowd together on the log axis: draw the largest per
        // half pixel, so the curve keeps its peaks and the report its size.
        double lastX = -1, best = -1e9;
        for (uint32_t k = 1; k < r.fftSize / 2; ++k) {
            const double hz = k * binHz;
            if (hz < kLowHz) continue;
            const double x = std::round(frequencyX(hz, nyquist) * 2) / 2;
            best = x == lastX ? std::max(best, double(r.longTermDb[c][k])) : r.longTermDb[c][k];
            const bool lastOfColumn = k + 1 == r.fftSize / 2 || std::round(frequencyX((k + 1) * binHz, nyquist) * 2) / 2 != x;
            lastX = x;
            if (lastOfColumn) svg << fmt(x, 1) << ',' << fmt(y(best), 1) << ' ';
        }
        svg << "\"/>";
    }
    if (r.channels == 2)
        svg << "<text x=\"" << kPlotWidth - 80 << "\" y=\"" << top + 16 << "\" style=\"fill:" << colors[0]
            << "\">left</text><text x=\"" << kPlotWidth - 44 << "\" y=\"" << top + 16 << "\" style=\"fill:" << colors[1]
            << "\">right</text>";
    svg << "</svg>";
    return svg.str();
}

// Draws the spectrogram bytes into its canvas with a dark-to-bright colour map and axes, then
// records on <body> what was drawn (data-rendered, data-painted: pixels above the floor colour)
// and how many marker labels overlap as laid out (data-label-overlaps).
const char* kSpectrogramScript = R"JS(
(function () {
  var data = document.getElementById('spectrogram-data');
  var canvas = document.getElementById('spectrogram-canvas');
  var cols = +data.dataset.columns, rows = +data.dataset.rows;
  var nyquist = +data.dataset.nyquist, low = +data.dataset.low, seconds = +data.dataset.seconds;
  var bytes = atob(data.textContent.trim());
  var ctx = canvas.getContext('2d');
  var left = 56, top = 8, w = canvas.width - left - 12, h = canvas.height - top - 28;
  var stops = [[0, 0, 4], [40, 11, 84], [101, 21, 110], [159, 42, 99], [212, 72, 66],
               [245, 125, 21], [250, 193, 39], [252, 255, 164]];
  function colour(v) {
    var t = v / 255 * (stops.length - 1), i = Math.min(stops.length - 2, Math.floor(t)), f = t - i;
    return [0, 1, 2].map(function (c) { return Math.round(stops[i][c] + (stops[i + 1][c] - stops[i][c]) * f); });
  }
  ctx.fillStyle = '#ffffff'; ctx.fillRect(0, 0, canvas.width, canvas.height);
  var painted = 0;
  if (cols > 0) {
    var image = ctx.createImageData(cols, rows);
    for (var i = 0; i < cols * rows; i++) {
      var v = bytes.charCodeAt(i), c = colour(v);
      image.data[4 * i] = c[0]; image.data[4 * i + 1] = c[1]; image.data[4 * i + 2] = c[2]; image.data[4 * i + 3] = 255;
      if (v > 0) painted++;
    }
    var buffer = document.createElement('canvas');
    buffer.width = cols; buffer.height = rows;
    buffer.getContext('2d').putImageData(image, 0, 0);
    ctx.imageSmoothingEnabled = cols < w;
    ctx.drawImage(buffer, left, top, w, h);
  } else {
    ctx.fillStyle = '#f4f6fa'; ctx.fillRect(left, top, w, h);
  }
  ctx.fillStyle = '#555'; ctx.font = '11px sans-serif'; ctx.textAlign = 'right';
  [50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000].forEach(function (hz) {
    if (hz <= low || hz >= nyquist) return;
    var y = top + h * (1 - Math.log(hz / low) / Math.log(nyquist / low));
    ctx.fillRect(left - 4, y, 4, 1);
    ctx.fillText(hz >= 1000 ? (hz / 1000) + ' k' : String(hz), left - 6, y + 4);
  });
  ctx.textAlign = 'center';
  if (cols == 0) ctx.fillText('no audio: the input is empty', left + w / 2, top + h / 2);
  var step = +data.dataset.tick;
  function label(t) {
    if (t >= 3600) return Math.floor(t / 3600) + ':' + ('0' + Math.floor(t / 60) % 60).slice(-2) + ':00';
    if (t >= 60) return Math.floor(t / 60) + ':' + ('0' + Math.round(t % 60)).slice(-2);
    return (Math.round(t * 1000) / 1000) + ' s';
  }
  for (var t = 0; seconds > 0 && t <= seconds + 1e-9; t += step) {
    var x = left + w * t / seconds;
    ctx.fillRect(x, top + h, 1, 4);
    ctx.textAlign = x > canvas.width - 24 ? 'right' : 'center';
    ctx.fillText(label(t), x, top + h + 16);
  }
  ctx.textAlign = 'left'; ctx.fillText('Hz', 4, top + 10);
  var overlaps = 0, placed = Array.prototype.slice.call(document.querySelectorAll('.marker-label'))
    .map(function (e) { return e.getBBox(); });
  for (var a = 0; a < placed.length; a++)
    for (var b = a + 1; b < placed.length && b < a + 50; b++)
      if (placed[a].x < placed[b].x + placed[b].width && placed[b].x < placed[a].x + placed[a].width &&
          placed[a].y < placed[b].y + placed[b].height && placed[b].y < placed[a].y + placed[a].height) overlaps++;
  var body = document.body;
  body.dataset.painted = String(painted);
  body.dataset.labels = String(placed.length);
  body.dataset.labelOverlaps = String(overlaps);
  body.dataset.rendered = (body.dataset.rendered ? body.dataset.rendered + ' ' : '') + 'spectrogram';
})();
)JS";

std::string longTermCsv(const AnalysisResults& r) {
    std::ostringstream csv;
    csv << "bin,frequency_hz";
    for (uint32_t c = 0; c < r.channels; ++c) csv << (r.channels == 1 ? ",dbfs" : c == 0 ? ",left_dbfs" : ",right_dbfs");
    csv << '\n';
    for (uint32_t k = 0; k < r.fftSize / 2; ++k) {
        csv << k << ',' << fmt(double(k) * r.rate / r.fftSize, 3);
        for (uint32_t c = 0; c < r.channels; ++c) csv << ',' << fmt(r.longTermDb[c][k], 2);
        csv << '\n';
    }
    return csv.str();
}

// What the JSON holds besides every spectrum: everything the report shows, as numbers.
void jsonSummary(const AnalysisResults& r, std::ostream& json) {
    const uint32_t bins = r.fftSize / 2;
    json << "\"frames\":" << r.frames << ",\"spectrumCount\":" << r.spectrumCount
         << ",\"peakDbfs\":" << jsonLevel(r.peak) << ",\"rmsDbfs\":" << jsonLevel(std::sqrt(r.meanSquare))
         << ",\"longTerm\":[";
    for (uint32_t c = 0; c < r.channels; ++c) {
        json << (c ? ",[" : "[");
        for (uint32_t k = 0; k < bins; ++k) json << (k ? "," : "") << fmt(r.longTermDb[c][k], 2);
        json << ']';
    }
    // The spectrogram as the report draws it, rows from the lowest frequency up.
    const double nyquist = r.rate / 2.0;
    json << "],\n\"spectrogram\":{\"secondsPerColumn\":"
         << fmt(double(r.spectrogram.itemsPerPoint()) * r.hop / r.rate, 6) << ",\"rowLowHz\":[";
    for (uint32_t row = 0; row < kSpectrumRows; ++row)
        json << (row ? "," : "") << fmt(kLowHz * std::pow(nyquist / kLowHz, double(row) / kSpectrumRows), 2);
    json << "],\"db\":[";
    for (uint32_t column = 0; column < r.spectrogram.points(); ++column) {
        json << (column ? ",\n[" : "\n[");
        const float* levels = r.spectrogram.point(column);
        for (uint32_t row = kSpectrumRows; row-- > 0;) json << fmt(std::max(levels[row], -200.0f), 1) << (row ? "," : "");
        json << ']';
    }
    json << "]},\n\"slices\":[";
    for (size_t i = 0; i < r.markers.size(); ++i)
        json << (i ? ",\n" : "\n") << "{\"start\":" << fmt(r.markers[i].start, 6) << ",\"end\":" << fmt(r.markers[i].end, 6)
             << '}';
    json << "],\"slicesNote\":\"" << escapeJson(r.markerNote) << "\"}\n";
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Public pieces
// ---------------------------------------------------------------------------------------

ClipSource::ClipSource(std::string clipName, uint32_t clipRate, uint32_t clipChannels, const std::vector<int16_t>& clipPcm)
    : pcm_(clipPcm) {
    name = std::move(clipName);
    description = "16-bit PCM";
    rate = clipRate;
    channels = clipChannels;
    frames = channels ? pcm_.size() / channels : 0;
}

int64_t ClipSource::read(int16_t* pcm, uint32_t count, std::string&) {
    const uint64_t n = std::min<uint64_t>(count, frames - at_);
    std::copy_n(pcm_.begin() + ptrdiff_t(at_ * channels), size_t(n * channels), pcm);
    at_ += n;
    return int64_t(n);
}

bool ClipSource::rewind(std::string&) {
    at_ = 0;
    return true;
}

bool TextOutput::open(const std::string& path, std::string& error) {
    path_ = path;
    if (path == "-") {
        direct_ = &std::cout;
        return true;
    }
    if (!place_.resolve(path, error)) return false;
    file_.open(place_.writePath(), std::ios::binary | std::ios::out | std::ios::trunc);
    if (!file_.is_open()) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        place_.forget();
        return false;
    }
    return true;
}

bool TextOutput::commit(std::string& error) {
    std::ostream& out = stream();
    out.flush();
    bool ok = out.good();
    if (!direct_) {
        file_.close();
        ok = ok && !file_.fail() && place_.replace();
    }
    if (!ok) error = "cannot write " + path_ + (errno ? std::string(": ") + std::strerror(errno) : "");
    return ok;
}

bool commitOutput(TextOutput& output, const char* what, std::string& error) {
    if (!output.commit(error)) return false;
    if (!options().quiet && output.path() != "-") std::fprintf(stderr, "%s: %s\n", what, output.path().c_str());
    return true;
}

MaxSeries::MaxSeries(uint32_t width, uint32_t capacity)
    : width_(width), capacity_(capacity & ~1u), data_(size_t(width) * capacity_) {}

void MaxSeries::add(const float* values) {
    uint64_t index = items_ / per_;
    const bool fresh = items_ % per_ == 0;
    if (fresh && index == capacity_) {
        for (uint32_t p = 0; p < capacity_ / 2; ++p)
            for (uint32_t k = 0; k < width_; ++k)
                data_[size_t(p) * width_ + k] =
                    std::max(data_[size_t(2 * p) * width_ + k], data_[size_t(2 * p + 1) * width_ + k]);
        per_ *= 2;
        index = items_ / per_;
    }
    float* point = &data_[size_t(index) * width_];
    if (fresh) {
        std::copy_n(values, width_, point);
    } else {
        for (uint32_t k = 0; k < width_; ++k) point[k] = std::max(point[k], values[k]);
    }
    ++items_;
}

AnalysisStepRegistration::AnalysisStepRegistration(AnalysisStepFactory factory) {
    stepFactories().push_back(std::move(factory));
}

std::string checkAnalyzeOptions(const AnalyzeOptions& o) {
    const uint32_t n = o.fftSize;
    if (n < 4 || n > 16384 || (n & (n - 1)) != 0) return "FFT size must be a power of two from 4 to 16384";
    if (o.block < 1) return "block must be at least 1 frame";
    const uint32_t history = o.history ? o.history : n;
    if (history < n) return "history must be at least the FFT size";
    if (history < o.block) return "history must be at least the block size";
    return "";
}

std::string levelText(double linear) { return linear > 0 ? fmt(20 * std::log10(linear)) + " dBFS" : "silent"; }

std::string renderHtmlReport(const AnalysisResults& r) {
    const double seconds = double(r.frames) / r.rate;
    uint32_t columns = 0;
    const std::vector<uint8_t> picture = spectrogramBytes(r, columns);
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         << "<meta name=\"viewport\" content=\"width=device-width\">"
         << "<title>Analysis of " << escapeHtml(r.name) << "</title><style>"
         << "body{font:14px/1.4 system-ui,-apple-system,'Segoe UI',sans-serif;margin:24px auto;max-width:1040px;"
         << "padding:0 12px;background:#f7f7f9;color:#222}"
         << "h1{font-size:21px;margin:0 0 12px}h2{font-size:16px;margin:0 0 8px}"
         << "section{background:#fff;border:1px solid #dde;border-radius:8px;padding:12px 14px;margin:0 0 14px}"
         << "table.meta{border-collapse:collapse}table.meta td{padding:1px 18px 1px 0}"
         << "table.meta td:first-child{color:#667}"
         << "svg text{font:11px sans-serif;fill:#555}svg,canvas{display:block;max-width:100%;height:auto}"
         << ".note{color:#667;font-size:12px;margin:6px 0 0}"
         << "</style></head>\n<body data-rendered=\"\">\n";
    html << "<h1>Analysis of " << escapeHtml(r.name) << "</h1>\n";
    html << "<section id=\"summary\"><table class=\"meta\">"
         << "<tr><td>Duration</td><td>" << fmt(seconds, seconds < 1 ? 3 : 2) << " s (" << r.frames << " frames)</td></tr>"
         << "<tr><td>Format</td><td>" << escapeHtml(r.description) << ", " << r.rate << " Hz, "
         << (r.channels == 1 ? "mono" : "stereo") << "</td></tr>"
         << "<tr><td>Peak / RMS</td><td>" << levelText(r.peak) << " / " << levelText(std::sqrt(r.meanSquare))
         << "</td></tr>"
         << "<tr><td>Analysis</td><td>FFT " << r.fftSize << " points (" << fmt(double(r.rate) / r.fftSize, 2)
         << " Hz per bin), hop " << r.hop << " frames (" << fmt(1000.0 * r.hop / r.rate, 1) << " ms), history "
         << r.history << ", Hann window; " << r.spectrumCount << " spectra</td></tr>"
         << "</table></section>\n";
    html << "<section id=\"waveform\"><h2>Waveform</h2>" << waveformSvg(r)
         << "<p class=\"note\">Smallest and largest sample per column (full scale is 1)";
    if (!r.curves.empty()) html << "; the red curves are the envelope's peaks";
    html << ".</p></section>\n";
    html << "<section id=\"spectrogram\"><h2>Spectrogram</h2><canvas id=\"spectrogram-canvas\" width=\"" << kPlotWidth
         << "\" height=\"360\" aria-label=\"spectrogram\"></canvas>"
         << "<p class=\"note\">Short-time spectra, channels averaged, the loudest of each column's spectra; "
            "brightness from -120 dBFS (black) to 0 dBFS (a full-scale sine on a bin); log frequency axis.</p>"
         << "<script type=\"application/octet-stream\" id=\"spectrogram-data\" data-columns=\"" << columns
         << "\" data-rows=\"" << kSpectrumRows << "\" data-nyquist=\"" << r.rate / 2.0 << "\" data-low=\"" << kLowHz
         << "\" data-seconds=\"" << seconds << "\" data-tick=\"" << tickStep(seconds) << "\">" << base64(picture)
         << "</script></section>\n";
    html << "<section id=\"spectrum\"><h2>Long-term spectrum</h2>" << spectrumSvg(r)
         << "<p class=\"note\">Power average of all short-time spectra, in dBFS per bin.</p></section>\n";
    for (const ReportSection& section : r.sections)
        html << "<section id=\"" << escapeHtml(section.id) << "\"><h2>" << escapeHtml(section.title) << "</h2>"
             << section.html << "</section>\n";
    html << "<script>" << kSpectrogramScript << "</script>\n</body></html>\n";
    return html.str();
}

int writeAnalysisOutputs(AudioSource& source, const AnalyzeOptions& o) {
    if (source.channels < 1 || source.channels > 2 || source.rate == 0)
        return failWith("only mono or stereo audio with a sample rate can be analysed");
    std::string error = checkAnalyzeOptions(o);
    if (!error.empty()) return failWith(error);
    AnalysisResults r;
    r.name = source.name;
    r.description = source.description;
    r.rate = source.rate;
    r.channels = source.channels;
    r.fftSize = o.fftSize;
    r.hop = o.block;
    r.history = o.history ? o.history : o.fftSize;

    // Every output opens before the work starts: a name that cannot be written fails at once.
    TextOutput html, csv, json;
    for (auto [output, path] : {std::pair{&html, &o.htmlPath}, {&csv, &o.csvPath}, {&json, &o.jsonPath}})
        if (!path->empty() && !output->open(*path, error)) return failWith(error);
    std::vector<std::unique_ptr<AnalysisStep>> steps;
    for (const AnalysisStepFactory& factory : stepFactories()) {
        steps.push_back(factory(source, o, error));
        if (steps.back() == nullptr) return failWith(error);
    }
    if (!o.jsonPath.empty()) {
        json.stream() << "{\"name\":\"" << escapeJson(r.name) << "\",\"format\":\"" << escapeJson(r.description)
                      << "\",\"rate\":" << r.rate << ",\"channels\":" << r.channels << ",\"fftSize\":" << r.fftSize
                      << ",\"hop\":" << r.hop << ",\"history\":" << r.history
                      << ",\"binHz\":" << fmt(double(r.rate) / r.fftSize, 6) << ",\"unit\":\"dBFS\",";
        if (o.everySpectrum) json.stream() << "\"spectra\":[";
    }
    SpectrumStage spectra(r, o.everySpectrum && !o.jsonPath.empty() ? &json.stream() : nullptr);
    if (!spectra.open(error)) return failWith(error);

    InterruptGuard interruptible;
    const bool firstPass = std::any_of(steps.begin(), steps.end(), [](const auto& s) { return s->wantsFirstPass(); });
    Progress progress(o.progress && !options().quiet, "analysing " + source.name, source.frames * (firstPass ? 2 : 1));
    uint64_t done = 0;
    const uint32_t chunk = std::max<uint32_t>(1, 4096 / r.hop) * r.hop;
    if (firstPass) {
        auto measure = [&](const int16_t* pcm, uint32_t frames) {
            for (const auto& step : steps)
                if (step->wantsFirstPass()) step->measure(pcm, frames);
        };
        if (!readAll(source, chunk, progress, done, measure, error) || !source.rewind(error)) {
            progress.finish();
            return failWith(error);
        }
    }
    double sumSquares = 0;
    auto analyse = [&](const int16_t* pcm, uint32_t frames) {
        measureWaveform(pcm, frames, r, sumSquares);
        for (uint32_t at = 0; at < frames; at += r.hop)
            spectra.hop(pcm + size_t(at) * r.channels, std::min(r.hop, frames - at));
        for (const auto& step : steps) step->feed(pcm, frames);
        r.frames += frames;
    };
    const bool read = readAll(source, chunk, progress, done, analyse, error);
    progress.finish();
    if (!read) return failWith(error);
    r.meanSquare = r.frames ? sumSquares / double(r.frames * r.channels) : 0.0;
    spectra.finish();
    for (const auto& step : steps)
        if (!step->finish(r, error)) return failWith(error);

    auto commit = [&](TextOutput& output, const char* what) { return commitOutput(output, what, error); };
    if (!o.htmlPath.empty()) {
        html.stream() << renderHtmlReport(r);
        if (!commit(html, "report")) return failWith(error);
    }
    if (!o.csvPath.empty()) {
        csv.stream() << longTermCsv(r);
        if (!commit(csv, "long-term spectrum")) return failWith(error);
    }
    if (!o.jsonPath.empty()) {
        if (o.everySpectrum) json.stream() << "],\n";
        jsonSummary(r, json.stream());
        if (!commit(json, "spectra")) return failWith(error);
    }
    if (o.printSlices) std::cout << sliceTable(r) << std::flush;
    return 0;
}

int writeDemoReport(AudioSource& source, const std::string& path) {
    AnalyzeOptions settings;
    settings.htmlPath = path;
    return writeAnalysisOutputs(source, settings);
}

}  // namespace dsptool
