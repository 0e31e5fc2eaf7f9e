#!/usr/bin/env bash
# How cpubench-compare --history scales: a lab of MACHINES machines with
# SESSIONS sessions of RUNS runs each (100 x 50 x 5 = 25,000 transcripts by
# default), made of the committed runs of one idle machine, read and
# reported as text, JSON and HTML; prints the elapsed time and peak memory
# of each. Needs GNU time (/usr/bin/time) and python3.
#
#   scripts/history-scale.sh build/release/compare/cpubench-compare [MACHINES SESSIONS RUNS]
set -euo pipefail
compare=${1:?usage: scripts/history-scale.sh CPUBENCH-COMPARE [MACHINES SESSIONS RUNS]}
machines=${2:-100} sessions=${3:-50} runs=${4:-5}
data=$(cd "$(dirname "$0")/../tests/data/idle-runs" && pwd)
lab=$(mktemp -d)
trap 'rm -rf "$lab"' EXIT

python3 - "$data" "$lab" "$machines" "$sessions" "$runs" <<'PY'
import datetime, json, os, sys
data, lab, machines, sessions, runs = sys.argv[1], sys.argv[2], *map(int, sys.argv[3:])
texts = [open(os.path.join(data, f"run-{i}.txt")).read() for i in range(1, 31)]
start = datetime.datetime(2026, 1, 1, 2, 0)
for m in range(machines):
    for s in range(sessions):
        name = (start + datetime.timedelta(days=s)).strftime("%Y-%m-%dT%H.%MZ")
        folder = os.path.join(lab, f"host-{m + 1:03d}", name)
        os.makedirs(folder)
        json.dump({"kernel": "6.1.0-26-amd64" if s < sessions // 2 else "6.1.0-27-amd64",
                   "glibc": "2.36", "cpubench_version": "1.1.0"}, open(os.path.join(folder, "machine.json"), "w"))
        for r in range(runs):
            with open(os.path.join(folder, f"run-{r + 1}.txt"), "w") as out:
                out.write(texts[(m * 7 + s * runs + r) % len(texts)])
PY
echo "$machines machines x $sessions sessions x $runs runs = $((machines * sessions * runs)) transcripts"
sync
for output in text json html; do
    case $output in
    text) args=() ;;
    json) args=(--json) ;;
    html) args=(--html "$lab/report.html") ;;
    esac
    status=0
    /usr/bin/time -f "$output: %e s elapsed, %M KiB peak memory" \
        "$compare" --history "${args[@]}" "$lab"/host-* >"$lab/out" || status=$?
    # 0, or 3 when the newest sessions happen to look slower: both are reports.
    [ "$status" -eq 0 ] || [ "$status" -eq 3 ] || { echo "exit status $status" >&2; exit 1; }
done
echo "report.html: $(stat -c %s "$lab/report.html") bytes"
