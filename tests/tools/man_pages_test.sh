#!/usr/bin/env bash
# Both man pages format without a groff warning and document every option.
# Usage: man_pages_test.sh REPO_ROOT   (exit 77: groff is not installed)
set -u
root=${1:?usage: $0 REPO_ROOT}
command -v groff >/dev/null || { echo "groff is not installed" >&2; exit 77; }
fail=0
check() {  # check PAGE OPTION...
    local page=$root/man/$1 warnings text option
    shift
    warnings=$(groff -ww -man -Tutf8 "$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || { echo "FAIL: $page: $warnings" >&2; fail=1; }
    text=$(groff -man -Tutf8 -P-cbou "$page" 2>/dev/null)
    for option; do
        grep -qE -- "(^|[ ,])$option( |,|\$)" <<<"$text" || { echo "FAIL: $page does not document $option" >&2; fail=1; }
    done
}
check programma.1 -a -c -d -dg -e -k -l -tr -ts -vot
check digit-tools.1 --from --to --output --width --label-map --delimiter --header --label-column \
    --resample --scale --margin --save-model --scores --predictions --unlabelled -l -u --save-ranges --ranges --rows --list --label --zoom --columns --limit --range --programma --digits --csv --plot --help \
    --version
exit $fail
