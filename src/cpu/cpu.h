// Processor dispatch: which instruction set the kernels compute with.
//
// Two axes must not be confused. The *result variants* (reference, SSE, 3DNow! numerics) are
// chosen by the host through dspEnableSse / dspEnable3dnow and change the results. The
// *instruction sets* below only change how a result is computed: every kernel gives the same
// bits at every level, so the level is picked once at load from what the processor supports.
//
// Each kernel family keeps its instruction-set builds in files of their own
// (name_sse2.cpp, name_avx2.cpp, name_avx512.cpp, compiled for that set with the target
// region of cpu/target.h) and one dispatcher that asks level() which build to run.
#pragma once

// x86 builds that assume SSE2 (every x86-64, and i686 built with -msse2) compile the vector
// kernel files; -DDSP_X86_KERNELS=0 builds the portable kernels alone.
#ifndef DSP_X86_KERNELS
#if (defined(__x86_64__) || defined(__i386__)) && defined(__SSE2__) && defined(__GNUC__)
#define DSP_X86_KERNELS 1
#else
#define DSP_X86_KERNELS 0
#endif
#endif

namespace dsp::cpu {

// Ordered: each level implies the ones below it.
enum class Isa : int {
    Portable = 0,  // plain C++ (the compiler may still use the build's baseline vector unit)
    Sse2 = 1,      // 128-bit kernels
    Avx2 = 2,      // 256-bit kernels: AVX2 and FMA
    Avx512 = 3,    // 512-bit kernels: AVX-512 F, BW, DQ and VL
};

// The widest level this processor and system support (the runtime's feature test also checks
// that the system saves the wider registers), found once at load.
Isa detected();

// For tests and benchmarks: runs every kernel at `isa` (or detected(), if lower) while alive,
// then restores the previous level. Not for use while another thread processes.
class ForceLevel {
public:
    explicit ForceLevel(Isa isa);
    ~ForceLevel();
    ForceLevel(const ForceLevel&) = delete;
    ForceLevel& operator=(const ForceLevel&) = delete;

private:
    Isa saved_;
};

const char* name(Isa isa);

namespace detail {
extern Isa current;
}
// The level kernels run at: detected(), unless a test forced a lower one.
inline Isa level() { return detail::current; }
inline bool atLeast(Isa isa) { return static_cast<int>(level()) >= static_cast<int>(isa); }

}  // namespace dsp::cpu
