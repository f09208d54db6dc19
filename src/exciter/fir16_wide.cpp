#include "exciter/fir16_wide.h"

#include <algorithm>

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

namespace dsp {
namespace fir16 {

bool wideSupported() {
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported;
}

#define DSP_FIR_WIDE __attribute__((target("avx2")))
#define DSP_FIR_INLINE __attribute__((target("avx2"), always_inline)) inline

namespace {

constexpr uint32_t kChunk = 256;

// Product vector of slot T for position P (x[n + d] is wide[16 + d]): lanes j < 16 - c hold
// x[n - 1 - c], the others x[n + 15 - c], the sample that overwrote the slot in the group.
template <int P, int T>
DSP_FIR_INLINE __m256 product(const __m256* wide, const float* table) {
    constexpr int c = (T - P) & 15;
    __m256 x = wide[15 - c];
    if constexpr (c >= 9) x = _mm256_blend_ps(x, wide[31 - c], (0xff << (16 - c)) & 0xff);
    return _mm256_mul_ps(x, _mm256_loadu_ps(table + 8 * T));
}

struct TreeSse16 {
    template <int P>
    static DSP_FIR_INLINE __m256 sum(const __m256* w, const float* tb) {
        __m256 s[4];
#define DSP_LANE(l)                                                                                              \
    s[l] = _mm256_add_ps(_mm256_add_ps(product<P, l>(w, tb), product<P, 4 + l>(w, tb)),                      \
                         _mm256_add_ps(product<P, 8 + l>(w, tb), product<P, 12 + l>(w, tb)));
        DSP_LANE(0) DSP_LANE(1) DSP_LANE(2) DSP_LANE(3)
#undef DSP_LANE
        return _mm256_add_ps(_mm256_add_ps(s[0], s[2]), _mm256_add_ps(s[1], s[3]));
    }
};

struct Tree3dnow {
    template <int P>
    static DSP_FIR_INLINE __m256 sum(const __m256* w, const float* tb) {
        __m256 s[4];
#define DSP_LANE(l)                                                                                              \
    s[l] = _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(_mm256_add_ps(_mm256_setzero_ps(), product<P, l>(w, tb)),  \
                                                     product<P, 4 + l>(w, tb)),                                  \
                                       product<P, 8 + l>(w, tb)),                                                \
                         product<P, 12 + l>(w, tb));
        DSP_LANE(0) DSP_LANE(1) DSP_LANE(2) DSP_LANE(3)
#undef DSP_LANE
        return _mm256_add_ps(_mm256_add_ps(s[0], s[2]), _mm256_add_ps(s[1], s[3]));
    }
};

template <class Tree, int P>
DSP_FIR_INLINE void group(const __m256* wide, const float* table, __m256 c0, const float* in, float* out) {
    const __m256 direct = _mm256_mul_ps(_mm256_loadu_ps(in), c0);
    _mm256_storeu_ps(out, _mm256_add_ps(Tree::template sum<P>(wide, table + 16 * 8 * P), direct));
}

template <class Tree>
DSP_FIR_WIDE uint32_t run(const float* in, float* out, uint32_t frames, const float* table, float* history,
                          float c0, uint32_t& writePos) {
    constexpr uint32_t G = 8;
    const __m256 c0v = _mm256_set1_ps(c0);
    alignas(32) __m256 wide[16 + kChunk];
    uint32_t pos = writePos;
    uint32_t done = 0;
    while (frames - done >= G) {
        const uint32_t len = std::min(kChunk, (frames - done) / G * G);
        for (uint32_t k = 1; k <= 16; ++k) wide[16 - k] = _mm256_set1_ps(history[(pos + k - 1) & 15]);
        for (uint32_t i = 0; i < len; ++i) wide[16 + i] = _mm256_broadcast_ss(in + done + i);
        const uint32_t start = pos;
        uint32_t g = 0;
        // Two groups advance the position by 16: one dispatch serves the whole run of pairs.
        switch (pos) {
#define DSP_CASE(P)                                                                                              \
    case P:                                                                                                      \
        for (; g + 2 * G <= len; g += 2 * G) {                                                                   \
            group<Tree, P>(wide + g, table, c0v, in + done + g, out + done + g);                                \
            group<Tree, (P + 8) & 15>(wide + g + G, table, c0v, in + done + g + G, out + done + g + G);          \
        }                                                                                                        \
        if (g < len) group<Tree, P>(wide + g, table, c0v, in + done + g, out + done + g);                       \
        break;
            DSP_CASE(0) DSP_CASE(1) DSP_CASE(2) DSP_CASE(3) DSP_CASE(4) DSP_CASE(5) DSP_CASE(6) DSP_CASE(7)
            DSP_CASE(8) DSP_CASE(9) DSP_CASE(10) DSP_CASE(11) DSP_CASE(12) DSP_CASE(13) DSP_CASE(14) DSP_CASE(15)
#undef DSP_CASE
        }
        pos = (pos - len) & 15;
        // Sample i of the chunk went to slot (start - i - 1) & 15; the last 16 are still there.
        for (uint32_t i = len > 16 ? len - 16 : 0; i < len; ++i)
            history[(start - i - 1) & 15] = _mm256_cvtss_f32(wide[16 + i]);
        done += len;
    }
    writePos = pos;
    return done;
}

}  // namespace

uint32_t runSseWide(const float* in, float* out, uint32_t frames, const float* lanes8, float* history, float c0,
                    uint32_t& writePos) {
    return run<TreeSse16>(in, out, frames, lanes8, history, c0, writePos);
}

uint32_t run3dnowWide(const float* in, float* out, uint32_t frames, const float* lanes8, float* history, float c0,
                      uint32_t& writePos) {
    return run<Tree3dnow>(in, out, frames, lanes8, history, c0, writePos);
}

}  // namespace fir16
}  // namespace dsp

#else

namespace dsp {
namespace fir16 {
bool wideSupported() { return false; }
uint32_t runSseWide(const float*, float*, uint32_t, const float*, float*, float, uint32_t&) { return 0; }
uint32_t run3dnowWide(const float*, float*, uint32_t, const float*, float*, float, uint32_t&) { return 0; }
}  // namespace fir16
}  // namespace dsp

#endif
