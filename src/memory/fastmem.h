// 16-byte aligned sample buffers with a process-wide registry of live blocks.
#pragma once
#include <cstdint>

namespace dsp {

struct FastmemBlock {
    void* raw;             // what the system allocator returned
    void* aligned;         // raw rounded up to a multiple of 16: what the caller gets
    uint32_t size;         // bytes asked for
    uint32_t rawSize;      // size + 15
    FastmemBlock* older;   // allocated before this one, still live
    FastmemBlock* newer;   // allocated after this one, still live
};

struct FastmemRegistry {
    uint32_t blockCount;
    FastmemBlock* newest;
    uint32_t allocatedBytes;  // sum of rawSize over live blocks
};

void* fastmemAlloc(uint32_t size);
void fastmemFree(void* ptr);
uint32_t fastmemGetAllocatedSize();

// Read-only view for tests of the list invariants.
const FastmemRegistry& fastmemRegistry();

}  // namespace dsp
