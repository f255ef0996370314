#!/usr/bin/env bash
# Non-blank lines of test code (tests/, fuzz/, python/tests/) against the
# rest of the code (src/, include/, tools/, bench/, scripts/, examples/,
# python/ and the Python build files at the top), and their ratio; the house
# rule keeps the ratio between a quarter and a third.
set -euo pipefail
cd "$(dirname "$0")/.."

# Counts the non-blank lines of the code files among or below the paths
# given that exist, leaving out the folder `skip`: count_lines SKIP PATH...
count_lines() {
    local skip=$1 folders=() folder
    shift
    for folder in "$@"; do [ -e "$folder" ] && folders+=("$folder"); done
    [ ${#folders[@]} -gt 0 ] || { echo 0; return; }
    find "${folders[@]}" -path "$skip" -prune -o -type f \( -name '*.cpp' -o -name '*.cc' -o -name '*.c' -o -name '*.h' -o -name '*.hpp' \
        -o -name '*.sh' -o -name '*.py' \) -print0 2>/dev/null | xargs -0 -r cat | grep -cv '^[[:space:]]*$' || true
}

tests=$(count_lines none tests fuzz python/tests)
code=$(count_lines python/tests src include tools bench scripts examples python setup.py)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "test code   %6d lines\nother code  %6d lines\nratio       %6.2f\n", t, c, t / c }'
