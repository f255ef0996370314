#!/usr/bin/env bash
# `pip install .` of a clean copy of the source tree into a virtual
# environment that sees Debian's packages (--no-build-isolation --no-index:
# no registry is reached), then, outside the tree, the installed package
# imported and fitted: its lists must be the build tree's module's.
# 77 (skipped) when the interpreter has no venv with pip.
set -eu
source=${1:?usage: pip_install_test.sh SOURCE_DIR PYTHON BUILD_PYTHON_DIR} python=${2:?} built=${3:?}
"$python" -c "import ensurepip, venv" 2>/dev/null || { echo "SKIP: $python has no venv with pip"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/programma-pip.XXXXXX")
trap 'rm -rf "$work"' EXIT

mkdir "$work/src"
tar -C "$source" --exclude=./.git --exclude=./build --exclude='./build-*' --exclude=./bench/data \
    --exclude='*.egg-info' -cf - . | tar -C "$work/src" -xf -
"$python" -m venv --system-site-packages "$work/venv"
"$work/venv/bin/pip" install -q --no-build-isolation --no-index "$work/src" >"$work/log" 2>&1 ||
    { cat "$work/log" >&2; exit 1; }

lists='
import sys, numpy as np, programma
X, y = programma.read_samples(sys.argv[1])
clf = programma.KernelPerceptronClassifier(kernel="gauss", epochs=5).fit(X, y)
print(programma.__file__)
print(" ".join(str(int(m.sum())) + "/" + str(len(m)) for m in clf.mistakes_))
'
cd "$work"
installed=$("$work/venv/bin/python" -c "$lists" "$source/Data/Training_set")
reference=$(PYTHONPATH="$built" "$python" -c "$lists" "$source/Data/Training_set")
[[ $installed == "$work/venv/"* ]] || { echo "FAIL: the venv imported $(head -n 1 <<<"$installed")" >&2; exit 1; }
[ "$(tail -n 1 <<<"$installed")" = "$(tail -n 1 <<<"$reference")" ] ||
    { echo "FAIL: pip's module trains other lists than the build's" >&2; exit 1; }
echo "PASS: pip install . in a venv; the installed package trains the build's lists"
