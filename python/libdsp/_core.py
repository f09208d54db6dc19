"""Classes over the library's handles: effects, analysers, the chain, and WAVE files.

Audio is a numpy array of interleaved 16-bit PCM shaped (frames, channels), channels 1 or 2;
a 1-D array is one channel. Float arrays (full scale +-1.0) are accepted wherever int16 is, and
the result then comes back as float too. Block sizes are frames, rates Hz, levels dB.
"""
import os

import numpy as np

from ._library import ffi, lib, lifecycle


class Error(Exception):
    """Base of the package's exceptions."""


class ClosedError(Error, ValueError):
    """The object was closed (or its file could not be opened)."""


class OwnedByChainError(Error):
    """The effect was handed to a chain; reach it through the chain (chain[index])."""


# ---- arrays ------------------------------------------------------------------------------

def to_int16(x):
    """Float samples (full scale +-1.0) as int16: x * 32767 rounded, clipped to the 16-bit range."""
    return np.clip(np.rint(np.asarray(x, dtype=np.float64) * 32767.0), -32768, 32767).astype(np.int16)


def to_float(x, dtype=np.float32):
    """int16 samples as floats of full scale +-1.0 (sample / 32767)."""
    return (np.asarray(x, dtype=np.float64) / 32767.0).astype(dtype)


def as_pcm(x, channels=None):
    """Checks `x` and returns (C-contiguous int16 (frames, channels) array, how to give results
    back). Raises TypeError for a dtype other than int16 or float, ValueError for a shape other
    than (frames,) or (frames, 1 or 2) or for `channels` not matching."""
    a = np.asarray(x)
    if a.dtype == np.int16:
        back = _Back(a.ndim, None)
    elif a.dtype.kind == "f":
        back = _Back(a.ndim, a.dtype)
        a = to_int16(a)
    else:
        raise TypeError(f"audio must be int16 or float (+-1.0 full scale), got {a.dtype}")
    if a.ndim == 1:
        a = a[:, None]
    if a.ndim != 2 or a.shape[1] not in (1, 2):
        raise ValueError(f"audio must be shaped (frames,) or (frames, channels) with 1 or 2 channels, got {np.shape(x)}")
    if channels is not None and a.shape[1] != channels:
        raise ValueError(f"expected {channels} channel(s), got {a.shape[1]}")
    return np.ascontiguousarray(a), back


class _Back:
    """Gives a result the dtype and dimensions of the caller's input."""

    def __init__(self, ndim, float_dtype):
        self.ndim, self.float_dtype = ndim, float_dtype

    def __call__(self, pcm):
        if self.ndim == 1 and pcm.shape[1] == 1:
            pcm = pcm[:, 0]
        return pcm if self.float_dtype is None else to_float(pcm, self.float_dtype)


def _ptr(a, ctype="int16_t *"):
    return ffi.cast(ctype, ffi.from_buffer(a, require_writable=False))


# ---- handles -----------------------------------------------------------------------------

class _Handle:
    """One library handle: freed by close() (or the context manager, or garbage collection)."""

    _term = None  # the library function that frees this kind

    def _adopt(self, handle):
        if handle == ffi.NULL:
            raise MemoryError(f"{type(self).__name__}: the library could not create it (out of memory or refused arguments)")
        self._handle = handle
        self._chain = None   # the chain that owns it, for effects handed to one
        self._view = False   # a borrowed view of an effect inside a chain

    def _h(self):
        handle = getattr(self, "_handle", None)
        if self._chain is not None and not self._view:
            raise OwnedByChainError(f"this {type(self).__name__} belongs to a chain now; use chain[index]")
        if handle is None or (self._chain is not None and self._chain._handle is None):
            raise ClosedError(f"{type(self).__name__} is closed")
        return handle

    @property
    def closed(self):
        return getattr(self, "_handle", None) is None

    def close(self):
        """Frees the handle now (an effect owned by a chain is freed with the chain)."""
        handle, self._handle = getattr(self, "_handle", None), None
        if handle is not None and self._chain is None:
            with lifecycle:
                type(self)._term(handle)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass


class Effect(_Handle):
    """An effect for blocks of up to `block` frames of `channels` channels at `rate` Hz."""

    def _setup(self, handle, block, channels, rate, **params):
        self._adopt(handle)
        self.block, self.channels, self.rate = block, channels, rate
        self._params = params

    def _run(self, x, call, out_frames=None, out_channels=None):
        """Runs `call(effect, in, out, bytes)` over `x` block by block; returns the output."""
        h = self._h()
        pcm, back = as_pcm(x, self.channels)
        oc = out_channels or self.channels
        pieces = []
        for start in range(0, len(pcm), self.block):
            chunk = np.ascontiguousarray(pcm[start:start + self.block])
            room = len(chunk) if out_frames is None else out_frames(len(chunk))
            out = np.zeros((room + 2, oc), np.int16)
            written = call(h, _ptr(chunk), _ptr(out), chunk.nbytes)
            if written is False:
                raise Error(f"{type(self).__name__}: the library refused the block")
            # do* calls return true (same length out) or the bytes written.
            pieces.append(out[:len(chunk) if written is True else written // (2 * oc)])
        return back(np.concatenate(pieces) if pieces else np.zeros((0, oc), np.int16))

    def _set(self, name, setter, value, *args):
        if not setter(self._h(), *args, value):
            raise Error(f"{type(self).__name__}: the library refused {name}={value!r}")
        self._params[name] = value

    @classmethod
    def _borrowed(cls, handle, chain, params):
        view = cls.__new__(cls)
        view._adopt(handle)
        view._chain, view._view, view._params = chain, True, params
        view.block, view.channels, view.rate = chain.block, chain.channels, chain.rate
        return view


def _param(name, setter, doc, *args):
    def get(self):
        return self._params.get(name)

    def put(self, value):
        self._set(name, setter, value, *args)

    return property(get, put, doc=doc)


class Chorus(Effect):
    """Chorus: `voices` copies read at delays a sine sweeps around `delay`.

    delay and depth in ms (depth at most delay), period in seconds (the sweep period; 0 holds the
    taps still), mix (every voice) and dry in percent. Voices 0..16383.
    """
    _term = lib.termChorus

    def __init__(self, block, channels, rate, voices=3, delay=20.0, depth=3.0, period=2.0, mix=30.0, dry=70.0):
        with lifecycle:
            h = lib.initChorus(block, channels, rate, voices, delay, depth, period, mix, dry)
        self._setup(h, block, channels, rate, voices=voices, delay=delay, depth=depth, period=period, mix=mix, dry=dry)

    delay = _param("delay", lib.setChorusDelaytime, "Base delay, ms.")
    depth = _param("depth", lib.setChorusDepth, "Sweep depth, ms.")
    period = _param("period", lib.setChorusSpeed, "Sweep period, seconds (0: fixed taps).")
    dry = _param("dry", lib.setChorusOrgMix, "Dry level, percent.")

    @property
    def mix(self):
        """Level of every voice, percent."""
        return self._params.get("mix")

    @mix.setter
    def mix(self, value):
        for voice in range(self._params.get("voices") or 1):
            self._set("mix", lambda h, v, m: lib.setChorusMix(h, v, m), value, voice)

    def process(self, x):
        """Processes `x` (continuing from the previous call); same length out."""
        return self._run(x, lib.doChorus)


class IirFilter(Effect):
    """Chebyshev type I lowpass or highpass, 1 dB passband ripple; `cutoff` Hz (0 < cutoff < rate/2)
    is 1 dB down; order 1..32 (0 passes the signal through)."""
    _term = lib.termIirFilter

    def __init__(self, block, channels, rate, cutoff, order=4, highpass=False):
        with lifecycle:
            h = lib.initIirFilter(block, channels, rate, order, cutoff, 1 if highpass else 0)
        self._setup(h, block, channels, rate, cutoff=cutoff, order=order, highpass=highpass)

    def process(self, x):
        """Filters `x`, the history carried on from the previous call; same length out."""
        return self._run(x, lib.doIirFilter)


class PitchShift(Effect):
    """Granular pitch shift, same length out. pitch in cents (-1200..1200), out_level in dB,
    grain_time and hop_time in seconds (grains last 1.533 x grain_time)."""
    _term = lib.termPitchShift

    def __init__(self, block, channels, rate, pitch, out_level=0.0, grain_time=0.05, hop_time=0.01):
        with lifecycle:
            h = lib.initPitchShift(block, channels, rate, pitch, out_level, grain_time, hop_time)
        self._setup(h, block, channels, rate, pitch=pitch, out_level=out_level)

    pitch = _param("pitch", lib.setPitchShiftPitch, "Shift in cents, -1200..1200 (from the next 32768-frame chunk).")
    out_level = _param("out_level", lib.setPitchShiftOutLevel, "Output level, dB.")

    def process(self, x):
        return self._run(x, lib.doPitchShift)


class Stretch(Effect):
    """Granular time stretch keeping the pitch: output length = 2^(-scale/1000) x input, scale
    -2000..3000 (length factors 4 down to 0.125). out_level dB, grain_time/hop_time seconds."""
    _term = lib.termStretch

    def __init__(self, block, channels, rate, scale, out_level=0.0, grain_time=0.05, hop_time=0.01):
        with lifecycle:
            h = lib.initStretch(block, channels, rate, scale, out_level, grain_time, hop_time)
        self._setup(h, block, channels, rate, scale=scale, out_level=out_level)

    scale = _param("scale", lib.setStretchScale, "Stretch scale, -2000..3000 (1000 halves the length).")
    out_level = _param("out_level", lib.setStretchOutLevel, "Output level, dB.")

    def dst_frames(self, frames):
        """Output frames for a block of `frames` at the newest scale."""
        return lib.getStretchDstSize(self._h(), frames)

    def process(self, x):
        return self._run(x, lib.doStretch, out_frames=lambda n: 4 * n)


class Resampler(Effect):
    """Sample-rate conversion rate -> new_rate (Hz), cubic or linear interpolation, with an
    optional Chebyshev lowpass reaching stopband_db at half the lower rate, its passband ending
    stopband_db / slope_db_per_octave octaves below. Each block converts on its own grid:
    trunc(frames x new_rate / rate) frames out."""
    _term = lib.termResampler

    def __init__(self, block, channels, rate, new_rate, cubic=True, filter=True, stopband_db=80.0,
                 slope_db_per_octave=40.0, out_channels=None):
        self.out_channels = out_channels or channels
        with lifecycle:
            h = lib.initResampler(block, channels, self.out_channels, rate, new_rate, 1 if cubic else 0, stopband_db,
                                  slope_db_per_octave, filter)
        self._setup(h, block, channels, rate)
        self.new_rate = new_rate

    def dst_frames(self, frames):
        return lib.getResamplerDstSize(self._h(), frames)

    def process(self, x):
        return self._run(x, lib.doResampler, out_frames=self.dst_frames, out_channels=self.out_channels)


class Hqups(Effect):
    """Converts to 48000 Hz and regenerates harmonics above the source band. `block` is the
    source block (frames). harmonics: curve bend -1..1; mix: percent; cutoff: highpass Hz
    (default rate/4); active_mode: harmonics only above the measured band edge."""
    _term = lib.termHqups

    def __init__(self, block, channels, rate, harmonics=0.3, mix=50.0, cutoff=None, active_mode=False,
                 cubic=True, filter=True, stopband_db=80.0, slope_db_per_octave=240.0):
        with lifecycle:
            h = lib.initHqupsBySrcsize(block, channels, channels, rate, harmonics, mix, cutoff or rate // 4,
                                       1 if cubic else 0, stopband_db, slope_db_per_octave, int(active_mode), filter)
        self._setup(h, block, channels, rate, harmonics=harmonics, mix=mix, active_mode=active_mode)

    harmonics = _param("harmonics", lib.setHqupsHarmonics, "Curve bend, -1..1 (0: no harmonics).")
    mix = _param("mix", lib.setHqupsMix, "Level of the harmonics, percent.")
    active_mode = _param("active_mode", lambda h, v: lib.setHqupsActiveMode(h, int(v)), "Harmonics only above the band edge.")

    def process(self, x):
        return self._run(x, lib.doHqups, out_frames=lambda n: lib.getHqupsDstSize(self._h(), n))


class Fader(Effect):
    """Two faders (0 and 1) and a cross-fader driven by timed ramps. Times are seconds since
    creation, levels dB (-50..+50; below -50 mutes), cross positions +1 (A alone) .. -1 (B alone)."""
    _term = lib.termFader

    def __init__(self, block, channels, rate, cross=1.0, level0=0.0, level1=0.0):
        with lifecycle:
            h = lib.initFader(block, channels, rate, cross, level0, level1)
        self._setup(h, block, channels, rate)

    def ramp(self, start, end, target_db, fader=0):
        """Moves fader `fader` linearly in dB to target_db from `start` to `end` seconds."""
        lib.setFaderAction(self._h(), fader, start, end, target_db)

    def cross_ramp(self, start, end, position):
        lib.setCrossFaderAction(self._h(), start, end, position)

    def process(self, x, fader=0):
        """Runs `x` through fader 0 (as a chain does) or 1."""
        return self._run(x, lambda h, i, o, n: lib.doFade(h, fader, i, o, n))

    def cross_fade(self, a, b):
        """a through fader 0 and b through fader 1, cross-faded; same length and channels."""
        pb, _ = as_pcm(b, self.channels)
        offset = [0]

        def call(h, i, o, n):
            part = np.ascontiguousarray(pb[offset[0]:offset[0] + n // (2 * self.channels)])
            offset[0] += len(part)
            return lib.doCrossFade(h, i, _ptr(part), o, n)

        if len(pb) != len(as_pcm(a, self.channels)[0]):
            raise ValueError("cross_fade needs inputs of the same length")
        return self._run(a, call)


# ---- analysers ---------------------------------------------------------------------------

class Fft(Effect):
    """Hann-windowed magnitude spectrum of one block: `size` (a power of two 4..16384) is the
    transform length; size/2 values in dB per analysed channel (bin k at k x rate / size Hz),
    floored at -floor_db; a full-scale sine on a bin reads about 20 log10(size/4) dB."""
    _term = lib.termFft

    def __init__(self, size, channels, analysed_channels=1, floor_db=120):
        with lifecycle:
            h = lib.initFft(size, channels, analysed_channels, floor_db)
        self._setup(h, size, channels, 0)
        self.analysed_channels = analysed_channels

    def analyse(self, x):
        """The spectra of up to `size` frames (zero-padded): float32 (analysed channels, size/2)."""
        pcm, _ = as_pcm(x, self.channels)
        out = np.zeros((self.analysed_channels, self.block // 2), np.float32)
        lib.doFft(self._h(), _ptr(pcm[:self.block]), _ptr(out, "float *"), pcm[:self.block].nbytes)
        return out


class FftAnalyzer(Effect):
    """Short-time spectra: each hop of up to `block` frames slides into a history of `history`
    samples per channel whose newest `fft_size` are analysed (floor -120 dB)."""
    _term = lib.termFftAnalyze

    def __init__(self, block, channels, fft_size=4096, history=None):
        with lifecycle:
            h = lib.initFftAnalyze(block, channels, fft_size, history or max(fft_size, block))
        self._setup(h, block, channels, 0)
        self.fft_size = fft_size

    def analyse(self, x):
        """Appends one hop; returns float32 (channels, fft_size/2) in dB."""
        pcm, _ = as_pcm(x, self.channels)
        out = np.zeros((self.channels, self.fft_size // 2), np.float32)
        lib.doFftAnalyze(self._h(), _ptr(pcm[:self.block]), _ptr(out, "float *"), pcm[:self.block].nbytes)
        return out


class EnvelopeAnalyzer(Effect):
    """Amplitude envelope per channel (|x| x 2.5 through a 33 Hz lowpass), in 16-bit sample units,
    continuous across calls."""
    _term = lib.termEnvAnalyze

    def __init__(self, block, channels, rate):
        with lifecycle:
            h = lib.initEnvAnalyze(block, channels, rate)
        self._setup(h, block, channels, rate)

    def analyse(self, x):
        """float32 (frames, channels) envelope of `x` (any length; fed in blocks)."""
        h = self._h()
        pcm, _ = as_pcm(x, self.channels)
        out = np.zeros((len(pcm), self.channels), np.float32)
        for start in range(0, len(pcm), self.block):
            chunk = np.ascontiguousarray(pcm[start:start + self.block])
            values = np.zeros((self.channels, len(chunk)), np.float32)
            lib.doEnvAnalyze(h, _ptr(chunk), _ptr(values, "float *"), chunk.nbytes)
            out[start:start + len(chunk)] = values.T
        return out


class Slicer(Effect):
    """Onset slicer of the mono mix, listening to 2-20 kHz (the rate must exceed 40000 Hz). Levels
    in dB of the envelope, rise in percent of full scale, min_length in seconds."""
    _term = lib.termWaveSlice

    def __init__(self, block, channels, rate, on_db=-36.0, off_db=-48.0, rise=10.0, min_length=0.05):
        if rate <= 40000:
            raise ValueError(f"the slicer needs a rate above 40000 Hz, got {rate}")
        with lifecycle:
            h = lib.initWaveSlice(block, channels, rate, on_db, off_db, rise, min_length)
        self._setup(h, block, channels, rate)

    def feed(self, x):
        """Listens to `x` (any length)."""
        h = self._h()
        pcm, _ = as_pcm(x, self.channels)
        for start in range(0, len(pcm), self.block):
            chunk = np.ascontiguousarray(pcm[start:start + self.block])
            lib.doWaveSlice(h, _ptr(chunk), chunk.nbytes)

    def slices(self):
        """float32 (slices, 2): start and end in seconds since creation (an open slice is closed
        at the current position first)."""
        found, record = [], lib.getWaveSlice(self._h(), 0)
        while record != ffi.NULL:
            found.append((record.startTime, record.endTime))
            record = record.next
        return np.array(found, np.float32).reshape(-1, 2)


# ---- the chain ---------------------------------------------------------------------------

class Chain(_Handle):
    """An effect chain for blocks of up to `block` frames of `channels` channels at `rate` Hz;
    effects run by ascending priority."""

    _term = lib.dspDestroy

    def __init__(self, block, channels, rate):
        with lifecycle:
            h = lib.dspCreate(block, channels, rate)
        self._adopt(h)
        self.block, self.channels, self.rate = block, channels, rate
        self._effects = {}  # address of each effect taken -> (class, parameters)

    def add(self, effect, priority=0):
        """Takes `effect`: from now on the chain frees it, and the object itself refuses use
        (reach it as chain[index]). Returns the number of effects."""
        h = effect._h()
        if effect._view:
            raise OwnedByChainError("this effect already belongs to a chain")
        with lifecycle:
            nodes = lib.dspAdd(self._h(), h, priority)
        if nodes == 0:
            raise Error(f"the chain refused the {type(effect).__name__}")
        effect._chain = self
        self._effects[int(ffi.cast("uintptr_t", h))] = (type(effect), effect._params)
        return nodes

    def __len__(self):
        count = 0
        while lib.dspGetHandle(self._h(), count) != ffi.NULL:
            count += 1
        return count

    def __getitem__(self, index):
        """The effect at `index` in priority order, as an object of its own class."""
        h = lib.dspGetHandle(self._h(), index)
        if h == ffi.NULL:
            raise IndexError(index)
        cls, params = self._effects[int(ffi.cast("uintptr_t", h))]
        return cls._borrowed(h, self, params)

    def send(self, x):
        """Pushes `x` through the chain in blocks of up to `block` frames; returns the output
        (its rate, channels and length as the effects make them)."""
        h = self._h()
        pcm, back = as_pcm(x, self.channels)
        oc = lib.dspGetDstChannels(h)
        pieces = []
        for start in range(0, len(pcm), self.block):
            chunk = np.ascontiguousarray(pcm[start:start + self.block])
            room = max(lib.dspGetDstSize(h, len(chunk)), 4 * len(chunk)) + 2
            out = np.zeros((room, max(oc, 1)), np.int16)
            written = lib.dspSend(h, _ptr(chunk), _ptr(out), chunk.nbytes)
            pieces.append(out[:written // (2 * max(oc, 1))])
        return back(np.concatenate(pieces) if pieces else np.zeros((0, max(oc, 1)), np.int16))

    @property
    def out_rate(self):
        return lib.dspGetDstRate(self._h())

    @property
    def out_channels(self):
        return lib.dspGetDstChannels(self._h())

    def close(self):
        super().close()
        self._effects = {}


# ---- WAVE files --------------------------------------------------------------------------

class WaveReader(_Handle):
    """Reads a 16-bit PCM WAVE file. Use as a context manager; rate in Hz, frames in frames."""

    _term = lib.termWavefileIn

    def __init__(self, path, block=4096):
        path = os.fspath(path)
        if not os.path.isfile(path):
            raise FileNotFoundError(path)
        with lifecycle:
            h = lib.initWavefileIn(os.fsencode(path), block)
        self._adopt(h)
        if lib.getHeaderWavefileIn(h).lpData == ffi.NULL:
            self.close()
            raise Error(f"{path}: not a readable WAVE file (a RIFF form WAVE with 'fmt ' before 'data')")
        f = lib.getFormatWavefileIn(h)
        if f.wBitsPerSample != 16 or f.nChannels not in (1, 2):
            self.close()
            raise Error(f"{path}: {f.wBitsPerSample}-bit, {f.nChannels} channels; 16-bit mono or stereo only")
        self.channels, self.rate = f.nChannels, f.nSamplesPerSec
        self._data_start = lib.seekWavefileIn(h, 0, 1)
        present = max(0, os.path.getsize(path) - self._data_start)
        self.frames = min(lib.getHeaderWavefileIn(h).dwBufferLength, present) // (2 * self.channels)
        self._position = 0

    def read(self, frames=-1):
        """Up to `frames` frames (all that is left for -1) as int16 (frames, channels); stops at
        the end of the data chunk."""
        h = self._h()
        left = self.frames - self._position
        frames = left if frames < 0 else min(frames, left)
        out = np.zeros((frames, self.channels), np.int16)
        got = lib.readWavefileIn(h, _ptr(out), frames) if frames > 0 else 0
        if got < 0:
            raise OSError("read error")
        self._position += got // (2 * self.channels)
        return out[:got // (2 * self.channels)]

    def seek(self, frame):
        """Moves to `frame` frames after the first sample; returns it."""
        if lib.seekWavefileIn(self._h(), frame * 2 * self.channels, 0) < 0:
            raise ValueError(f"cannot seek to frame {frame}")
        self._position = frame
        return frame

    def tell(self):
        return self._position


class WaveWriter(_Handle):
    """Writes a 16-bit PCM WAVE file; complete once closed (use as a context manager)."""

    _term = lib.termWavefileOut

    def __init__(self, path, channels, rate):
        if channels not in (1, 2):
            raise ValueError(f"channels must be 1 or 2, got {channels}")
        self.channels, self.rate = channels, rate
        fmt = ffi.new("dsp_wave_format *", (1, channels, rate, rate * channels * 2, channels * 2, 16, 0))
        with lifecycle:
            h = lib.initWavefileOut(os.fsencode(os.fspath(path)), fmt)
        self._adopt(h)
        if not lib.flushWavefileOut(h):
            self.close()
            raise OSError(f"cannot create {path}")

    def write(self, x):
        """Appends `x` (int16 or float, (frames, channels))."""
        pcm, _ = as_pcm(x, self.channels)
        if pcm.nbytes and lib.writeWavefileOut(self._h(), _ptr(pcm, "void *"), pcm.nbytes) != pcm.nbytes:
            raise OSError("write error")


def read_wave(path):
    """(int16 array (frames, channels), rate in Hz) of a 16-bit WAVE file."""
    with WaveReader(path) as r:
        return r.read(), r.rate


def write_wave(path, x, rate):
    """Writes `x` (int16 or float, (frames,) or (frames, channels)) as a 16-bit WAVE file."""
    pcm, _ = as_pcm(x)
    with WaveWriter(path, pcm.shape[1], rate) as w:
        w.write(pcm)
