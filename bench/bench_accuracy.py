#!/usr/bin/env python3
"""Ten-class accuracy and time: digit-tools tune and classify beside LIBSVM.

Usage: bench/bench_accuracy.py [--sets shipped,5000,60000] [BUILD]

For the shipped data and Fashion 5000/1000 (bench/data, made by
bench/bench_e2e.sh): `digit-tools tune` over -k gauss -c 10,30,100
-e 1,2,5 --combine last,average,vote, then `classify` with the best
setting; LIBSVM's RBF kernel at the best of gamma 0.01, 0.033 x C 1, 10,
and its polynomial kernel of degree 2. Also the cost of the grid against
the sum of its settings tuned one at a time. For Fashion 60000/10000: the
setting tuned on 5000 rows against LIBSVM RBF gamma 0.01, C 10, one run
each. Prints Markdown tables. Needs LIBSVM's svm-train and svm-predict
(scripts/install_deps.sh bench).
"""
import csv
import io
import os
import re
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DATA = os.path.join(ROOT, "bench", "data")
SETS = {
    "shipped": (os.path.join(ROOT, "Data", "Training_set"), os.path.join(ROOT, "Data", "Test_set")),
    "5000": (os.path.join(DATA, "fashion_train_5000"), os.path.join(DATA, "fashion_test_1000")),
    "60000": (os.path.join(DATA, "fashion_train"), os.path.join(DATA, "fashion_test")),
}
GRID = ["-k", "gauss", "-c", "10,30,100", "-e", "1,2,5", "--combine", "last,average,vote"]


def run(command):
    """Seconds and standard output of one run; a failure stops the benchmark."""
    started = time.perf_counter()
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, stdin=subprocess.DEVNULL)
    seconds = time.perf_counter() - started
    if done.returncode != 0:
        sys.exit(f"{' '.join(command)}: exit status {done.returncode}\n{done.stderr}")
    return seconds, done.stdout


def shown(seconds):
    return f"{seconds:.2f} s" if seconds < 100 else f"{seconds:.0f} s"


def tune(tools, train, grid):
    seconds, out = run([tools, "tune", *grid, "-tr", train, "--csv"])
    rows = list(csv.DictReader(io.StringIO(out)))
    best = next(row for row in rows if row["best"] == "1")
    return seconds, best, rows


def classify(tools, train, test, best):
    seconds, out = run([tools, "classify", "-k", best["kernel"], "-c" if best["kernel"] == "gauss" else "-d",
                        best["parameter"], "-e", best["epochs"], "--combine", best["combine"], "-tr", train, "-ts", test])
    wrong, rows = re.search(r"Ten-class test error: (\d+) wrong of (\d+) rows", out).groups()
    return seconds, int(wrong) / int(rows)


def libsvm(train_svm, test_svm, options, work):
    model, predicted = os.path.join(work, "model"), os.path.join(work, "predicted")
    trained, _ = run(["svm-train", "-q", *options, train_svm, model])
    tested, out = run(["svm-predict", test_svm, model, predicted])
    right, total = map(int, re.search(r"\((\d+)/(\d+)\)", out).groups())
    return trained + tested, 1 - right / total


def percent(fraction):
    return f"{100 * fraction:.1f}%"


def sets_and_build(args):
    """The sets named by --sets (all by default) and the build folder."""
    sets = ["shipped", "5000", "60000"]
    if args[:1] == ["--sets"]:
        sets, args = args[1].split(","), args[2:]
    return sets, args[0] if args else os.path.join(ROOT, "build", "release")


def main():
    sets, build = sets_and_build(sys.argv[1:])
    tools = os.path.join(build, "digit-tools")
    tuned = {}
    print("| set | method | error | seconds |")
    print("|---|---|---|---|")
    with tempfile.TemporaryDirectory() as work:
        for name in sets:
            train, test = SETS[name]
            train_svm, test_svm = os.path.join(work, "train.svm"), os.path.join(work, "test.svm")
            run([tools, "convert", "--to", "libsvm", "-o", train_svm, train])
            run([tools, "convert", "--to", "libsvm", "-o", test_svm, test])
            if name == "60000":
                best = tuned.get("5000") or {"kernel": "gauss", "parameter": "30", "epochs": "5", "combine": "vote"}
                seconds, error = classify(tools, train, test, best)
                setting = f"-c {best['parameter']} -e {best['epochs']} --combine {best['combine']}"
                print(f"| {name} | classify {setting} (tuned on 5000) | {percent(error)} | {shown(seconds)} |")
                seconds, error = libsvm(train_svm, test_svm, ["-t", "2", "-g", "0.01", "-c", "10"], work)
                print(f"| {name} | LIBSVM RBF gamma 0.01, C 10 | {percent(error)} | {shown(seconds)} |", flush=True)
                continue
            grid_seconds, best, rows = tune(tools, train, GRID)
            tuned[name] = best
            seconds, error = classify(tools, train, test, best)
            setting = f"-c {best['parameter']} -e {best['epochs']} --combine {best['combine']}"
            print(f"| {name} | tune (27 settings, 5 folds) | {best['cross_validated_error_percent']}% cross-validated | {shown(grid_seconds)} |")
            print(f"| {name} | classify {setting} | {percent(error)} | {shown(seconds)} |")
            today_seconds, today_error = classify(tools, train, test, {"kernel": "gauss", "parameter": "3",
                                                                       "epochs": "2", "combine": "last"})
            print(f"| {name} | classify -k gauss (today's defaults: -c 3 -e 2, last) | {percent(today_error)} | "
                  f"{shown(today_seconds)} |")
            results = []
            for gamma in ("0.01", "0.033"):
                for cost in ("1", "10"):
                    seconds, error = libsvm(train_svm, test_svm, ["-t", "2", "-g", gamma, "-c", cost], work)
                    results.append((error, seconds, gamma, cost))
            error, seconds, gamma, cost = min(results)
            total = sum(r[1] for r in results)
            print(f"| {name} | LIBSVM RBF, best of 4 (gamma {gamma}, C {cost}) | {percent(error)} | "
                  f"{shown(seconds)} (grid {shown(total)}) |")
            seconds, error = libsvm(train_svm, test_svm, ["-t", "1", "-d", "2", "-g", "1", "-r", "1"], work)
            print(f"| {name} | LIBSVM polynomial degree 2 | {percent(error)} | {shown(seconds)} |", flush=True)
            separate = 0.0
            for constant in ("10", "30", "100"):
                for epochs in ("1", "2", "5"):
                    for combine in ("last", "average", "vote"):
                        separate += tune(tools, train, ["-k", "gauss", "-c", constant, "-e", epochs,
                                                        "--combine", combine])[0]
            print(f"| {name} | tune's grid: one run {shown(grid_seconds)} against 27 separate runs "
                  f"{shown(separate)} | {separate / grid_seconds:.1f}x | |", flush=True)


if __name__ == "__main__":
    main()
