#!/usr/bin/env bash
# The Debian package: cpack -G DEB from the build folder's configuration, its
# file list (programs, compressed man pages, copyright, changelog, sample
# data), its fields, stripped programs, and lintian without an error (when
# lintian is installed). 77 (skipped) without dpkg-deb.
set -u
build=${1:?usage: package_test.sh BUILD_DIR}
command -v dpkg-deb >/dev/null 2>&1 || { echo "SKIP: no dpkg-deb"; exit 77; }
out=$(mktemp -d "${TMPDIR:-/tmp}/programma-package.XXXXXX") || exit 1
trap 'rm -rf "$out"' EXIT
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/log" 2>&1 || { cat "$out/log" >&2; exit 1; }
deb=$(ls "$out"/*.deb) || exit 1
files=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
fail=0
for want in ./usr/bin/programma ./usr/bin/digit-tools ./usr/share/man/man1/programma.1.gz \
    ./usr/share/man/man1/digit-tools.1.gz ./usr/share/doc/programma/copyright ./usr/share/doc/programma/changelog.gz \
    ./usr/share/lintian/overrides/programma ./usr/share/programma/Data/Training_set ./usr/share/programma/Data/Test_set; do
    grep -qx "$want" <<<"$files" || { echo "FAIL: $want is not in $(basename "$deb")" >&2; fail=1; }
done
dpkg-deb -f "$deb" Depends | grep -q libpng || { echo "FAIL: no dependency on libpng" >&2; fail=1; }
[ "$(dpkg-deb -f "$deb" Suggests)" = gnuplot-nox ] || { echo "FAIL: gnuplot-nox is not suggested" >&2; fail=1; }
dpkg-deb -x "$deb" "$out/root"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$out/root/usr/share/doc/programma/copyright" || { echo "FAIL: the copyright is not machine-readable" >&2; fail=1; }
for program in programma digit-tools; do
    [ -n "$(nm "$out/root/usr/bin/$program" 2>&1 | grep -v 'no symbols')" ] && { echo "FAIL: $program is not stripped" >&2; fail=1; }
done
if command -v lintian >/dev/null 2>&1; then
    lintian --fail-on error "$deb" >"$out/lintian" 2>&1 || { cat "$out/lintian" >&2; echo "FAIL: lintian" >&2; fail=1; }
fi
[ $fail -eq 0 ] && echo "PASS: $(basename "$deb") holds the programs, man pages and data"
exit $fail
