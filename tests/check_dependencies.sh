#!/usr/bin/env bash
# Fails when a module includes a header of a module above it: the layers of
# docs/ARCHITECTURE.md run one way, bottom up,
#   the public records (programma/kernel.h, combine.h, error.h, options.h,
#   cancel.h)
#   src/lists, src/data, src/perceptron, src/voted, src/compute  (reference)
#   src/engine
#   src/api and the rest of include/programma/                    (library API)
#   src/front; src/tools, python/src, examples                    (programs)
# and digit-tools, the Python module and the examples see the public API
# (include/programma/) alone. programma's front end (all but programma's own
# main) and the plain half of the API, which programma_reference links,
# include no engine header. (tests/check_reference_binary.sh checks the
# linked binary too.)
set -euo pipefail
cd "$(dirname "$0")/.."

records="include/programma/kernel.h include/programma/combine.h include/programma/error.h include/programma/options.h
    include/programma/cancel.h"
reference="src/lists src/data src/perceptron src/voted src/compute"
public="include/programma"

# What each folder may include besides its own headers and the records.
declare -A allowed=(
    [src/lists]=""
    [src/data]="src/lists"
    [src/perceptron]="src/lists src/data"
    [src/voted]="src/lists src/data src/perceptron"
    [src/compute]="src/lists src/data src/perceptron src/voted"
    [src/engine]="$reference"
    [src/api]="$reference src/engine $public"
    [src/front]="$reference src/engine $public"
    [src/tools]="$public"
    [python/src]="$public"
    [examples]="$public"
    [include/programma]="$public"
)
# Files held to the reference binary's rule: no engine header.
plain_files="src/front/programma.cpp src/front/programma.h src/front/settings.cpp src/front/settings.h
    src/front/main_reference.cpp src/api/values.cpp src/api/lists.cpp"

# Where each header lives, by the name it is included with.
declare -A home=()
for header in src/*/*.h include/programma/*.h; do
    case $header in
        include/*) name=${header#include/} ;;
        *) name=$(basename "$header") ;;
    esac
    if [ -n "${home[$name]:-}" ]; then
        echo "two headers are included as $name: ${home[$name]} and $header"
        exit 1
    fi
    home[$name]=$header
done

status=0
for folder in "${!allowed[@]}"; do
    for file in $(find "$folder" -maxdepth 1 \( -name '*.cpp' -o -name '*.h' \) | sort); do
        while IFS= read -r name; do
            header=${home[$name]:-}
            [ -n "$header" ] || continue  # the standard library, a system or a test header
            from=$(dirname "$header")
            ok=0
            for may in "$folder" ${allowed[$folder]}; do [ "$from" = "$may" ] && ok=1; done
            for record in $records; do [ "$header" = "$record" ] && ok=1; done
            if [ "$ok" = 0 ]; then
                echo "$file includes $header: $folder may not use $from"
                status=1
            fi
            if [ "$from" = src/engine ] && [[ " $(echo $plain_files) " == *" $file "* ]]; then
                echo "$file includes $header: programma_reference's code includes no engine header"
                status=1
            fi
        done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]([^">]+)[">].*/\1/p' "$file")
    done
done
[ "$status" = 0 ] && echo "every folder includes only its own layer and those below it; the programs see the public API"
exit "$status"
