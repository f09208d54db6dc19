#include "exciter/harmonics_kernels.h"

#include <optional>

#include "convert/convert.h"

namespace dsp {

ResultVariant activeVariant() {
    if (use3dnow) return ResultVariant::Amd3dnow;
    if (useSse) return ResultVariant::Sse;
    return ResultVariant::Reference;
}

void subtractInto(const float* a, float* b, uint32_t n) { kernels::subtractInto(activeVariant(), a, b, n); }

void addScaled(float* dst, const float* src, float gain, uint32_t n) {
    kernels::addScaled(activeVariant(), dst, src, gain, n);
}

namespace kernels {
namespace {

uint32_t vectorCount(ResultVariant variant, uint32_t n) {
    switch (variant) {
        case ResultVariant::Amd3dnow: return n & ~uint32_t{3};
        case ResultVariant::Sse: return n & ~uint32_t{7};
        default: return 0;
    }
}


}  // namespace

void subtractInto(ResultVariant variant, const float* a, float* b, uint32_t n) {
    // Float subtraction is exact before its single rounding, so every form agrees bit for bit
    // (apart from 3DNow!'s lack of denormals).
    const uint32_t vec = vectorCount(variant, n);
    uint32_t i = 0;
    if (vec > 0) {
        std::optional<ThreeDNowArithmetic> flush;
        if (variant == ResultVariant::Amd3dnow) flush.emplace();
#ifdef DSP_HAVE_SSE2_INTRINSICS
        for (; i < vec; i += 4) _mm_storeu_ps(b + i, _mm_sub_ps(_mm_loadu_ps(a + i), _mm_loadu_ps(b + i)));
#else
        for (; i < vec; ++i) b[i] = a[i] - b[i];
#endif
    }
    for (; i < n; ++i) b[i] = static_cast<float>(static_cast<double>(a[i]) - b[i]);
}

void addScaled(ResultVariant variant, float* dst, const float* src, float gain, uint32_t n) {
    const uint32_t vec = vectorCount(variant, n);
    uint32_t i = 0;
    if (vec > 0) {
        std::optional<ThreeDNowArithmetic> flush;
        if (variant == ResultVariant::Amd3dnow) flush.emplace();
#ifdef DSP_HAVE_SSE2_INTRINSICS
        const __m128 g = _mm_set1_ps(gain);
        for (; i < vec; i += 4)
            _mm_storeu_ps(dst + i, _mm_add_ps(_mm_mul_ps(g, _mm_loadu_ps(src + i)), _mm_loadu_ps(dst + i)));
#else
        for (; i < vec; ++i) {
            const float product = gain * src[i];
            dst[i] = product + dst[i];
        }
#endif
    }
    // The reference keeps the product unrounded (exact in double) and rounds once.
    for (; i < n; ++i) dst[i] = static_cast<float>(static_cast<double>(gain) * src[i] + dst[i]);
}

}  // namespace kernels
}  // namespace dsp
