#include "arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <algorithm>

namespace dsptool {

bool parseNumber(const std::string& text, double& value) {
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == '\0' && errno == 0 && std::isfinite(value);
}

bool parseHertz(const std::string& text, double& value) {
    const bool kilo = !text.empty() && (text.back() == 'k' || text.back() == 'K');
    if (!parseNumber(kilo ? text.substr(0, text.size() - 1) : text, value)) return false;
    if (kilo) value *= 1000.0;
    if (std::fabs(value - std::round(value)) < 1e-6) value = std::round(value);  // 44.1k is 44100
    return true;
}

std::string checkGrainTimes(const char* effect, uint32_t rate, double grainMs, double hopMs) {
    // The engines' own sample counts: float seconds, truncated in double.
    const double grain = std::trunc(double(float(rate)) * double(float(grainMs * 0.001)) * 1.5330188679245282);
    const double hop = std::max(1.0, std::trunc(double(float(rate)) * double(float(hopMs * 0.001))));
    if (hop <= grain) return "";
    char text[200];
    std::snprintf(text, sizeof text,
                  "%s: HOP_MS %g is longer than a grain (1.533 x GRAIN_MS = %.3g ms): no grain would sound; "
                  "use a hop of at most %.3g ms",
                  effect, hopMs, grainMs * 1.5330188679245282, grain * 1000.0 / rate);
    return text;
}

bool parseFields(const char* effect, const std::vector<std::string>& args, size_t first, const NumberField* fields,
                 size_t fieldCount, std::string& error) {
    if (args.size() > first + fieldCount) {
        error = std::string(effect) + ": too many arguments";
        return false;
    }
    for (size_t i = first; i < args.size(); ++i) {
        const NumberField& f = fields[i - first];
        double v;
        if (!(f.hertz ? parseHertz(args[i], v) : parseNumber(args[i], v)) || v < f.low || v > f.high || (f.integer && v != std::floor(v))) {
            error = std::string(effect) + ": " + f.name + " must be " + f.what + ", got '" + args[i] + "'";
            return false;
        }
        *f.value = v;
    }
    return true;
}

}  // namespace dsptool
