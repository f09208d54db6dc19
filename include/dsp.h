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

/* Library version; the CMake package and libdsp.pc carry the same numbers. */
#define DSP_VERSION_MAJOR 0
#define DSP_VERSION_MINOR 1
#define DSP_VERSION_PATCH 0

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
 *   The count is output frames * the last effect's input channels * 2: a last effect made for
 *   another output channel count (resampler, upsampler) writes its own count but reports that.
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
/*
 * One effect holding two faders (index 0 and 1) and a cross-fader. A fader multiplies its input
 * by a gain that follows scheduled ramps ("actions"): from `start` to `end` seconds the level
 * moves linearly in dB toward `targetDb`, over the samples trunc(start * rate) to
 * trunc(end * rate) - 1; the sample at `end` keeps the gain of end - 1, and the next ramp
 * starts from the exact target. The cross-fader follows a position in the same way, +1 meaning
 * input A alone and -1 input B alone, and weights A and B by a curve (below).
 *
 * Times are float seconds counted from initFader (or from the last reconfiguration): each
 * engine counts the frames that passed through it. Fader 0 advances with doFade(.., 0, ..),
 * doCrossFade and in a chain; fader 1 with doFade(.., 1, ..) and doCrossFade; the cross-fader
 * with doCrossFade only.
 *
 * Levels: gain = 10^(dB / 20), read from a 2049-entry table over -50..+50 dB with linear
 *   interpolation (0 dB gives 0.99999987). Levels above +50 dB act as +50 dB; levels below
 *   -50 dB mute, so a fade toward -60 dB or lower ends in silence once it passes -50 dB.
 * Scheduling (setFaderAction / setCrossFaderAction, applied to both channel engines even on a
 *   mono effect): an action whose start or end is not later than the frames already processed,
 *   or whose start is not before its end, is ignored. A new action replaces whatever was
 *   scheduled over its span: actions inside it are dropped, one that overlaps its start ends
 *   there at the level it had reached, one that overlaps its end starts there instead (ramping
 *   from the new target); an action that encloses the span is split in two around it.
 *   delFaderAction / delCrossFaderAction clear a span the same way without inserting anything.
 * Cross-fade curve, setCrossFaderCurve(centreDb, edgeDb, unityWidth, fadeWidth), widths taken
 *   as absolute values; default (-1, -40, 0.05, 0.8). For position v, input A is at unity for
 *   v > unityWidth, falls linearly in dB to centreDb at v = 0 and to edgeDb at v = -fadeWidth,
 *   and is silent below -fadeWidth; input B is the mirror image. A position reached by a ramp
 *   is clamped to [-1, +1]; crossInitial is used as given. The curve applies from the next
 *   gain computation (next ramp sample or reconfiguration).
 * Reconfiguration (dspAdd or dspAdjust changing the format): every engine restarts at position
 *   0 with its initial value; actions not yet completed are kept and run again at their times
 *   counted from the restart (kept in seconds if the rate changed).
 *
 * initFader(size frames, channels 1 or 2, rate Hz, crossInitial, fader0Initial dB,
 *   fader1Initial dB): allocates the effect and its buffers; NULL when memory runs out or
 *   channels is not 1 or 2. Free with termFader, or hand it to dspAdd (the chain then applies
 *   fader 0 and owns it).
 * doFade(index 0 or 1): `bytes` of PCM (at most size * channels * 2; more is cut to that) run
 *   through fader `index` into pcmOut, which needs as many bytes; pcmIn may equal pcmOut.
 * doCrossFade: pcmA through fader 0 and pcmB through fader 1, cross-faded into pcmOut; all three
 *   hold `bytes` bytes and may be the same buffer.
 * Processing allocates nothing. The setters may allocate a small node per action.
 * Every function returns false for a NULL handle or a handle of another kind; doFade,
 * setFaderAction and delFaderAction also for an index other than 0 and 1, doFade and
 * doCrossFade for NULL PCM pointers. The setters return true even when the times are refused.
 * termFader(NULL) returns false.
 */
DSP_API dsp_effect* initFader(uint32_t size, uint32_t channels, uint32_t rate, float crossInitial,
                              float fader0Initial, float fader1Initial);
DSP_API bool doFade(dsp_effect* fader, uint32_t index, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
DSP_API bool doCrossFade(dsp_effect* fader, const int16_t* pcmA, const int16_t* pcmB, int16_t* pcmOut,
                         uint32_t bytes);
DSP_API bool setFaderAction(dsp_effect* fader, uint32_t index, float start, float end, float targetDb);
DSP_API bool setCrossFaderAction(dsp_effect* fader, float start, float end, float targetPosition);
DSP_API bool delFaderAction(dsp_effect* fader, uint32_t index, float start, float end);
DSP_API bool delCrossFaderAction(dsp_effect* fader, float start, float end);
DSP_API bool setCrossFaderCurve(dsp_effect* fader, float centreDb, float edgeDb, float unityWidth,
                                float fadeWidth);
DSP_API bool termFader(dsp_effect* fader);
/* end of fader and cross-fader */

/* --- FFT analysis -------------------------------------------------------------------- */
/*
 * Magnitude spectra in dB of 16-bit PCM blocks. A spectrum of an n-point transform has n/2
 * float values; value k is 20*log10 of the magnitude of bin k (frequency k/n * rate) of the
 * unnormalised transform of the Hann-windowed float samples (full scale 1.0), or the floor
 * when the magnitude is 0 or lies below it. Value 0 combines DC and Nyquist. A full-scale
 * sine on a bin reads about 20*log10(n/4) dB. With two analysed channels `out` holds the left
 * spectrum then the right one (n floats in all). No audio is produced: in a chain these
 * analysers yield zero frames. Init allocates; do never allocates.
 *
 * initFft(size, channels, analysedChannels, floorDb): block analysis. size (frames per block)
 *   is also the transform length n: a power of two from 4 to 16384. channels 1 or 2;
 *   analysedChannels 1 (stereo is mixed to mono) or 2 (needs channels 2). Floor -floorDb dB.
 * doFft(h, pcmIn, out, bytes): analyses one block of up to size frames, zero-padded to size;
 *   keeps no state. Returns n/2 (also with two analysed channels), 0 for a handle of another
 *   kind or NULL pcmIn/out. bytes = 0 analyses silence. Bytes past the block are ignored.
 * initFftAnalyze(size, channels, fftSize, historyLen): short-time analysis. Each call appends
 *   a block of up to `size` frames (the hop, >= 1; zero-padded) to a sliding history of
 *   historyLen samples per channel (historyLen >= fftSize and >= size, starting as zeros) and
 *   analyses its newest fftSize samples (a power of two, 4..16384). Floor -120 dB.
 * doFftAnalyze(h, pcmIn, out, bytes): writes one spectrum per input channel (fftSize/2 each).
 *   Returns true; false for a handle of another kind or NULL pcmIn/out.
 * termFft / termFftAnalyze: destroy either kind of FFT analyser (also one made by
 *   initEnvAnalyze); false for NULL or another kind.
 * Both init functions return NULL for arguments outside the limits above or when memory runs
 * out.
 */
DSP_API dsp_effect* initFft(uint32_t size, uint32_t channels, uint32_t analysedChannels, uint32_t floorDb);
DSP_API uint32_t doFft(dsp_effect* handle, const int16_t* pcmIn, float* out, uint32_t bytes);
DSP_API bool termFft(dsp_effect* handle);
DSP_API dsp_effect* initFftAnalyze(uint32_t size, uint32_t channels, uint32_t fftSize, uint32_t historyLen);
DSP_API bool doFftAnalyze(dsp_effect* handle, const int16_t* pcmIn, float* out, uint32_t bytes);
DSP_API bool termFftAnalyze(dsp_effect* handle);
/* end of fft analysis */

/* --- Envelope analysis --------------------------------------------------------------- */
/* Amplitude envelope per channel: |x| * 2.5 smoothed by a 33 Hz second-order Butterworth
 * lowpass, continuous across calls. The handle is of the FFT analyser kind (termEnvAnalyze and
 * termFft are the same operation). doEnvAnalyze writes, when out is not NULL, frames values for
 * the left channel followed by frames values for the right (stereo only), in 16-bit sample
 * units truncated toward zero and not clamped (a full-scale signal gives values above 32767);
 * with out NULL the envelope state still advances. It returns false for a foreign handle and
 * for a handle made by initFft/initFftAnalyze (which has no envelope engines). Blocks are at
 * most `size` frames (excess is ignored); initEnvAnalyze returns NULL when memory runs out. */
DSP_API dsp_effect* initEnvAnalyze(uint32_t size, uint32_t channels, uint32_t rate);
DSP_API bool doEnvAnalyze(dsp_effect* handle, const int16_t* pcmIn, float* out, uint32_t bytes);
DSP_API bool termEnvAnalyze(dsp_effect* handle);
/* end of envelope analysis */

/* --- Wave slice ---------------------------------------------------------------------- */
/* Onset slicing of a stream mixed to mono: band-limited to 2-20 kHz, enveloped, and cut at the
 * valley before every rise of at least risePercent % that reaches onDb; a slice ends when the
 * envelope falls below offDb, or at the next onset, once it is longer than minLengthSec.
 * Levels are dB relative to an envelope of 1.0 (the envelope carries a gain of 2.5).
 * The rate must exceed 40000 Hz (the 20 kHz lowpass must lie below half the rate).
 * initWaveSlice returns NULL when memory runs out. Blocks are at most `size` frames (excess
 * is ignored). getWaveSlice first closes an open slice at the current position (so a query
 * mid-stream splits a sound there), then returns record `index`, the last record for an index
 * past the end, or NULL when there is none. Records belong to the slicer and stay valid until
 * termWaveSlice. */
typedef struct DspSliceRecord {
    struct DspSliceRecord* next; /* later record, NULL for the last */
    struct DspSliceRecord* prev; /* earlier record, NULL for the first */
    float startTime;             /* seconds since initWaveSlice */
    float endTime;               /* seconds since initWaveSlice */
} DspSliceRecord;
DSP_API dsp_effect* initWaveSlice(uint32_t size, uint32_t channels, uint32_t rate, float onDb, float offDb,
                                  float risePercent, float minLengthSec);
DSP_API bool doWaveSlice(dsp_effect* handle, const int16_t* pcmIn, uint32_t bytes);
DSP_API const DspSliceRecord* getWaveSlice(dsp_effect* handle, uint32_t index);
DSP_API bool termWaveSlice(dsp_effect* handle);
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
/* Effect kind 6: converts any source rate to 48000 Hz (output rate always 48000) and adds
 * harmonics above the source's band limit. Per channel a rate converter feeds a harmonic
 * synthesiser: a 17-tap Kaiser highpass at `cutoff` Hz isolates the top of the band, an odd
 * transfer curve bent by `harmonics` (0 = straight: no harmonics; positive compresses)
 * distorts it, and the distortion products alone are added, scaled by `mix` percent, to the
 * input delayed by 8 frames at 48000 Hz (16 when created with activeMode 1). activeMode 1
 * restricts the harmonics to above a band edge measured on a smoothed 256-point spectrum of
 * the mid signal, one analysis per block for both channels; it needs output blocks of at
 * least 110 frames to see a full spectrum (shorter ones stay safe).
 * Converter: interpolation 0 linear, else cubic; a Chebyshev lowpass reaching stopbandDb
 * (> 0.1) at the lower Nyquist frequency with a transition of stopbandDb/slopeDbPerOctave
 * octaves, applied when filterOn.
 *
 * initHqups(dstFrames, ...): for output blocks of dstFrames frames. The source block is
 *   getHqupsSrcSize(handle, dstFrames) frames (1000 at 44100 Hz -> 919); it may convert to one
 *   frame more than dstFrames (22050 Hz: 460 -> 1001), and the buffers are sized for that.
 * initHqupsBySrcsize(srcFrames, ...): for source blocks of srcFrames frames.
 *   Both allocate; NULL when memory runs out (or a block reaches 2^30 frames). Channel
 *   counts other than 2 mean mono.
 * doHqups: `bytes` of PCM at the source rate (at most one source block, the excess is
 *   ignored) in, PCM at 48000 Hz with outChannels channels out; returns bytes written:
 *   pcmOut must hold getHqupsDstSize(handle, frames) * outChannels * 2 bytes. 0 bytes
 *   return 0 and change nothing. Never allocates.
 * getHqupsSrcSize / getHqupsDstSize: frame counts between the two rates.
 * setHqupsActiveMode (0 or 1), setHqupsMix (percent), setHqupsHarmonics: take effect from the
 *   next block; the dry-path delay changes only when a chain reconfigures the effect.
 *   setHqupsHarmonics allocates the new curve.
 * termHqups destroys the effect (not after dspAdd). Every function returns 0 / false for a
 * NULL handle or one of another kind. */
DSP_API dsp_effect* initHqups(uint32_t dstFrames, uint32_t inChannels, uint32_t outChannels, uint32_t srcRate,
                              float harmonics, float mix, uint32_t cutoff, uint32_t interpolation,
                              float stopbandDb, float slopeDbPerOctave, uint32_t activeMode, bool filterOn);
DSP_API dsp_effect* initHqupsBySrcsize(uint32_t srcFrames, uint32_t inChannels, uint32_t outChannels,
                                       uint32_t srcRate, float harmonics, float mix, uint32_t cutoff,
                                       uint32_t interpolation, float stopbandDb, float slopeDbPerOctave,
                                       uint32_t activeMode, bool filterOn);
DSP_API uint32_t doHqups(dsp_effect* handle, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
DSP_API uint32_t getHqupsSrcSize(dsp_effect* handle, uint32_t dstFrames);
DSP_API uint32_t getHqupsDstSize(dsp_effect* handle, uint32_t srcFrames);
DSP_API bool setHqupsActiveMode(dsp_effect* handle, uint32_t activeMode);
DSP_API bool setHqupsMix(dsp_effect* handle, float mix);
DSP_API bool setHqupsHarmonics(dsp_effect* handle, float harmonics);
DSP_API bool termHqups(dsp_effect* handle);
/* end of high-quality upsampler */

/* --- Chorus -------------------------------------------------------------------------- */
/*
 * Chorus: copies of the signal read from a delay line at delays that one sine oscillator sweeps
 * around a base delay, the voices at evenly spaced phases of it, added to the dry signal:
 *   out = dry * orgMix/100 + sum over voices v of in(t - d_v) * mix_v/100,
 *   d_v = trunc(sin(2*pi*phase/period + 2*pi*v/voices) * depth + delayTime), all in samples.
 * Tap delays are taken modulo 65536 samples (a delay of 0 reads 65536 samples back) and are
 * not clamped; the wet sum grows with the number of voices.
 *
 * initChorus(size, channels, rate, voices, delayTime, depth, speed, mix, orgMix): an effect
 *   (kind chorus) for blocks of at most `size` frames of 1 or 2 channels at `rate` Hz.
 *   delayTime: base delay, ms. depth: sweep amplitude, ms. speed: oscillator period, s (0 stops
 *   the sweep, each voice then sits at a fixed delay). mix: level of every voice, percent.
 *   orgMix: level of the dry signal, percent. No parameter is range-checked. Allocates six
 *   blocks of `size` floats and two delay lines of 65536 floats; returns NULL when memory runs
 *   out or for 16384 voices or more. The voice count is fixed for the life of the effect.
 * doChorus: processes `bytes` bytes of PCM (at most size * channels * 2; any excess is
 *   ignored) from pcmIn into pcmOut (same byte count, may be the same buffer) and returns true;
 *   false for an effect initialised with 0 channels. Never allocates.
 * Setters (between blocks, effective from the next sample; they keep the delay lines and the
 *   oscillator phase, and are remembered: a reconfiguration by a chain whose format changed
 *   rebuilds the effect from them, clearing the delay lines and restarting the sweep):
 *   setChorusDelaytime (ms), setChorusDepth (ms), setChorusSpeed (s, period),
 *   setChorusOrgMix (%), setChorusMix(voice, %): sets voice `voice` (0 .. voices-1) only; a
 *   reconfiguration gives that level to every voice. A voice outside the range is ignored and
 *   the result is false.
 * termChorus: frees the effect (not after handing it to dspAdd).
 * Every function but initChorus returns false for NULL or for a handle of another kind.
 */
DSP_API dsp_effect* initChorus(uint32_t size, uint32_t channels, uint32_t rate, uint32_t voices, float delayTime,
                               float depth, float speed, float mix, float orgMix);
DSP_API bool doChorus(dsp_effect* chorus, const int16_t* pcmIn, int16_t* pcmOut, uint32_t bytes);
DSP_API bool setChorusDelaytime(dsp_effect* chorus, float delayTime);
DSP_API bool setChorusDepth(dsp_effect* chorus, float depth);
DSP_API bool setChorusSpeed(dsp_effect* chorus, float speed);
DSP_API bool setChorusMix(dsp_effect* chorus, int32_t voice, float mix);
DSP_API bool setChorusOrgMix(dsp_effect* chorus, float orgMix);
DSP_API bool termChorus(dsp_effect* chorus);
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
