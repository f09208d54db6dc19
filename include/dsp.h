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
/* Granular pitch shifter: shifts by up to one octave either way, same length out as in.
 *
 * initPitchShift(size, channels, rate, pitch, outLevel, grainTime, hopTime): an effect for
 *   blocks of at most `size` frames, 1 or 2 channels (anything else gives NULL), `rate` Hz.
 *   pitch: cents, clamped to -1200 ... +1200; exactly 0 is a bit-exact pass-through that also
 *   ignores outLevel (a NaN pitch counts as 0). outLevel: output gain in dB.
 *   grainTime: seconds; grains are trunc(rate * grainTime * 1.5330188679245282) samples long
 *   (at most 1048576; negative or NaN gives no grains and silence). hopTime: seconds between
 *   grain starts, trunc(rate * hopTime) samples, at least 1 (a shorter hop is taken as one
 *   sample). A hop longer than the grain gives silence. Allocates (the arrays grow with
 *   grainTime); NULL when memory runs out. Typical: grainTime 0.05, hopTime 0.01.
 * doPitchShift(h, pcmIn, pcmOut, bytes): processes `bytes` of PCM (at most size * channels * 2;
 *   the excess is ignored) into pcmOut, which receives as many bytes. pcmIn may equal pcmOut.
 *   Blocks are handled in chunks of 32768 frames. Returns true (false for a wrong handle).
 * setPitchShiftPitch(h, cents): applies from the end of the next processed chunk on.
 * setPitchShiftOutLevel(h, dB): applies at once.
 * termPitchShift(h): frees the effect (not once it belongs to a chain).
 * In a chain the effect keeps the block length. Never allocates while processing.
 */
DSP_API dsp_effect* initPitchShift(uint32_t size, uint32_t channels, uint32_t rate, float pitch, float outLevel,
                                   float grainTime, float hopTime);
DSP_API bool doPitchShift(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
DSP_API bool setPitchShiftPitch(dsp_effect* handle, float pitch);
DSP_API bool setPitchShiftOutLevel(dsp_effect* handle, float outLevel);
DSP_API bool termPitchShift(dsp_effect* handle);
/* end of pitch shift */

/* --- Time stretch -------------------------------------------------------------------- */
/* Granular time stretcher: changes the length, not the pitch. The length factor (output frames
 * per input frame) is f = 2^(-scale / 1000) with scale clamped to -2000 ... 3000: f runs from 4
 * (scale -2000, four times longer) to 0.125 (scale 3000, eight times shorter); scale 1000
 * halves the length, -1000 doubles it. To stretch by a tempo factor T (T > 1 faster/shorter)
 * use scale = 1000 * log2(T); for a length factor L use scale = -1000 * log2(L).
 *
 * initStretch(size, channels, rate, scale, outLevel, grainTime, hopTime): an effect for blocks
 *   of at most `size` frames, 1 or 2 channels (anything else gives NULL), `rate` Hz. scale
 *   exactly 0 is a bit-exact pass-through that ignores outLevel (a NaN scale counts as 0).
 *   outLevel, grainTime, hopTime as for initPitchShift. Allocates; NULL when out of memory.
 * doStretch(h, pcmIn, pcmOut, bytes): processes `bytes` of PCM (at most size * channels * 2;
 *   the excess is ignored) and returns the bytes written to pcmOut (channels * 2 * output
 *   frames). The input is handled in chunks of 32768 frames, each giving trunc(chunk * f)
 *   frames, so a long block can give one frame less than trunc(frames * f).
 * setStretchScale(h, scale): getStretchDstSize reflects it at once, but processing uses it only
 *   from the end of the next processed chunk: the first chunk of the next doStretch/dspSend
 *   still runs at the factor in force before.
 * getStretchDstSize(h, frames): trunc(frames * f) for the newest scale.
 * setStretchOutLevel(h, dB): applies at once. termStretch(h): frees the effect.
 *
 * Output room (pcmOut): getStretchDstSize(h, frames) frames per call, EXCEPT on the first call
 *   after setStretchScale, which can produce up to the larger of getStretchDstSize(h, frames)
 *   taken before and after the change; 4 * frames (the largest factor) is always enough. The
 *   same holds for dspSend on a chain holding a stretcher: right after a scale change size
 *   pcmOut for the larger of dspGetDstSize before and after it (or 4x the stretcher's share).
 * In a chain: the stretcher changes the block length for the effects behind it. It announces
 *   4 * its input block as its output block, so the effects behind it are configured for the
 *   longest block any scale can produce and raising the scale through dspGetHandle between
 *   dspSend calls never overruns their buffers; dspGetDstSize still gives the exact length.
 * Never allocates while processing.
 */
DSP_API dsp_effect* initStretch(uint32_t size, uint32_t channels, uint32_t rate, float scale, float outLevel,
                                float grainTime, float hopTime);
DSP_API uint32_t doStretch(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
DSP_API bool setStretchScale(dsp_effect* handle, float scale);
DSP_API bool setStretchOutLevel(dsp_effect* handle, float outLevel);
DSP_API uint32_t getStretchDstSize(dsp_effect* handle, uint32_t srcSize);
DSP_API bool termStretch(dsp_effect* handle);
/* end of time stretch */

/* --- Wave file reader ---------------------------------------------------------------- */
/* end of wave file reader */

/* --- Wave file writer ---------------------------------------------------------------- */
/* end of wave file writer */

#ifdef __cplusplus
}
#endif

#endif /* LIBDSP_DSP_H */
