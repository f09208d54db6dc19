/*
 * libdsp for C++17: move-only owners over the C handles of dsp.h, nothing more.
 *
 *  - Every owner frees its handle with the matching term function (or dspDestroy); a creation
 *    that returns NULL throws std::bad_alloc. Owners move, never copy.
 *  - Chain::add takes an effect owner: once the chain accepts it the owner is empty and the
 *    chain frees the effect. Chain::get<Ref>(index) lends a typed view of an effect inside it.
 *  - PCM travels as Frames / ConstFrames: a pointer, a frame count and a channel count. They
 *    are the one place where frames become the byte counts of the C API.
 *  - Analysers own their output buffers and return views into them (valid until the next call)
 *    or small values. Everything else keeps the C API's contract, threading rules included:
 *    creations and destructions are to be serialised within a process.
 */
#ifndef LIBDSP_DSP_HPP
#define LIBDSP_DSP_HPP

#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <utility>
#include <vector>

#include "dsp.h"

namespace dsp {

/* Interleaved 16-bit PCM: `frames` frames of `channels` samples at `data`. */
template <class Sample>
struct BasicFrames {
    Sample* data = nullptr;
    uint32_t frames = 0;
    uint32_t channels = 0;

    uint32_t bytes() const noexcept { return frames * channels * 2u; }
    /* The first `n` frames (clamped to this view). */
    BasicFrames first(uint32_t n) const noexcept { return {data, n < frames ? n : frames, channels}; }
    /* A view of `count` bytes of PCM as the C API returns them. */
    static BasicFrames ofBytes(Sample* data, uint32_t count, uint32_t channels) noexcept {
        return {data, channels == 0 ? 0u : count / (channels * 2u), channels};
    }
    operator BasicFrames<const int16_t>() const noexcept { return {data, frames, channels}; }
};
using Frames = BasicFrames<int16_t>;
using ConstFrames = BasicFrames<const int16_t>;

/* A vector of interleaved frames that hands out views of itself. */
struct FrameBuffer {
    std::vector<int16_t> samples;
    uint32_t channels = 1;

    FrameBuffer() = default;
    FrameBuffer(uint32_t frames, uint32_t ch) : samples(std::size_t(frames) * ch), channels(ch) {}
    uint32_t frames() const noexcept { return channels == 0 ? 0u : uint32_t(samples.size() / channels); }
    Frames view() noexcept { return {samples.data(), frames(), channels}; }
    ConstFrames view() const noexcept { return {samples.data(), frames(), channels}; }
};

namespace detail {

template <class H>
H* created(H* handle) {
    if (handle == nullptr) throw std::bad_alloc();
    return handle;
}

/* Owns `Ref`'s handle and frees it with Term. */
template <class Ref, auto Term>
class Owner : public Ref {
public:
    using Handle = typename Ref::Handle;
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;
    Owner(Owner&& other) noexcept : Ref(other.release()) {}
    Owner& operator=(Owner&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~Owner() { reset(); }

    /* Gives the handle up: the caller (or a chain) frees it from now on. */
    Handle* release() noexcept { return std::exchange(this->h_, nullptr); }
    void reset(Handle* handle = nullptr) noexcept {
        if (this->h_ != nullptr) Term(this->h_);
        this->h_ = handle;
    }
    explicit operator bool() const noexcept { return this->h_ != nullptr; }

protected:
    explicit Owner(Handle* handle) : Ref(created(handle)) {}
};

/* A non-owning view of one effect handle; the typed views below add its family's calls. */
class EffectRef {
public:
    using Handle = dsp_effect;
    explicit EffectRef(dsp_effect* handle = nullptr) noexcept : h_(handle) {}
    dsp_effect* get() const noexcept { return h_; }

protected:
    dsp_effect* h_;
};

}  // namespace detail

/* ---- Effects: a view class per family (also what Chain::get returns) and its owner ---- */

class FaderRef : public detail::EffectRef {
public:
    using EffectRef::EffectRef;
    /* Runs `in` through fader 0 or 1 into `out` (at least as many frames); false on failure. */
    bool fade(uint32_t index, ConstFrames in, Frames out) const { return doFade(h_, index, in.data, out.data, in.bytes()); }
    /* Fader 0 on `a`, fader 1 on `b`, cross-faded into `out`; all the same length. */
    bool crossFade(ConstFrames a, ConstFrames b, Frames out) const {
        return doCrossFade(h_, a.data, b.data, out.data, a.bytes());
    }
    /* Ramps fader `index` to `targetDb` from `start` to `end` seconds. */
    bool setAction(uint32_t index, float start, float end, float targetDb) const {
        return setFaderAction(h_, index, start, end, targetDb);
    }
    bool setCrossAction(float start, float end, float position) const { return setCrossFaderAction(h_, start, end, position); }
    bool deleteActions(uint32_t index, float start, float end) const { return delFaderAction(h_, index, start, end); }
    bool deleteCrossActions(float start, float end) const { return delCrossFaderAction(h_, start, end); }
    bool setCrossCurve(float centreDb, float edgeDb, float unityWidth, float fadeWidth) const {
        return setCrossFaderCurve(h_, centreDb, edgeDb, unityWidth, fadeWidth);
    }
};
class Fader : public detail::Owner<FaderRef, termFader> {
public:
    using Ref = FaderRef;
    Fader(uint32_t size, uint32_t channels, uint32_t rate, float crossInitial = 1.0f, float fader0Db = 0.0f,
          float fader1Db = 0.0f)
        : Owner(initFader(size, channels, rate, crossInitial, fader0Db, fader1Db)) {}
};

class ChorusRef : public detail::EffectRef {
public:
    using EffectRef::EffectRef;
    bool process(ConstFrames in, Frames out) const { return doChorus(h_, in.data, out.data, in.bytes()); }
    bool setDelayTime(float ms) const { return setChorusDelaytime(h_, ms); }
    bool setDepth(float ms) const { return setChorusDepth(h_, ms); }
    bool setSpeed(float periodSeconds) const { return setChorusSpeed(h_, periodSeconds); }
    bool setMix(int32_t voice, float percent) const { return setChorusMix(h_, voice, percent); }
    bool setOrgMix(float percent) const { return setChorusOrgMix(h_, percent); }
};
class Chorus : public detail::Owner<ChorusRef, termChorus> {
public:
    using Ref = ChorusRef;
    Chorus(uint32_t size, uint32_t channels, uint32_t rate, uint32_t voices = 3, float delayMs = 20.0f,
           float depthMs = 3.0f, float periodSeconds = 2.0f, float mixPercent = 30.0f, float orgMixPercent = 70.0f)
        : Owner(initChorus(size, channels, rate, voices, delayMs, depthMs, periodSeconds, mixPercent, orgMixPercent)) {}
};

class IirFilterRef : public detail::EffectRef {
public:
    using EffectRef::EffectRef;
    bool process(ConstFrames in, Frames out) const { return doIirFilter(h_, in.data, out.data, in.bytes()); }
};
class IirFilter : public detail::Owner<IirFilterRef, termIirFilter> {
public:
    using Ref = IirFilterRef;
    enum Type : int32_t { Lowpass = 0, Highpass = 1 };
    IirFilter(uint32_t size, uint32_t channels, uint32_t rate, int32_t order, float cutoffHz, Type type)
        : Owner(initIirFilter(size, channels, rate, order, cutoffHz, type)) {}
};

class PitchShiftRef : public detail::EffectRef {
public:
    using EffectRef::EffectRef;
    bool process(ConstFrames in, Frames out) const { return doPitchShift(h_, in.data, out.data, in.bytes()); }
    bool setPitch(float cents) const { return setPitchShiftPitch(h_, cents); }
    bool setOutLevel(float db) const { return setPitchShiftOutLevel(h_, db); }
};
class PitchShift : public detail::Owner<PitchShiftRef, termPitchShift> {
public:
    using Ref = PitchShiftRef;
    PitchShift(uint32_t size, uint32_t channels, uint32_t rate, float cents, float outLevelDb = 0.0f,
               float grainSeconds = 0.05f, float hopSeconds = 0.01f)
        : Owner(initPitchShift(size, channels, rate, cents, outLevelDb, grainSeconds, hopSeconds)) {}
};

class StretchRef : public detail::EffectRef {
public:
    using EffectRef::EffectRef;
    /* Returns the frames written to `out` (room: see dstFrames, or 4 x the input always). */
    Frames process(ConstFrames in, Frames out) const {
        return Frames::ofBytes(out.data, doStretch(h_, in.data, out.data, in.bytes()), in.channels);
    }
    bool setScale(float scale) const { return setStretchScale(h_, scale); }
    bool setOutLevel(float db) const { return setStretchOutLevel(h_, db); }
    uint32_t dstFrames(uint32_t srcFrames) const { return getStretchDstSize(h_, srcFrames); }
};
class Stretch : public detail::Owner<StretchRef, termStretch> {
public:
    using Ref = StretchRef;
    Stretch(uint32_t size, uint32_t channels, uint32_t rate, float scale, float outLevelDb = 0.0f,
            float grainSeconds = 0.05f, float hopSeconds = 0.01f)
        : Owner(initStretch(size, channels, rate, scale, outLevelDb, grainSeconds, hopSeconds)) {}
};

class ResamplerRef : public detail::EffectRef {
public:
    using EffectRef::EffectRef;
    /* Converts `in`; `out` holds dstFrames(in.frames) frames of out.channels channels. */
    Frames process(ConstFrames in, Frames out) const {
        return Frames::ofBytes(out.data, doResampler(h_, in.data, out.data, in.bytes()), out.channels);
    }
    uint32_t dstFrames(uint32_t srcFrames) const { return getResamplerDstSize(h_, srcFrames); }
};
class Resampler : public detail::Owner<ResamplerRef, termResampler> {
public:
    using Ref = ResamplerRef;
    enum Interpolation : uint32_t { Linear = 0, Cubic = 1 };
    Resampler(uint32_t size, uint32_t inChannels, uint32_t outChannels, uint32_t srcRate, uint32_t dstRate,
              Interpolation interpolation = Cubic, float stopbandDb = 80.0f, float slopeDbPerOctave = 40.0f,
              bool filterOn = true)
        : Owner(initResampler(size, inChannels, outChannels, srcRate, dstRate, interpolation, stopbandDb,
                              slopeDbPerOctave, filterOn)) {}
};

class HqupsRef : public detail::EffectRef {
public:
    using EffectRef::EffectRef;
    /* Converts one source block to 48000 Hz; `out` holds dstFrames(in.frames) frames. */
    Frames process(ConstFrames in, Frames out) const {
        return Frames::ofBytes(out.data, doHqups(h_, in.data, out.data, in.bytes()), out.channels);
    }
    uint32_t srcFrames(uint32_t dstFrames) const { return getHqupsSrcSize(h_, dstFrames); }
    uint32_t dstFrames(uint32_t srcFrames) const { return getHqupsDstSize(h_, srcFrames); }
    bool setActiveMode(bool active) const { return setHqupsActiveMode(h_, active ? 1u : 0u); }
    bool setMix(float percent) const { return setHqupsMix(h_, percent); }
    bool setHarmonics(float bend) const { return setHqupsHarmonics(h_, bend); }
};
class Hqups : public detail::Owner<HqupsRef, termHqups> {
public:
    using Ref = HqupsRef;
    struct Settings {
        float harmonics = 0.3f, mixPercent = 50.0f;
        uint32_t cutoffHz = 0;  // 0: a quarter of the source rate
        uint32_t interpolation = 1;
        float stopbandDb = 80.0f, slopeDbPerOctave = 240.0f;
        bool activeMode = false, filterOn = true;
    };
    /* For output blocks of `dstFrames` frames at 48000 Hz. */
    Hqups(uint32_t dstFrames, uint32_t inChannels, uint32_t outChannels, uint32_t srcRate, const Settings& s)
        : Owner(initHqups(dstFrames, inChannels, outChannels, srcRate, s.harmonics, s.mixPercent,
                          s.cutoffHz != 0 ? s.cutoffHz : srcRate / 4, s.interpolation, s.stopbandDb,
                          s.slopeDbPerOctave, s.activeMode ? 1u : 0u, s.filterOn)) {}
    /* For source blocks of `srcFrames` frames. */
    static Hqups bySourceBlock(uint32_t srcFrames, uint32_t inChannels, uint32_t outChannels, uint32_t srcRate,
                               const Settings& s) {
        return Hqups(initHqupsBySrcsize(srcFrames, inChannels, outChannels, srcRate, s.harmonics, s.mixPercent,
                                        s.cutoffHz != 0 ? s.cutoffHz : srcRate / 4, s.interpolation, s.stopbandDb,
                                        s.slopeDbPerOctave, s.activeMode ? 1u : 0u, s.filterOn));
    }

private:
    explicit Hqups(dsp_effect* handle) : Owner(handle) {}
};

/* ---- Analysers ---- */

/* Values per channel, channel after channel: spectra in dB or envelopes in 16-bit units. */
struct Channels {
    const float* data = nullptr;
    uint32_t length = 0;  // values per channel
    uint32_t channels = 0;
    const float* channel(uint32_t c) const noexcept { return data + std::size_t(c) * length; }
    float operator()(uint32_t c, uint32_t i) const noexcept { return channel(c)[i]; }
};

class FftRef : public detail::EffectRef {
public:
    using EffectRef::EffectRef;
};
/* Block spectra: size/2 dB values per analysed channel for blocks of up to `size` frames. */
class Fft : public detail::Owner<FftRef, termFft> {
public:
    using Ref = FftRef;
    Fft(uint32_t size, uint32_t channels, uint32_t analysedChannels, uint32_t floorDb = 120)
        : Owner(initFft(size, channels, analysedChannels, floorDb)), out_(size), analysed_(analysedChannels) {}
    /* The spectra of `in`; empty when the analyser refuses the call. */
    Channels analyse(ConstFrames in) {
        const uint32_t bins = doFft(h_, in.data, out_.data(), in.bytes());
        return {out_.data(), bins, bins == 0 ? 0u : analysed_};
    }

private:
    std::vector<float> out_;
    uint32_t analysed_;
};

class FftAnalyzerRef : public detail::EffectRef {
public:
    using EffectRef::EffectRef;
};
/* Short-time spectra: each hop of up to `size` frames slides into a history of `historyLength`
 * samples whose newest `fftSize` are analysed (fftSize/2 dB values per channel). */
class FftAnalyzer : public detail::Owner<FftAnalyzerRef, termFftAnalyze> {
public:
    using Ref = FftAnalyzerRef;
    FftAnalyzer(uint32_t size, uint32_t channels, uint32_t fftSize, uint32_t historyLength)
        : Owner(initFftAnalyze(size, channels, fftSize, historyLength)),
          out_(std::size_t(fftSize / 2) * channels),
          channels_(channels) {}
    Channels analyse(ConstFrames in) {
        if (!doFftAnalyze(h_, in.data, out_.data(), in.bytes())) return {};
        return {out_.data(), uint32_t(out_.size() / channels_), channels_};
    }

private:
    std::vector<float> out_;
    uint32_t channels_;
};

class EnvelopeRef : public detail::EffectRef {
public:
    using EffectRef::EffectRef;
};
/* Amplitude envelope per channel, in 16-bit sample units, continuous across blocks. */
class Envelope : public detail::Owner<EnvelopeRef, termEnvAnalyze> {
public:
    using Ref = EnvelopeRef;
    Envelope(uint32_t size, uint32_t channels, uint32_t rate)
        : Owner(initEnvAnalyze(size, channels, rate)), out_(std::size_t(size) * channels), size_(size) {}
    /* One value per frame and channel for a block of up to `size` frames. */
    Channels analyse(ConstFrames in) {
        if (in.frames > size_) in = in.first(size_);
        if (!doEnvAnalyze(h_, in.data, out_.data(), in.bytes())) return {};
        return {out_.data(), in.frames, in.channels};
    }

private:
    std::vector<float> out_;
    uint32_t size_;
};

/* One onset slice, in seconds since the slicer was created. */
struct Slice {
    float start;
    float end;
};

class SlicerRef : public detail::EffectRef {
public:
    using EffectRef::EffectRef;
    bool feed(ConstFrames in) const { return doWaveSlice(h_, in.data, in.bytes()); }
    /* Slice `index` (the last one past the end), closing an open slice first; none if empty. */
    std::optional<Slice> slice(uint32_t index) const {
        const DspSliceRecord* r = getWaveSlice(h_, index);
        if (r == nullptr) return std::nullopt;
        return Slice{r->startTime, r->endTime};
    }
    /* Every slice so far, closing an open one first. */
    std::vector<Slice> slices() const {
        std::vector<Slice> all;
        for (const DspSliceRecord* r = getWaveSlice(h_, 0); r != nullptr; r = r->next) all.push_back({r->startTime, r->endTime});
        return all;
    }
};
/* Onset slicer of the mono mix (the rate must exceed 40000 Hz); levels in dB. */
class Slicer : public detail::Owner<SlicerRef, termWaveSlice> {
public:
    using Ref = SlicerRef;
    Slicer(uint32_t size, uint32_t channels, uint32_t rate, float onDb = -36.0f, float offDb = -48.0f,
           float risePercent = 10.0f, float minLengthSeconds = 0.05f)
        : Owner(initWaveSlice(size, channels, rate, onDb, offDb, risePercent, minLengthSeconds)) {}
};

/* ---- Chain ---- */

class ChainRef {
public:
    using Handle = dsp_chain;
    explicit ChainRef(dsp_chain* handle = nullptr) noexcept : h_(handle) {}
    dsp_chain* get() const noexcept { return h_; }

    /* Takes the effect: on success (the new node count) the owner is left empty and the chain
     * frees the effect; on refusal (0) the owner keeps it. */
    template <class Effect, auto Term>
    uint32_t add(detail::Owner<Effect, Term>&& effect, uint32_t priority) const {
        const uint32_t nodes = dspAdd(h_, effect.get(), priority);
        if (nodes != 0) effect.release();
        return nodes;
    }
    /* A typed view of the effect at `index` (in priority order), e.g. get<ChorusRef>(0). Calls
     * through a view of the wrong family fail as the C API's kind checks say. */
    template <class Ref>
    Ref get(uint32_t index) const {
        return Ref(dspGetHandle(h_, index));
    }
    /* Pushes `in` through the chain; returns what was written to `out`, which must hold
     * dstFrames(in.frames) frames of dstChannels() channels. */
    Frames send(ConstFrames in, Frames out) const {
        return Frames::ofBytes(out.data, dspSend(h_, in.data, out.data, in.bytes()), dspGetDstChannels(h_));
    }
    void clear() const { dspClear(h_); }
    void adjust(uint32_t size, uint32_t channels, uint32_t rate) const { dspAdjust(h_, size, channels, rate); }
    uint32_t dstFrames(uint32_t srcFrames) const { return dspGetDstSize(h_, srcFrames); }
    uint32_t dstChannels() const { return dspGetDstChannels(h_); }
    uint32_t dstRate() const { return dspGetDstRate(h_); }

protected:
    dsp_chain* h_;
};
class Chain : public detail::Owner<ChainRef, dspDestroy> {
public:
    Chain(uint32_t size, uint32_t channels, uint32_t rate) : Owner(dspCreate(size, channels, rate)) {}
};

/* ---- Wave files ---- */

class WaveReaderRef {
public:
    using Handle = dsp_wavefile_in;
    explicit WaveReaderRef(dsp_wavefile_in* handle = nullptr) noexcept : h_(handle) {}
    dsp_wavefile_in* get() const noexcept { return h_; }

    /* False when the file was missing or malformed: reads and seeks then give nothing. */
    bool isOpen() const { return getHeaderWavefileIn(h_) != nullptr && getHeaderWavefileIn(h_)->lpData != nullptr; }
    const dsp_wave_format& format() const { return *getFormatWavefileIn(h_); }
    uint32_t channels() const { return format().nChannels; }
    uint32_t rate() const { return format().nSamplesPerSec; }
    /* Frames the data chunk holds. */
    uint32_t frames() const { return channels() == 0 ? 0u : getHeaderWavefileIn(h_)->dwBufferLength / (channels() * 2u); }
    /* Reads up to into.frames frames; returns the frames read (empty at the end of the file or
     * on an error). Reads run on past the data chunk: stop at frames(). */
    Frames read(Frames into) const {
        const int32_t got = readWavefileIn(h_, into.data, into.frames);
        return Frames::ofBytes(into.data, got < 0 ? 0u : uint32_t(got), channels());
    }
    /* Moves to `frame` frames after the first sample (or by `frame` frames when relative);
     * returns the file position in bytes, -1 when it would fall before the start. */
    int32_t seek(int32_t frame, bool relative = false) const {
        return seekWavefileIn(h_, frame * int32_t(channels() * 2u), relative ? 1 : 0);
    }
    int32_t seekTime(float seconds, bool relative = false) const { return timeSeekWavefileIn(h_, seconds, relative ? 1 : 0); }

protected:
    dsp_wavefile_in* h_;
};
class WaveReader : public detail::Owner<WaveReaderRef, termWavefileIn> {
public:
    /* Opens `path` (check isOpen()); `blockFrames` sizes the reader's own block. */
    explicit WaveReader(const char* path, uint32_t blockFrames = 4096) : Owner(initWavefileIn(path, blockFrames)) {}
};

/* The format record of 16-bit PCM. */
inline dsp_wave_format pcmFormat(uint32_t channels, uint32_t rate) {
    return {1, uint16_t(channels), rate, rate * channels * 2u, uint16_t(channels * 2u), 16, 0};
}

class WaveWriterRef {
public:
    using Handle = dsp_wavefile_out;
    explicit WaveWriterRef(dsp_wavefile_out* handle = nullptr) noexcept : h_(handle) {}
    dsp_wavefile_out* get() const noexcept { return h_; }

    /* False when the file could not be created. */
    bool isOpen() const { return flushWavefileOut(h_); }
    const dsp_wave_format& format() const { return *getFormatWavefileOut(h_); }
    /* Appends the frames; true when all were written. */
    bool write(ConstFrames frames) const {
        return frames.bytes() == 0 || writeWavefileOut(h_, frames.data, int32_t(frames.bytes())) == int32_t(frames.bytes());
    }
    bool flush() const { return flushWavefileOut(h_); }

protected:
    dsp_wavefile_out* h_;
};
class WaveWriter : public detail::Owner<WaveWriterRef, termWavefileOut> {
public:
    WaveWriter(const char* path, const dsp_wave_format& format) : Owner(initWavefileOut(path, &format)) {}
    /* Completes the file now (the destructor would); returns the data size in bytes. */
    int32_t close() { return termWavefileOut(release()); }
};

/* ---- Aligned memory ---- */

/* A 16-byte aligned block from the library's allocator. */
class AlignedBlock {
public:
    explicit AlignedBlock(uint32_t bytes) : p_(detail::created(fastmemAlloc(bytes))) {}
    AlignedBlock(AlignedBlock&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    AlignedBlock& operator=(AlignedBlock&& other) noexcept {
        if (this != &other) {
            fastmemFree(p_);
            p_ = std::exchange(other.p_, nullptr);
        }
        return *this;
    }
    AlignedBlock(const AlignedBlock&) = delete;
    AlignedBlock& operator=(const AlignedBlock&) = delete;
    ~AlignedBlock() { fastmemFree(p_); }
    void* get() const noexcept { return p_; }

private:
    void* p_;
};

}  // namespace dsp

#endif /* LIBDSP_DSP_HPP */
