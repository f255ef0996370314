#!/usr/bin/env bash
# `cmake --install` into a fresh prefix must lay down both programs, both man
# pages and the example data, and the installed programs must work from there.
# Usage: install_test.sh BUILD_DIR CMAKE_COMMAND HAVE_DIGIT_TOOLS(0|1)
set -u
build=${1:?usage: $0 BUILD_DIR CMAKE_COMMAND HAVE_DIGIT_TOOLS}
cmake_command=${2:?}
have_tools=${3:?}

prefix=$(mktemp -d "${TMPDIR:-/tmp}/programma-install-XXXXXX")
trap 'rm -rf "$prefix"' EXIT
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

"$cmake_command" --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install" >&2; exit 1; }

expected="bin/programma share/man/man1/programma.1 share/man/man1/digit-tools.1
          share/programma/Data/Training_set share/programma/Data/Test_set"
[ "$have_tools" = 1 ] && expected="$expected bin/digit-tools"
for file in $expected; do
    [ -f "$prefix/$file" ] || bad "$file was not installed"
done
for program in bin/programma bin/digit-tools; do
    [ -f "$prefix/$program" ] && { [ -x "$prefix/$program" ] || bad "$program is not executable"; }
done
for data in Training_set Test_set; do
    cmp -s "$prefix/share/programma/Data/$data" "$(dirname "$0")/../../Data/$data" || bad "Data/$data differs"
done

# The installed program finds its data from the data folder.
out=$(cd "$prefix/share/programma" && "$prefix/bin/programma" -dg 3 -e 1 -k gauss </dev/null)
grep -q "^End testing with " <<<"$out" || bad "the installed programma did not finish a run"

if [ "$have_tools" = 1 ]; then
    # The installed digit-tools finds the installed programma beside it.
    table=$(cd "$prefix/share/programma" && "$prefix/bin/digit-tools" sweep --digits 3 -k gauss -e 1)
    grep -q "^| 3 | " <<<"$table" || bad "the installed digit-tools sweep gave no row: $table"
fi
exit $fail
