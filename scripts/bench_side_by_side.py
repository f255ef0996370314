#!/usr/bin/env python3
"""The end-to-end workloads of scripts/bench_e2e.sh for two builds side by side.

Usage: scripts/bench_side_by_side.py OLD_BUILD NEW_BUILD [WORKLOAD...]

Each workload's programs run alternately from the two build folders (seven
runs of each fast program, three to five of each reference), so that both
ratios come from the same minutes of a machine whose speed drifts. A ratio
is the median reference time over the median fast time; the spread is the
fastest and slowest of the fast program's runs. Needs the data in bench/data and bench/run_timed in NEW_BUILD
(scripts/bench_e2e.sh makes both). WORKLOAD picks rows by a word of their
label, such as voted or loading.
"""
import os
import statistics
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "bench", "data")
WORKLOADS = [
    ("gaussian, 60000 / 1000, 2 epochs", ["-k", "gauss", "-dg", "3", "-e", "2", "-tr", f"{DATA}/fashion_train", "-ts", f"{DATA}/fashion_test_1000"], 3),
    ("gaussian, 5000 / 1000, 5 epochs", ["-k", "gauss", "-dg", "3", "-e", "5", "-tr", f"{DATA}/fashion_train_5000", "-ts", f"{DATA}/fashion_test_1000"], 5),
    ("voted, 60000 / 10000, 1 epoch", ["-vot", "1", "-dg", "3", "-e", "1", "-tr", f"{DATA}/fashion_train", "-ts", f"{DATA}/fashion_test"], 3),
    ("default polynomial run", [], 5),
    ("loading 60000 x 257", None, 5),
]


def timed(timer, command):
    """Wall seconds of one run, standard input from /dev/null, output discarded."""
    with tempfile.NamedTemporaryFile("r") as result, open(os.devnull) as stdin, open(os.devnull, "w") as stdout:
        subprocess.run([timer, result.name] + command, cwd=ROOT, stdin=stdin, stdout=stdout, check=True)
        return float(result.read().split()[0])


def commands(build, args):
    if args is None:
        loader = f"{build}/bench/sample_load"
        return [loader, "stream", f"{DATA}/fashion_train"], [loader, "program", f"{DATA}/fashion_train"]
    return [f"{build}/programma_reference"] + args, [f"{build}/programma"] + args


def shown(seconds):
    if seconds < 0.1:
        return f"{seconds * 1000:.1f} ms"
    return f"{seconds:.2f} s" if seconds < 10 else f"{seconds:.1f} s"


def main():
    old, new, *wanted = sys.argv[1:]
    timer = f"{new}/bench/run_timed"
    print("| workload | old: reference / fast (medians) | ratio | fast spread | "
          "new: reference / fast (medians) | ratio | fast spread | change |")
    print("|---|---|---|---|---|---|---|---|")
    for label, args, reference_rounds in WORKLOADS:
        if wanted and not any(word in label for word in wanted):
            continue
        times = {build: ([], []) for build in (old, new)}
        for round in range(7):
            for build in (old, new):
                reference, fast = commands(build, args)
                if round < reference_rounds:
                    times[build][0].append(timed(timer, reference))
                times[build][1].append(timed(timer, fast))
        cells, ratios = [], []
        for build in (old, new):
            reference, fast = statistics.median(times[build][0]), statistics.median(times[build][1])
            ratios.append(reference / fast)
            spread = f"{shown(min(times[build][1]))} – {shown(max(times[build][1]))}"
            cells += [f"{shown(reference)} / {shown(fast)}", f"{ratios[-1]:.1f}x", spread]
        print(f"| {label} | {' | '.join(cells)} | {100 * (ratios[1] / ratios[0] - 1):+.1f}% |", flush=True)


if __name__ == "__main__":
    main()
