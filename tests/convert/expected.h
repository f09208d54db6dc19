// Expected conversion results worked out from the stated formulas with double arithmetic and
// explicit rounding rules, independent of the library's kernels.
#pragma once
#include <cmath>
#include <cstdint>
#include <limits>

namespace expected {

inline double halfEven(double x) {
    double r = std::floor(x);
    const double frac = x - r;
    if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2.0) != 0)) r += 1;
    return r;
}

// Nearest float to x (ties to even), by hand on the 24-bit significand; x in the normal range.
inline double toFloat(double x) {
    if (x == 0 || !std::isfinite(x)) return x;
    int e = 0;
    const double scaled = std::ldexp(std::frexp(std::fabs(x), &e), 24);  // in [2^23, 2^24)
    return std::copysign(std::ldexp(halfEven(scaled), e - 24), x);
}

inline int16_t clamp16(double v) { return static_cast<int16_t>(v < -32768 ? -32768 : v > 32767 ? 32767 : v); }

// --- int16 to float ---
inline float reference(int s) { return static_cast<float>(toFloat(s * 3.051850947599719e-05)); }
inline float referenceMix(int l, int r) { return reference(static_cast<int>(std::floor((l + r) / 2.0))); }
// s in the upper half and its own bit pattern in the lower half, then two float roundings.
inline float widened(int s) {
    const double w = s * 65536.0 + (s < 0 ? s + 65536 : s);
    return static_cast<float>(toFloat(toFloat(w) * static_cast<double>(4.656754981624545e-10f)));
}
inline float summed(int l, int r) {
    return static_cast<float>(toFloat((l + r) * static_cast<double>(1.5259254723787308e-05f)));
}

// --- float to int16 (x * 32767 is exact in double) ---
inline int16_t reference(float x) {
    double c = x;
    if (std::isnan(c) || c < -1) c = -1;
    else if (c > 1) c = 1;
    return static_cast<int16_t>(std::trunc(c * 32767.0));
}
inline int16_t truncated(float x) {
    if (std::isnan(x)) return -32768;
    return clamp16(std::trunc(toFloat(static_cast<double>(x) * 32767.0)));
}
inline int16_t rounded(float x) {
    const double p = std::isinf(x) ? x : toFloat(static_cast<double>(x) * 32767.0);
    if (!(p >= -2147483648.0 && p < 2147483648.0)) return -32768;  // integer-indefinite
    return clamp16(halfEven(p));
}

}  // namespace expected
