"""libdsp for Python: numpy arrays through the libdsp shared library.

Audio is int16 shaped (frames, channels) with 1 or 2 channels (or (frames,) for mono); float
arrays of full scale +-1.0 are accepted too and give float results. Rates are Hz, block sizes
frames, levels dB, times seconds unless a docstring says ms.

The shared library is the one named by the LIBDSP_LIBRARY environment variable (a path), else
one next to this package, else the system's. Creations and destructions are serialised by a
lock inside the package, so objects may be used from several threads (one object per thread).
"""
from ._core import (Chain, Chorus, ClosedError, EnvelopeAnalyzer, Error, Fader, Fft, FftAnalyzer, Hqups,
                    IirFilter, OwnedByChainError, PitchShift, Resampler, Slicer, Stretch, WaveReader,
                    WaveWriter, read_wave, to_float, to_int16, write_wave)
from ._functions import (chorus, envelope, fade, highpass, lowpass, onsets, pitch_shift, resample, spectrum,
                         time_stretch)
from ._library import path as library_path

__version__ = "0.1.0"
