#include "analysis/magnitude_db.h"

namespace dsp {

namespace portable {
void magnitudesDb(const float* packed, float* out, uint32_t bins, float floor, bool clampToFloor) {
    for (uint32_t k = 0; k < bins; ++k) {
        const float db = exactDb(packed[2 * k], packed[2 * k + 1], floor);
        out[k] = (clampToFloor && db < floor) ? floor : db;
    }
}
}  // namespace portable

void magnitudesDb(const float* packed, float* out, uint32_t bins, float floor, bool clampToFloor) {
#if DSP_X86_KERNELS
    if (cpu::atLeast(cpu::Isa::Avx2)) return avx2::magnitudesDb(packed, out, bins, floor, clampToFloor);
#endif
    portable::magnitudesDb(packed, out, bins, floor, clampToFloor);
}

}  // namespace dsp
