#!/usr/bin/env bash
# cpack -G DEB's packages, unpacked into one root: their files and fields,
# lintian without an error or a warning (when installed; it also wants
# stripped programs), README.md's project built on libprogramma-dev, and
# python3-programma (when built) imported from the root. 77 without dpkg-deb.
set -u
build=${1:?usage: package_test.sh BUILD_DIR}
command -v dpkg-deb >/dev/null 2>&1 || { echo "SKIP: no dpkg-deb"; exit 77; }
out=$(mktemp -d "${TMPDIR:-/tmp}/programma-package.XXXXXX") || exit 1
trap 'rm -rf "$out"' EXIT
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/log" 2>&1 || { cat "$out/log" >&2; exit 1; }
root=$out/root
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }
# package NAME FILE...: it holds usr/FILE, its copyright and changelog, and
# passes lintian; it is unpacked into the root. Sets name, deb and files.
package() {
    name=$1
    deb=$(ls "$out/$1"_*.deb) || { bad "no $1 package"; exit 1; }
    shift
    local want
    files=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
    for want in "$@" "share/doc/$name/copyright" "share/doc/$name/changelog.gz"; do
        grep -qx "./usr/$want" <<<"$files" || bad "usr/$want is not in $name"
    done
    ! command -v lintian >/dev/null || lintian --fail-on error,warning "$deb" >"$out/lintian" 2>&1 ||
        { cat "$out/lintian" >&2; bad "lintian on $name"; }
    dpkg-deb -x "$deb" "$root"
}

package programma bin/programma bin/digit-tools share/man/man1/programma.1.gz share/man/man1/digit-tools.1.gz \
    share/lintian/overrides/programma share/programma/Data/Training_set share/programma/Data/Test_set
dpkg-deb -f "$deb" Depends | grep -q libpng || bad "no dependency on libpng"
grep -q python <<<"$files$(dpkg-deb -f "$deb" Depends)" && bad "programma holds or needs Python"
[ "$(dpkg-deb -f "$deb" Suggests)" = gnuplot-nox ] || bad "gnuplot-nox is not suggested"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$root/usr/share/doc/programma/copyright" || bad "the copyright is not machine-readable"

package libprogramma-dev
bash "$(dirname "$0")/library_outside_test.sh" "$(dirname "$0")/.." "$root/usr" >/dev/null || bad "README.md's project fails on $name"

if ls "$build"/python/programma/_programma*.so >/dev/null 2>&1; then
    package python3-programma
    for want in "programma (= $(dpkg-deb -f "$deb" Version))" python3-numpy python3-sklearn "python3 (<<"; do
        grep -qF "$want" <<<"$(dpkg-deb -f "$deb" Depends)" || bad "$name does not depend on $want"
    done
    PYTHONPATH=$root/usr/lib/python3/dist-packages "${PYTHON:-/usr/bin/python3}" -c '
import sys, programma
assert programma.__file__ == sys.argv[1] + "/usr/lib/python3/dist-packages/programma/__init__.py", programma.__file__
assert programma.read_samples(sys.argv[1] + "/usr/share/programma/Data/Training_set")[0].shape == (1200, 256)
' "$root" || bad "programma does not import and read the data from $name"
fi
[ $fail -eq 0 ] && echo "PASS: the packages hold what they should, pass lintian, build and import"
exit $fail
