#!/bin/bash
# Measures the recorder's disturbance figures against what they do to the
# times: records RUNS runs of the benchmark into DIR, optionally with LOOPS
# busy loops (sh -c 'while :; do :; done') started DELAY seconds into each
# run and stopped at its end, then lists every line of every run with its
# time, its ratio to the median of a quiet reference (the committed idle
# runs of the project's machine, or REFERENCE), the CPU time others took,
# the run delay, the lost share the recorder computes and whether the line
# is named disturbed; and counts the lines named.
#
#   scripts/disturbance-measure.sh build/release/cpubench-record build/release/compare/cpubench-compare \
#       /tmp/quiet 25                 # quiet runs: how often is a line wrongly named?
#   scripts/disturbance-measure.sh ... /tmp/loaded 6 2 10
#                                     # two busy loops from 10 s into each run on
#
# Times against the reference mean something only on the machine the
# reference was made on (tests/data/idle-runs/README.md names it).
set -euo pipefail
record=${1:?usage: $0 RECORD COMPARE DIR RUNS [LOOPS DELAY [REFERENCE]]}
compare=${2:?}
dir=${3:?}
runs=${4:?}
loops=${5:-0}
delay=${6:-0}
reference=${7:-$(dirname "$0")/../tests/data/idle-runs}

mkdir -p "$dir"
for ((n = 1; n <= runs; n++)); do
    pids=()
    if [ "$loops" -gt 0 ]; then
        ( sleep "$delay"; for ((i = 0; i < loops; i++)); do sh -c 'while :; do :; done' & done; wait ) &
        pids+=($!)
    fi
    status=0
    "$record" --runs 1 "$dir" >/dev/null || status=$?
    for pid in "${pids[@]}"; do pkill -P "$pid" 2>/dev/null || true; kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    [ "$status" -eq 0 ] || echo "$0: run $n ended with status $status" >&2
done

"$compare" --json --keep-disturbed "$reference" >"$dir/reference.json" || true
for session in "$dir"/*/; do
    "$compare" --json --keep-disturbed "$session" || true
done >"$dir/sessions.jsonl"

python3 - "$dir/reference.json" "$dir/sessions.jsonl" <<'PY'
import json, statistics, sys

reference = json.load(open(sys.argv[1]))
medians = {s["line"]: s["median"] for s in reference["machines"][0]["statistics"]}
decoder = json.JSONDecoder()
text = open(sys.argv[2]).read()
documents, at = [], 0
while at < len(text):
    while at < len(text) and text[at].isspace():
        at += 1
    if at == len(text):
        break
    document, at = decoder.raw_decode(text, at)
    documents.append(document)

print(f"{'run':40} {'line':16} {'time':>8} {'ratio':>6} {'other':>6} {'delay':>6} {'steal':>6} {'lost':>6}  named")
named = total = 0
for document in documents:
    for machine in document["machines"]:
        for run in machine["runs"]:
            for line in run["lines"]:
                figures = line.get("recorded")
                if line["time"] is None or figures is None:
                    continue
                total += 1
                named += figures["disturbed"] is not None
                ratio = line["time"] / medians[line["line"]] if medians.get(line["line"]) else float("nan")
                f = lambda v: "-" if v is None else f"{v:.2f}"
                print(f"{run['name'][-40:]:40} {line['line']:16} {line['time']:8.3f} {ratio:6.3f} "
                      f"{f(figures['other_cpu_s']):>6} {f(figures['run_delay_s']):>6} {f(figures['steal_s']):>6} "
                      f"{(figures['lost_share'] or 0):6.3f}  {figures['disturbed'] or ''}")
print(f"lines named disturbed: {named} of {total}" + (f" ({100 * named / total:.1f}%)" if total else ""))
PY
