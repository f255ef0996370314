#!/usr/bin/env bash
# Both man pages must format without a single groff warning.
# Usage: man_pages_test.sh REPO_ROOT   (exit 77: groff is not installed)
set -u
root=${1:?usage: $0 REPO_ROOT}
command -v groff >/dev/null || { echo "groff is not installed" >&2; exit 77; }

fail=0
for page in "$root/man/programma.1" "$root/man/digit-tools.1"; do
    warnings=$(groff -ww -man -Tutf8 "$page" 2>&1 >/dev/null)
    if [ -n "$warnings" ]; then
        echo "FAIL: $page:" >&2
        echo "$warnings" >&2
        fail=1
    fi
    # Every option the programs take must be documented.
    case $page in
        *programma.1) options="-a -c -d -dg -e -k -l -tr -ts -vot" ;;
        *) options="--from --to --output --width --label-map --delimiter --header --label-column
                    --resample --scale --rows --list --label --zoom --columns --limit --range
                    --programma --digits --csv --plot --help" ;;
    esac
    text=$(groff -man -Tutf8 -P-cbou "$page" 2>/dev/null)
    for option in $options; do
        grep -qE -- "(^|[ ,])$option( |,|\$)" <<<"$text" || { echo "FAIL: $page does not document $option" >&2; fail=1; }
    done
done
exit $fail
