#!/usr/bin/python3
"""The rate effect's default filter, measured through dsptool: 96000 -> 44100 Hz, one tone at a
time, against scipy's design of the filter the defaults ask for (Chebyshev type I, 0.1 dB
ripple, passband to 0.8 of the lower Nyquist frequency, order 19 at 96000 Hz)."""
import os, subprocess, sys, tempfile, wave
import numpy as np
from scipy import signal

tool = sys.argv[1]
src, dst, seg = 96000, 44100, 0.25
passband = [1000, 5000, 10000, 15000, 17640]          # to 0.8 x 22050
stopband = [22050, 23000, 26000, 30000, 40000, 47000]  # fold to |44100 - f|
tones = passband + stopband
t = np.arange(int(src * seg)) / src
pcm = np.concatenate([np.round(32767 * 0.5 * np.sin(2 * np.pi * f * t)) for f in tones]).astype('<i2')
sos = signal.cheby1(19, 0.1, 0.8 * dst / 2, fs=src, output='sos')
expected = 20 * np.log10(np.maximum(np.abs(signal.sosfreqz(sos, worN=tones, fs=src)[1]), 1e-12))

with tempfile.TemporaryDirectory() as d:
    inp, out = os.path.join(d, 'in.wav'), os.path.join(d, 'out.wav')
    with wave.open(inp, 'wb') as w:
        w.setnchannels(1), w.setsampwidth(2), w.setframerate(src), w.writeframes(pcm.tobytes())
    subprocess.run([tool, '-q', 'process', inp, out, 'rate', '44.1k'], check=True, stdout=subprocess.DEVNULL)
    with wave.open(out) as w:
        y = np.frombuffer(w.readframes(w.getnframes()), dtype='<i2').astype(float)

n = int(dst * seg)
failures = 0
for i, f in enumerate(tones):
    part = y[i * n + n // 5: (i + 1) * n - n // 5]  # away from the tone changes
    spectrum = np.abs(np.fft.rfft(part * np.hanning(len(part)))) / (np.sum(np.hanning(len(part))) / 2)
    freqs = np.fft.rfftfreq(len(part), 1 / dst)
    k = np.argmin(np.abs(freqs - (abs(dst - f) if f > dst / 2 else f)))
    measured = 20 * np.log10(max(spectrum[max(k - 4, 0):k + 5].max() / (32767 * 0.5), 1e-10))  # -200: silent
    # Passband: the design's ripple, the cubic interpolator lifting the top by up to 0.4 dB;
    # stopband: at least 90 dB down and nowhere above the design.
    ok = (expected[i] - 0.05 <= measured <= expected[i] + 0.45) if f in passband else \
         (measured <= -90 and measured <= max(expected[i], -110) + 1)  # 16 bits end near -110
    failures += not ok
    print('%6d Hz: measured %8.2f dB, design %8.2f dB %s' % (f, measured, expected[i], '' if ok else '  <-- FAIL'))
print('%d passed, %d failed' % (len(tones) - failures, failures))
sys.exit(1 if failures else 0)
