#!/usr/bin/env bash
# Regenerate the default sample files into OUTDIR.
#
# Downloads the Debian package that carries the optical digits table
# (never installs it), unpacks it into a temporary folder and runs
# make_default_data.py on it.
#
# Exit status: 0 on success, 2 on bad usage, 3 when the package could
# not be downloaded or does not hold the table, 1 for any other failure.
set -u

PKG=python3-sklearn
CSV_SUFFIX=sklearn/datasets/data/digits.csv.gz

die() { local code=$1; shift; echo "fetch_and_make: $*" >&2; exit "$code"; }

[ $# -eq 1 ] || die 2 "usage: $0 OUTDIR"
outdir=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd) || die 1 "cannot locate script folder"

for tool in apt-get dpkg-deb python3; do
    command -v "$tool" >/dev/null 2>&1 || die 3 "'$tool' not found; need a Debian system with python3"
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/default_data.XXXXXX") || die 1 "cannot create temporary folder"
trap 'rm -rf "$tmp"' EXIT
mkdir "$tmp/deb" "$tmp/root" || die 1 "cannot populate $tmp"
# apt fetches as the unprivileged _apt user when it can write the target.
chown _apt "$tmp/deb" 2>/dev/null || true

download() { (cd "$tmp/deb" && apt-get download -q "$PKG") >"$tmp/apt.log" 2>&1; }

if ! download; then
    echo "fetch_and_make: download of $PKG failed, refreshing package lists" >&2
    apt-get update -q >>"$tmp/apt.log" 2>&1
    if ! download; then
        cat "$tmp/apt.log" >&2
        die 3 "cannot download Debian package $PKG"
    fi
fi

deb=$(find "$tmp/deb" -maxdepth 1 -name "${PKG}_*.deb" | head -n 1)
[ -n "$deb" ] || die 3 "apt-get download left no ${PKG}_*.deb"
dpkg-deb -x "$deb" "$tmp/root" || die 1 "cannot unpack $(basename "$deb")"

csv=$(find "$tmp/root" -path "*/$CSV_SUFFIX" -type f | head -n 1)
[ -n "$csv" ] || die 3 "$(basename "$deb") holds no $CSV_SUFFIX"
echo "fetch_and_make: $(basename "$deb"): ${csv#"$tmp/root"}" >&2
echo "fetch_and_make: sha256 $(sha256sum "$csv" | cut -d' ' -f1)" >&2

mkdir -p "$outdir" || die 1 "cannot create $outdir"
python3 "$here/make_default_data.py" "$csv" "$outdir" || die 1 "conversion failed"
echo "fetch_and_make: wrote $outdir/Training_set and $outdir/Test_set" >&2
