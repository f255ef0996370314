#!/usr/bin/env bash
# Builds the Fashion-MNIST sample files used by the benchmarks from Debian's
# dataset-fashion-mnist package (scripts/install_bench_deps.sh installs it).
#
# Usage: tools/fashion_mnist/make_data.sh CONVERTER OUTPUT_DIR
#   CONVERTER   the built fashion_mnist_convert
#   OUTPUT_DIR  where the files go (bench/data, git-ignored)
#
# Writes fashion_train (60000 rows), fashion_test (10000 rows), and the
# leading subsets fashion_train_N (N = 1000 2000 5000 10000 20000) and
# fashion_test_1000, all in source order.
set -euo pipefail

converter=$1
out=$2
source_dir=${FASHION_MNIST_DIR:-/usr/share/datasets/fashion-mnist}

for name in train-images-idx3-ubyte train-labels-idx1-ubyte t10k-images-idx3-ubyte t10k-labels-idx1-ubyte; do
    if [[ ! -r "$source_dir/$name.gz" ]]; then
        echo "missing $source_dir/$name.gz: run scripts/install_bench_deps.sh" >&2
        exit 1
    fi
done

mkdir -p "$out"
raw=$(mktemp -d)
trap 'rm -rf "$raw"' EXIT
for name in train-images-idx3-ubyte train-labels-idx1-ubyte t10k-images-idx3-ubyte t10k-labels-idx1-ubyte; do
    gzip -dc "$source_dir/$name.gz" >"$raw/$name"
done

"$converter" "$raw/train-images-idx3-ubyte" "$raw/train-labels-idx1-ubyte" "$out/fashion_train.tmp"
"$converter" "$raw/t10k-images-idx3-ubyte" "$raw/t10k-labels-idx1-ubyte" "$out/fashion_test.tmp"
for n in 1000 2000 5000 10000 20000; do
    head -n "$n" "$out/fashion_train.tmp" >"$out/fashion_train_$n"
done
head -n 1000 "$out/fashion_test.tmp" >"$out/fashion_test_1000"
# The full files last, so that their presence means the set is complete.
mv "$out/fashion_test.tmp" "$out/fashion_test"
mv "$out/fashion_train.tmp" "$out/fashion_train"
