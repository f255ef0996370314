#!/usr/bin/env bash
# memcheck over one short run of the built program on small files: any
# memory error or leak fails the test (valgrind's --error-exitcode).
#
# Usage: valgrind_test.sh PROGRAM RUN
#   RUN: gauss_train_and_save | gauss_restore | voted
# Exit status 77 (skipped) when valgrind is not installed.
set -u
program=${1:?program}
run=${2:?run}
if ! command -v valgrind >/dev/null 2>&1; then
    echo "SKIP: valgrind is not installed"
    exit 77
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/programma-valgrind.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
printf '0 0\n5 1\n0.1 0\n5.1 1\n0.2 0\n4.8 1\n' >train
printf '0.2 0\n4.9 1\n0 1\n' >test
printf '1 0 1\n0 1 0\n1 0 1\n0 2 0\n' >vtrain
printf '0 1 0\n0 -1 1\n0 -3 1\n' >vtest
printf '0\n1\n3\n' >saved.list

memcheck() {
    valgrind --tool=memcheck --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
        --track-origins=yes --quiet "$program" "$@"
}

case $run in
gauss_train_and_save)
    printf 'y\nnew.list\n' | memcheck -tr train -ts test -dg 1 -k gauss -c 1 -e 2 >out
    status=$?
    if [ "$status" -eq 0 ] && [ "$(cat new.list 2>/dev/null)" != "$(printf '0\n1\n')" ]; then
        echo "FAIL: the saved list is not the expected one" >&2
        status=1
    fi
    ;;
gauss_restore)
    memcheck -tr train -ts test -dg 1 -k gauss -c 1 -l saved.list </dev/null >out
    status=$?
    ;;
voted)
    memcheck -vot 1 -tr vtrain -ts vtest -dg 1 -e 2 </dev/null >out
    status=$?
    ;;
*)
    echo "unknown run $run" >&2
    exit 2
    ;;
esac
if [ "$status" -ne 0 ]; then
    echo "FAIL: $run: status $status (99: valgrind found an error)" >&2
    cat out >&2
    exit 1
fi
echo "PASS: $run: memcheck found no error"
