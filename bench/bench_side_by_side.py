#!/usr/bin/env python3
"""The end-to-end workloads of bench/bench_e2e.sh for builds side by side.

Usage: bench/bench_side_by_side.py [--rounds N] [--fast-only]
           BUILD[,NAME=VALUE...] BUILD[,NAME=VALUE...] [...] [WORKLOAD...]

Each workload's programs run alternately from the build folders, round after
round, each round starting with the next build (seven rounds unless --rounds says otherwise; three to five of them
also run each reference), so that every build's times come from the same
minutes of a machine whose speed drifts. A build may carry environment
variables for its runs after commas, such as build/release,OMP_WAIT_POLICY=active.

With two builds and the references, each row gives both ratios (median
reference time over median fast time), the fast program's spread (its
fastest and slowest run) and how the second ratio compares with the first.
With --fast-only, each row gives every build's median and spread, how
much slower each build's median is than the first build's, and the median
count of minor page faults of a run.

Needs the data in bench/data and bench/run_timed in the last build
(bench/bench_e2e.sh makes both). WORKLOAD picks rows by a word of their
label, such as voted or loading. Standard output of every run goes to a
file, as in bench/bench_e2e.sh.
"""
import argparse
import os
import statistics
import subprocess
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "bench", "data")
WORKLOADS = [
    ("gaussian, 5000 / 1000, 5 epochs", ["-k", "gauss", "-dg", "3", "-e", "5", "-tr", f"{DATA}/fashion_train_5000", "-ts", f"{DATA}/fashion_test_1000"], 5),
    ("default polynomial run", [], 5),
    ("load and test, gaussian 5000 / 1000, 0 epochs", ["-k", "gauss", "-dg", "3", "-e", "0", "-tr", f"{DATA}/fashion_train_5000", "-ts", f"{DATA}/fashion_test_1000"], 5),
    ("voted, 60000 / 10000, 1 epoch", ["-vot", "1", "-dg", "3", "-e", "1", "-tr", f"{DATA}/fashion_train", "-ts", f"{DATA}/fashion_test"], 3),
    ("gaussian, 60000 / 10000, 1 epoch", ["-k", "gauss", "-dg", "3", "-e", "1", "-tr", f"{DATA}/fashion_train", "-ts", f"{DATA}/fashion_test"], 3),
    ("gaussian, 60000 / 1000, 2 epochs", ["-k", "gauss", "-dg", "3", "-e", "2", "-tr", f"{DATA}/fashion_train", "-ts", f"{DATA}/fashion_test_1000"], 3),
    ("loading 60000 x 257", None, 5),
]


class Build:
    def __init__(self, spec):
        folder, *settings = spec.split(",")
        self.folder = folder
        self.label = spec
        self.env = dict(os.environ)
        self.env.update(setting.split("=", 1) for setting in settings)


class Run:
    """One run's wall seconds and minor page faults."""

    def __init__(self, seconds, faults):
        self.seconds = seconds
        self.faults = faults


def timed(timer, command, env):
    """One run, standard input from /dev/null, output to a file."""
    with tempfile.NamedTemporaryFile("r") as result, open(os.devnull) as stdin, tempfile.TemporaryFile("w") as stdout:
        subprocess.run([timer, result.name] + command, cwd=ROOT, stdin=stdin, stdout=stdout, env=env, check=True)
        fields = result.read().split()
        return Run(float(fields[0]), int(fields[2]) if len(fields) > 2 else -1)


def commands(folder, args):
    if args is None:
        loader = f"{folder}/bench/sample_load"
        return [loader, "stream", f"{DATA}/fashion_train"], [loader, "program", f"{DATA}/fashion_train"]
    return [f"{folder}/programma_reference"] + args, [f"{folder}/programma"] + args


def shown(seconds):
    if seconds < 0.1:
        return f"{seconds * 1000:.1f} ms"
    return f"{seconds:.2f} s" if seconds < 10 else f"{seconds:.1f} s"


def spread(runs):
    times = [run.seconds for run in runs]
    return f"{shown(min(times))} – {shown(max(times))}"


def median_time(runs):
    return statistics.median(run.seconds for run in runs)


def median_faults(runs):
    return int(statistics.median(run.faults for run in runs))


def measure(builds, args, rounds, reference_rounds, timer):
    """Per build, its reference times and its fast times."""
    times = [([], []) for _ in builds]
    for round in range(rounds):
        # Each round starts with the next build, so that no build always
        # runs just after the same other one.
        for index in range(round, round + len(builds)):
            build, (reference_times, fast_times) = builds[index % len(builds)], times[index % len(builds)]
            reference, fast = commands(build.folder, args)
            if round < reference_rounds:
                reference_times.append(timed(timer, reference, build.env))
            fast_times.append(timed(timer, fast, build.env))
    return times


def ratio_row(label, times):
    cells, ratios = [], []
    for reference_runs, fast_runs in times:
        reference, fast = median_time(reference_runs), median_time(fast_runs)
        ratios.append(reference / fast)
        cells += [f"{shown(reference)} / {shown(fast)}", f"{ratios[-1]:.1f}x", spread(fast_runs)]
    return f"| {label} | {' | '.join(cells)} | {100 * (ratios[1] / ratios[0] - 1):+.1f}% |"


def fast_row(label, times):
    medians = [median_time(fast_runs) for _, fast_runs in times]
    cells = [f"{shown(medians[0])} ({spread(times[0][1])}), {median_faults(times[0][1])} faults"]
    for median, (_, fast_runs) in zip(medians[1:], times[1:]):
        cells.append(f"{shown(median)} ({spread(fast_runs)}) {100 * (median / medians[0] - 1):+.1f}%, "
                     f"{median_faults(fast_runs)} faults")
    return f"| {label} | {' | '.join(cells)} |"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--fast-only", action="store_true", help="time only the fast programs")
    parser.add_argument("names", nargs="+", metavar="BUILD or WORKLOAD")
    options = parser.parse_args()
    builds = [Build(name) for name in options.names if os.path.isdir(name.split(",")[0])]
    wanted = [name for name in options.names if not os.path.isdir(name.split(",")[0])]
    if len(builds) < 2 or (not options.fast_only and len(builds) != 2):
        parser.error("give two builds, or two or more with --fast-only")
    # The newest timer counts page faults: this tree's own when it is built.
    timer = os.path.join(ROOT, "build", "release", "bench", "run_timed")
    if not os.access(timer, os.X_OK):
        timer = f"{builds[-1].folder}/bench/run_timed"
    if options.fast_only:
        print("| workload | " + " | ".join(f"{build.label}: median (spread)" for build in builds) + " |")
        print("|---" * (len(builds) + 1) + "|")
    else:
        print("| workload | old: reference / fast (medians) | ratio | fast spread | "
              "new: reference / fast (medians) | ratio | fast spread | change |")
        print("|---|---|---|---|---|---|---|---|")
    for label, args, reference_rounds in WORKLOADS:
        if wanted and not any(word in label for word in wanted):
            continue
        times = measure(builds, args, options.rounds, 0 if options.fast_only else reference_rounds, timer)
        row = fast_row if options.fast_only else ratio_row
        print(row(label, times), flush=True)


if __name__ == "__main__":
    main()
