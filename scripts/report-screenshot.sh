#!/usr/bin/env bash
# Takes a screenshot of an HTML report of cpubench-compare with headless
# Chromium (Debian's chromium package), as the README's picture is made:
#   scripts/report-screenshot.sh report.html report.png [WIDTH,HEIGHT]
# The browser gets a new empty profile, no network features, and two minutes.
set -euo pipefail
if [ $# -lt 2 ]; then
    echo "usage: $0 REPORT.html OUT.png [WIDTH,HEIGHT]" >&2
    exit 2
fi
report=$(realpath "$1")
out=$(realpath -m "$2")
size=${3:-1280,1800}
profile=$(mktemp -d)
trap 'rm -rf "$profile"' EXIT
sandbox=()
[ "$(id -u)" -ne 0 ] || sandbox=(--no-sandbox) # Chromium's sandbox refuses root
timeout -k 10 120 chromium --headless "${sandbox[@]}" --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync --hide-scrollbars \
    --user-data-dir="$profile" --window-size="$size" --screenshot="$out" "file://$report" 2>/dev/null
echo "$out"
