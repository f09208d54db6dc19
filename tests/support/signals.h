// Seeded signals and plain measurements shared by the tests, the benchmarks and the fuzz targets.
#pragma once
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace dsptest {

constexpr double kTwoPi = 6.283185307179586;

// Uniform noise in [-amplitude, amplitude), reproducible from the seed.
inline std::vector<float> noise(std::size_t n, uint32_t seed, float amplitude = 0.9f) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-amplitude, amplitude);
    std::vector<float> v(n);
    for (float& x : v) x = dist(rng);
    return v;
}

// Uniform 16-bit samples in [-limit - 1, limit] (the whole range by default).
inline std::vector<int16_t> pcmNoise(std::size_t n, uint32_t seed, int limit = 32767) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(-limit - 1, limit);
    std::vector<int16_t> v(n);
    for (int16_t& x : v) x = int16_t(dist(rng));
    return v;
}

// amplitude * sin(2 pi hz i / rate)
inline std::vector<float> sine(std::size_t n, double hz, double rate, double amplitude = 0.5) {
    std::vector<float> x(n);
    for (std::size_t i = 0; i < n; ++i) x[i] = float(amplitude * std::sin(kTwoPi * hz * double(i) / rate));
    return x;
}

// Root mean square of x[from, to).
inline double rms(const std::vector<float>& x, std::size_t from, std::size_t to) {
    double s = 0;
    for (std::size_t i = from; i < to; ++i) s += double(x[i]) * x[i];
    return std::sqrt(s / double(to - from));
}

}  // namespace dsptest
