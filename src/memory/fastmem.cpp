#include "memory/fastmem.h"

#include <cstdlib>
#include <new>

namespace dsp {
namespace {

// Zero-initialised before any constructor runs, so allocations made by other load-time
// objects are safe whatever the order of static initialisation.
FastmemRegistry registry;

void releaseAll() {
    FastmemBlock* block = registry.newest;
    while (registry.blockCount != 0 && block != nullptr) {
        FastmemBlock* older = block->older;
        std::free(block->raw);
        registry.allocatedBytes -= block->rawSize;
        delete block;
        block = older;
    }
    registry.newest = nullptr;
    registry.blockCount = 0;
}

// Blocks the host never freed are reclaimed when the library is unloaded.
struct UnloadCleanup {
    ~UnloadCleanup() { releaseAll(); }
} unloadCleanup;

}  // namespace

void* fastmemAlloc(uint32_t size) {
    const uint32_t rawSize = size + 15;
    void* raw = std::malloc(rawSize);
    // A failed system allocation records nothing: the registry only ever holds real blocks.
    if (raw == nullptr) return nullptr;
    auto* block = new (std::nothrow) FastmemBlock;
    if (block == nullptr) {
        std::free(raw);
        return nullptr;
    }
    block->raw = raw;
    block->aligned = reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(raw) + 15) & ~uintptr_t{15});
    block->size = size;
    block->rawSize = rawSize;
    block->older = registry.blockCount != 0 ? registry.newest : nullptr;
    block->newer = nullptr;
    if (block->older != nullptr) block->older->newer = block;
    registry.newest = block;
    registry.allocatedBytes += rawSize;
    ++registry.blockCount;
    return block->aligned;
}

void fastmemFree(void* ptr) {
    if (ptr == nullptr) return;
    FastmemBlock* block = registry.newest;
    while (block != nullptr && block->aligned != ptr) block = block->older;
    if (block == nullptr) return;
    std::free(block->raw);
    if (block->newer != nullptr)
        block->newer->older = block->older;
    else
        registry.newest = block->older;
    if (block->older != nullptr) block->older->newer = block->newer;
    registry.allocatedBytes -= block->rawSize;
    delete block;
    --registry.blockCount;
}

uint32_t fastmemGetAllocatedSize() { return registry.allocatedBytes; }

const FastmemRegistry& fastmemRegistry() { return registry; }

}  // namespace dsp
