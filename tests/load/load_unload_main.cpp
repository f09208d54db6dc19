// Loads the library as a host does, leaves aligned blocks allocated, unloads it, and checks
// that the unload released them. Large blocks are served by mmap, so the allocator's mapped
// byte count shows whether they came back.
#include <dlfcn.h>
#include <malloc.h>

#include <cstdint>
#include <cstdio>

namespace {
int fail(const char* what) {
    std::fprintf(stderr, "load_unload: %s\n", what);
    return 1;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return fail("usage: dsp_load_test LIBRARY");
    const size_t mappedBefore = mallinfo2().hblkhd;
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (lib == nullptr) return fail(dlerror());
    using Alloc = void* (*)(uint32_t);
    using Size = uint32_t (*)();
    auto alloc = reinterpret_cast<Alloc>(dlsym(lib, "fastmemAlloc"));
    auto allocated = reinterpret_cast<Size>(dlsym(lib, "fastmemGetAllocatedSize"));
    if (alloc == nullptr || allocated == nullptr) return fail("missing allocator exports");
    if (allocated() != 0) return fail("a fresh library must report 0 allocated bytes");
    const uint32_t blockSize = 4u << 20;
    for (int i = 0; i < 3; ++i)
        if (alloc(blockSize) == nullptr) return fail("allocation failed");
    if (allocated() != 3 * (blockSize + 15)) return fail("accounting after three blocks is wrong");
    const size_t mappedWhileLoaded = mallinfo2().hblkhd;
    if (mappedWhileLoaded < mappedBefore + 3 * size_t{blockSize}) {
        // Sanitizer allocators do not report through mallinfo; their leak check covers this.
        std::printf("load_unload: allocator statistics unavailable, relying on the leak checker\n");
        dlclose(lib);
        return 0;
    }
    if (dlclose(lib) != 0) return fail(dlerror());
    const size_t mappedAfter = mallinfo2().hblkhd;
    if (mappedAfter >= mappedBefore + size_t{blockSize}) return fail("blocks left live were not released at unload");
    std::printf("load_unload: %zu mapped bytes before, %zu loaded, %zu after unload\n", mappedBefore,
                mappedWhileLoaded, mappedAfter);
    return 0;
}
