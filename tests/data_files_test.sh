#!/usr/bin/env bash
# The shipped sample files: their sizes, and with DATA_REGEN=1 a rebuild from
# their source package compared byte for byte (77, skipped, when the package
# cannot be fetched).
set -u
root=${1:?usage: data_files_test.sh REPO_ROOT}
[ "$(wc -l <"$root/Data/Training_set")" -eq 1200 ] || { echo "FAIL: Data/Training_set is not 1200 lines" >&2; exit 1; }
[ "$(wc -l <"$root/Data/Test_set")" -eq 597 ] || { echo "FAIL: Data/Test_set is not 597 lines" >&2; exit 1; }
[ "$(awk '{ print NF }' "$root/Data/Training_set" "$root/Data/Test_set" | sort -u)" = 257 ] \
    || { echo "FAIL: a line without 257 numbers" >&2; exit 1; }
[ "${DATA_REGEN:-0}" = 1 ] || { echo "PASS: sizes"; exit 0; }
tmp=$(mktemp -d "${TMPDIR:-/tmp}/data_files_test.XXXXXX") || exit 1
trap 'rm -rf "$tmp"' EXIT
bash "$root/tools/default_data/fetch_and_make.sh" "$tmp/out"
case $? in
0) ;;
3) echo "SKIP: cannot fetch the source package"; exit 77 ;;
*) echo "FAIL: fetch_and_make.sh failed" >&2; exit 1 ;;
esac
cmp "$root/Data/Training_set" "$tmp/out/Training_set" && cmp "$root/Data/Test_set" "$tmp/out/Test_set" || exit 1
echo "PASS: regenerated files match Data/ byte for byte"
