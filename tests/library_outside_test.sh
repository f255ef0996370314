#!/usr/bin/env bash
# Outside the tree, README.md's commands install the library from a build
# folder into ~/.local (HOME a temporary folder; or ~/.local is a prefix that
# holds it, an unpacked libprogramma-dev) and build examples/train_one_digit.cpp
# on it with CMake (README's project) and with pkg-config.
# Usage: library_outside_test.sh SOURCE_DIR BUILD_DIR|PREFIX
set -u
source=$(realpath "${1:?usage: $0 SOURCE_DIR BUILD_DIR|PREFIX}") from=$(realpath "${2:?}")
HOME=$(mktemp -d "${TMPDIR:-/tmp}/programma-outside.XXXXXX") && export HOME || exit 1
trap 'rm -rf "$HOME"' EXIT
project=$HOME/project
mkdir -p "$project/build" && cp "$source/examples/train_one_digit.cpp" "$project" && ln -s "$source/Data" "$project"
sed -n '/^```cmake$/,/^```$/{/^```/d;p}' "$source/README.md" >"$project/CMakeLists.txt"

# Runs README.md's indented block that begins with "$ FIRST": its commands
# succeed in the project and print each other line it shows.
readme_commands() {
    local block out
    block=$(awk -v first="    \$ $1" 'index($0, first) == 1 { on = 1 } on && !/^    / { exit } on { print substr($0, 5) }' \
        "$source/README.md")
    [ -n "$block" ] || { echo "FAIL: README.md has no block starting with \$ $1" >&2; exit 1; }
    out=$(cd "$project" && bash -e -c "$(sed -n 's/^\$ //p' <<<"$block")" 2>&1) || { echo "$out" >&2; exit 1; }
    ! grep -v '^\$ ' <<<"$block" | grep -vxF -f <(printf '%s\n' "$out") >&2 || { echo "FAIL: not printed: above" >&2; exit 1; }
}
if [ -f "$from/cmake_install.cmake" ]; then
    ln -s "$from" "$project/build/release"
    readme_commands "cmake --install build/release --prefix ~/.local --component dev"
else
    ln -s "$from" "$HOME/.local"
fi
readme_commands "cmake -S . -B build"
readme_commands "export PKG_CONFIG_PATH"
echo "PASS: README.md's project builds on the installed library with CMake and with pkg-config"
