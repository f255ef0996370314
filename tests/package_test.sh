#!/usr/bin/env bash
# The Debian package: cpack -G DEB from the build folder's configuration, and
# the package's file list (programs, man pages, sample data). 77 (skipped)
# without dpkg-deb.
set -u
build=${1:?usage: package_test.sh BUILD_DIR}
command -v dpkg-deb >/dev/null 2>&1 || { echo "SKIP: no dpkg-deb"; exit 77; }
out=$(mktemp -d "${TMPDIR:-/tmp}/programma-package.XXXXXX") || exit 1
trap 'rm -rf "$out"' EXIT
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/log" 2>&1 || { cat "$out/log" >&2; exit 1; }
deb=$(ls "$out"/*.deb) || exit 1
files=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
fail=0
for want in ./usr/bin/programma ./usr/bin/digit-tools ./usr/share/man/man1/programma.1 \
    ./usr/share/man/man1/digit-tools.1 ./usr/share/programma/Data/Training_set ./usr/share/programma/Data/Test_set; do
    grep -qx "$want" <<<"$files" || { echo "FAIL: $want is not in $(basename "$deb")" >&2; fail=1; }
done
dpkg-deb -f "$deb" Depends | grep -q libpng || { echo "FAIL: no dependency on libpng" >&2; fail=1; }
[ $fail -eq 0 ] && echo "PASS: $(basename "$deb") holds the programs, man pages and data"
exit $fail
