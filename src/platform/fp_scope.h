// The floating-point state the library computes under, whatever its caller runs with: hosts
// may set flush-to-zero / denormals-are-zero or another rounding mode, and Windows threads
// start with the x87 precision at 53 bits, which would round the library's long double steps.
#pragma once
#include <cstdint>
#if defined(__SSE2__) || defined(_M_X64)
#include <xmmintrin.h>
#endif

namespace dsp {

// Sets round-to-nearest without flushing (and 64-bit x87 precision) for its lifetime, then
// restores the caller's state, sticky exception flags included.
class FpScope {
public:
#if (defined(__i386__) || defined(__x86_64__)) && defined(__GNUC__)
    FpScope() : mxcsr_(_mm_getcsr()) {
        __asm__ volatile("fnstcw %0" : "=m"(x87_));
        const uint16_t ours = 0x037F;  // all exceptions masked, 64-bit precision, to nearest
        if (x87_ != ours) __asm__ volatile("fldcw %0" : : "m"(ours));
        // The caller's sticky flags may stay set while we run: only the controls matter here.
        if ((mxcsr_ & ~kFlags) != kMxcsr) _mm_setcsr(kMxcsr);
    }
    ~FpScope() {
        // Also undoes the flags our arithmetic raised (the inexact flag, nearly always).
        if (_mm_getcsr() != mxcsr_) _mm_setcsr(mxcsr_);
        __asm__ volatile("fldcw %0" : : "m"(x87_));
    }

private:
    static constexpr unsigned kMxcsr = 0x1F80;  // all exceptions masked, to nearest, no flushing
    static constexpr unsigned kFlags = 0x3F;    // the sticky exception flags
    unsigned mxcsr_;
    uint16_t x87_ = 0;
#else
    FpScope() {}
#endif
};

}  // namespace dsp
