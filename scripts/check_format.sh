#!/usr/bin/env bash
# Fails when a C++ file that git tracks is not formatted as .clang-format
# says (clang-format --dry-run --Werror); prints the first differences.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang-format >/dev/null 2>&1; then
    echo "check_format: clang-format is not installed (Debian package clang-format)" >&2
    exit 1
fi
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if ! clang-format --dry-run --Werror "${files[@]}" 2>"${TMPDIR:-/tmp}/check_format.$$"; then
    head -n 40 "${TMPDIR:-/tmp}/check_format.$$" >&2
    rm -f "${TMPDIR:-/tmp}/check_format.$$"
    echo "check_format: run clang-format -i on the files named above" >&2
    exit 1
fi
rm -f "${TMPDIR:-/tmp}/check_format.$$"
echo "check_format: ${#files[@]} files formatted as .clang-format says"
