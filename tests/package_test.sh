#!/usr/bin/env bash
# The Debian packages: cpack -G DEB from the build folder's configuration.
# programma's: its file list (programs, compressed man pages, copyright,
# changelog, sample data), its fields, stripped programs, no Python, and
# lintian without an error (when lintian is installed). When the build has
# the Python package, python3-programma's: its files, its dependencies, and
# the import from both packages unpacked into a temporary root. 77 (skipped)
# without dpkg-deb.
set -u
build=${1:?usage: package_test.sh BUILD_DIR}
python=${PYTHON:-/usr/bin/python3}
command -v dpkg-deb >/dev/null 2>&1 || { echo "SKIP: no dpkg-deb"; exit 77; }
out=$(mktemp -d "${TMPDIR:-/tmp}/programma-package.XXXXXX") || exit 1
trap 'rm -rf "$out"' EXIT
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$out" >"$out/log" 2>&1 || { cat "$out/log" >&2; exit 1; }
deb=$(ls "$out"/programma_*.deb) || exit 1
files=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }
# lint DEB: lintian finds no error in the package (when lintian is installed).
lint() {
    command -v lintian >/dev/null 2>&1 || return 0
    lintian --fail-on error "$1" >"$out/lintian" 2>&1 || { cat "$out/lintian" >&2; bad "lintian on $(basename "$1")"; }
}
for want in ./usr/bin/programma ./usr/bin/digit-tools ./usr/share/man/man1/programma.1.gz \
    ./usr/share/man/man1/digit-tools.1.gz ./usr/share/doc/programma/copyright ./usr/share/doc/programma/changelog.gz \
    ./usr/share/lintian/overrides/programma ./usr/share/programma/Data/Training_set ./usr/share/programma/Data/Test_set; do
    grep -qx "$want" <<<"$files" || bad "$want is not in $(basename "$deb")"
done
dpkg-deb -f "$deb" Depends | grep -q libpng || bad "no dependency on libpng"
grep -q python <<<"$files$(dpkg-deb -f "$deb" Depends)" && bad "$(basename "$deb") holds or needs Python"
[ "$(dpkg-deb -f "$deb" Suggests)" = gnuplot-nox ] || bad "gnuplot-nox is not suggested"
dpkg-deb -x "$deb" "$out/root"
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    "$out/root/usr/share/doc/programma/copyright" || bad "the copyright is not machine-readable"
for program in programma digit-tools; do
    [ -n "$(nm "$out/root/usr/bin/$program" 2>&1 | grep -v 'no symbols')" ] && bad "$program is not stripped"
done
lint "$deb"
[ $fail -eq 0 ] && echo "PASS: $(basename "$deb") holds the programs, man pages and data"

if ! ls "$build"/python/programma/_programma*.so >/dev/null 2>&1; then
    exit $fail  # this build has no Python package
fi
python_deb=$(ls "$out"/python3-programma_*.deb) || { bad "no python3-programma package"; exit 1; }
name=$(basename "$python_deb")
python_files=$(dpkg-deb -c "$python_deb" | awk '{ print $6 }')
site=./usr/lib/python3/dist-packages/programma
for want in "$site/__init__.py" "$site/_estimator.py" "$site/_files.py"; do
    grep -qx "$want" <<<"$python_files" || bad "$want is not in $name"
done
grep -q "^$site/_programma\..*\.so$" <<<"$python_files" || bad "no compiled module in $name"
depends=$(dpkg-deb -f "$python_deb" Depends)
for want in "programma (= $(dpkg-deb -f "$deb" Version))" python3-numpy python3-sklearn "python3 (<<"; do
    grep -qF "$want" <<<"$depends" || bad "$name does not depend on $want"
done

# Both packages unpacked into one root: the package imports and fits the
# installed data there.
root=$out/root
dpkg-deb -x "$deb" "$root" && dpkg-deb -x "$python_deb" "$root" || exit 1
PYTHONPATH=$root/usr/lib/python3/dist-packages "$python" -c '
import sys, programma
assert programma.__file__.startswith(sys.argv[1]), programma.__file__
X, y = programma.read_samples(sys.argv[1] + "/usr/share/programma/Data/Training_set")
assert programma.KernelPerceptronClassifier(epochs=1).fit(X, y).score(X, y) > 0.9
' "$root" || bad "programma does not import and fit from $name"
lint "$python_deb"
[ $fail -eq 0 ] && echo "PASS: $name holds the Python package, needs programma, NumPy and scikit-learn, and imports"
exit $fail
