#include "platform/heap.h"

#if !defined(_WIN32)

#include <cstdlib>

namespace dsp::platform {
namespace {
char processHeap;  // its address is the handle
}

HANDLE GetProcessHeap() { return &processHeap; }

LPVOID HeapAlloc(HANDLE heap, uint32_t flags, SIZE_T bytes) {
    if (heap != &processHeap) return nullptr;
    const SIZE_T size = bytes == 0 ? 1 : bytes;
    return (flags & HEAP_ZERO_MEMORY) != 0 ? std::calloc(1, size) : std::malloc(size);
}

int HeapFree(HANDLE heap, uint32_t, LPVOID block) {
    if (heap != &processHeap) return 0;
    std::free(block);
    return 1;
}

}  // namespace dsp::platform

#endif
