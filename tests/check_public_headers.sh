#!/usr/bin/env bash
# Compiles each public header of the library (include/programma/*.h) on its
# own, with nothing but the public folder include/ on the path: a public
# header that includes an internal one, or leans on another header for what
# it uses, fails. Also fails when include/ holds anything but programma/.
# Usage: check_public_headers.sh [COMPILER]
set -euo pipefail
cd "$(dirname "$0")/.."
compiler=${1:-c++}

status=0
for entry in include/*; do
    if [ "$entry" != include/programma ]; then
        echo "include/ holds $entry: only the public headers (include/programma/) belong there"
        status=1
    fi
done
for header in include/programma/*.h; do
    name=${header#include/}
    if ! printf '#include "%s"\n' "$name" |
            "$compiler" -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I include -x c++ - 2>&1; then
        echo "$name does not compile on its own with only include/ on the path"
        status=1
    fi
done
[ "$status" = 0 ] && echo "public headers: each compiles alone with only include/ on the path"
exit "$status"
