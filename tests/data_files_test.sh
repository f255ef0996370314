#!/usr/bin/env bash
# Checks the shipped default sample files Data/Training_set and Data/Test_set.
#
# Usage: tests/data_files_test.sh REPO_ROOT
#   Always: format checks on both files.
#   With DATA_REGEN=1: also rebuilds them from the Debian package and
#   compares byte for byte (exit 77 = skipped when the download is
#   impossible).
set -u

root=${1:-}
[ -n "$root" ] && [ -d "$root" ] || { echo "usage: $0 REPO_ROOT" >&2; exit 2; }

fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

# check_file FILE EXPECTED_LINES
check_file() {
    local f=$1 want=$2 got
    if [ ! -f "$f" ]; then bad "$f: missing"; return; fi
    got=$(wc -l <"$f")
    [ "$got" -eq "$want" ] || bad "$f: $got lines, expected $want"
    [ "$(tail -c 1 "$f" | od -An -tx1 | tr -d ' \n')" = "0a" ] \
        || bad "$f: does not end with a newline"
    # Fields are split on a single blank, so doubled, leading or trailing
    # blanks show up as empty fields and fail the number pattern.
    awk -F '[ ]' -v name="$f" '
        function num(s) { return s ~ /^-?([0-9]+|[0-9]+\.[0-9]*|\.[0-9]+)([eE][-+]?[0-9]+)?$/ }
        {
            if (/\r/) { err("contains a carriage return"); next }
            if (NF != 257) { err("has " NF " fields, expected 257"); next }
            lit = 0
            for (i = 1; i <= 256; i++) {
                if (!num($i)) { err("feature " i " is not a number: \"" $i "\""); next }
                v = $i + 0
                if (v < -1 || v > 1) { err("feature " i " = " $i " outside [-1,1]"); next }
                if (v > -1) lit = 1
            }
            if ($257 !~ /^[0-9]$/) { err("label \"" $257 "\" is not an integer 0..9"); next }
            if (!lit) err("all features are -1 (blank image)")
            seen[$257]++
        }
        function err(msg) {
            if (++errors <= 5) printf "FAIL: %s:%d: %s\n", name, NR, msg > "/dev/stderr"
        }
        END {
            for (d = 0; d <= 9; d++)
                if (!(d in seen)) {
                    printf "FAIL: %s: no sample of digit %d\n", name, d > "/dev/stderr"
                    errors++
                }
            if (errors > 5) printf "FAIL: %s: %d errors in all\n", name, errors > "/dev/stderr"
            exit errors > 0
        }' "$f" || fail=1
}

check_file "$root/Data/Training_set" 1200
check_file "$root/Data/Test_set" 597
if cmp -s "$root/Data/Training_set" "$root/Data/Test_set"; then
    bad "Training_set and Test_set are identical"
fi
[ $fail -eq 0 ] || exit 1
echo "PASS: default data files are well formed"

[ "${DATA_REGEN:-0}" = 1 ] || exit 0

tmp=$(mktemp -d "${TMPDIR:-/tmp}/data_files_test.XXXXXX") || { echo "FAIL: mktemp" >&2; exit 1; }
trap 'rm -rf "$tmp"' EXIT
bash "$root/tools/default_data/fetch_and_make.sh" "$tmp/out"
rc=$?
if [ $rc -eq 3 ]; then
    echo "SKIP: cannot fetch the source package, regeneration not checked"
    exit 77
fi
[ $rc -eq 0 ] || { echo "FAIL: fetch_and_make.sh exited with $rc" >&2; exit 1; }
for name in Training_set Test_set; do
    cmp "$root/Data/$name" "$tmp/out/$name" || bad "Data/$name differs from a fresh rebuild"
done
[ $fail -eq 0 ] || exit 1
echo "PASS: regenerated files match Data/ byte for byte"
