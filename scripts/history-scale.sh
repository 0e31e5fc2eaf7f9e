#!/usr/bin/env bash
# How cpubench-compare --history scales with a fleet: for each SHAPE
# (MACHINESxSESSIONS, 4 runs a session), a tree as the lab keeps it, with
# machine.json and session.json as cpubench-record writes them and facts that
# change now and then (scripts/make-fleet-tree.py), read with --history as
# text and as JSON under GNU time; prints the elapsed time and peak memory of
# each, and where they lead for a year of 1,000 machines recorded nightly
# (1,000 x 365 x 4 = 1.46 M transcripts): memory on a straight line through
# the points by transcripts; time per machine as a power of its sessions
# (the analysis of one machine's history grows faster than its sessions),
# where the shapes have two session counts or more, else on a straight line.
# Each tree is read once before it is timed, so that the figures are of
# the program with the files in the page cache.
# A run is stopped after --max-seconds or when it would need more than
# --max-gib of memory, and counted as such. A benchmark, run by hand.
#
#   scripts/history-scale.sh [--work DIR] [--keep] [--max-seconds S] [--max-gib G]
#                            CPUBENCH-COMPARE [SHAPE...]
#
# SHAPE defaults to 250x25 1000x25 1000x90 (25,000, 100,000 and 360,000
# transcripts). The trees go into --work (default a new folder in
# ${TMPDIR:-/tmp}; 360,000 transcripts take about 3 GB and 630,000 files), each
# removed after its runs unless --keep. Needs GNU time (/usr/bin/time) and python3.
set -euo pipefail
usage="usage: $0 [--work DIR] [--keep] [--max-seconds S] [--max-gib G] CPUBENCH-COMPARE [SHAPE...]"
work="" keep=false max_seconds=600 max_gib=8
while [ $# -gt 0 ]; do
    case $1 in
    --work) work=${2:?$usage}; shift 2 ;;
    --keep) keep=true; shift ;;
    --max-seconds) max_seconds=${2:?$usage}; shift 2 ;;
    --max-gib) max_gib=${2:?$usage}; shift 2 ;;
    -*) echo "$usage" >&2; exit 2 ;;
    *) break ;;
    esac
done
compare=$(realpath "${1:?$usage}")
shift
shapes=("$@")
[ ${#shapes[@]} -gt 0 ] || shapes=(250x25 1000x25 1000x90)
here=$(cd "$(dirname "$0")" && pwd)
if [ -z "$work" ]; then
    work=$(mktemp -d "${TMPDIR:-/tmp}/history-scale.XXXXXX")
    $keep || trap 'rm -rf "$work"' EXIT
fi
mkdir -p "$work"
results=$work/results.txt
: >"$results"

echo "machine: $(lscpu | sed -n 's/^Model name: *//p'), $(nproc) CPUs, $(free -g | awk '/^Mem:/ {print $2}') GiB;" \
     "$(date -u +%Y-%m-%dT%H:%MZ); $compare"
for shape in "${shapes[@]}"; do
    [[ $shape =~ ^([0-9]+)x([0-9]+)$ ]] || { echo "$0: a shape is MACHINESxSESSIONS, not $shape" >&2; exit 2; }
    machines=${BASH_REMATCH[1]} sessions=${BASH_REMATCH[2]}
    transcripts=$((machines * sessions * 4))
    tree=$work/tree-$shape
    if [ ! -d "$tree" ]; then
        started=$SECONDS
        python3 "$here/make-fleet-tree.py" "$tree" "$machines" "$sessions" 4
        echo "$shape: $transcripts transcripts written in $((SECONDS - started)) s ($(du -sh "$tree" | cut -f1))"
    fi
    sync
    started=$SECONDS
    find "$tree" -type f -exec cat {} + >/dev/null
    echo "$shape: load average $(cut -d' ' -f1-3 /proc/loadavg) before the runs"
    echo "$shape: read into the page cache in $((SECONDS - started)) s"
    for output in text json; do
        args=()
        [ "$output" = text ] || args=(--json)
        status=0
        # The memory limit as address space, which a program without
        # mapped files of its own uses about as much of as it keeps resident.
        (ulimit -v $((max_gib * 1024 * 1024)); exec timeout "$max_seconds" /usr/bin/time -v -o "$work/time" \
            "$compare" --history "${args[@]}" "$tree"/host-*) >"$work/out" 2>"$work/err" || status=$?
        elapsed=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time" 2>/dev/null |
                  awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }')
        kib=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time" 2>/dev/null)
        cpu=$(awk -F': ' '/User time|System time/ { s += $2 } END { print s }' "$work/time" 2>/dev/null)
        # 0, or 3 when a newest level happens to be slower: both are reports.
        if [ "$status" -eq 0 ] || [ "$status" -eq 3 ]; then
            echo "$shape $output: $transcripts transcripts, ${elapsed} s elapsed ($cpu s of CPU), $((kib / 1024)) MiB peak memory"
            echo "$output $machines $sessions $elapsed $cpu $kib" >>"$results"
        elif [ "$status" -eq 124 ]; then
            echo "$shape $output: stopped after $max_seconds s"
        else
            echo "$shape $output: ended with status $status (over $max_gib GiB?): $(tail -c 300 "$work/err")"
        fi
    done
    $keep || rm -rf "$tree"
done

# Where the measured points lead: memory on a straight line by transcripts,
# time per machine as a power of the sessions (least squares on the logs).
python3 - "$results" <<'EOF'
import math, sys
points = {}
for line in open(sys.argv[1]):
    output, machines, sessions, elapsed, cpu, kib = line.split()
    points.setdefault(output, []).append((int(machines), int(sessions), float(elapsed), float(cpu), int(kib) / 1024))

def fit(xs, ys):
    mx, my = sum(xs) / len(xs), sum(ys) / len(ys)
    slope = sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sum((x - mx) ** 2 for x in xs)
    return slope, my - slope * mx

machines, sessions = 1000, 365
year = machines * sessions * 4
for output, values in points.items():
    if len(values) < 2:
        continue
    slope, offset = fit([v[0] * v[1] * 4 for v in values], [v[4] for v in values])
    print(f"{output} memory: {slope * 1e5:.0f} MiB per 100,000 transcripts; at {year:,}: {offset + slope * year:,.0f} MiB")
    for what, index in (("elapsed", 2), ("CPU", 3)):
        if len({v[1] for v in values}) >= 2:
            power, scale = fit([math.log(v[1]) for v in values], [math.log(v[index] / v[0]) for v in values])
            print(f"{output} {what} time: per machine as sessions^{power:.2f}; at {year:,}:"
                  f" {machines * math.exp(scale) * sessions ** power:,.0f} s")
        else:
            slope, offset = fit([v[0] * v[1] * 4 for v in values], [v[index] for v in values])
            print(f"{output} {what} time: {slope * 1e5:.1f} s per 100,000 transcripts; at {year:,}:"
                  f" {offset + slope * year:,.0f} s")
EOF
