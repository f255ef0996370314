#!/usr/bin/env bash
# memcheck over short runs of the program (linked dynamically, so that
# memcheck can replace its allocator): training and saving, restoring, and
# the voted method. Any memory error or leak fails; 77 (skipped) without
# valgrind.
set -u
program=${1:?usage: valgrind_test.sh PROGRAM}
command -v valgrind >/dev/null 2>&1 || { echo "SKIP: valgrind is not installed"; exit 77; }
work=$(mktemp -d "${TMPDIR:-/tmp}/programma-valgrind.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
printf '0 0\n5 1\n0.1 0\n5.1 1\n0.2 0\n4.8 1\n' >train
printf '0.2 0\n4.9 1\n0 1\n' >test
printf '1 0 1\n0 1 0\n1 0 1\n0 2 0\n' >vtrain
memcheck() {
    valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
        --quiet "$program" "$@" >/dev/null
}
fail=0
printf 'y\nnew.list\n' | memcheck -tr train -ts test -dg 1 -k gauss -c 1 -e 2 || fail=1
[ "$(cat new.list 2>/dev/null)" = "$(printf '0\n1\n')" ] || { echo "FAIL: the saved list" >&2; fail=1; }
memcheck -tr train -ts test -dg 1 -k gauss -c 1 -l new.list </dev/null || fail=1
printf 'ab' | memcheck -tr train -ts test -dg 1 -e 1 || fail=1
memcheck -vot 1 -tr vtrain -ts test -dg 1 -e 2 </dev/null; [ $? -eq 1 ] || fail=1  # widths differ: status 1
memcheck -vot 1 -tr vtrain -ts vtrain -dg 1 -e 2 </dev/null || fail=1
[ $fail -eq 0 ] && echo "PASS: memcheck found no error"
exit $fail
