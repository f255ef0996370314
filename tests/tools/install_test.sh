#!/usr/bin/env bash
# `cmake --install` into a fresh prefix lays down both programs (run from
# there), both man pages, the copyright and the example data, not lintian's
# override. The Python package imports from where Python looks
# (PYTHONUSERBASE=PREFIX: lib/python3.X/site-packages). All show VERSION.
# Usage: install_test.sh BUILD_DIR CMAKE_COMMAND HAVE_DIGIT_TOOLS(0|1) VERSION [PYTHON]
set -u
build=${1:?usage: $0 BUILD_DIR CMAKE_COMMAND HAVE_DIGIT_TOOLS VERSION [PYTHON]}
have_tools=${3:?} version=${4:?}
prefix=$(mktemp -d "${TMPDIR:-/tmp}/programma-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

"$2" --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install" >&2; exit 1; }
[ -f "$prefix/share/doc/programma/copyright" ] || bad "the copyright was not installed"
[ -e "$prefix/share/lintian" ] && bad "lintian's override was installed"
[ "$(zcat "$prefix"/share/man/man1/*.1.gz "$prefix/share/doc/programma/changelog.gz" |
    grep -cE "^\.TH .* \"programma $version\"|^programma \($version\)")" = 3 ] || bad "man pages, changelog not $version"
diff -r "$prefix/share/programma/Data" "$(dirname "$0")/../../Data" >/dev/null || bad "the installed Data differs"

# Run from the data folder, the installed programma finds its data, and
# digit-tools finds the programma beside it.
cd "$prefix/share/programma" || exit 1
"$prefix/bin/programma" -dg 3 -e 1 -k gauss </dev/null | grep -q "^End testing with " || bad "programma did not finish a run"
if [ "$have_tools" = 1 ]; then
    "$prefix/bin/digit-tools" sweep --digits 3 -k gauss -e 1 | grep -q "^| 3 | " || bad "digit-tools sweep gave no row"
    [ "$("$prefix/bin/digit-tools" --version)" = "digit-tools $version" ] || bad "digit-tools --version is not $version"
fi
[ -z "${5:-}" ] || PYTHONUSERBASE=$prefix "$5" -c 'import programma; print(programma.__file__, programma.__version__)' |
    grep -qx "$prefix/lib/python3\.[0-9]*/site-packages/programma/__init__.py $version" || bad "no programma $version"
exit $fail
