#!/usr/bin/env bash
# Fails when a reference module (src/data, src/lists, src/perceptron,
# src/voted, include/) includes a header of the fast engine (src/engine):
# dependencies run one way, the engine uses the reference modules and never
# the reverse.
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
for header in src/engine/*.h; do
    name=$(basename "$header")
    if hits=$(grep -rlE "#include *[\"<]([^\">]*/)?${name}[\">]" src/data src/lists src/perceptron src/voted include); then
        echo "$name (src/engine) is included by a reference module: $(echo "$hits" | tr '\n' ' ')"
        status=1
    fi
done
[ "$status" = 0 ] && echo "reference modules: no engine header included"
exit "$status"
