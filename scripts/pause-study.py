#!/usr/bin/env python3
"""What the pause between runs changes: steal, others' CPU and time per line.

    scripts/pause-study.py [--skip SESSION/run-K.txt]... DIR...

Each DIR is a machine's folder of sessions recorded by cpubench-record
(session.json with pause_s). The sessions are grouped by their pause; in
each group, per line:
  - the steal and the others' CPU (seconds) of run 1 and of runs 2 and later,
    as medians over the group's runs, with the largest;
  - the lost share of a team line (steal + others' CPU over the processors'
    time), as medians;
  - the time of runs 2 and later against run 1 of the same session (the
    median of each session's ratio, and their range), so that the lines'
    wander from session to session cancels;
and the session's time: the runs' wall time and the pauses. A run named
with --skip (one known to be disturbed) is left out, and so is its
session's ratio when it is run 1.
"""

import json
import os
import re
import statistics
import sys

TEAM = {"4Kern MulDiv128": 4, "8Kern MulDiv128": 8, "18KernMulDiv128": 18}


def sessions(folder):
    for name in sorted(os.listdir(folder)):
        path = os.path.join(folder, name)
        record = os.path.join(path, "session.json")
        if os.path.isfile(record):
            with open(record) as f:
                yield name, path, json.load(f)


def times(path, run):
    with open(os.path.join(path, run["file"]), errors="replace") as f:
        text = f.read()
    found = {}
    for line in run["lines"]:
        label = line["line"]
        match = re.search(re.escape(label) + r".*? in (\d+\.\d+) s", text)
        if match:
            found[label] = float(match.group(1))
    return found


def med(values):
    return statistics.median(values) if values else float("nan")


def main(folders, skip):
    groups = {}
    for folder in folders:
        for name, path, record in sessions(folder):
            if record.get("state") != "complete" or len(record["runs"]) < 2:
                continue
            groups.setdefault(record.get("pause_s"), []).append((name, path, record))
    labels = None
    for pause in sorted(groups, key=lambda p: -1 if p is None else p):
        group = groups[pause]
        cpus = group[0][2]["logical_cpus"]
        print(f"== pause {pause} s: {len(group)} sessions ({', '.join(n for n, _, _ in group)})")
        walls = [sum(l["seconds"] for r in rec["runs"] for l in r["lines"]) for _, _, rec in group]
        runs = len(group[0][2]["runs"])
        print(f"   session: the lines' wall time {med(walls):.1f} s (median), pauses {(runs - 1) * (pause or 0)} s")
        print(f"   {'line':16} {'steal r1':>9} {'steal r2+':>10} {'max r2+':>8} {'others r1':>9} {'others r2+':>10}"
              f" {'share r1':>8} {'share r2+':>9} {'r2+/r1 time':>12} {'range':>13}")
        per_line = {}
        for name, path, record in group:
            for k, run in enumerate(record["runs"]):
                if f"{name}/{run['file']}" in skip:
                    continue
                for line in run["lines"]:
                    label = line["line"]
                    entry = per_line.setdefault(label, {"steal": ([], []), "others": ([], []), "share": ([], []),
                                                        "ratio": []})
                    which = 0 if k == 0 else 1
                    steal, others = line["steal_s"] or 0, line["other_cpu_s"] or 0
                    entry["steal"][which].append(steal)
                    entry["others"][which].append(others)
                    if label in TEAM:
                        entry["share"][which].append((steal + others) / (cpus * line["seconds"]))
            if f"{name}/{record['runs'][0]['file']}" in skip:
                continue
            first = times(path, record["runs"][0])
            later = [times(path, run) for run in record["runs"][1:] if f"{name}/{run['file']}" not in skip]
            for label in first:
                values = [t[label] for t in later if label in t]
                if values:
                    per_line[label]["ratio"].append(statistics.median(values) / first[label])
        labels = labels or list(per_line)
        for label in labels:
            e = per_line.get(label)
            if not e:
                continue
            share = (f"{100 * med(e['share'][0]):7.1f}% {100 * med(e['share'][1]):8.1f}%" if label in TEAM
                     else f"{'':8} {'':9}")
            ratio = e["ratio"] or [float("nan")]
            print(f"   {label:16} {med(e['steal'][0]):9.2f} {med(e['steal'][1]):10.2f} {max(e['steal'][1]):8.2f}"
                  f" {med(e['others'][0]):9.2f} {med(e['others'][1]):10.2f} {share}"
                  f" {med(ratio):12.3f} {min(ratio):6.3f}..{max(ratio):.3f}")


if __name__ == "__main__":
    args, skipped = sys.argv[1:], set()
    while len(args) > 1 and args[0] == "--skip":
        skipped.add(args[1])
        args = args[2:]
    if not args:
        sys.exit(__doc__)
    main(args, skipped)
