// Number parsing shared by the effects of the effect list.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dsptool {

// A whole finite decimal number (strtod syntax) with nothing after it.
bool parseNumber(const std::string& text, double& value);
// A frequency or rate in Hz: a number, or one followed by k for kHz ("48k", "3.5k").
bool parseHertz(const std::string& text, double& value);

// The granular engines run trunc(grain samples x 1.533) / hop samples grains at once: none, and
// a silent output, when the hop is longer. Empty, or the refusal naming both times.
std::string checkGrainTimes(const char* effect, uint32_t rate, double grainMs, double hopMs);

// One positional number argument of an effect.
struct NumberField {
    const char* name;   // e.g. "GRAIN_MS"
    double* value;      // receives the number; left at its default when the argument is absent
    double low, high;   // accepted range, both ends included
    const char* what;   // for the error: "<name> must be <what>, got '...'"
    bool integer = false;
    bool hertz = false;  // accepts the k suffix
};

// Parses args[first ...] into fields[0 ...] in order. False with `error` set ("<effect>: ...")
// when there are more arguments than fields or one is not a number in its field's range.
bool parseFields(const char* effect, const std::vector<std::string>& args, size_t first, const NumberField* fields,
                 size_t fieldCount, std::string& error);

template <size_t N>
bool parseFields(const char* effect, const std::vector<std::string>& args, size_t first,
                 const NumberField (&fields)[N], std::string& error) {
    return parseFields(effect, args, first, fields, N, error);
}

}  // namespace dsptool
