// The process heap the wave file reader takes its blocks from. On Windows this is the system's
// own; elsewhere a stand-in over the C allocator with the same names, inside dsp::platform.
#pragma once

#if defined(_WIN32)

#include <windows.h>

namespace dsp::platform {}

#else

#include <cstddef>
#include <cstdint>

namespace dsp::platform {

using HANDLE = void*;
using LPVOID = void*;
using SIZE_T = size_t;

constexpr uint32_t HEAP_NO_SERIALIZE = 0x00000001;
constexpr uint32_t HEAP_GENERATE_EXCEPTIONS = 0x00000004;
constexpr uint32_t HEAP_ZERO_MEMORY = 0x00000008;

// The one heap of the process (never null).
HANDLE GetProcessHeap();
// A block of `bytes` bytes (a distinct block also for 0), zero-filled with HEAP_ZERO_MEMORY;
// null when memory runs out or `heap` is not the process heap.
LPVOID HeapAlloc(HANDLE heap, uint32_t flags, SIZE_T bytes);
// Frees a block from HeapAlloc; a null block is accepted. Non-zero on success.
int HeapFree(HANDLE heap, uint32_t flags, LPVOID block);

}  // namespace dsp::platform

#endif
