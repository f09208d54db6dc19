import os
import subprocess
import sys

import libdsp
from conftest import noise

EXAMPLE = os.path.join(os.path.dirname(__file__), "..", "examples", "augment_folder.py")


def test_cluster_example_matches_dsptool(tmp_path, dsptool):
    """The example on a local cluster of worker processes writes what dsptool writes."""
    src, out, ref = tmp_path / "in", tmp_path / "out", tmp_path / "ref"
    src.mkdir(), ref.mkdir()
    for name, channels, rate in [("a", 2, 44100), ("b", 1, 22050), ("c", 2, 48000)]:
        libdsp.write_wave(src / f"{name}.wav", noise(rate // 2, channels, seed=channels), rate)
    slope = repr(90 / 0.3)  # spelt out in full so both sides round the same double
    run = subprocess.run([sys.executable, EXAMPLE, src, out, "--workers", "2", "--pitch", "-200", "--stretch", "1.5",
                          "--rate", "16000", "--stopband-db", "90", "--slope-db-per-octave", slope],
                         capture_output=True, text=True, timeout=300,
                         env=dict(os.environ, PYTHONPATH=os.pathsep.join([os.path.dirname(libdsp.__path__[0])] +
                                                                         os.environ.get("PYTHONPATH", "").split(os.pathsep))))
    assert run.returncode == 0, run.stderr
    assert len(run.stdout.splitlines()) == 3
    for name in "abc":
        for kind, effect in [("pitch", "pitch -200 50 10 0"), ("stretch", "stretch len=1.5 50 10 0"),
                             ("rate", f"rate 16000 cubic 90 {slope}")]:
            dsptool(src / f"{name}.wav", ref / f"{name}.{kind}.wav", *effect.split())
            made = (out / f"{name}.{kind}.wav").read_bytes()
            assert made == (ref / f"{name}.{kind}.wav").read_bytes(), f"{name}.{kind}.wav"
        assert (out / f"{name}.onsets.csv").read_text().startswith("start_s,end_s\n")
