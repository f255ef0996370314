#!/usr/bin/env bash
# Makes sure the fuzz build's compiler is there: clang-14 with its runtime
# (libFuzzer and the sanitizers), from Debian's packages clang-14 and
# libclang-rt-14-dev. Installs them only when a probe build fails.
#
# Exit status: 0 when clang++-14 can build a libFuzzer target with ASan and
# UBSan (after installing, if need be), 1 when it cannot be had.
set -u

probe() {
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

if probe; then
    exit 0
fi

echo "install_fuzz_deps: clang-14 with libFuzzer is missing; installing clang-14 libclang-rt-14-dev"
if ! command -v apt-get >/dev/null 2>&1; then
    echo "install_fuzz_deps: no apt-get here" >&2
    exit 1
fi
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
        sudo="sudo -n"
    else
        echo "install_fuzz_deps: not root and no password-less sudo" >&2
        exit 1
    fi
fi
export DEBIAN_FRONTEND=noninteractive
apt=($sudo apt-get -o DPkg::Lock::Timeout=600 -q)
if ! "${apt[@]}" install -y --no-install-recommends clang-14 libclang-rt-14-dev </dev/null >/dev/null 2>&1; then
    "${apt[@]}" update </dev/null >/dev/null 2>&1 || true
    "${apt[@]}" install -y --no-install-recommends clang-14 libclang-rt-14-dev </dev/null >/dev/null 2>&1 || true
fi
if probe; then
    echo "install_fuzz_deps: clang-14 with libFuzzer installed"
    exit 0
fi
echo "install_fuzz_deps: clang-14 with libFuzzer cannot be installed" >&2
exit 1
