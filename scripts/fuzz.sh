#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz/, clang-14, -fsanitize=fuzzer,address,
# undefined) and runs each for the given time, then prints, per target, the
# executions, the corpus size and the crashes found.
#
# Usage: scripts/fuzz.sh [SECONDS_PER_TARGET]      (default 300)
#
# Environment:
#   FUZZ_JOBS       targets run at the same time (default: the core count, at most 2)
#   FUZZ_TARGETS    targets to run (default: all nine)
#   FUZZ_BUILD_DIR  build folder (default build/fuzz); the grown corpus is kept
#                   in FUZZ_BUILD_DIR/corpus/TARGET, findings in .../artifacts/TARGET
#   FUZZ_REQUIRE=1  fail, instead of printing SKIP, when clang cannot be had
#
# The committed seeds (fuzz/corpus/TARGET) are only read. A finding stops its
# target; the script then exits 1 and names the reproducer: add it to
# fuzz/corpus/TARGET once fixed, so that ctest replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-300}
case $seconds in '' | *[!0-9]*) echo "usage: $0 [SECONDS_PER_TARGET]" >&2; exit 2 ;; esac
build=${FUZZ_BUILD_DIR:-build/fuzz}
targets=${FUZZ_TARGETS:-sample_file mistake_list command_line end_to_end libsvm_text csv_text idx_file lists_manifest range_file model_file}
cores=$(nproc 2>/dev/null || echo 2)
jobs=${FUZZ_JOBS:-$((cores < 2 ? cores : 2))}

# clang-14 with libFuzzer, installed when missing.
if ! bash scripts/install_deps.sh fuzz; then
    echo "SKIP: fuzzing: clang-14 with libFuzzer (Debian packages clang-14, libclang-rt-14-dev) cannot be installed here"
    [ "${FUZZ_REQUIRE:-0}" = 1 ] && exit 1
    exit 0
fi

echo "== fuzz build ($build)"
cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DPROGRAMMA_FUZZ=ON -DPROGRAMMA_TESTS=OFF \
    -DPROGRAMMA_BENCHMARKS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$cores" --target fuzz_targets >/dev/null

# The targets write their temporary files under TMPDIR: a memory file system
# when there is one (saving a list syncs it to disk).
scratch=$(mktemp -d /dev/shm/programma-fuzz.XXXXXX 2>/dev/null || mktemp -d "${TMPDIR:-/tmp}/programma-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

run_target() {
    local name=$1
    local binary=$build/fuzz/fuzz_$name
    mkdir -p "$build/corpus/$name" "$build/artifacts/$name" "$build/logs"
    local dict=()
    [ -f "fuzz/$name.dict" ] && dict=("-dict=fuzz/$name.dict")
    set +e
    TMPDIR=$scratch "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=8192 -print_final_stats=1 "${dict[@]}" \
        -artifact_prefix="$build/artifacts/$name/" \
        "$build/corpus/$name" "fuzz/corpus/$name" >"$build/logs/$name.log" 2>&1
    echo $? >"$build/logs/$name.status"
    set -e
}

echo "== fuzzing: $seconds s a target, $jobs at a time: $targets"
mkdir -p "$build/logs"
touch "$build/logs/started"
running=0
for name in $targets; do
    [ -x "$build/fuzz/fuzz_$name" ] || { echo "no fuzz target $name" >&2; exit 2; }
    rm -f "$build/logs/$name.status"
    run_target "$name" &
    running=$((running + 1))
    if [ "$running" -ge "$jobs" ]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait || true

passed=0
failed=0
printf '%-20s %12s %8s %22s %8s\n' target executions exec/s "corpus (inputs/bytes)" crashes
for name in $targets; do
    log=$build/logs/$name.log
    status=$(cat "$build/logs/$name.status" 2>/dev/null || echo 1)
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    corpus=$(grep -Eo 'corp: [0-9]+/[0-9]+[a-zA-Z]*' "$log" | tail -n 1 | sed 's/corp: //')
    crashes=$(find "$build/artifacts/$name" -type f \( -name 'crash-*' -o -name 'leak-*' \
        -o -name 'timeout-*' -o -name 'oom-*' \) -newer "$build/logs/started" 2>/dev/null | wc -l)
    printf '%-20s %12s %8s %22s %8s\n' "$name" "${execs:-?}" "${rate:-?}" "${corpus:-?}" "$crashes"
    if [ "$status" -eq 0 ] && [ "$crashes" -eq 0 ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "FAIL: $name (exit status $status); log $log" >&2
        grep -E 'ERROR|SUMMARY|fuzz check failed|Test unit written|runtime error' "$log" | head -n 20 >&2 || true
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
