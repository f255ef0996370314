#!/usr/bin/env bash
# A user's own data made ready for tune and classify, measured.
#   (a) The shipped training set sorted by label: tune's default grid with
#       --shuffle 1, and classify with tune's best setting and --shuffle 1
#       (2 and 3 too, for the spread a seed makes), against the file as
#       shipped; without --shuffle, both must warn of long runs naming it.
#   (b) Raw Fashion images (0..255, averaged onto 16x16), 5000 training and
#       1000 test rows, through digit-tools scale (--save-ranges, then
#       --ranges on the test rows) and tune's default grid (-c scale and its
#       multiples), against the same grid on the files made in [-1, 1] by
#       convert --scale (bench/data, made by bench/bench_e2e.sh).
# Prints Markdown tables: each run's cross-validated error, test error and
# seconds (one run each, on whatever else the machine does).
#
# Usage: bench/bench_own_data.sh [BUILD]   (default build/release)
# BENCH_DATA names the folder of fashion_train_5000 and fashion_test_1000
# (default bench/data); FASHION_MNIST_DIR the IDX files
# (default /usr/share/datasets/fashion-mnist).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tools=${1:-$root/build/release}/digit-tools
data=${BENCH_DATA:-$root/bench/data}
source=${FASHION_MNIST_DIR:-/usr/share/datasets/fashion-mnist}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Runs a command with its output in $work/NAME.out and .err, its seconds in
# $work/NAME.seconds: timed NAME COMMAND...
timed() {
    local name=$1 start end
    shift
    start=$(date +%s.%N)
    "$@" >"$work/$name.out" 2>"$work/$name.err"
    end=$(date +%s.%N)
    awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }' >"$work/$name.seconds"
}

# The test error in a run's report (tune's of its best setting, or
# classify's), or "-".
test_error() {
    local found
    found=$(grep -o 'Test error of the best setting: [^%]*%\|-class test error: [^%]*%' "$work/$1.out" | head -n 1 |
        sed 's/.* \([0-9.]*\)%$/\1/')
    echo "${found:--}"
}

# Whether a run warned of long runs of one label, naming --shuffle.
warned() { grep -q -- "long runs of one label.*--shuffle" "$work/$1.err" && echo yes || echo no; }

row() {
    local cross
    cross=$(grep -o ', [0-9.]*% cross-validated' "$work/$2.out" | grep -o '[0-9.]*' | head -n 1 || true)
    echo "| $1 | ${cross:--} | $(test_error "$2") | $(warned "$2") | $(cat "$work/$2.seconds") s |"
}

heading() {
    echo
    echo "| $1 | cross-validated error (%) | test error (%) | warned of long runs | seconds |"
    echo "|---|---:|---:|---|---:|"
}

# (a) The shipped rows sorted by their label (the last number), stably.
train=$root/Data/Training_set test=$root/Data/Test_set
awk '{ print $NF " " $0 }' "$train" | sort -s -n -k1,1 | cut -d' ' -f2- >"$work/sorted"
timed tune_shipped "$tools" tune -tr "$train" -ts "$test"
timed tune_sorted "$tools" tune -tr "$work/sorted" -ts "$test"
timed tune_sorted_shuffled "$tools" tune --shuffle 1 -tr "$work/sorted" -ts "$test"
# classify with the setting tune found best on the file as shipped.
read -r -a setting <<<"$(sed -n 's/^Best: \(.*\), [0-9.]*% cross-validated error$/\1/p' "$work/tune_shipped.out")"
timed classify_shipped "$tools" classify "${setting[@]}" -tr "$train" -ts "$test"
timed classify_sorted "$tools" classify "${setting[@]}" -tr "$work/sorted" -ts "$test"
for seed in 1 2 3; do
    timed "classify_shipped_$seed" "$tools" classify "${setting[@]}" --shuffle "$seed" -tr "$train" -ts "$test"
    timed "classify_sorted_$seed" "$tools" classify "${setting[@]}" --shuffle "$seed" -tr "$work/sorted" -ts "$test"
done
heading "shipped data (1200 / 597)"
row "tune, default grid, the file as shipped" tune_shipped
row "tune, default grid, sorted by label" tune_sorted
row "tune --shuffle 1, default grid, sorted by label" tune_sorted_shuffled
row "classify ${setting[*]} (tune's best), the file as shipped" classify_shipped
row "classify ${setting[*]}, sorted by label" classify_sorted
for seed in 1 2 3; do
    row "classify ${setting[*]} --shuffle $seed, the file as shipped" "classify_shipped_$seed"
    row "classify ${setting[*]} --shuffle $seed, sorted by label" "classify_sorted_$seed"
done

# (b) Raw Fashion rows, scaled by digit-tools scale, against convert --scale's.
for name in train-images-idx3-ubyte train-labels-idx1-ubyte t10k-images-idx3-ubyte t10k-labels-idx1-ubyte; do
    gzip -dc "$source/$name.gz" >"$work/$name"
done
"$tools" convert --from idx --resample 16 -o "$work/raw_train" "$work/train-images-idx3-ubyte" \
    "$work/train-labels-idx1-ubyte"
"$tools" convert --from idx --resample 16 -o "$work/raw_test" "$work/t10k-images-idx3-ubyte" \
    "$work/t10k-labels-idx1-ubyte"
head -n 5000 "$work/raw_train" >"$work/raw_train_5000"
head -n 1000 "$work/raw_test" >"$work/raw_test_1000"
"$tools" scale --save-ranges "$work/ranges" -o "$work/scaled_train" "$work/raw_train_5000"
"$tools" scale --ranges "$work/ranges" -o "$work/scaled_test" "$work/raw_test_1000"
timed tune_unit "$tools" tune -tr "$data/fashion_train_5000" -ts "$data/fashion_test_1000"
timed tune_scaled "$tools" tune -tr "$work/scaled_train" -ts "$work/scaled_test"
timed tune_raw "$tools" tune -tr "$work/raw_train_5000" -ts "$work/raw_test_1000"
heading "Fashion 16x16 (5000 / 1000)"
row "tune, default grid, convert --scale's files in [-1, 1]" tune_unit
row "tune, default grid, raw 0..255 through digit-tools scale" tune_scaled
row "tune, default grid, raw 0..255 as they are" tune_raw
