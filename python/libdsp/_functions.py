"""One call per common job: each takes the audio and its rate (Hz) first and returns a new array.

Every function streams through a chain in blocks of 4096 frames (a multiple of what a rate
converter needs for whole output frames), the way `dsptool process` does, so results match
it bit for bit. Input: int16 or float (+-1.0) shaped (frames,) or (frames, channels); the
result has the input's dtype and dimensions.
"""
import math

import numpy as np

from ._core import (Chain, Chorus, EnvelopeAnalyzer, Fader, FftAnalyzer, IirFilter, PitchShift, Resampler,
                    Slicer, Stretch, as_pcm)

BLOCK = 4096


def _through(x, rate, make, block=BLOCK):
    pcm, back = as_pcm(x)
    with Chain(block, pcm.shape[1], rate) as chain:
        chain.add(make(block, pcm.shape[1], rate), 10)
        return back(chain.send(pcm))


def resample(x, rate, new_rate, cubic=True, filter=True, stopband_db=90.0, slope_db_per_octave=90.0 / math.log2(1.25)):
    """`x` converted from `rate` to `new_rate` Hz: trunc(frames x new_rate / rate) frames.

    cubic: cubic-convolution interpolation (False: linear). filter: Chebyshev lowpass reaching
    stopband_db dB (> 0.1) at half the lower rate, passband ending stopband_db /
    slope_db_per_octave octaves below; the defaults are dsptool's (90 dB, passband to 0.8 of the
    lower Nyquist frequency). Cubic output lags by two input samples.
    """
    # Blocks of a multiple of rate / gcd(rate, new_rate) frames each give whole output frames.
    quantum = rate // math.gcd(rate, new_rate)
    block = BLOCK if quantum > 65536 else quantum if quantum >= BLOCK else BLOCK // quantum * quantum
    return _through(x, rate, lambda b, c, r: Resampler(b, c, r, new_rate, cubic, filter, stopband_db,
                                                       slope_db_per_octave), block)


def pitch_shift(x, rate, cents, grain_time=0.05, hop_time=0.01, gain_db=0.0):
    """`x` shifted by `cents` (-1200..1200), same length. Grains of grain_time seconds (they last
    1.533 x that) start every hop_time seconds; gain_db is the output level."""
    return _through(x, rate, lambda b, c, r: PitchShift(b, c, r, cents, gain_db, grain_time, hop_time))


def time_stretch(x, rate, length, grain_time=0.05, hop_time=0.01, gain_db=0.0):
    """`x` made `length` times as long (0.125..4) with its pitch kept; grain_time and hop_time in
    seconds, gain_db the output level. Each 4096-frame block gives trunc(4096 x factor) frames."""
    if not 0.125 <= length <= 4:
        raise ValueError(f"length must be from 0.125 to 4, got {length}")
    scale = -1000.0 * math.log2(length)
    return _through(x, rate, lambda b, c, r: Stretch(b, c, r, scale, gain_db, grain_time, hop_time))


def chorus(x, rate, voices=3, delay=20.0, depth=3.0, period=2.0, mix=30.0, dry=70.0):
    """Chorus of `voices` voices around a `delay` ms tap swept by +-`depth` ms over `period`
    seconds; each voice at `mix` %, the dry signal at `dry` %."""
    return _through(x, rate, lambda b, c, r: Chorus(b, c, r, voices, delay, depth, period, mix, dry))


def lowpass(x, rate, cutoff=3000.0, order=4):
    """Chebyshev lowpass (1 dB ripple), `cutoff` Hz 1 dB down, order 1..32."""
    return _through(x, rate, lambda b, c, r: IirFilter(b, c, r, cutoff, order))


def highpass(x, rate, cutoff=300.0, order=4):
    """Chebyshev highpass (1 dB ripple), `cutoff` Hz 1 dB down, order 1..32."""
    return _through(x, rate, lambda b, c, r: IirFilter(b, c, r, cutoff, order, highpass=True))


def fade(x, rate, fade_in=0.0, fade_out=0.0, gain_db=0.0):
    """Fades in from silence over the first `fade_in` seconds and out to silence over the last
    `fade_out` seconds, at gain_db (-49.999..50 dB) in between; levels move linearly in dB."""
    frames = len(np.asarray(x))

    def make(block, channels, r):
        # The first action must start after the first sample; -50.001 dB is silent.
        f = Fader(block, channels, r, 1.0, -50.001 if fade_in > 0 else gain_db, 0.0)
        first = 1.5 / r
        if fade_in > 0:
            f.ramp(first, max(fade_in, 2.5 / r), gain_db)
        if fade_out > 0:
            # From the held level down through -50 dB two samples before the end, on to -60 dB.
            start = max(frames - fade_out * r, 1.5)
            cross = max(frames - 2.0, start + 1.0)
            end = start + (cross - start) * (gain_db + 60.0) / (gain_db + 50.0) if gain_db > -50 else cross
            f.ramp(start / r, end / r, -60.0)
        return f

    return _through(x, rate, make)


def spectrum(x, rate, fft_size=4096, hop=None):
    """Short-time spectra in dB (floor -120): float32 (hops, channels, fft_size/2), one per `hop`
    frames (default fft_size / 4) over the newest fft_size samples. Bin k lies at
    k x rate / fft_size Hz; a full-scale sine reads about 20 log10(fft_size/4) dB."""
    pcm, _ = as_pcm(x)
    hop = hop or fft_size // 4
    with FftAnalyzer(hop, pcm.shape[1], fft_size) as a:
        return np.array([a.analyse(pcm[i:i + hop]) for i in range(0, len(pcm), hop)], np.float32).reshape(
            -1, pcm.shape[1], fft_size // 2)


def envelope(x, rate):
    """Amplitude envelope per channel in 16-bit sample units (|x| x 2.5 through a 33 Hz lowpass):
    float32 (frames, channels); a steady tone settles at 2.5 x the mean of |x|."""
    pcm, _ = as_pcm(x)
    with EnvelopeAnalyzer(BLOCK, pcm.shape[1], rate) as a:
        return a.analyse(pcm)


def onsets(x, rate, on_db=-36.0, off_db=-48.0, rise=10.0, min_length=0.05):
    """Onset slices as float32 (slices, 2): start and end in seconds. Listens to 2-20 kHz only;
    audio at 40000 Hz or less is first brought to 48000 Hz. on_db/off_db: envelope levels in dB;
    rise: percent of full scale; min_length: seconds."""
    pcm, _ = as_pcm(x)
    if rate <= 40000:
        pcm, rate = resample(pcm, rate, 48000), 48000
    with Slicer(BLOCK, pcm.shape[1], rate, on_db, off_db, rise, min_length) as s:
        s.feed(pcm)
        return s.slices()
