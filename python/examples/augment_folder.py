#!/usr/bin/env python3
"""Augments a folder of 16-bit WAVE files on a Dask cluster, one task per file.

For every IN_DIR/NAME.wav it writes to OUT_DIR:
  NAME.pitch.wav    shifted by --pitch cents (same length)
  NAME.stretch.wav  --stretch times as long, pitch kept
  NAME.rate.wav     converted to --rate Hz
  NAME.onsets.csv   onset slices (start and end in seconds)
and prints one summary line per file. Without --scheduler it starts a local cluster of
--workers worker processes (loopback only); with --scheduler tcp://HOST:8786 it uses that
cluster, whose workers must have the libdsp package and library installed and see IN_DIR and
OUT_DIR at the same paths (a shared file system).
"""
import argparse
import math
import os
import sys

import libdsp


def augment(path, out_dir, pitch, stretch, rate, stopband_db, slope_db_per_octave):
    """The task run on a worker for one file; returns a summary of it."""
    x, sr = libdsp.read_wave(path)
    name = os.path.splitext(os.path.basename(path))[0]
    out = os.path.join(out_dir, name)
    libdsp.write_wave(out + ".pitch.wav", libdsp.pitch_shift(x, sr, pitch), sr)
    libdsp.write_wave(out + ".stretch.wav", libdsp.time_stretch(x, sr, stretch), sr)
    libdsp.write_wave(out + ".rate.wav",
                      libdsp.resample(x, sr, rate, stopband_db=stopband_db, slope_db_per_octave=slope_db_per_octave),
                      rate)
    slices = libdsp.onsets(x, sr)
    with open(out + ".onsets.csv", "w") as f:
        f.write("start_s,end_s\n")
        f.writelines(f"{a:.6f},{b:.6f}\n" for a, b in slices)
    peak = float(libdsp.envelope(x, sr).max()) if len(x) else 0.0
    return {"file": os.path.basename(path), "frames": len(x), "rate": sr, "channels": x.shape[1],
            "onsets": len(slices), "peak_envelope": round(peak, 1)}


def run(client, in_dir, out_dir, **settings):
    """Submits one task per WAVE file of in_dir and waits for all of them."""
    paths = sorted(os.path.join(in_dir, n) for n in os.listdir(in_dir) if n.lower().endswith(".wav"))
    os.makedirs(out_dir, exist_ok=True)
    futures = client.map(augment, paths, out_dir=out_dir, pure=False, **settings)
    return client.gather(futures)


def main(argv=None):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("in_dir")
    p.add_argument("out_dir")
    p.add_argument("--scheduler", help="address of a running Dask scheduler (default: a local cluster)")
    p.add_argument("--workers", type=int, default=2, help="worker processes of the local cluster (default 2)")
    p.add_argument("--pitch", type=float, default=300.0, help="pitch shift, cents -1200..1200 (default 300)")
    p.add_argument("--stretch", type=float, default=1.25, help="length factor, 0.125..4 (default 1.25)")
    p.add_argument("--rate", type=int, default=16000, help="output rate of NAME.rate.wav, Hz (default 16000)")
    p.add_argument("--stopband-db", type=float, default=90.0, help="rate filter attenuation, dB (default 90)")
    p.add_argument("--slope-db-per-octave", type=float, default=90.0 / math.log2(1.25),
                   help="rate filter slope (default: passband to 0.8 of the lower Nyquist frequency)")
    a = p.parse_args(argv)
    settings = dict(pitch=a.pitch, stretch=a.stretch, rate=a.rate, stopband_db=a.stopband_db,
                    slope_db_per_octave=a.slope_db_per_octave)

    from dask.distributed import Client, LocalCluster

    if a.scheduler:
        with Client(a.scheduler) as client:
            results = run(client, os.path.abspath(a.in_dir), os.path.abspath(a.out_dir), **settings)
    else:
        # Worker processes, one thread each, listening on the loopback interface only.
        with LocalCluster(n_workers=a.workers, threads_per_worker=1, processes=True, host="127.0.0.1",
                          dashboard_address=None) as cluster, Client(cluster) as client:
            results = run(client, os.path.abspath(a.in_dir), os.path.abspath(a.out_dir), **settings)
    for r in results:
        print(" ".join(f"{k}={v}" for k, v in r.items()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
