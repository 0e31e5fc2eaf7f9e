#!/bin/sh
# Writes DIR/SHA256SUMS anew: the SHA-256 of every other file in DIR (the
# packages, the source archive and what they were built with), sorted by
# name. A download is checked with `sha256sum -c SHA256SUMS` in its folder.
#
# Usage: scripts/write-checksums.sh DIR
set -eu
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
cd "$1"
find . -maxdepth 1 -type f ! -name SHA256SUMS ! -name '*.tmp' -printf '%f\n' \
    | LC_ALL=C sort | xargs -r sha256sum -- >SHA256SUMS.tmp
mv SHA256SUMS.tmp SHA256SUMS
