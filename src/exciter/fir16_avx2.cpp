// The 16-tap lane FIR in 256-bit registers: eight float outputs per group.
#include "exciter/fir16_kernels.h"

#if DSP_X86_KERNELS
#include <immintrin.h>

#include "cpu/target.h"

DSP_TARGET_BEGIN(DSP_AVX2_FEATURES)
#include "exciter/fir16_lanes.h"

namespace dsp::fir16::avx2 {

namespace {

struct Floats {
    static constexpr uint32_t kLanes = 8;
    using Scalar = float;
    using Reg = __m256;
    static Reg set1(float v) { return _mm256_set1_ps(v); }
    static void stage(const float* in, Reg* wide, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) wide[i] = _mm256_broadcast_ss(in + i);
    }
    template <int kFirst>
    static Reg split(Reg early, Reg late) {
        return _mm256_blend_ps(early, late, (0xff << kFirst) & 0xff);
    }
    static Reg table(const float* p) { return _mm256_loadu_ps(p); }
    static Reg mul(Reg a, Reg b) { return _mm256_mul_ps(a, b); }
    static Reg add(Reg a, Reg b) { return _mm256_add_ps(a, b); }
    static Reg zero() { return _mm256_setzero_ps(); }
    static Reg loadInput(const float* p) { return _mm256_loadu_ps(p); }
    static void storeOutput(float* p, Reg v) { _mm256_storeu_ps(p, v); }
    static float laneZero(Reg v) { return _mm256_cvtss_f32(v); }
};

}  // namespace

uint32_t sseResults(const float* in, float* out, uint32_t frames, const float* lanes8, float* history, float c0,
                    uint32_t& writePos) {
    return run<Floats, SseTree>(in, out, frames, lanes8, history, c0, writePos);
}

uint32_t amd3dnowResults(const float* in, float* out, uint32_t frames, const float* lanes8, float* history, float c0,
                         uint32_t& writePos) {
    return run<Floats, Amd3dnowTree>(in, out, frames, lanes8, history, c0, writePos);
}

}  // namespace dsp::fir16::avx2
DSP_TARGET_END
#endif
