#!/usr/bin/env bash
# Installs the Debian packages the benchmarks need, only those still missing:
# the Fashion-MNIST images, gnuplot for the growth plot, and Google Benchmark
# for the micro-benchmarks. Run as root.
set -euo pipefail

packages=(dataset-fashion-mnist gnuplot-nox libbenchmark-dev)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

# gnuplot comes in several flavours; any one of them draws the plot.
if [[ " ${missing[*]} " == *" gnuplot-nox "* ]] && command -v gnuplot >/dev/null 2>&1; then
    missing=("${missing[@]/gnuplot-nox}")
    read -r -a missing <<<"${missing[*]}"
fi

if ((${#missing[@]} == 0)); then
    echo "benchmark dependencies: all installed"
    exit 0
fi

sudo=()
if ((EUID != 0)); then sudo=(sudo); fi
echo "installing: ${missing[*]}"
"${sudo[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y --no-install-recommends "${missing[@]}"
