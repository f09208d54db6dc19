#include "exports/export.h"
#include "memory/fastmem.h"

extern "C" {

DSP_API void* fastmemAlloc(uint32_t size) { return dsp::fastmemAlloc(size); }
DSP_API void fastmemFree(void* ptr) { dsp::fastmemFree(ptr); }
DSP_API uint32_t fastmemGetAllocatedSize(void) { return dsp::fastmemGetAllocatedSize(); }

}  // extern "C"
