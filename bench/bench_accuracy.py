#!/usr/bin/env python3
"""Ten-class accuracy and time: digit-tools tune and classify beside LIBSVM.

Usage: bench/bench_accuracy.py [--margins] [--sets shipped,5000,60000] [BUILD]

For the shipped data and Fashion 5000/1000 (bench/data, made by
bench/bench_e2e.sh): `digit-tools tune` over -k gauss -c 10,30,100
-e 1,2,5 --combine last,average,vote, then `classify` with the best
setting; LIBSVM's RBF kernel at the best of gamma 0.01, 0.033 x C 1, 10,
and its polynomial kernel of degree 2. Also the cost of the grid against
the sum of its settings tuned one at a time. For Fashion 60000/10000: the
setting tuned on 5000 rows against LIBSVM RBF gamma 0.01, C 10, one run
each. Prints Markdown tables. Needs LIBSVM's svm-train and svm-predict
(scripts/install_deps.sh bench).

With --margins, both sides are tuned the same way instead: `digit-tools
tune` over -k gauss -c 10,30,100 -e 2,5,10 --combine last,average,vote with
--margin 0,0.5,1,2 and with --margin 0 alone, and LIBSVM's `svm-train -v 5`
over C 1, 10, 100 and gamma 1/10, 1/30, 1/100 (the gaussian kernel is
exp(-|x - y|^2 / c), so gamma is 1/c), each with 5 folds; then each best
setting trained on the training rows and tested. On 60000/10000 both sides
tune on the first 10000 training rows and then train on all 60000.
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
    margin = ["--margin", best["margin"]] if float(best.get("margin", "0")) > 0 else []
    seconds, out = run([tools, "classify", "-k", best["kernel"], "-c" if best["kernel"] == "gauss" else "-d",
                        best["parameter"], "-e", best["epochs"], "--combine", best["combine"], *margin,
                        "-tr", train, "-ts", test])
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
    if args[:1] == ["--margins"]:
        args = args[1:]
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


MARGIN_GRID = ["-k", "gauss", "-c", "10,30,100", "-e", "2,5,10", "--combine", "last,average,vote"]
TUNE_ROWS = {"60000": 10000}  # the sets whose tuning takes their first rows alone


def first_rows(path, rows, work):
    """The file of the first `rows` lines of `path`."""
    subset = os.path.join(work, f"first_{rows}")
    with open(path) as source, open(subset, "w") as out:
        for _, line in zip(range(rows), source):
            out.write(line)
    return subset


def tuned_libsvm(tune_svm, train_svm, test_svm, work):
    """LIBSVM's 5-fold grid on tune_svm, then its best setting trained and tested: (tune seconds,
    setting, cross-validated error, train + test seconds, test error)."""
    started, results = time.perf_counter(), []
    for cost in ("1", "10", "100"):
        for constant in ("10", "30", "100"):
            _, out = run(["svm-train", "-q", "-v", "5", "-t", "2", "-g", repr(1 / float(constant)), "-c", cost,
                          tune_svm, os.path.join(work, "cv_model")])
            accuracy = float(re.search(r"Cross Validation Accuracy = ([\d.]+)%", out)[1])
            results.append((100 - accuracy, constant, cost))
    tune_seconds = time.perf_counter() - started
    cv_error, constant, cost = min(results, key=lambda r: r[0])  # the first of the best
    seconds, error = libsvm(train_svm, test_svm, ["-t", "2", "-g", repr(1 / float(constant)), "-c", cost], work)
    return tune_seconds, f"gamma 1/{constant}, C {cost}", cv_error / 100, seconds, error


def margin_protocol(sets, tools):
    """Both sides tuned by 5-fold cross-validation, then trained and tested with their best setting."""
    print("| set | side | chosen setting | cross-validated error | test error | tune | train + test |")
    print("|---|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as work:
        for name in sets:
            train, test = SETS[name]
            tune_train = first_rows(train, TUNE_ROWS[name], work) if name in TUNE_ROWS else train
            ours = {}
            for label, margins in (("margins 0,0.5,1,2", "0,0.5,1,2"), ("margin 0", "0")):
                tune_seconds, best, _ = tune(tools, tune_train, [*MARGIN_GRID, "--margin", margins])
                seconds, error = classify(tools, train, test, best)
                ours[label] = (tune_seconds, seconds)
                setting = (f"-c {best['parameter']} -e {best['epochs']} --combine {best['combine']}"
                           f"{' --margin ' + best['margin'] if 'margin' in best else ''}")
                print(f"| {name} | digit-tools, {label} | {setting} | {best['error']}% | {percent(error)} | "
                      f"{shown(tune_seconds)} | {shown(seconds)} |", flush=True)
            paths = {}
            for role, path in (("tune", tune_train), ("train", train), ("test", test)):
                paths[role] = os.path.join(work, f"{role}.svm")
                run([tools, "convert", "--to", "libsvm", "-o", paths[role], path])
            tune_seconds, setting, cv_error, seconds, error = tuned_libsvm(paths["tune"], paths["train"],
                                                                            paths["test"], work)
            print(f"| {name} | LIBSVM RBF, svm-train -v 5 | {setting} | {100 * cv_error:.2f}% | {percent(error)} | "
                  f"{shown(tune_seconds)} | {shown(seconds)} |")
            for label, (ours_tune, ours_run) in ours.items():
                print(f"| {name} | ratio LIBSVM / digit-tools ({label}) | | | | {tune_seconds / ours_tune:.1f}x | "
                      f"{seconds / ours_run:.1f}x |", flush=True)


if __name__ == "__main__":
    if sys.argv[1:2] == ["--margins"]:
        chosen, folder = sets_and_build(sys.argv[1:])
        margin_protocol(chosen, os.path.join(folder, "digit-tools"))
    else:
        main()
