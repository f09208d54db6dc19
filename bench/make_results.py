#!/usr/bin/python3
"""Turns a Google Benchmark JSON report into bench/RESULTS.md.

usage: make_results.py results.json RESULTS.md [build-info.json]

Our benchmarks report a `frames_per_second` counter. A peer's benchmark is named after ours
plus `__peer_<lib_settings>` (before any `/arguments`), and lands in the same row group as ours.
With repetitions, the median aggregate is used; without, the single run.
"""
import json
import os
import re
import sys

PEER_MARK = "__peer_"
DEFAULT_RATE = 44100.0
# Rows that time a quiet stretch after loud input; each is compared with its family's signal row.
QUIET_MARKS = ("_SilenceAfterLoud", "_SubnormalTail")

# Speed targets: (what, pattern our rows must match, peer settings or None for the quiet table,
# lowest acceptable ratio). Quiet rows are excluded from peer targets.
TARGETS = (
    ("Every conversion and the empty-chain copy within 2x of memcpy", r"^(Convert|Chain_EmptyCopy)_",
     "memcpy", 0.5),
    ("Resampler linear+filter at least as fast as soxr LQ", r"^Resampler_.*_Linear_Filter$", "soxr_lq", 1.0),
    ("Resampler linear+filter at least as fast as speexdsp q0", r"^Resampler_.*_Linear_Filter$",
     "speex_q0", 1.0),
    ("Pitch shift at least as fast as SoundTouch default", r"^PitchShift_", "soundtouch_default", 1.0),
    ("Time stretch at least as fast as SoundTouch quick seek", r"^TimeStretch_", "soundtouch_quickseek", 1.0),
    ("Short-time spectrum at least as fast as KissFFT", r"^Fft_ShortTimeDb", "kissfft", 1.0),
    ("Short-time spectrum as fast as FFTW estimate (aim)", r"^Fft_ShortTimeDb", "fftw_estimate", 1.0),
    ("Onset slicing at least as fast as aubio", r"^WaveSlice_", "aubio_hfc", 1.0),
    ("WAVE read and write within 80 % of libsndfile", r"^Wavefile_", "libsndfile", 0.8),
    ("No family more than 10 % slower on silence after signal", None, None, 0.9),
)


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return "unknown CPU"


def load_runs(report):
    """run name -> {"fps": frames per second or None, "label": str}, medians preferred."""
    runs, plain = {}, {}
    for b in report.get("benchmarks", []):
        name = b.get("run_name", b["name"])
        entry = {"fps": b.get("frames_per_second"), "label": b.get("label", "")}
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                runs[name] = entry
        elif b.get("error_occurred"):
            plain.setdefault(name, {"fps": None, "label": "error: " + b.get("error_message", "")})
        else:
            plain.setdefault(name, entry)  # first repetition when no aggregates were kept
    for name, entry in plain.items():
        runs.setdefault(name, entry)
    return runs


def split_peer(name):
    """'BM_X__peer_soxr_hq/4096' -> ('BM_X/4096', 'soxr_hq'); ours -> (name, None)."""
    if PEER_MARK not in name:
        return name, None
    base, tail = name.split(PEER_MARK, 1)
    settings, slash, args = tail.partition("/")
    return base + slash + args, settings


def stated_rate(label):
    """The sample rate written in a label ('48 kHz', '96000 Hz'), else 44100."""
    m = re.search(r"(\d+(?:\.\d+)?)\s*(k?)Hz", label or "")
    if not m:
        return DEFAULT_RATE
    return float(m.group(1)) * (1000.0 if m.group(2) else 1.0)


def display_name(name):
    """'BM_X/real_time' -> 'X': drops the prefix and the timing-mode suffix."""
    name = name[3:] if name.startswith("BM_") else name
    return name[:-len("/real_time")] if name.endswith("/real_time") else name


def signal_row(name, ours):
    """The signal row a quiet row is measured against: its name without the quiet mark, or
    else the one row extending that name (same label preferred), or None."""
    mark = next((m for m in QUIET_MARKS if m in name), None)
    if mark is None:
        return None
    base = name.replace(mark, "", 1)
    if base in ours:
        return base
    stem, slash, args = base.partition("/")
    candidates = sorted(n for n in ours if n.startswith(stem + "_") and n.endswith(slash + args)
                        and not any(m in n for m in QUIET_MARKS))
    same_label = [n for n in candidates if ours[n]["label"] == ours[name]["label"]]
    pick = same_label or candidates
    return pick[0] if pick else None


def quiet_table(runs):
    ours = {n: r for n, r in runs.items() if PEER_MARK not in n}
    rows = []
    for name in sorted(ours):
        base = signal_row(name, ours)
        if base is None:
            continue
        quiet, loud = ours[name]["fps"], ours[base]["fps"]
        ratio = "%.2f" % (quiet / loud) if quiet and loud else "—"
        rows.append([cell(display_name(name)), human(quiet), cell(display_name(base)), human(loud), ratio])
    return rows


def target_table(runs):
    """One row per target: the worst ratio over the rows it covers, and whether it is met."""
    ours = {n: r for n, r in runs.items() if PEER_MARK not in n}
    quiet = {}
    for name in ours:
        base = signal_row(name, ours)
        if base is not None and ours[name]["fps"] and ours[base]["fps"]:
            quiet[name] = ours[name]["fps"] / ours[base]["fps"]
    rows = []
    for what, pattern, settings, floor in TARGETS:
        ratios = {}
        if pattern is None:
            ratios = quiet
        else:
            for name, peer in runs.items():
                base, peer_settings = split_peer(name)
                mine = ours.get(base)
                shown = display_name(base)
                if (peer_settings != settings or mine is None or not re.search(pattern, shown)
                        or any(m in base for m in QUIET_MARKS)):
                    continue
                if mine["fps"] and peer["fps"]:
                    ratios[base] = mine["fps"] / peer["fps"]
        if not ratios:
            rows.append([cell(what), "—", "—", "—", "no rows"])
            continue
        worst = min(ratios, key=ratios.get)
        met = sum(1 for r in ratios.values() if r >= floor)
        rows.append([cell(what), "%.2f" % floor, "%.2f (%s)" % (ratios[worst], cell(display_name(worst))),
                     "%d of %d" % (met, len(ratios)), "met" if met == len(ratios) else "missed"])
    return rows


def human(fps):
    if fps is None:
        return "—"
    for scale, unit in ((1e9, "G"), (1e6, "M"), (1e3, "k")):
        if fps >= scale:
            return "%.3g %s" % (fps / scale, unit)
    return "%.3g" % fps


def times(x):
    if x is None:
        return "—"
    if x >= 100:
        return "%.0f" % x
    return "%.3g" % x


def cell(text):
    return (text or "").replace("|", "\\|")


def build_table(runs):
    ours, peers = {}, {}
    for name in sorted(runs):
        base, settings = split_peer(name)
        if settings is None:
            ours[name] = runs[name]
        else:
            peers.setdefault(base, []).append((settings, runs[name]))
    rows = []
    for name in sorted(set(ours) | set(peers)):
        mine = ours.get(name)
        fps = mine["fps"] if mine else None
        label = mine["label"] if mine else ""
        rt = fps / stated_rate(label) if fps else None
        operation = display_name(name)
        if label:
            operation += " (" + label + ")"
        peer_list = peers.get(name) or [(None, None)]
        for i, (settings, peer) in enumerate(peer_list):
            peer_fps = peer["fps"] if peer else None
            peer_text = "—"
            if settings is not None:
                peer_text = settings
                if peer and peer["label"] and peer["label"] != label:
                    peer_text += " (" + peer["label"] + ")"
            ratio = "%.2f" % (fps / peer_fps) if fps and peer_fps else "—"
            first = i == 0
            rows.append([cell(operation) if first else "", human(fps) if first else "",
                         times(rt) if first else "", cell(peer_text), human(peer_fps), ratio])
    return rows


def fp_mode(context):
    """The process's flush mode at start (a peer library may set it at load), as a sentence."""
    csr = context.get("mxcsr_at_start")
    if csr is None:
        return ""
    bits = int(csr, 16)
    flags = [name for name, bit in (("flush-to-zero", 0x8000), ("denormals-are-zero", 0x40)) if bits & bit]
    if not flags:
        return " The process computed without flushing subnormals."
    return (" The process started with %s on (MXCSR %s, set by a peer library at load): the peers "
            "computed so; our calls compute without flushing whatever the caller set." % (" and ".join(flags), csr))


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1]) as f:
        report = json.load(f)
    info = {}
    if len(argv) > 3 and os.path.exists(argv[3]):
        with open(argv[3]) as f:
            info = json.load(f)
    context = report.get("context", {})
    lines = [
        "# Benchmark results",
        "",
        "Generated by `make bench` (bench/make_results.py); do not edit by hand.",
        "",
        "Machine: %s, %s CPUs; compiler %s; flags `%s`; run %s, load average %s.%s"
        % (cpu_model(), context.get("num_cpus", "?"), info.get("compiler", "unknown"),
           info.get("flags", "unknown"), context.get("date", "?"),
           " ".join("%.2g" % x for x in context.get("load_avg", [])) or "?", fp_mode(context)),
        "",
        "Frames per second are input frames per CPU second, median of the repetitions. "
        "× real time divides by 44100 frames/s or by the rate stated in the settings. "
        "Ratio = ours ÷ peer (above 1: we are faster).",
        "",
        "| Operation | Ours (frames/s) | × real time | Peer (settings) | Peer (frames/s) | Ratio |",
        "|---|---:|---:|---|---:|---:|",
    ]
    runs = load_runs(report)
    targets = target_table(runs)
    lines[-2:-2] = [
        "## Targets",
        "",
        "Each target's lowest ratio over the rows it covers (quiet rows excluded, except in the "
        "last), and how many of those rows reach it.",
        "",
        "| Target | Ratio needed | Lowest ratio (row) | Rows meeting it | Result |",
        "|---|---:|---|---:|---|",
    ] + ["| " + " | ".join(row) + " |" for row in targets] + ["", "## All rows", ""]
    for row in build_table(runs):
        lines.append("| " + " | ".join(row) + " |")
    quiet = quiet_table(runs)
    if quiet:
        lines += [
            "",
            "## Silence after a loud passage",
            "",
            "Quiet input right after loud input (recursive state decaying through the denormal "
            "range), against the same operation on signal, same run. Ratio = quiet ÷ signal "
            "(below 1: the quiet stretch is slower).",
            "",
            "| Operation on quiet input | Frames/s | Same operation on signal | Frames/s | Ratio |",
            "|---|---:|---|---:|---:|",
        ]
        for row in quiet:
            lines.append("| " + " | ".join(row) + " |")
    with open(argv[2], "w") as f:
        f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
