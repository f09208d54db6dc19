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
/*
 * Converts from srcRate to dstRate (Hz), each channel by linear (interpolation 0) or cubic
 * convolution (any other value) interpolation, with an optional Chebyshev lowpass (0.1 dB
 * ripple) at the higher rate that removes what the lower rate cannot carry: it reaches
 * stopbandDb (dB, > 0.1) of attenuation at half the lower rate, and its passband ends
 * stopbandDb / slopeDbPerOctave octaves below that (e.g. 80 dB and 40 dB/oct: passband to a
 * quarter of the lower rate's Nyquist frequency). Equal rates copy the samples unchanged.
 * Each block converts on its own grid: a block of F frames gives trunc(dstRate * F / srcRate)
 * frames, no remainder carried to the next call (three calls of 1000 frames 44100 -> 48000
 * give 3 x 1088 frames). Filter state and cubic history run on across calls. Cubic output lags
 * by two input samples.
 * initResampler(size = largest block in frames, inChannels and outChannels 1 or 2, ...):
 *   allocates; NULL when memory runs out or for other channel counts. With 1 input and 2 output
 *   channels the mono result is duplicated; with 2 and 1 the left channel is delivered.
 * doResampler: converts `bytes` bytes of PCM (at most size * inChannels * 2) and returns the
 *   bytes written: getResamplerDstSize(frames) * outChannels * 2, which pcmOut must hold
 *   (pcmOut may equal pcmIn). Does not allocate. 0 for a wrong kind or NULL.
 * getResamplerDstSize: output frames for a block of srcFrames; 0 for a wrong kind or NULL.
 * termResampler: destroys the effect (not after dspAdd); false for a wrong kind or NULL.
 * In a chain the effects behind it see the converted length and dstRate; a new input format
 * re-runs the set-up (clearing filter and cubic history); dstRate never changes.
 */
DSP_API dsp_effect* initResampler(uint32_t size, uint32_t inChannels, uint32_t outChannels, uint32_t srcRate,
                                  uint32_t dstRate, uint32_t interpolation, float stopbandDb, float slopeDbPerOctave,
                                  bool filterOn);
DSP_API uint32_t doResampler(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
DSP_API uint32_t getResamplerDstSize(dsp_effect* handle, uint32_t srcFrames);
DSP_API bool termResampler(dsp_effect* handle);
/* end of resampler */

/* --- High-quality upsampler ---------------------------------------------------------- */
/* end of high-quality upsampler */

/* --- Chorus -------------------------------------------------------------------------- */
/* end of chorus */

/* --- IIR filter ---------------------------------------------------------------------- */
/*
 * Chebyshev type I lowpass or highpass (1 dB passband ripple: the passband peaks at exactly 1,
 * the cutoff is 1 dB down), one filter per channel, running state from block to block.
 * initIirFilter(size frames, channels 1 or 2, rate Hz, order, cutoff Hz, type): type 1 is a
 *   highpass, any other value a lowpass. Keep 0 < cutoff < rate/2; an order <= 0 passes the
 *   signal through. Allocates; NULL when memory runs out.
 * doIirFilter: filters `bytes` bytes of PCM (at most size * channels * 2) into pcmOut (same
 *   length; may equal pcmIn). Does not allocate. False for a handle of another kind or NULL.
 * termIirFilter: destroys the effect (not after handing it to dspAdd). False on a wrong kind.
 * In a chain, a new block size or channel count keeps the filter history; a new rate
 * redesigns the filters and clears it.
 */
DSP_API dsp_effect* initIirFilter(uint32_t size, uint32_t channels, uint32_t rate, int32_t order, float cutoff,
                                  int32_t type);
DSP_API bool doIirFilter(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
DSP_API bool termIirFilter(dsp_effect* handle);
/* end of iir filter */

/* --- Pitch shift --------------------------------------------------------------------- */
/* end of pitch shift */

/* --- Time stretch -------------------------------------------------------------------- */
/* end of time stretch */

/* --- Wave file reader ---------------------------------------------------------------- */
/* end of wave file reader */

/* --- Wave file writer ---------------------------------------------------------------- */
/* end of wave file writer */

#ifdef __cplusplus
}
#endif

#endif /* LIBDSP_DSP_H */
