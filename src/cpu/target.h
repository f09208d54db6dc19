// Target regions for the instruction-set kernel files. Use:
//     #include every shared header first (code defined before the region stays baseline),
//     DSP_TARGET_BEGIN(DSP_AVX2_FEATURES)
//     ... this file's own kernels, in a namespace named after the set ...
//     DSP_TARGET_END
// Only functions defined inside the region are built for the set, so nothing there leaks
// into code that runs on processors without it; call them only at that cpu::level().
#pragma once

#define DSP_AVX2_FEATURES "avx2,fma"
#define DSP_AVX512_FEATURES "avx512f,avx512bw,avx512dq,avx512vl,avx2,fma"

#define DSP_PRAGMA(x) _Pragma(#x)
#if defined(__clang__)
#define DSP_TARGET_BEGIN(features) DSP_PRAGMA(clang attribute push(__attribute__((target(features))), apply_to = function))
#define DSP_TARGET_END DSP_PRAGMA(clang attribute pop)
#else
#define DSP_TARGET_BEGIN(features) DSP_PRAGMA(GCC push_options) DSP_PRAGMA(GCC target(features))
#define DSP_TARGET_END DSP_PRAGMA(GCC pop_options)
#endif
