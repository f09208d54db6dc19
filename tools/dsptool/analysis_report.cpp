#include "analysis_report.h"

#include "analysis_onsets.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "dsp.h"
#include "registry.h"

namespace dsptool {

namespace {

struct NamedStep {
    std::string name;
    AnalysisStep step;
};

std::vector<NamedStep>& steps() {
    static std::vector<NamedStep> registered;
    return registered;
}

constexpr uint32_t kColumns = 1200;     // picture width in data columns
constexpr uint32_t kSpectrumRows = 256; // spectrogram height in rows (log-spaced frequencies)
constexpr double kLowHz = 20.0;
constexpr double kRangeDb = 120.0;      // pictures show 0 down to -120 dBFS

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

std::string timeLabel(double seconds) {
    if (seconds >= 60) {
        const int minutes = int(seconds / 60);
        return std::to_string(minutes) + ":" + (seconds - minutes * 60 < 10 ? "0" : "") +
               fmt(seconds - minutes * 60, 0);
    }
    return fmt(seconds, seconds < 10 ? 1 : 0) + " s";
}

// Round steps for a time axis of `seconds`.
double tickStep(double seconds) {
    for (double step : {0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 60.0, 120.0, 300.0, 600.0})
        if (seconds / step <= 10) return step;
    return 1200.0;
}

std::string frequencyLabel(double hz) {
    if (hz < 1000) return fmt(hz, 0);
    const double khz = hz / 1000;
    return fmt(khz, khz == std::floor(khz) ? 0 : 1) + " k";
}

// ---------------------------------------------------------------------------------------
// Analysis
// ---------------------------------------------------------------------------------------

void measureWaveform(const AudioClip& clip, AnalysisResults& r) {
    const uint64_t frames = clip.frames();
    const uint32_t columns = uint32_t(std::max<uint64_t>(1, std::min<uint64_t>(kColumns, frames)));
    r.waveMin.assign(clip.channels, std::vector<float>(columns, 0.0f));
    r.waveMax.assign(clip.channels, std::vector<float>(columns, 0.0f));
    double peak = 0, sumSquares = 0;
    for (uint64_t i = 0; i < frames; ++i) {
        const uint32_t column = uint32_t(i * columns / frames);
        for (uint32_t c = 0; c < clip.channels; ++c) {
            const float x = clip.pcm[i * clip.channels + c] / 32767.0f;
            r.waveMin[c][column] = std::min(r.waveMin[c][column], x);
            r.waveMax[c][column] = std::max(r.waveMax[c][column], x);
            peak = std::max(peak, double(std::fabs(x)));
            sumSquares += double(x) * x;
        }
    }
    r.peakDbfs = peak > 0 ? 20 * std::log10(peak) : -200.0;
    r.rmsDbfs = frames ? toDb(sumSquares / double(frames * clip.channels)) : -200.0;
}

bool computeSpectra(const AudioClip& clip, AnalysisResults& r, std::string& error) {
    struct Term {
        void operator()(dsp_effect* e) const { termFftAnalyze(e); }
    };
    std::unique_ptr<dsp_effect, Term> analyser(initFftAnalyze(r.hop, clip.channels, r.fftSize, r.history));
    if (!analyser) {
        error = "the FFT analyser refused block " + std::to_string(r.hop) + ", FFT size " +
                std::to_string(r.fftSize) + ", history " + std::to_string(r.history);
        return false;
    }
    const uint32_t bins = r.fftSize / 2;
    const uint64_t frames = clip.frames();
    r.spectrumCount = uint32_t((frames + r.hop - 1) / r.hop);
    r.spectra.resize(size_t(r.spectrumCount) * clip.channels * bins);
    // dB of the unnormalised transform to dBFS: a full-scale sine on a bin reads n/4.
    const float offset = float(20 * std::log10(r.fftSize / 4.0));
    for (uint32_t s = 0; s < r.spectrumCount; ++s) {
        const uint64_t at = uint64_t(s) * r.hop;
        const uint32_t count = uint32_t(std::min<uint64_t>(r.hop, frames - at));
        float* out = r.spectra.data() + size_t(s) * clip.channels * bins;
        doFftAnalyze(analyser.get(), clip.pcm.data() + at * clip.channels, out, count * clip.channels * 2);
        for (uint32_t i = 0; i < clip.channels * bins; ++i) out[i] -= offset;
    }
    r.longTermDb.assign(clip.channels, std::vector<float>(bins, -200.0f));
    for (uint32_t c = 0; c < clip.channels; ++c) {
        std::vector<double> power(bins, 0.0);
        for (uint32_t s = 0; s < r.spectrumCount; ++s) {
            const float* spectrum = r.spectrum(s, c);
            for (uint32_t k = 0; k < bins; ++k) power[k] += std::pow(10.0, spectrum[k] / 10.0);
        }
        for (uint32_t k = 0; k < bins; ++k)
            r.longTermDb[c][k] = r.spectrumCount ? float(toDb(power[k] / r.spectrumCount)) : -200.0f;
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Pictures
// ---------------------------------------------------------------------------------------

constexpr int kPlotWidth = 1000;
constexpr int kLeft = 56;
constexpr int kRight = 12;

// x position of frequency hz on a log axis from kLowHz to the Nyquist frequency.
double frequencyX(double hz, double nyquist) {
    const double t = std::log(hz / kLowHz) / std::log(nyquist / kLowHz);
    return kLeft + t * (kPlotWidth - kLeft - kRight);
}

std::string waveformSvg(const AnalysisResults& r) {
    const int lane = 110, top = 16, bottom = 24;
    const int height = top + int(r.channels) * lane + bottom;
    const double plotW = kPlotWidth - kLeft - kRight;
    const double seconds = double(r.frames) / r.rate;
    std::ostringstream svg;
    svg << "<svg id=\"waveform-svg\" viewBox=\"0 0 " << kPlotWidth << ' ' << height << "\" width=\"" << kPlotWidth
        << "\" height=\"" << height << "\" role=\"img\" aria-label=\"waveform\">";
    const char* names[] = {"L", "R"};
    for (uint32_t c = 0; c < r.channels; ++c) {
        const double mid = top + c * lane + lane / 2.0, half = lane / 2.0 - 4;
        svg << "<rect x=\"" << kLeft << "\" y=\"" << top + c * lane << "\" width=\"" << plotW << "\" height=\"" << lane
            << "\" fill=\"#f4f6fa\"/>";
        svg << "<line x1=\"" << kLeft << "\" x2=\"" << kLeft + plotW << "\" y1=\"" << mid << "\" y2=\"" << mid
            << "\" stroke=\"#c8ccd4\"/>";
        svg << "<text x=\"8\" y=\"" << mid + 4 << "\">" << (r.channels == 1 ? "mono" : names[c]) << "</text>";
        const auto& lo = r.waveMin[c];
        const auto& hi = r.waveMax[c];
        const size_t columns = hi.size();
        svg << "<path class=\"wave\" fill=\"#3b6fb6\" stroke=\"#3b6fb6\" stroke-width=\"0.6\" d=\"";
        for (size_t i = 0; i < columns; ++i)
            svg << (i ? 'L' : 'M') << fmt(kLeft + plotW * (i + 0.5) / columns, 1) << ',' << fmt(mid - hi[i] * half, 1);
        for (size_t i = columns; i-- > 0;)
            svg << 'L' << fmt(kLeft + plotW * (i + 0.5) / columns, 1) << ',' << fmt(mid - lo[i] * half, 1);
        svg << "Z\"/>";
        for (const TimeCurve& curve : r.curves) {
            if (curve.channel != c || curve.values.empty() || seconds <= 0) continue;
            for (int sign : {1, -1}) {
                svg << "<polyline class=\"curve\" fill=\"none\" stroke=\"" << escapeHtml(curve.color)
                    << "\" stroke-width=\"1.2\" points=\"";
                for (size_t i = 0; i < curve.values.size(); ++i) {
                    const double t = i * curve.secondsPerPoint;
                    if (t > seconds) break;
                    svg << fmt(kLeft + plotW * t / seconds, 1) << ','
                        << fmt(mid - sign * std::min(1.0f, curve.values[i]) * half, 1) << ' ';
                }
                svg << "\"><title>" << escapeHtml(curve.name) << "</title></polyline>";
            }
        }
    }
    const double laneBottom = top + r.channels * lane;
    for (const TimeMarker& marker : r.markers) {
        if (seconds <= 0) break;
        const double x0 = kLeft + plotW * std::clamp(marker.start / seconds, 0.0, 1.0);
        if (marker.end > marker.start) {
            const double x1 = kLeft + plotW * std::clamp(marker.end / seconds, 0.0, 1.0);
            svg << "<rect class=\"marker-span\" x=\"" << fmt(x0) << "\" y=\"" << top << "\" width=\"" << fmt(x1 - x0)
                << "\" height=\"" << laneBottom - top << "\" fill=\"#ff7f0e\" fill-opacity=\"0.08\"/>";
        }
        svg << "<line class=\"marker\" x1=\"" << fmt(x0) << "\" x2=\"" << fmt(x0) << "\" y1=\"" << top << "\" y2=\""
            << laneBottom << "\" stroke=\"#e6550d\" stroke-width=\"1\"/>";
        if (!marker.label.empty())
            svg << "<text x=\"" << fmt(x0 + 2) << "\" y=\"" << top - 4 << "\" style=\"fill:#e6550d\">"
                << escapeHtml(marker.label) << "</text>";
    }
    const double step = tickStep(seconds);
    for (double t = 0; seconds > 0 && t <= seconds + 1e-9; t += step) {
        const double x = kLeft + plotW * t / seconds;
        svg << "<line x1=\"" << fmt(x) << "\" x2=\"" << fmt(x) << "\" y1=\"" << laneBottom << "\" y2=\""
            << laneBottom + 4 << "\" stroke=\"#888\"/><text x=\"" << fmt(x) << "\" y=\"" << laneBottom + 16
            << "\" text-anchor=\"middle\">" << timeLabel(t) << "</text>";
    }
    svg << "</svg>";
    return svg.str();
}

// The spectrogram as bytes (0 = -120 dBFS or below, 255 = 0 dBFS), rows from the highest
// frequency down, channels averaged in power; columns merge spectra by their maximum.
std::vector<uint8_t> spectrogramBytes(const AnalysisResults& r, uint32_t& columns) {
    const uint32_t bins = r.fftSize / 2;
    columns = std::max<uint32_t>(1, std::min(kColumns, r.spectrumCount));
    const double nyquist = r.rate / 2.0, binHz = double(r.rate) / r.fftSize;
    std::vector<float> merged(size_t(columns) * bins, -200.0f);
    for (uint32_t s = 0; s < r.spectrumCount; ++s) {
        const uint32_t column = uint32_t(uint64_t(s) * columns / r.spectrumCount);
        float* dst = &merged[size_t(column) * bins];
        for (uint32_t k = 0; k < bins; ++k) {
            double power = 0;
            for (uint32_t c = 0; c < r.channels; ++c) power += std::pow(10.0, r.spectrum(s, c)[k] / 10.0);
            dst[k] = std::max(dst[k], float(toDb(power / r.channels)));
        }
    }
    std::vector<uint8_t> bytes(size_t(columns) * kSpectrumRows, 0);
    for (uint32_t row = 0; row < kSpectrumRows; ++row) {
        // Row 0 is the top of the picture.
        const double t0 = double(kSpectrumRows - 1 - row) / kSpectrumRows, t1 = t0 + 1.0 / kSpectrumRows;
        const double lo = kLowHz * std::pow(nyquist / kLowHz, t0) / binHz;
        const double hi = kLowHz * std::pow(nyquist / kLowHz, t1) / binHz;
        const uint32_t first = uint32_t(std::ceil(lo)), last = std::min(bins - 1, uint32_t(std::floor(hi)));
        for (uint32_t column = 0; column < columns; ++column) {
            const float* src = &merged[size_t(column) * bins];
            double db;
            if (first <= last) {
                db = -200;
                for (uint32_t k = first; k <= last; ++k) db = std::max(db, double(src[k]));
            } else {
                const double centre = std::min((lo + hi) / 2, double(bins - 1));
                const uint32_t k = uint32_t(centre);
                const double frac = centre - k;
                db = src[k] * (1 - frac) + src[std::min(k + 1, bins - 1)] * frac;
            }
            const double level = std::clamp((db + kRangeDb) / kRangeDb, 0.0, 1.0);
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
    const char* colors[] = {"#3b6fb6", "#e6550d"};
    for (uint32_t c = 0; c < r.channels; ++c) {
        svg << "<polyline class=\"spectrum\" fill=\"none\" stroke=\"" << colors[c] << "\" stroke-width=\"1.3\" points=\"";
        for (uint32_t k = 1; k < r.fftSize / 2; ++k) {
            const double hz = k * binHz;
            if (hz < kLowHz) continue;
            svg << fmt(frequencyX(hz, nyquist), 1) << ',' << fmt(y(r.longTermDb[c][k]), 1) << ' ';
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
// records on <body> what was drawn (data-rendered, data-painted: pixels above the floor colour).
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
  var image = ctx.createImageData(cols, rows), painted = 0;
  for (var i = 0; i < cols * rows; i++) {
    var v = bytes.charCodeAt(i), c = colour(v);
    image.data[4 * i] = c[0]; image.data[4 * i + 1] = c[1]; image.data[4 * i + 2] = c[2]; image.data[4 * i + 3] = 255;
    if (v > 0) painted++;
  }
  var buffer = document.createElement('canvas');
  buffer.width = cols; buffer.height = rows;
  buffer.getContext('2d').putImageData(image, 0, 0);
  ctx.fillStyle = '#ffffff'; ctx.fillRect(0, 0, canvas.width, canvas.height);
  ctx.imageSmoothingEnabled = cols < w;
  ctx.drawImage(buffer, left, top, w, h);
  ctx.fillStyle = '#555'; ctx.font = '11px sans-serif'; ctx.textAlign = 'right';
  [50, 100, 200, 500, 1000, 2000, 5000, 10000, 20000].forEach(function (hz) {
    if (hz <= low || hz >= nyquist) return;
    var y = top + h * (1 - Math.log(hz / low) / Math.log(nyquist / low));
    ctx.fillRect(left - 4, y, 4, 1);
    ctx.fillText(hz >= 1000 ? (hz / 1000) + ' k' : String(hz), left - 6, y + 4);
  });
  ctx.textAlign = 'center';
  var step = +data.dataset.tick;
  for (var t = 0; seconds > 0 && t <= seconds + 1e-9; t += step) {
    var x = left + w * t / seconds;
    ctx.fillRect(x, top + h, 1, 4);
    ctx.fillText(t >= 60 ? Math.floor(t / 60) + ':' + ('0' + Math.round(t % 60)).slice(-2) : (Math.round(t * 100) / 100) + ' s', x, top + h + 16);
  }
  ctx.textAlign = 'left'; ctx.fillText('Hz', 4, top + 10);
  var body = document.body;
  body.dataset.painted = String(painted);
  body.dataset.rendered = (body.dataset.rendered ? body.dataset.rendered + ' ' : '') + 'spectrogram';
})();
)JS";

}  // namespace

AnalysisStepRegistration::AnalysisStepRegistration(std::string name, AnalysisStep step) {
    steps().push_back({std::move(name), std::move(step)});
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

bool analyseClip(const AudioClip& clip, const AnalyzeOptions& o, AnalysisResults& r, std::string& error) {
    if (clip.channels < 1 || clip.channels > 2 || clip.rate == 0) {
        error = "only mono or stereo audio with a sample rate can be analysed";
        return false;
    }
    error = checkAnalyzeOptions(o);
    if (!error.empty()) return false;
    r = AnalysisResults{};
    r.name = clip.name;
    r.rate = clip.rate;
    r.channels = clip.channels;
    r.frames = clip.frames();
    r.fftSize = o.fftSize;
    r.hop = o.block;
    r.history = o.history ? o.history : o.fftSize;
    measureWaveform(clip, r);
    if (!computeSpectra(clip, r, error)) return false;
    for (const NamedStep& step : steps()) step.step(clip, o, r);
    return true;
}

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
         << "<tr><td>Duration</td><td>" << fmt(seconds, 2) << " s (" << r.frames << " frames)</td></tr>"
         << "<tr><td>Format</td><td>" << r.rate << " Hz, " << (r.channels == 1 ? "mono" : "stereo")
         << ", 16-bit</td></tr>"
         << "<tr><td>Peak / RMS</td><td>" << fmt(r.peakDbfs) << " dBFS / " << fmt(r.rmsDbfs) << " dBFS</td></tr>"
         << "<tr><td>Analysis</td><td>FFT " << r.fftSize << " points (" << fmt(double(r.rate) / r.fftSize, 2)
         << " Hz per bin), hop " << r.hop << " frames (" << fmt(1000.0 * r.hop / r.rate, 1) << " ms), history "
         << r.history << ", Hann window; " << r.spectrumCount << " spectra</td></tr>"
         << "</table></section>\n";
    html << "<section id=\"waveform\"><h2>Waveform</h2>" << waveformSvg(r) << "</section>\n";
    html << "<section id=\"spectrogram\"><h2>Spectrogram</h2><canvas id=\"spectrogram-canvas\" width=\"" << kPlotWidth
         << "\" height=\"360\" aria-label=\"spectrogram\"></canvas>"
         << "<p class=\"note\">Short-time spectra, channels averaged; brightness from -120 dBFS (black) to 0 dBFS "
            "(a full-scale sine on a bin); log frequency axis.</p>"
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

std::string spectraJson(const AnalysisResults& r) {
    const uint32_t bins = r.fftSize / 2;
    std::ostringstream json;
    json << "{\"name\":\"" << escapeJson(r.name) << "\",\"rate\":" << r.rate << ",\"channels\":" << r.channels
         << ",\"frames\":" << r.frames << ",\"fftSize\":" << r.fftSize << ",\"hop\":" << r.hop
         << ",\"history\":" << r.history << ",\"binHz\":" << fmt(double(r.rate) / r.fftSize, 6)
         << ",\"unit\":\"dBFS\",\"longTerm\":[";
    auto list = [&](const float* values) {
        json << '[';
        for (uint32_t k = 0; k < bins; ++k) json << (k ? "," : "") << fmt(values[k], 2);
        json << ']';
    };
    for (uint32_t c = 0; c < r.channels; ++c) {
        if (c) json << ',';
        list(r.longTermDb[c].data());
    }
    json << "],\"spectra\":[";
    for (uint32_t s = 0; s < r.spectrumCount; ++s) {
        json << (s ? ",\n" : "\n") << "{\"time\":" << fmt(double(uint64_t(s + 1) * r.hop) / r.rate, 6) << ",\"db\":[";
        for (uint32_t c = 0; c < r.channels; ++c) {
            if (c) json << ',';
            list(r.spectrum(s, c));
        }
        json << "]}";
    }
    json << "]}\n";
    return json.str();
}

int writeAnalysisOutputs(const AudioClip& clip, const AnalyzeOptions& settings) {
    AnalysisResults results;
    std::string error;
    if (!analyseClip(clip, settings, results, error)) return failWith(error);
    auto write = [&](const std::string& path, const std::string& text, const char* what) {
        if (path == "-") {
            std::cout << text;
            return std::cout.good();
        }
        std::ofstream file(path, std::ios::binary);
        file << text;
        if (!file.good()) return false;
        if (!dsptool::options().quiet) std::fprintf(stderr, "%s: %s\n", what, path.c_str());
        return true;
    };
    if (!settings.htmlPath.empty() && !write(settings.htmlPath, renderHtmlReport(results), "report"))
        return failWith("cannot write " + settings.htmlPath);
    if (!settings.csvPath.empty() && !write(settings.csvPath, longTermCsv(results), "long-term spectrum"))
        return failWith("cannot write " + settings.csvPath);
    if (!settings.jsonPath.empty() && !write(settings.jsonPath, spectraJson(results), "spectra"))
        return failWith("cannot write " + settings.jsonPath);
    if (!settings.envelopeCsvPath.empty() && !write(settings.envelopeCsvPath, envelopeCsv(results), "envelope"))
        return failWith("cannot write " + settings.envelopeCsvPath);
    if (settings.printSlices) std::cout << sliceTable(results) << std::flush;
    return 0;
}

int writeDemoReport(const AudioClip& clip, const std::string& path) {
    AnalyzeOptions settings;
    settings.htmlPath = path;
    return writeAnalysisOutputs(clip, settings);
}

}  // namespace dsptool
