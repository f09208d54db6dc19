// The stereo cascade in 512-bit registers: four sections per register, eight per pass.
#include "filters/cascade_kernels.h"

#if DSP_X86_KERNELS
#include <immintrin.h>

#include "cpu/target.h"

DSP_TARGET_BEGIN(DSP_AVX512_FEATURES)
#include "filters/cascade_skewed.h"

namespace dsp::lanes::avx512 {

namespace {
struct Regs {
    static constexpr int kSections = 4;
    using Reg = __m512d;
    using Mask = __mmask8;
    static Reg load(const double* p) { return _mm512_load_pd(p); }
    static void store(double* p, Reg v) { _mm512_store_pd(p, v); }
    static Reg zero() { return _mm512_setzero_pd(); }
    static Reg add(Reg a, Reg b) { return _mm512_add_pd(a, b); }
    static Reg mul(Reg a, Reg b) { return _mm512_mul_pd(a, b); }
    // (The zero-masked forms of these intrinsics: the plain ones trip a compiler warning.)
    static Reg shiftUp(Reg low, Reg y) {
        return _mm512_castsi512_pd(_mm512_maskz_alignr_epi64(0xff, _mm512_castpd_si512(y), _mm512_castpd_si512(low), 6));
    }
    static Reg enter(__m128d in, Reg y) {
        return shiftUp(_mm512_maskz_broadcast_f64x4(0xff, _mm256_insertf128_pd(_mm256_castpd128_pd256(in), in, 1)), y);
    }
    static Reg carry(Reg prev, Reg y) { return shiftUp(prev, y); }
    static Reg select(Mask m, Reg a, Reg b) { return _mm512_mask_mov_pd(a, m, b); }
    static Mask mask(unsigned bits) { return static_cast<__mmask8>(bits & 0xff); }
    template <int k>
    static __m128d pair(Reg v) {
        return _mm_castps_pd(_mm512_maskz_extractf32x4_ps(0xf, _mm512_castpd_ps(v), k));
    }
};
}  // namespace

void runStereoStage(const BiquadArrays* f, int32_t count, const float* const in[], uint32_t start, Pair* stage,
                    uint32_t len) {
    lanes::runStereoStage<Regs>(f, count, in, start, stage, len);
}

}  // namespace dsp::lanes::avx512
DSP_TARGET_END
#endif
