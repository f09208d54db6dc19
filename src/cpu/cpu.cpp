#include "cpu/cpu.h"

namespace dsp::cpu {

namespace {
Isa detect() {
#if DSP_X86_KERNELS
    __builtin_cpu_init();
    // One AVX2 level with FMA and one AVX-512 level with F/BW/DQ/VL serve every kernel, so a
    // processor with only part of a set runs the level below (same results, a little slower).
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                        __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
    return avx512 ? Isa::Avx512 : avx2 ? Isa::Avx2 : Isa::Sse2;
#else
    return Isa::Portable;
#endif
}
// Constant after load-time initialisation; Portable (zero) to anything running before it.
const Isa kDetected = detect();
}  // namespace

namespace detail {
Isa current = kDetected;
}

Isa detected() { return kDetected; }

ForceLevel::ForceLevel(Isa isa) : saved_(detail::current) {
    detail::current = static_cast<int>(isa) < static_cast<int>(kDetected) ? isa : kDetected;
}
ForceLevel::~ForceLevel() { detail::current = saved_; }

const char* name(Isa isa) {
    switch (isa) {
        case Isa::Portable: return "portable";
        case Isa::Sse2: return "sse2";
        case Isa::Avx2: return "avx2";
        case Isa::Avx512: return "avx512";
    }
    return "?";
}

}  // namespace dsp::cpu
