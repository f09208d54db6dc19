// Raw aligned blocks for buffers the vector kernels read with aligned loads. The C runtimes
// disagree here: Windows' has no aligned_alloc and frees such blocks with its own call.
#pragma once
#include <cstddef>
#include <cstdlib>
#if defined(_WIN32)
#include <malloc.h>
#endif

namespace dsp {

// `bytes` bytes (at least one) on an `alignment` boundary (a power of two), or null.
inline void* alignedBlock(std::size_t alignment, std::size_t bytes) {
    const std::size_t rounded = bytes == 0 ? alignment : (bytes + alignment - 1) & ~(alignment - 1);
#if defined(_WIN32)
    return _aligned_malloc(rounded, alignment);
#else
    return std::aligned_alloc(alignment, rounded);
#endif
}

// Frees a block from alignedBlock (null accepted).
inline void freeAlignedBlock(void* block) {
#if defined(_WIN32)
    _aligned_free(block);
#else
    std::free(block);
#endif
}

}  // namespace dsp
