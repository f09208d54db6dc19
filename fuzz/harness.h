// What the fuzz targets share: typed values read from the input (zero past its end), one test
// signal, bit-exact comparison with a sample model, and processing calls whose output is
// fenced by a canary.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "chain/dsp_effect.h"

namespace dspfuzz {

struct ByteReader {
    const uint8_t* data;
    size_t size;

    template <class T>
    T take() {
        T value{};
        const size_t n = size < sizeof(T) ? size : sizeof(T);
        std::memcpy(&value, data, n);
        data += n;
        size -= n;
        return value;
    }

    // Mostly an everyday value (a T times `scale`), sometimes any float at all.
    template <class T>
    float value(float scale) {
        return take<uint8_t>() < 220 ? take<T>() * scale : take<float>();
    }

    template <class T, size_t N>
    T pick(const T (&options)[N]) {
        return options[take<uint8_t>() % N];
    }
};

// A finding: the fuzzer reports the abort with the input that caused it.
inline void check(bool ok) {
    if (!ok) std::abort();
}

// The same float to the bit (NaN payloads apart).
inline bool same(float a, float b) { return a == b ? std::signbit(a) == std::signbit(b) : (std::isnan(a) && std::isnan(b)); }

inline void checkSame(const float* got, const float* want, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i) check(same(got[i], want[i]));
}

// A fixed signal over the whole 16-bit range; `step` sets how fast it moves.
inline std::vector<int16_t> pattern(size_t n, uint32_t step = 7919) {
    std::vector<int16_t> pcm(n);
    for (size_t i = 0; i < n; ++i) pcm[i] = int16_t(i * step + (i >> 3) * 31);
    return pcm;
}

// The same signal at full scale 1.
inline std::vector<float> floatPattern(size_t n, uint32_t step = 7919) {
    const std::vector<int16_t> pcm = pattern(n, step);
    std::vector<float> x(n);
    std::transform(pcm.begin(), pcm.end(), x.begin(), [](int16_t s) { return s / 32768.0f; });
    return x;
}

// One standalone call over `bytes` of `pcm`: the output must fit the size the effect announces
// for the frames it takes, and nothing may be written past that.
inline void processGuarded(dsp::DspEffect& effect, const std::vector<int16_t>& pcm, uint32_t bytes) {
    const uint32_t channels = std::max(effect.inChannels, 1u);
    const uint32_t frames = std::min(bytes / (2 * channels), effect.inSize);
    if (size_t{frames} * channels > pcm.size()) return;
    const uint64_t announced = uint64_t{effect.getDstSize(frames)} * effect.outChannels;
    if (announced > (1u << 22)) return;  // legitimate, but beyond this harness's memory limit
    std::vector<int16_t> out(announced + 1, 0x5a5a);
    check(effect.processPcm(pcm.data(), out.data(), bytes) <= announced * 2 && out[announced] == 0x5a5a);
}

}  // namespace dspfuzz
