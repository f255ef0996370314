#!/usr/bin/env bash
# Fails when the linked programma_reference holds code of the fast engine:
# none of the functions the engine's library defines may be in it, and a
# reference function (line_counter) must be, so that a stripped binary
# cannot pass.
#
# Usage: tests/check_reference_binary.sh PROGRAMMA_REFERENCE ENGINE_LIBRARY
set -euo pipefail

binary=$1
engine=$2

defined_functions() {
    nm --defined-only "$@" 2>/dev/null | awk '$2 == "T" { print $3 }' | sort -u
}

binary_functions=$(defined_functions "$binary")
if ! grep -qx '_Z12line_counterPKcR4Dims' <<<"$binary_functions"; then
    echo "$binary: no line_counter among its symbols (stripped, or not the reference program)"
    exit 1
fi
engine_functions=$(defined_functions "$engine")
if [ -z "$engine_functions" ]; then
    echo "$engine: no functions found"
    exit 1
fi
found=$(comm -12 <(echo "$engine_functions") <(echo "$binary_functions"))
if [ -n "$found" ]; then
    echo "$binary holds engine code:"
    echo "$found" | c++filt | head -20
    exit 1
fi
echo "$binary: no engine function among its $(wc -l <<<"$binary_functions") functions"
