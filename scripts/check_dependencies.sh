#!/usr/bin/env bash
# Fails when a reference module (src/data, src/lists, src/perceptron,
# src/voted, include/) includes a header of the fast engine (src/engine):
# dependencies run one way, the engine uses the reference modules and never
# the reverse. The front end (all but programma's main) and the plain half
# of the library API, which programma_reference links, are held to the same
# rule. (scripts/check_reference_binary.sh checks the linked binary too.)
set -euo pipefail
cd "$(dirname "$0")/.."

status=0
for header in src/engine/*.h; do
    name=$(basename "$header")
    if hits=$(grep -rlE "#include *[\"<]([^\">]*/)?${name}[\">]" src/data src/lists src/perceptron src/voted include \
            src/front/programma.cpp src/front/compute.cpp src/front/main_reference.cpp src/api/settings.cpp \
            src/api/lists.cpp); then
        echo "$name (src/engine) is included by a reference module: $(echo "$hits" | tr '\n' ' ')"
        status=1
    fi
done
[ "$status" = 0 ] && echo "reference modules, front end and plain API: no engine header included"
exit "$status"
