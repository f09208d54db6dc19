#include "arguments.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace dsptool {

bool parseNumber(const std::string& text, double& value) {
    errno = 0;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end != nullptr && *end == '\0' && errno == 0 && std::isfinite(value);
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
        if (!parseNumber(args[i], v) || v < f.low || v > f.high || (f.integer && v != std::floor(v))) {
            error = std::string(effect) + ": " + f.name + " must be " + f.what + ", got '" + args[i] + "'";
            return false;
        }
        *f.value = v;
    }
    return true;
}

}  // namespace dsptool
