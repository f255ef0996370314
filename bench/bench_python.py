#!/usr/bin/python3
"""Python fit + predict beside digit-tools classify and scikit-learn's SVC.

Usage: /usr/bin/python3 bench/bench_python.py [--margin M] [--epochs E] [--combine C]
           [--sets 5000,60000] [BUILD]

Runs with PYTHONPATH set to BUILD/python and python/ (the module as ctest
uses it). On the shipped data and Fashion 5000/1000 (bench/data, made by
bench/bench_e2e.sh): KernelPerceptronClassifier's fit + predict against
`digit-tools classify` with the same setting, each the best of three runs;
then, on 5000/1000 and 60000/10000, the tuned setting (gaussian, constant
30, 5 epochs, voted) against SVC(kernel="rbf", gamma=0.01, C=10), one run
each, the classifier's time including its loading. Prints a Markdown table.
With --margin M the tuned setting trains with that margin (classify --margin M),
and --epochs and --combine change its epochs and combiner.
"""
import os
import re
import subprocess
import sys
import time

from bench_accuracy import DATA, ROOT, SETS, sets_and_build  # the same sample files and arguments

SETS = dict(SETS, **{"20000": (os.path.join(DATA, "fashion_train_20000"), os.path.join(DATA, "fashion_test"))})
TUNED = {"kernel": "gauss", "constant": 30.0, "epochs": 5, "combine": "vote"}


def best_of(rounds, work):
    times = []
    for _ in range(rounds):
        started = time.perf_counter()
        result = work()
        times.append(time.perf_counter() - started)
    return min(times), result


def main():
    args = sys.argv[1:]
    settings = {"--margin": ("margin", float), "--epochs": ("epochs", int), "--combine": ("combine", str)}
    while args[:1] and args[0] in settings:
        key, kind = settings[args[0]]
        TUNED[key], args = kind(args[1]), args[2:]
    sets, build = sets_and_build(args)
    sys.path[:0] = [os.path.join(build, "python"), os.path.join(ROOT, "python")]
    import numpy as np
    from sklearn.svm import SVC

    import programma

    tools = os.path.join(build, "digit-tools")
    print("| set | method | error | seconds | ratio |")
    print("|---|---|---|---|---|")
    for name in sets:
        train, test = SETS[name]

        def python_run(setting):
            X, y = programma.read_samples(train)
            X_test, y_test = programma.read_samples(test)
            model = programma.KernelPerceptronClassifier(**setting).fit(X, y)
            return float(np.mean(model.predict(X_test) != y_test))

        def classify_run(setting):
            margin = ["--margin", repr(setting["margin"])] if setting.get("margin") else []
            out = subprocess.run([tools, "classify", "-k", setting["kernel"], "-c", str(setting["constant"]),
                                  "-e", str(setting["epochs"]), "--combine", setting["combine"], *margin, "-tr",
                                  train, "-ts", test], check=True, capture_output=True, text=True).stdout
            wrong, rows = re.search(r"Ten-class test error: (\d+) wrong of (\d+) rows", out).groups()
            return int(wrong) / int(rows)

        if name != "60000":
            for setting in (dict(kernel="gauss", constant=3.0, epochs=2, combine="last"), TUNED):
                label = f"-c {setting['constant']:g} -e {setting['epochs']} --combine {setting['combine']}"
                label += f" --margin {setting['margin']:g}" if setting.get("margin") else ""
                tools_seconds, tools_error = best_of(3, lambda: classify_run(setting))
                python_seconds, python_error = best_of(3, lambda: python_run(setting))
                print(f"| {name} | digit-tools classify {label} | {100 * tools_error:.1f}% | {tools_seconds:.2f} s | |")
                print(f"| {name} | Python fit + predict {label} | {100 * python_error:.1f}% | {python_seconds:.2f} s | "
                      f"{python_seconds / tools_seconds:.2f}x classify's time |", flush=True)
        if name == "shipped":
            continue
        python_seconds, python_error = best_of(1, lambda: python_run(TUNED))
        X, y = programma.read_samples(train)
        X_test, y_test = programma.read_samples(test)
        started = time.perf_counter()
        svc_error = float(np.mean(SVC(kernel="rbf", gamma=0.01, C=10).fit(X, y).predict(X_test) != y_test))
        svc_seconds = time.perf_counter() - started
        tuned = ", ".join(f"{key} {value}" for key, value in TUNED.items())
        print(f"| {name} | Python, tuned ({tuned}) | {100 * python_error:.1f}% | "
              f"{python_seconds:.1f} s | {svc_seconds / python_seconds:.1f}x faster than SVC |")
        print(f"| {name} | SVC(kernel='rbf', gamma=0.01, C=10) | {100 * svc_error:.1f}% | {svc_seconds:.1f} s | |",
              flush=True)


if __name__ == "__main__":
    main()
