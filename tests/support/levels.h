// The processor levels this machine has, lowest first: tests run each kernel at every one
// (under dsp::cpu::ForceLevel) and expect the same bits.
#pragma once
#include <vector>

#include "cpu/cpu.h"

namespace dsptest {

inline std::vector<dsp::cpu::Isa> levels() {
    std::vector<dsp::cpu::Isa> all;
    for (int l = 0; l <= static_cast<int>(dsp::cpu::detected()); ++l) all.push_back(static_cast<dsp::cpu::Isa>(l));
    return all;
}

}  // namespace dsptest
