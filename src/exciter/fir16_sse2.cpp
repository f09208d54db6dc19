// The 16-tap lane FIR in 128-bit registers: four float outputs per group (SSE and 3DNow!
// results) or two double outputs (the reference results).
#include "exciter/fir16_kernels.h"

#if DSP_X86_KERNELS
#include <emmintrin.h>

#include "exciter/fir16_lanes.h"

namespace dsp::fir16::sse2 {

namespace {

struct Floats {
    static constexpr uint32_t kLanes = 4;
    using Scalar = float;
    using Reg = __m128;
    static Reg set1(float v) { return _mm_set1_ps(v); }
    static void stage(const float* in, Reg* wide, uint32_t n) {
        for (uint32_t i = 0; i < n; i += 4) {
            const __m128 v = _mm_loadu_ps(in + i);
            wide[i] = _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 0, 0, 0));
            wide[i + 1] = _mm_shuffle_ps(v, v, _MM_SHUFFLE(1, 1, 1, 1));
            wide[i + 2] = _mm_shuffle_ps(v, v, _MM_SHUFFLE(2, 2, 2, 2));
            wide[i + 3] = _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 3, 3, 3));
        }
    }
    template <int kFirst>
    static Reg split(Reg early, Reg late) {
        if constexpr (kFirst == 1) return _mm_move_ss(late, early);
        if constexpr (kFirst == 2) return _mm_shuffle_ps(early, late, _MM_SHUFFLE(0, 0, 0, 0));
        return _mm_shuffle_ps(early, _mm_move_ss(late, early), _MM_SHUFFLE(1, 0, 0, 0));
    }
    static Reg table(const float* p) { return _mm_load_ps(p); }
    static Reg mul(Reg a, Reg b) { return _mm_mul_ps(a, b); }
    static Reg add(Reg a, Reg b) { return _mm_add_ps(a, b); }
    static Reg zero() { return _mm_setzero_ps(); }
    static Reg loadInput(const float* p) { return _mm_loadu_ps(p); }
    static void storeOutput(float* p, Reg v) { _mm_storeu_ps(p, v); }
    static float laneZero(Reg v) { return _mm_cvtss_f32(v); }
};

struct Doubles {
    static constexpr uint32_t kLanes = 2;
    using Scalar = double;
    using Reg = __m128d;
    static Reg set1(float v) { return _mm_set1_pd(v); }
    static Reg widen2(const float* p) {
        return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
    }
    static void stage(const float* in, Reg* wide, uint32_t n) {
        for (uint32_t i = 0; i < n; i += 2) {
            const __m128d v = widen2(in + i);
            wide[i] = _mm_unpacklo_pd(v, v);
            wide[i + 1] = _mm_unpackhi_pd(v, v);
        }
    }
    template <int kFirst>
    static Reg split(Reg early, Reg late) {
        return _mm_move_sd(late, early);  // kFirst is 1
    }
    static Reg table(const double* p) { return _mm_load_pd(p); }
    static Reg mul(Reg a, Reg b) { return _mm_mul_pd(a, b); }
    static Reg add(Reg a, Reg b) { return _mm_add_pd(a, b); }
    static Reg loadInput(const float* p) { return widen2(p); }
    static void storeOutput(float* p, Reg v) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_cvtpd_ps(v)));
    }
    static float laneZero(Reg v) { return static_cast<float>(_mm_cvtsd_f64(v)); }
};

}  // namespace

uint32_t sseResults(const float* in, float* out, uint32_t frames, const float* lanes4, float* history, float c0,
                    uint32_t& writePos) {
    return run<Floats, SseTree>(in, out, frames, lanes4, history, c0, writePos);
}

uint32_t amd3dnowResults(const float* in, float* out, uint32_t frames, const float* lanes4, float* history, float c0,
                         uint32_t& writePos) {
    return run<Floats, Amd3dnowTree>(in, out, frames, lanes4, history, c0, writePos);
}

uint32_t referenceResults(const float* in, float* out, uint32_t frames, const double* lanes2, float* history,
                          float c0, uint32_t& writePos) {
    return run<Doubles, ReferenceTree>(in, out, frames, lanes2, history, c0, writePos);
}

}  // namespace dsp::fir16::sse2
#endif
