#!/usr/bin/env bash
# `cmake --install` into a fresh prefix lays down both programs, both man
# pages and the example data, and the installed programs work from there.
# Usage: install_test.sh BUILD_DIR CMAKE_COMMAND HAVE_DIGIT_TOOLS(0|1)
set -u
build=${1:?usage: $0 BUILD_DIR CMAKE_COMMAND HAVE_DIGIT_TOOLS}
have_tools=${3:?}
prefix=$(mktemp -d "${TMPDIR:-/tmp}/programma-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

"$2" --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install" >&2; exit 1; }
programs="bin/programma$([ "$have_tools" = 1 ] && echo " bin/digit-tools")"
for file in $programs share/man/man1/programma.1.gz share/man/man1/digit-tools.1.gz share/doc/programma/copyright; do
    [ -f "$prefix/$file" ] || bad "$file was not installed"
done
for program in $programs; do [ -x "$prefix/$program" ] || bad "$program is not executable"; done
for data in Training_set Test_set; do
    cmp -s "$prefix/share/programma/Data/$data" "$(dirname "$0")/../../Data/$data" || bad "Data/$data differs"
done

# Run from the data folder, the installed programma finds its data, and
# digit-tools finds the programma beside it.
cd "$prefix/share/programma" || exit 1
"$prefix/bin/programma" -dg 3 -e 1 -k gauss </dev/null | grep -q "^End testing with " || bad "programma did not finish a run"
if [ "$have_tools" = 1 ]; then
    "$prefix/bin/digit-tools" sweep --digits 3 -k gauss -e 1 | grep -q "^| 3 | " || bad "digit-tools sweep gave no row"
fi
exit $fail
