// Internal: the 256-bit register vocabulary of the skewed stereo cascade (cascade_skewed.h):
// two sections of both channels per register. Include only inside an AVX2 target region.
#pragma once

namespace dsp {
namespace lanes {
namespace avx2 {

struct Regs {
    static constexpr int kSections = 2;
    using Reg = __m256d;
    using Mask = __m256d;  // sign bit set: the lane moves
    static Reg load(const double* p) { return _mm256_load_pd(p); }
    static void store(double* p, Reg v) { _mm256_store_pd(p, v); }
    static Reg zero() { return _mm256_setzero_pd(); }
    static Reg add(Reg a, Reg b) { return _mm256_add_pd(a, b); }
    static Reg mul(Reg a, Reg b) { return _mm256_mul_pd(a, b); }
    static Reg enter(__m128d in, Reg y) {
        return _mm256_insertf128_pd(_mm256_castpd128_pd256(in), _mm256_castpd256_pd128(y), 1);
    }
    static Reg carry(Reg prev, Reg y) { return _mm256_permute2f128_pd(prev, y, 0x21); }
    static Reg select(Mask m, Reg a, Reg b) { return _mm256_blendv_pd(a, b, m); }
    static Mask mask(unsigned bits) {
        const __m256i lane = _mm256_setr_epi64x(1, 2, 4, 8);
        const __m256i set = _mm256_and_si256(_mm256_set1_epi64x(bits & 0xf), lane);
        return _mm256_castsi256_pd(_mm256_cmpeq_epi64(set, lane));
    }
    template <int k>
    static __m128d pair(Reg v) {
        if constexpr (k == 0) return _mm256_castpd256_pd128(v);
        else return _mm256_extractf128_pd(v, 1);
    }
};

}  // namespace avx2
}  // namespace lanes
}  // namespace dsp
