#!/usr/bin/env bash
# Installs the Debian packages that digit-tools and its checks need, and only
# those that are missing: libpng-dev (the PNG writer of `show`), gnuplot-nox
# (the bar chart of `sweep --plot`) and groff-base (the man-page checks).
# Needs root (or password-less sudo) only when something is missing.
set -euo pipefail

missing=()
dpkg -s libpng-dev >/dev/null 2>&1 || missing+=(libpng-dev)
command -v gnuplot >/dev/null 2>&1 || missing+=(gnuplot-nox)
command -v groff >/dev/null 2>&1 || missing+=(groff-base)

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

as_root=()
if [ "$(id -u)" -ne 0 ]; then
    if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
        as_root=(sudo -n)
    else
        echo "install_tools_deps: need root to install: ${missing[*]}" >&2
        exit 1
    fi
fi

echo "== installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 update -q </dev/null >/dev/null
"${as_root[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}" </dev/null >/dev/null
