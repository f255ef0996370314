#!/usr/bin/env bash
# Non-blank lines of test code (tests/, fuzz/, python/tests/) against the
# rest of the code (src/, include/, tools/, bench/, scripts/, examples/,
# python/ and the Python build files at the top), and their ratio; the house
# rule keeps the ratio between a quarter and a third.
set -euo pipefail
cd "$(dirname "$0")/.."

count_lines() {
    find "$@" -type f \( -name '*.cpp' -o -name '*.cc' -o -name '*.c' -o -name '*.h' -o -name '*.hpp' \
        -o -name '*.sh' -o -name '*.py' \) -not -path 'python/tests/*' -print0 2>/dev/null |
        xargs -0 -r cat | grep -cv '^[[:space:]]*$' || true
}

tests=$(( $(count_lines tests fuzz) + $(find python/tests -type f \( -name '*.py' -o -name '*.sh' \) -print0 |
    xargs -0 -r cat | grep -cv '^[[:space:]]*$' || true) ))
code=$(count_lines src include tools bench scripts examples python setup.py)
awk -v t="$tests" -v c="$code" 'BEGIN { printf "test code   %6d lines\nother code  %6d lines\nratio       %6.2f\n", t, c, t / c }'
