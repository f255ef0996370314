#!/usr/bin/env bash
# Builds the project in both configurations (optimised, and with
# AddressSanitizer + UndefinedBehaviorSanitizer) and runs every test in each.
# A missing GoogleTest stops it (PROGRAMMA_REQUIRE_TESTS) instead of leaving
# the tests out, as a missing pybind11 or Python stops the optimised build
# (PROGRAMMA_REQUIRE_PYTHON); the sanitizer build leaves the Python package
# out (the module would need the sanitizers' runtime preloaded). A compiler
# warning fails either build (PROGRAMMA_WERROR).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
# In CI the default data files are also rebuilt from their source package
# and compared byte for byte (skipped when the package cannot be fetched).
# CI may not skip the fuzz step either: without clang it fails.
if [ -n "${CI:-}" ]; then
    export DATA_REGEN=${DATA_REGEN:-1}
    export FUZZ_REQUIRE=1
fi

configure_and_test() {
    local name=$1
    shift
    echo "== $name build"
    cmake -S . -B "build/$name" -DPROGRAMMA_REQUIRE_TESTS=ON -DPROGRAMMA_WERROR=ON "$@" >/dev/null
    cmake --build "build/$name" -j "$jobs"
    echo "== $name tests"
    ctest --test-dir "build/$name" --output-on-failure -j "$jobs"
}

bash scripts/install_deps.sh tests tools package python

# Every C++ file as .clang-format says, before anything is built.
bash scripts/check_format.sh

configure_and_test release -DCMAKE_BUILD_TYPE=Release -DPROGRAMMA_REQUIRE_PYTHON=ON
configure_and_test sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPROGRAMMA_SANITIZE=ON -DPROGRAMMA_BENCHMARKS=OFF \
    -DPROGRAMMA_PYTHON=OFF

# Fuzz smoke: every fuzz target for FUZZ_SECONDS (default 20) seconds, two at
# a time (scripts/fuzz.sh; it prints SKIP when clang cannot be had, and
# FUZZ_SECONDS=0 leaves the step out, except in CI, which always runs it).
fuzz_seconds=${FUZZ_SECONDS:-20}
if [ -n "${CI:-}" ] && [ "$fuzz_seconds" -le 0 ]; then fuzz_seconds=20; fi
if [ "$fuzz_seconds" -gt 0 ]; then
    echo "== fuzz smoke ($fuzz_seconds s a target)"
    bash scripts/fuzz.sh "$fuzz_seconds"
fi
