#!/usr/bin/env bash
# `cpubench-compare --history --openmetrics FILE` read by the real thing: a
# small history tree made of the idle runs (a steady machine, one slower
# from its fifth session on with a new kernel, one whose newest session has
# a wrong value, and machines whose names and facts are hostile, one of them
# named twice) goes through the real executable into node_exporter's
# textfile folder; promtool checks the file, node_exporter serves it through
# its textfile collector (and nothing else), a Prometheus server scrapes
# that, and every series read back through Prometheus's HTTP API must be
# what the file says, and what the history's JSON document says of the same
# machines: each newest session's median, each line's last change and
# whether it is slower. Both servers listen on ports of the test's own on
# 127.0.0.1 and are stopped at the end, also when a check fails.
#
# Usage: tests/openmetrics-test.sh CPUBENCH-COMPARE IDLE-RUNS-FOLDER
#
# Needs Debian's prometheus (prometheus, promtool) and
# prometheus-node-exporter; without them it ends with status 77 (skipped).
set -euo pipefail
usage="usage: $0 CPUBENCH-COMPARE IDLE-RUNS-FOLDER"
compare=${1:?$usage}
idle=${2:?$usage}
for program in promtool prometheus prometheus-node-exporter; do
    command -v "$program" >/dev/null || { echo "SKIPPED: no $program (Debian's prometheus packages)"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    rm -rf "$work"
}
trap cleanup EXIT

# The machines, in $work/tree (and a second "steady" in $work/other).
python3 - "$idle" "$work" <<'EOF'
import json, os, re, sys
idle, work = sys.argv[1], sys.argv[2]
runs = [open(os.path.join(idle, f"run-{i}.txt"), "rb").read() for i in range(1, 31)]

def scaled(text, factor):
    return re.sub(rb" in ([0-9]+\.[0-9]+) s", lambda m: b" in %.3f s" % (float(m.group(1)) * factor), text)

def machine(folder, sessions, factor=lambda s: 1, info=lambda s: {}, wrong_newest=False):
    for s in range(sessions):
        session = os.path.join(folder, f"2026-12-{s + 1:02d}T02.00Z")
        os.makedirs(session)
        for r in range(4):
            text = scaled(runs[(4 * s + r) % 30], factor(s))
            if wrong_newest and s == sessions - 1 and r == 0:
                text = text.replace(b"= 54885", b"= 54886")
            open(os.path.join(session, f"run-{r + 1}.txt"), "wb").write(text)
        facts = {"processor": "AMD EPYC 7763 64-Core Processor", "kernel": "6.1.0-26-amd64",
                 "gmp_version": "6.2.1", "cpubench_version": "1.2.0"}
        facts.update(info(s))
        open(os.path.join(session, "machine.json"), "w").write(json.dumps(facts))

tree = os.path.join(work, "tree")
machine(os.path.join(tree, "steady"), 8)
machine(os.path.join(tree, "slowed"), 8, factor=lambda s: 1.3 if s >= 4 else 1,
        info=lambda s: {"kernel": "6.1.0-27-amd64"} if s >= 4 else {})
machine(os.path.join(tree, "wrong"), 6, wrong_newest=True)
machine(os.path.join(tree, 'quote"back\\slash\nnewline'), 6, info=lambda s: {"kernel": "esc \x1b[31m"})
machine(os.path.join(work, "byte", "host"), 6, info=lambda s: {"processor": "p" * 300})
machine(os.path.join(work, "other", "steady"), 6)
EOF
# A name that is no UTF-8.
mv "$work/byte/host" "$work/byte/$(printf 'host-\377')"

mkdir "$work/textfile"
prom=$work/textfile/cpubench.prom
paths=("$work"/tree/*/ "$work"/byte/*/ "$work/other/steady")
status=0
"$compare" --history --openmetrics "$prom" "${paths[@]}" >"$work/history.txt" 2>"$work/stderr" || status=$?
"$compare" --history --json "${paths[@]}" >"$work/history.json" 2>/dev/null || true
fail() { echo "FAIL: $*" >&2; cat "$work/stderr" >&2; exit 1; }
# 1: the machine "wrong" has a wrong value in its newest session.
[ "$status" -eq 1 ] || fail "cpubench-compare ended with status $status, not 1"
grep -q 'a second machine named steady' "$work/stderr" || fail "the second machine named steady is not named"
[ "$(ls -A "$work/textfile")" = cpubench.prom ] || fail "the textfile folder holds $(ls -A "$work/textfile")"

echo "== promtool check metrics"
promtool check metrics <"$prom"

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}
exporter_port=$(free_port)
prometheus_port=$(free_port)
while [ "$prometheus_port" = "$exporter_port" ]; do prometheus_port=$(free_port); done

prometheus-node-exporter --collector.disable-defaults --collector.textfile \
    --collector.textfile.directory="$work/textfile" --web.listen-address="127.0.0.1:$exporter_port" \
    >"$work/exporter.log" 2>&1 &
pids+=($!)
cat >"$work/prometheus.yml" <<EOF
global:
  scrape_interval: 1s
scrape_configs:
  - job_name: cpubench
    static_configs:
      - targets: ["127.0.0.1:$exporter_port"]
EOF
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/tsdb" \
    --web.listen-address="127.0.0.1:$prometheus_port" --log.level=warn >"$work/prometheus.log" 2>&1 &
pids+=($!)

echo "== node_exporter on 127.0.0.1:$exporter_port, Prometheus on 127.0.0.1:$prometheus_port"
status=0
python3 - "$prom" "$work/history.json" "http://127.0.0.1:$prometheus_port" <<'EOF' || status=$?
import calendar, json, re, sys, time, urllib.parse, urllib.request

prom_file, history_file, server = sys.argv[1], sys.argv[2], sys.argv[3]

def query(expression):
    url = server + "/api/v1/query?" + urllib.parse.urlencode({"query": expression})
    with urllib.request.urlopen(url, timeout=5) as answer:
        reply = json.load(answer)
    assert reply["status"] == "success", reply
    return reply["data"]["result"]

# What the file says: (name, labels) -> value of every sample.
def unescape(text):
    return re.sub(r'\\(.)', lambda m: {"n": "\n", "\\": "\\", '"': '"'}[m.group(1)], text)
written = {}
for line in open(prom_file, encoding="utf-8"):
    if line.startswith("#"):
        continue
    name, labels, value = re.fullmatch(r'([a-z_]+)\{(.*)\} (\S+)\n', line).groups()
    pairs = tuple(sorted((k, unescape(v)) for k, v in re.findall(r'([a-z_]+)="((?:[^"\\]|\\.)*)"', labels)))
    written[(name, pairs)] = float(value)

# Until the first scrape with every series is in, at most 60 s.
deadline = time.time() + 60
while True:
    try:
        up = query('up{job="cpubench"}')
        read = query('{__name__=~"cpubench_.+"}')
        if up and up[0]["value"][1] == "1" and len(read) >= len(written):
            break
    except OSError:
        pass
    if time.time() > deadline:
        sys.exit("FAIL: no scrape with the series within 60 s")
    time.sleep(0.5)

errors = query('node_textfile_scrape_error')
assert errors and errors[0]["value"][1] == "0", f"node_exporter could not read the file: {errors}"
back = {}
for series in read:
    labels = dict(series["metric"])
    name = labels.pop("__name__")
    assert labels.pop("job") == "cpubench" and labels.pop("instance"), labels
    back[(name, tuple(sorted(labels.items())))] = float(series["value"][1])
missing = set(written) - set(back)
extra = set(back) - set(written)
differ = [key for key in set(written) & set(back) if written[key] != back[key]]
assert not missing and not extra and not differ, \
    f"missing {sorted(missing)[:3]}, extra {sorted(extra)[:3]}, values differ {differ[:3]}"

def value(metric, machine, line=None):
    found = [v for (name, labels), v in back.items() if name == metric and dict(labels)["machine"] == machine
             and dict(labels).get("line") == line]
    assert len(found) == 1, f"{metric} of {machine!r}, {line!r}: {found}"
    return found[0]

# The same as the history's JSON document says, machine by machine (the
# document names the machines as given, the labels as cleaned).
fffd = "\ufffd"
history = json.load(open(history_file, encoding="utf-8"))
seen = set()
for machine in history["machines"]:
    name = machine["name"]
    if name in seen:
        continue  # the second "steady": left out of the file
    seen.add(name)
    newest = machine["sessions"][-1]
    start = calendar.timegm(time.strptime(newest["name"], "%Y-%m-%dT%H.%MZ"))
    assert value("cpubench_machine_newest_session_timestamp_seconds", name) == start, name
    for entry in newest["statistics"]:
        line = entry["line"]
        if entry["median"] is not None:
            assert value("cpubench_line_median_seconds", name, line) == entry["median"], (name, line)
        changes = [c for c in history["changes"] if c["machine"] == name and c["line"] == line]
        assert value("cpubench_line_change", name, line) == (1 if changes else 0), (name, line)
        assert value("cpubench_line_alarm", name, line) == (1 if changes and changes[-1]["verdict"] == "slower"
                                                             else 0), (name, line)
        if changes:
            assert value("cpubench_line_level_ratio", name, line) == changes[-1]["ratio"], (name, line)
            assert value("cpubench_line_level_seconds", name, line) == changes[-1]["after"], (name, line)
assert seen == {"steady", "slowed", "wrong", 'quote"back\\slash\nnewline', "host-" + fffd}, seen

# What each machine was made to show.
for line in ("INT64MulDiv128", "Copy 2 GB"):
    assert value("cpubench_line_alarm", "slowed", line) == 1, line
    assert 1.2 < value("cpubench_line_level_ratio", "slowed", line) < 1.4, line
# The idle runs' copy drifts from 14.4 s to 11.6 s over the 30 runs, which
# the history may rightly call a change; their CPU lines hold still.
assert value("cpubench_line_change", "steady", "INT64MulDiv128") == 0
assert value("cpubench_machine_flawed", "wrong") == 1 and value("cpubench_machine_flawed", "steady") == 0
def machine_labels(machine):
    return dict(next(labels for name, labels in back if name == "cpubench_machine_flawed"
                     and dict(labels)["machine"] == machine))
assert machine_labels("slowed")["kernel"] == "6.1.0-27-amd64"
assert machine_labels('quote"back\\slash\nnewline')["kernel"] == f"esc {fffd}[31m"
assert machine_labels("host-" + fffd)["processor"] == "p" * 125 + "...", "the long value is not cut"
print(f"{len(back)} series read back through Prometheus's API, all as written and as the history says")
EOF
if [ $status -ne 0 ]; then
    echo "--- node_exporter:" >&2; tail -20 "$work/exporter.log" >&2
    echo "--- Prometheus:" >&2; tail -20 "$work/prometheus.log" >&2
    echo "openmetrics test: FAILED" >&2
    exit 1
fi
echo "openmetrics test: passed in $SECONDS s"
