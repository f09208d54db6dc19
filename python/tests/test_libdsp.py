import math
import os
import re

import numpy as np
import pytest

import libdsp
from libdsp._library import FUNCTIONS
from conftest import noise

HEADER = os.path.join(os.path.dirname(__file__), "..", "..", "include", "dsp.h")


def test_declarations_match_the_header():
    header = open(HEADER).read()
    declared = set(re.findall(r"^DSP_API[^(]*?(\w+)\(", header, re.M))
    assert len(declared) == 86
    assert set(re.findall(r"(\w+)\(", FUNCTIONS)) == declared
    version = re.findall(r"#define DSP_VERSION_(?:MAJOR|MINOR|PATCH) (\d+)", header)
    assert libdsp.__version__ == ".".join(version)


# Each one-call function against `dsptool process` with the same effect, arguments spelt out.
CASES = [
    (lambda x, r: libdsp.pitch_shift(x, r, -250, 0.04, 0.008, -3), r"pitch -250 40 8 -3"),
    (lambda x, r: libdsp.time_stretch(x, r, 0.7), "stretch len=0.7 50 10 0"),
    (lambda x, r: libdsp.resample(x, r, 48000, stopband_db=70, slope_db_per_octave=100), "rate 48000 cubic 70 100"),
    (lambda x, r: libdsp.resample(x, r, 8000, cubic=False, filter=False), "rate 8000 linear nofilter"),
    (lambda x, r: libdsp.chorus(x, r, 2, 15, 4, 1.5, 40, 60), "chorus 2 15 4 1.5 40 60"),
    (lambda x, r: libdsp.lowpass(x, r, 2500, 6), "lowpass 2500 6"),
    (lambda x, r: libdsp.highpass(x, r, 500, 2), "highpass 500 2"),
    (lambda x, r: libdsp.fade(x, r, 0.1, 0.2, -6), "fade 0.1 0.2 gain -6"),
]


@pytest.mark.parametrize("channels,rate", [(2, 44100), (1, 22050)])
def test_one_call_functions_match_dsptool(tmp_path, dsptool, channels, rate):
    x = noise(20000, channels, seed=channels)
    src = tmp_path / "in.wav"
    libdsp.write_wave(src, x, rate)
    for call, effect in CASES:
        dsptool(src, tmp_path / "tool.wav", *effect.split())
        expected, expected_rate = libdsp.read_wave(tmp_path / "tool.wav")
        got = call(x, rate)
        out_rate = int(effect.split()[1]) if effect.startswith("rate") else rate
        assert (expected_rate, expected.shape) == (out_rate, got.shape), effect
        assert np.array_equal(expected, got), effect


def test_floats_and_mono_come_back_as_given():
    x = np.sin(np.arange(1000) * 0.05) * 0.5
    y = libdsp.lowpass(x, 44100, 3000)
    assert y.dtype == np.float64 and y.shape == (1000,)
    assert np.array_equal(libdsp.to_int16(y), libdsp.lowpass(libdsp.to_int16(x), 44100, 3000))
    assert libdsp.to_int16([1.0, -1.0, 2.0, 0.5]).tolist() == [32767, -32767, 32767, 16384]
    assert libdsp.to_float(np.array([32767], np.int16))[0] == 1.0


def test_misuse_raises_clear_errors():
    with pytest.raises(TypeError, match="int16 or float"):
        libdsp.lowpass(np.zeros((10, 2), np.int32), 44100)
    for shape in [(10, 3), (2, 10, 2)]:
        with pytest.raises(ValueError, match="shaped"):
            libdsp.lowpass(np.zeros(shape, np.int16), 44100)
    chain, chorus = libdsp.Chain(256, 2, 44100), libdsp.Chorus(256, 2, 44100)
    with pytest.raises(ValueError, match="channel"):
        chorus.process(np.zeros(10, np.int16))
    chain.add(chorus)
    with pytest.raises(libdsp.OwnedByChainError):
        chorus.process(np.zeros((10, 2), np.int16))
    with pytest.raises(libdsp.OwnedByChainError):
        libdsp.Chain(256, 2, 44100).add(chain[0])
    view = chain[0]
    chain.close()
    with pytest.raises(libdsp.ClosedError):
        view.depth = 1
    with pytest.raises(FileNotFoundError):
        libdsp.WaveReader("no/such/file.wav")
    with pytest.raises(MemoryError):
        libdsp.Chorus(256, 2, 44100, voices=16384)


def test_chain_gives_typed_access_to_its_effects():
    x = noise(2048, 2, seed=5)
    alone = libdsp.Chorus(1024, 2, 44100)
    with libdsp.Chain(1024, 2, 44100) as chain:
        chain.add(libdsp.IirFilter(1024, 2, 44100, 20000, order=0), 20)  # passes the signal through
        chain.add(libdsp.Chorus(1024, 2, 44100), 10)
        assert len(chain) == 2 and isinstance(chain[0], libdsp.Chorus)
        first = chain.send(x[:1024])
        chain[0].depth = 6.0
        assert chain[0].depth == 6.0
        second = chain.send(x[1024:])
    expected = alone.process(x[:1024])
    alone.depth = 6.0
    assert np.array_equal(np.concatenate([first, second]), np.concatenate([expected, alone.process(x[1024:])]))


def test_wave_files_round_trip_with_seek(tmp_path):
    x = noise(5000, 2, seed=3)
    with libdsp.WaveWriter(tmp_path / "a.wav", 2, 32000) as w:
        w.write(x[:3000])
        w.write(x[3000:])
    with libdsp.WaveReader(tmp_path / "a.wav", block=64) as r:
        assert (r.channels, r.rate, r.frames) == (2, 32000, 5000)
        assert np.array_equal(r.read(100), x[:100])
        r.seek(4000)
        assert np.array_equal(r.read(), x[4000:])
        assert len(r.read()) == 0
    with pytest.raises(libdsp.ClosedError):
        r.read()


def test_analysers_measure_known_signals():
    rate, n, k = 48000, 1024, 64
    t = np.arange(rate)
    sine = np.round(np.sin(2 * np.pi * k * rate / n * t / rate) * 32767).astype(np.int16)
    spectra = libdsp.spectrum(sine, rate, fft_size=n)
    assert spectra.shape == (rate // (n // 4) + 1, 1, n // 2)
    assert np.argmax(spectra[-2, 0]) == k
    assert spectra[-2, 0, k] == pytest.approx(20 * math.log10(n / 4), abs=0.01)
    # |x| x 2.5 through a 33 Hz lowpass settles at 2.5 x the mean of |x|.
    env = libdsp.envelope(sine, rate)
    assert env[rate // 2:].mean() == pytest.approx(2.5 * np.abs(sine.astype(float)).mean(), rel=0.001)
    clicks = np.zeros(rate, np.int16)
    for start in (0.2, 0.6):
        burst = noise(2000, 1, seed=int(start * 10), level=10000)[:, 0]
        clicks[int(start * rate):int(start * rate) + 2000] = burst
    starts = libdsp.onsets(clicks, rate, min_length=0.01)[:, 0]
    assert starts == pytest.approx([0.2, 0.6], abs=0.01)


def test_readme_snippet_runs(tmp_path, monkeypatch):
    readme = open(os.path.join(os.path.dirname(HEADER), "..", "README.md")).read()
    monkeypatch.chdir(tmp_path)
    exec(re.search(r"\n## Python\n.*?```python\n(.*?)```", readme, re.S).group(1), {})
