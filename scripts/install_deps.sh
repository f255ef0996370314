#!/usr/bin/env bash
# Installs the Debian packages that a part of the work needs, only those that
# are missing, as root or through password-less sudo, asking nothing.
#
# Usage: scripts/install_deps.sh GROUP...
#   tests    libgtest-dev (GoogleTest, with its CMake files: the test programs),
#            clang-format (the check that the sources keep the house format)
#   tools    libpng-dev (the PNG writer of digit-tools show), libxxhash-dev (the
#            training-set hash in a list manifest), gnuplot-nox (the bar chart
#            of sweep --plot), groff-base (the man-page check)
#   bench    dataset-fashion-mnist (the images), gnuplot-nox (the growth
#            plot), libbenchmark-dev (the micro-benchmarks), libsvm-tools,
#            and libpng-dev: digit-tools makes the benchmark data
#   fuzz     clang-14 and libclang-rt-14-dev, checked by a probe build of a
#            libFuzzer target with ASan and UBSan
#   package  dpkg-dev, lintian (the package's check)
#   python   the Python package for /usr/bin/python3: python3-dev, pybind11-dev,
#            python3-pybind11, python3-numpy, python3-sklearn, python3-pytest,
#            for `pip install .` python3-setuptools, python3-wheel,
#            python3-pip, python3-venv, and for grid searches on a Dask
#            cluster python3-distributed (with python3-dask, which joblib's
#            dask backend imports)
# Any installed gnuplot will do for gnuplot-nox, any groff for groff-base.
#
# Exit status: 0 when every group is ready, 1 when something cannot be had
# (for fuzz: the probe build still fails), 2 for a wrong command line.
set -u

name=install_deps
missing=()
probe_fuzz=0

# Adds a package to `missing` unless it is installed.
want() {
    dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed' || missing+=("$1")
}

# Adds a package unless the command it would bring is there already.
want_command() {
    command -v "$1" >/dev/null 2>&1 || want "$2"
}

# Whether clang++-14 builds a libFuzzer target with ASan and UBSan.
fuzz_probe() {
    command -v clang++-14 >/dev/null 2>&1 || return 1
    local dir rc
    dir=$(mktemp -d "${TMPDIR:-/tmp}/fuzz-probe.XXXXXX") || return 1
    printf '%s\n' 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
        >"$dir/probe.cpp"
    clang++-14 -fsanitize=fuzzer,address,undefined "$dir/probe.cpp" -o "$dir/probe" >/dev/null 2>&1
    rc=$?
    rm -rf "$dir"
    return $rc
}

add_group() {
    case $1 in
        tests) want libgtest-dev; want_command clang-format clang-format ;;
        tools) want libpng-dev; want libxxhash-dev; want_command gnuplot gnuplot-nox; want_command groff groff-base ;;
        bench)
            want dataset-fashion-mnist; want_command gnuplot gnuplot-nox
            want libbenchmark-dev; want libsvm-tools; want libpng-dev ;;
        fuzz) probe_fuzz=1; fuzz_probe || missing+=(clang-14 libclang-rt-14-dev) ;;
        package) want dpkg-dev; want lintian ;;
        python)
            for package in python3-dev pybind11-dev python3-pybind11 python3-numpy python3-sklearn \
                python3-pytest python3-setuptools python3-wheel python3-pip python3-venv python3-dask \
                python3-distributed; do
                want "$package"
            done ;;
        *) echo "$name: no group '$1' (groups: tests tools bench fuzz package python)" >&2; exit 2 ;;
    esac
}

# Installs `missing`: first from the package lists at hand, and only when
# that fails after refreshing them. Returns 1 when that cannot be done.
install_missing() {
    local as_root=() log status
    if ((EUID != 0)); then
        if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
            as_root=(sudo -n)
        else
            echo "$name: need root (or password-less sudo) to install: ${missing[*]}" >&2
            return 1
        fi
    fi
    command -v apt-get >/dev/null 2>&1 || { echo "$name: no apt-get here" >&2; return 1; }
    echo "$name: installing ${missing[*]}"
    local apt=("${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 -q -y)
    log=$(mktemp "${TMPDIR:-/tmp}/install-deps.XXXXXX") || return 1
    "${apt[@]}" install --no-install-recommends "${missing[@]}" </dev/null >"$log" 2>&1 ||
        { "${apt[@]}" update </dev/null >"$log" 2>&1 &&
            "${apt[@]}" install --no-install-recommends "${missing[@]}" </dev/null >"$log" 2>&1; }
    status=$?
    ((status == 0)) || { echo "$name: apt-get failed:" >&2; tail -n 20 "$log" >&2; }
    rm -f "$log"
    return $status
}

(($#)) || { echo "usage: $0 GROUP... (groups: tests tools bench fuzz package python)" >&2; exit 2; }
for group in "$@"; do add_group "$group"; done
read -r -a missing <<<"$(printf '%s\n' "${missing[@]}" | sort -u | tr '\n' ' ')"

status=0
if ((${#missing[@]})); then install_missing || status=1; fi
if ((probe_fuzz)) && ! fuzz_probe; then
    echo "$name: clang-14 with libFuzzer cannot be installed" >&2
    status=1
fi
exit $status
