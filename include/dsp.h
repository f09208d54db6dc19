/*
 * libdsp - audio signal processing with a flat C API.
 *
 * Conventions
 *  - PCM is interleaved signed 16-bit little-endian, left sample first, one or two channels.
 *    Lengths of PCM passed to the library are BYTES (frames = bytes / (channels * 2));
 *    block sizes given to init/configure functions are FRAMES; rates are Hz.
 *  - Internally audio is 32-bit float per channel, full scale +-1.0.
 *  - Every handle is opaque. Init functions return a handle, or NULL when memory runs out.
 *    Every other function of a family first checks that the handle is of its own kind (and
 *    not NULL) and returns false / 0 / NULL otherwise.
 *  - Ownership: an effect belongs to the caller until it is handed to dspAdd, and to the chain
 *    afterwards (do not call its term function then). dspGetHandle lends a pointer.
 *  - Threads: the library starts none and holds no locks. The processor switches, the aligned
 *    allocator's registry and the load-time tables are process-wide: serialise every call that
 *    allocates or frees (init, configure through dspAdd/dspAdjust, term, fastmem*), and never
 *    use one chain or effect from two threads at once.
 *  - Real time: processing calls (dspSend and the do* functions) never allocate, lock or do I/O.
 *    Init functions, dspAdd, dspAdjust with a new format and the term functions allocate.
 */
#ifndef LIBDSP_DSP_H
#define LIBDSP_DSP_H

#include <stdbool.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(DSP_BUILDING_LIBRARY)
#    define DSP_API __declspec(dllexport)
#  else
#    define DSP_API __declspec(dllimport)
#  endif
#else
#  define DSP_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handles. */
typedef struct dsp_chain dsp_chain;   /* an effect chain */
typedef struct dsp_effect dsp_effect; /* any effect or analyser */

/* ---------------------------------------------------------------------------------------
 * Effect chain
 *
 * dspCreate(size, channels, rate): an empty chain for blocks of at most `size` frames.
 * dspAdd: inserts a configured effect by ascending unsigned priority (ties keep insertion
 *   order) and reconfigures every effect whose input format changed. Returns the new node
 *   count, or 0 when the effect is NULL or not configured (the caller keeps it then).
 * dspSend: pushes `bytes` bytes of PCM (at most size * channels * 2) through the chain and
 *   returns the bytes written to pcmOut, which must hold
 *   dspGetDstSize(chain, frames) * dspGetDstChannels(chain) * 2 bytes. pcmIn may equal pcmOut.
 *   An empty chain copies its input.
 * A NULL chain is accepted everywhere and does nothing (getters return 0 / NULL);
 * dspGetHandle returns NULL for an index at or past the node count.
 * ------------------------------------------------------------------------------------- */
DSP_API dsp_chain* dspCreate(uint32_t size, uint32_t channels, uint32_t rate);
DSP_API uint32_t dspAdd(dsp_chain* chain, dsp_effect* effect, uint32_t priority);
DSP_API void dspClear(dsp_chain* chain);
DSP_API void dspDestroy(dsp_chain* chain);
DSP_API void dspAdjust(dsp_chain* chain, uint32_t size, uint32_t channels, uint32_t rate);
DSP_API dsp_effect* dspGetHandle(dsp_chain* chain, uint32_t index);
DSP_API uint32_t dspGetDstSize(dsp_chain* chain, uint32_t srcSize);
DSP_API uint32_t dspGetDstChannels(dsp_chain* chain);
DSP_API uint32_t dspGetDstRate(dsp_chain* chain);
DSP_API uint32_t dspSend(dsp_chain* chain, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);

/* ---------------------------------------------------------------------------------------
 * Processor switches (all false at load). Conversions pick 3DNow!-equivalent results when
 * that switch is on, else SSE results, else the scalar reference; any switch turns on the
 * 16-byte block copy. Set them once before processing.
 * ------------------------------------------------------------------------------------- */
DSP_API void dspEnableMmx(bool flag);
DSP_API void dspEnable3dnow(bool flag);
DSP_API void dspEnableSse(bool flag);

/* ---------------------------------------------------------------------------------------
 * Aligned allocator: 16-byte aligned blocks, tracked in a process-wide registry.
 * fastmemGetAllocatedSize counts each block's size plus 15 bytes of alignment slack.
 * fastmemFree ignores NULL, foreign and already freed pointers. Blocks still live when the
 * library is unloaded are released then.
 * ------------------------------------------------------------------------------------- */
DSP_API void* fastmemAlloc(uint32_t size);
DSP_API void fastmemFree(void* ptr);
DSP_API uint32_t fastmemGetAllocatedSize(void);

/* --- Fader and cross-fader ----------------------------------------------------------- */
/* end of fader and cross-fader */

/* --- FFT analysis -------------------------------------------------------------------- */
/* end of fft analysis */

/* --- Envelope analysis --------------------------------------------------------------- */
/* end of envelope analysis */

/* --- Wave slice ---------------------------------------------------------------------- */
/* end of wave slice */

/* --- Resampler ----------------------------------------------------------------------- */
/* end of resampler */

/* --- High-quality upsampler ---------------------------------------------------------- */
/* end of high-quality upsampler */

/* --- Chorus -------------------------------------------------------------------------- */
/* end of chorus */

/* --- IIR filter ---------------------------------------------------------------------- */
/* end of iir filter */

/* --- Pitch shift --------------------------------------------------------------------- */
/* end of pitch shift */

/* --- Time stretch -------------------------------------------------------------------- */
/* end of time stretch */

/* --- Wave file reader ---------------------------------------------------------------- */
/*
 * Reads RIFF WAVE files as raw bytes: no conversion, and every size assumes 2 bytes per sample
 * per channel (16-bit PCM), whatever the format says. The RIFF form must be "WAVE" and the
 * "fmt " chunk must come before the "data" chunk; other chunks are skipped.
 *
 * initWavefileIn(fileName, frames): opens the file with a sample block of
 *   nChannels * frames * 2 bytes that the reader owns (zero-filled). Returns a handle even when
 *   the file is missing or malformed; such a handle is closed: reads, seeks and
 *   bufSizeExtendWavefileIn return 0 / NULL. NULL only when memory runs out.
 * termWavefileIn: closes the file and frees the handle and the reader's own block (never a
 *   buffer of the caller's). NULL is accepted.
 * readWavefileIn(h, buffer, frames): reads nChannels * frames * 2 bytes from the current
 *   position into `buffer` (which must hold that many), or into the reader's own block when
 *   `buffer` is NULL (then the count is clamped to the block's size). Returns the bytes read:
 *   fewer at the end of the file, 0 when nothing is left, -1 on an I/O error. Reading is not
 *   limited to the data chunk: the bytes of chunks after it come back like samples.
 *   The header's lpData names the buffer last read into; dwBytesRecorded the result.
 * seekWavefileIn(h, offset, mode): mode 0 moves to `offset` bytes after the first sample byte,
 *   any other mode moves by `offset` bytes from the current position. Returns the new position
 *   in bytes from the start of the FILE, or -1 when it would fall before the start.
 * timeSeekWavefileIn(h, seconds, mode): the same in time: frames = trunc(rate * seconds),
 *   moved by frames * nChannels * 2 bytes (negative seconds move back). Same result; -1 also
 *   for a time whose offset does not fit 32 bits.
 * bufSizeExtendWavefileIn(h, frames): replaces the reader's own block by a zero-filled one of
 *   nChannels * frames * 2 bytes and returns it (the old one is freed; pointers to it die).
 *   Neither reads nor moves. NULL (old block kept) on a closed handle or when memory runs out.
 * getFormatWavefileIn / getHeaderWavefileIn: the reader's records, valid until
 *   termWavefileIn (zeros after a failed open). The header's dwBufferLength holds the size in
 *   bytes of the data chunk; lpData the current block. NULL for a NULL handle.
 * ------------------------------------------------------------------------------------- */
typedef struct dsp_wavefile_in dsp_wavefile_in;

/* A wave format record (18 bytes, no padding, little-endian on disk). */
#pragma pack(push, 1)
typedef struct dsp_wave_format {
    uint16_t wFormatTag;      /* 1 = integer PCM */
    uint16_t nChannels;
    uint32_t nSamplesPerSec;  /* frames per second */
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;     /* bytes per frame */
    uint16_t wBitsPerSample;
    uint16_t cbSize;          /* bytes of format extension (the writer never writes any) */
} dsp_wave_format;
#pragma pack(pop)

/* The reader's current block (native pointers and alignment: 48 bytes on 64-bit systems). */
typedef struct dsp_wave_header {
    char* lpData;             /* block last read into: the reader's own or the caller's */
    uint32_t dwBufferLength;  /* size of the data chunk in bytes */
    uint32_t dwBytesRecorded; /* result of the last read */
    uintptr_t dwUser;         /* never touched by the reader: free for the host */
    uint32_t dwFlags;         /* 0 */
    uint32_t dwLoops;         /* 0 */
    struct dsp_wave_header* lpNext; /* never touched */
    uintptr_t reserved;       /* never touched */
} dsp_wave_header;

DSP_API dsp_wavefile_in* initWavefileIn(const char* fileName, uint32_t frames);
DSP_API void termWavefileIn(dsp_wavefile_in* reader);
DSP_API int32_t readWavefileIn(dsp_wavefile_in* reader, void* buffer, uint32_t frames);
DSP_API int32_t seekWavefileIn(dsp_wavefile_in* reader, int32_t offset, int32_t mode);
DSP_API int32_t timeSeekWavefileIn(dsp_wavefile_in* reader, float seconds, int32_t mode);
DSP_API void* bufSizeExtendWavefileIn(dsp_wavefile_in* reader, uint32_t frames);
DSP_API dsp_wave_format* getFormatWavefileIn(dsp_wavefile_in* reader);
DSP_API dsp_wave_header* getHeaderWavefileIn(dsp_wavefile_in* reader);
/* end of wave file reader */

/* --- Wave file writer ---------------------------------------------------------------- */
/*
 * Writes RIFF WAVE files: a 46-byte header ("RIFF", "WAVE", an 18-byte "fmt " chunk holding the
 * caller's format record verbatim, "data"), then the caller's bytes as they come. Until
 * termWavefileOut the header holds placeholder sizes (RIFF size 0, data size 307200), also
 * after a flush: the file is complete only once closed.
 *
 * initWavefileOut(fileName, format): creates (or truncates) the file; `format` is copied.
 *   Returns a handle even when the file cannot be created (or `format` is NULL); such a handle
 *   is closed: writes return 0, flushes false, termWavefileOut 0. NULL only when memory runs out.
 * writeWavefileOut(h, data, bytes): appends `bytes` bytes (nothing for bytes <= 0 or NULL
 *   data); returns the count written, -1 on an I/O error.
 * flushWavefileOut: hands buffered bytes to the file; true when open.
 * termWavefileOut: fixes both sizes, adds a zero pad byte after an odd data size, closes and
 *   frees the handle. Returns the data size in bytes (without the pad), 0 for NULL or closed.
 * getFormatWavefileOut: the writer's copy of the format (NULL for a NULL handle).
 * ------------------------------------------------------------------------------------- */
typedef struct dsp_wavefile_out dsp_wavefile_out;

DSP_API dsp_wavefile_out* initWavefileOut(const char* fileName, const dsp_wave_format* format);
DSP_API int32_t writeWavefileOut(dsp_wavefile_out* writer, const void* data, int32_t bytes);
DSP_API bool flushWavefileOut(dsp_wavefile_out* writer);
DSP_API int32_t termWavefileOut(dsp_wavefile_out* writer);
DSP_API dsp_wave_format* getFormatWavefileOut(dsp_wavefile_out* writer);
/* end of wave file writer */

#ifdef __cplusplus
}
#endif

#endif /* LIBDSP_DSP_H */
