#!/usr/bin/env bash
# Times two builds of cpubench against each other on one machine, in pairs:
#   scripts/paired-runs.sh PROGRAM-A PROGRAM-B PAIRS OUTDIR
# Each pair runs both programs back to back, A first in odd pairs and B first
# in even ones, so that a drift of the machine's speed weighs on both alike.
# The transcripts land in OUTDIR/a/ and OUTDIR/b/, one machine folder each,
# which cpubench-compare puts side by side with their medians and ranges.
# At the end the script prints, per line, the ratio B / A within each pair
# and the median of these ratios.
set -euo pipefail
if [ $# -ne 4 ]; then
    echo "usage: $0 PROGRAM-A PROGRAM-B PAIRS OUTDIR" >&2
    exit 2
fi
a=$(realpath "$1")
b=$(realpath "$2")
pairs=$3
out=$4
mkdir -p "$out/a" "$out/b"
run() { # which program, pair number
    local program=$a
    [ "$1" = a ] || program=$b
    echo "pair $2: $1 ($program)" >&2
    "$program" </dev/null >"$out/$1/run-$2.txt"
}
for ((n = 1; n <= pairs; n++)); do
    if ((n % 2)); then run a "$n"; run b "$n"; else run b "$n"; run a "$n"; fi
done

python3 - "$out" "$pairs" <<'END'
import re, statistics, sys
out, pairs = sys.argv[1], int(sys.argv[2])
def times(path):
    found = (re.match(r"([^=]*?)\s*(=.*)? in (\d+\.\d+) s$", line.rstrip()) for line in open(path))
    return {m[1]: float(m[3]) for m in found if m}
runs = [(times(f"{out}/a/run-{n}.txt"), times(f"{out}/b/run-{n}.txt")) for n in range(1, pairs + 1)]
print("time B / time A in each pair, and their median:")
for line in runs[0][0]:
    ratios = [b[line] / a[line] for a, b in runs if line in a and line in b]
    print(f"{line:16s} {statistics.median(ratios):5.3f}   " + " ".join(f"{r:.3f}" for r in ratios))
END
