/* A host in plain C that loads the library by name, as Windows hosts do with LoadLibraryA and
 * GetProcAddress: it writes a WAVE file, reads it back through the library's reader, sends it
 * through a chain and writes the result with the library's writer. The Linux and the Windows
 * builds must write the same bytes. It also leaves aligned blocks allocated and checks that
 * unloading gives their memory back.
 * Usage: dsp_host LIBRARY INPUT.wav OUTPUT.wav */
#include "dsp.h"

#include <math.h>
#include <stdio.h>
#include <string.h>

#if defined(_WIN32)
#include <windows.h>
typedef HMODULE Library;
static Library openLibrary(const char* path) { return LoadLibraryA(path); }
static void* symbol(Library lib, const char* name) { return (void*)GetProcAddress(lib, name); }
static int closeLibrary(Library lib) { return FreeLibrary(lib) ? 0 : -1; }
/* Committed bytes of the address space, from a walk over its regions. */
static unsigned long long memoryInUse(void) {
    unsigned long long committed = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* at = NULL; VirtualQuery(at, &region, sizeof region) == sizeof region;
         at = (const char*)region.BaseAddress + region.RegionSize)
        if (region.State == MEM_COMMIT) committed += region.RegionSize;
    return committed;
}
#else
#include <dlfcn.h>
#include <malloc.h>
typedef void* Library;
static Library openLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static void* symbol(Library lib, const char* name) { return dlsym(lib, name); }
static int closeLibrary(Library lib) { return dlclose(lib); }
/* Bytes the C runtime has mapped for large blocks, which is where 4 MiB blocks go. */
static unsigned long long memoryInUse(void) { return mallinfo2().hblkhd; }
#endif

static int fail(const char* what) {
    fprintf(stderr, "dsp_host: %s\n", what);
    return 1;
}

static void put32(unsigned char* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = (unsigned char)(v >> (8 * i));
}

/* Two seconds of a stereo 44.1 kHz tone pair with a little noise, in a canonical WAVE file. */
static int writeInput(const char* path) {
    enum { kFrames = 88200 };
    static unsigned char file[44 + kFrames * 4];
    memcpy(file, "RIFF\0\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xac\0\0\x10\xb1\x02\0\x04\0\x10\0data", 40);
    put32(file + 4, 36 + kFrames * 4);
    put32(file + 40, kFrames * 4);
    uint32_t seed = 1;
    for (uint32_t i = 0; i < kFrames; ++i)
        for (int c = 0; c < 2; ++c) {
            seed = seed * 1664525u + 1013904223u;
            const int v = (int)(12000 * sin(0.0713 * i * (c + 1)) + 6000 * sin(0.31 * i)) + (int)(seed >> 23) - 256;
            file[44 + 4 * i + 2 * c] = (unsigned char)(v & 0xFF);
            file[45 + 4 * i + 2 * c] = (unsigned char)((v >> 8) & 0xFF);
        }
    FILE* f = fopen(path, "wb");
    if (f == NULL) return 0;
    const size_t written = fwrite(file, 1, sizeof file, f);
    return fclose(f) == 0 && written == sizeof file;
}

/* Each export under its own name, typed as the header declares it. */
#define LOAD(name)                        \
    __typeof__(&name) name;               \
    *(void**)&name = symbol(lib, #name);  \
    if (name == NULL) return fail("missing export " #name)

int main(int argc, char** argv) {
    if (argc != 4) return fail("usage: dsp_host LIBRARY INPUT.wav OUTPUT.wav");
    if (!writeInput(argv[2])) return fail("cannot write the input file");
    const unsigned long long usedBefore = memoryInUse();
    Library lib = openLibrary(argv[1]);
    if (lib == NULL) return fail("cannot load the library");
    LOAD(dspCreate);
    LOAD(dspAdd);
    LOAD(dspSend);
    LOAD(dspGetDstChannels);
    LOAD(dspDestroy);
    LOAD(initIirFilter);
    LOAD(initChorus);
    LOAD(initResampler);
    LOAD(initWavefileIn);
    LOAD(readWavefileIn);
    LOAD(getFormatWavefileIn);
    LOAD(getHeaderWavefileIn);
    LOAD(termWavefileIn);
    LOAD(initWavefileOut);
    LOAD(writeWavefileOut);
    LOAD(termWavefileOut);
    LOAD(fastmemAlloc);
    LOAD(fastmemGetAllocatedSize);
    if (fastmemGetAllocatedSize() != 0) return fail("a fresh library must report 0 allocated bytes");

    enum { kBlock = 1024 };
    dsp_wavefile_in* in = initWavefileIn(argv[2], kBlock);
    const dsp_wave_format* format = getFormatWavefileIn(in);
    if (format == NULL || format->nChannels != 2 || format->nSamplesPerSec != 44100) return fail("reader: bad format");
    dsp_chain* chain = dspCreate(kBlock, 2, 44100);
    dspAdd(chain, initIirFilter(kBlock, 2, 44100, 4, 6000.0f, 0), 1);
    dspAdd(chain, initChorus(kBlock, 2, 44100, 2, 8.0f, 3.0f, 1.5f, 50.0f, 50.0f), 2);
    dspAdd(chain, initResampler(kBlock, 2, 2, 44100, 48000, 1, 80.0f, 48.0f, true), 3);
    if (dspGetDstChannels(chain) != 2) return fail("chain: bad set-up");
    dsp_wave_format outFormat = *format;
    outFormat.nSamplesPerSec = 48000;
    outFormat.nAvgBytesPerSec = 48000 * 4;
    dsp_wavefile_out* out = initWavefileOut(argv[3], &outFormat);
    static int16_t processed[4 * kBlock];
    int32_t got;
    while ((got = readWavefileIn(in, NULL, kBlock)) > 0) {
        const int16_t* block = (const int16_t*)getHeaderWavefileIn(in)->lpData;
        const uint32_t bytes = dspSend(chain, block, processed, (uint32_t)got);
        if (writeWavefileOut(out, processed, (int32_t)bytes) != (int32_t)bytes) return fail("writer: short write");
    }
    if (termWavefileOut(out) <= 0) return fail("writer: nothing written");
    termWavefileIn(in);
    dspDestroy(chain);

    /* Blocks the host never frees are the library's to release when it is unloaded. */
    for (int i = 0; i < 3; ++i)
        if (fastmemAlloc(4u << 20) == NULL) return fail("allocation failed");
    if (fastmemGetAllocatedSize() != 3 * ((4u << 20) + 15)) return fail("allocator: wrong accounting");
    const unsigned long long usedLoaded = memoryInUse();
    if (closeLibrary(lib) != 0) return fail("cannot unload the library");
    const unsigned long long usedAfter = memoryInUse();
    printf("dsp_host: %llu bytes in use before load, %llu loaded, %llu after unload\n", usedBefore, usedLoaded,
           usedAfter);
    if (usedLoaded < usedBefore + (12u << 20)) {
        /* Sanitizer allocators do not report through mallinfo; their leak check covers this. */
        printf("dsp_host: no allocator statistics, relying on the leak checker\n");
        return 0;
    }
    if (usedAfter + (12u << 20) > usedLoaded) return fail("blocks left live were not released at unload");
    return 0;
}
