#!/usr/bin/env bash
# The history's OpenMetrics text read by the real thing: promtool checks it,
# node_exporter serves it through its textfile collector (and nothing else),
# a Prometheus server scrapes that, and every series read back through
# Prometheus's HTTP API must be what the file says, with the hostile label
# values of tests/openmetrics_sample.cpp come back as their cleaned text. Both
# servers listen on ports of the test's own on 127.0.0.1 and are stopped at
# the end, also when a check fails.
#
# Usage: tests/openmetrics-test.sh OPENMETRICS-SAMPLE   (the program that writes the file)
#
# Needs Debian's prometheus (prometheus, promtool) and
# prometheus-node-exporter; without them it ends with status 77 (skipped).
set -euo pipefail
sample=${1:?usage: $0 OPENMETRICS-SAMPLE}
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

mkdir "$work/textfile"
"$sample" "$work/cpubench.prom.tmp"
# As a nightly job puts it there: written beside, then renamed.
mv "$work/cpubench.prom.tmp" "$work/textfile/cpubench.prom"

echo "== promtool check metrics"
promtool check metrics <"$work/textfile/cpubench.prom"

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
python3 - "$work/textfile/cpubench.prom" "http://127.0.0.1:$prometheus_port" <<'EOF' || status=$?
import json, re, sys, time, urllib.parse, urllib.request

prom_file, server = sys.argv[1], sys.argv[2]

def query(expression):
    url = server + "/api/v1/query?" + urllib.parse.urlencode({"query": expression})
    with urllib.request.urlopen(url, timeout=5) as answer:
        reply = json.load(answer)
    assert reply["status"] == "success", reply
    return reply["data"]["result"]

# What the file says: (name, labels, value) of every sample.
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

# The hostile values of tests/openmetrics_sample.cpp, as Prometheus holds them.
def labels_of(metric, machine):
    found = [dict(labels) for name, labels in back if name == metric and dict(labels)["machine"] == machine]
    assert found, f"no {metric} of machine {machine!r}"
    return found[0]
fffd = "\ufffd"
first = labels_of("cpubench_machine_flawed", 'quote"back\\slash\nnewline')
assert first["processor"] == f"bad {fffd} byte" and first["kernel"] == "6.1.0-26-amd64", first
second = labels_of("cpubench_machine_flawed", "host-\u65e5")
assert second["kernel"] == f"esc {fffd}[31m", second
assert labels_of("cpubench_machine_flawed", "long")["processor"] == "p" * 125 + "...", "the long value is not cut"
assert back[("cpubench_machine_flawed", tuple(sorted(second.items())))] == 1
print(f"{len(back)} series read back through Prometheus's API, all as written")
EOF
if [ $status -ne 0 ]; then
    echo "--- node_exporter:" >&2; tail -20 "$work/exporter.log" >&2
    echo "--- Prometheus:" >&2; tail -20 "$work/prometheus.log" >&2
    echo "openmetrics test: FAILED" >&2
    exit 1
fi
echo "openmetrics test: passed in $SECONDS s"
