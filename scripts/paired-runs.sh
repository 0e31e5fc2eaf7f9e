#!/usr/bin/env bash
# Times two builds of cpubench against each other on one machine, in pairs:
#   scripts/paired-runs.sh PROGRAM-A PROGRAM-B PAIRS OUTDIR
# Each pair runs both programs back to back, A first in odd pairs and B first
# in even ones, so that a drift of the machine's speed weighs on both alike.
# The transcripts land in OUTDIR/a/ and OUTDIR/b/, one machine folder each,
# which cpubench-compare puts side by side with their medians and ranges.
# At the end the script prints, per line, the ratio B / A within each pair
# and the median of these ratios. It needs cpubench-compare on PATH, or
# named by CPUBENCH_COMPARE.
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

# The times as cpubench-compare reads them, which also checks every value:
# a run that is wrong or incomplete is left out of the ratios.
compare=${CPUBENCH_COMPARE:-cpubench-compare}
status=0
"$compare" --json "$out/a" "$out/b" >"$out/compare.json" || status=$?
[ "$status" -le 1 ] || exit "$status"
[ "$status" -eq 0 ] || echo "$0: a run is wrong or incomplete and left out (see $out/compare.json)" >&2
python3 - "$out/compare.json" <<'END'
import json, os, statistics, sys
a, b = ({os.path.basename(run["name"]): {l["line"]: l["time"] for l in run["lines"] if "time" in l}
         for run in machine["runs"] if run["used"]} for machine in json.load(open(sys.argv[1]))["machines"])
pairs = [(a[name], b[name]) for name in a if name in b]
print("time B / time A in each pair, and their median:")
for line in pairs[0][0]:
    ratios = [tb[line] / ta[line] for ta, tb in pairs if line in ta and line in tb]
    print(f"{line:16s} {statistics.median(ratios):5.3f}   " + " ".join(f"{r:.3f}" for r in ratios))
END
