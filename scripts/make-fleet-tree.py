#!/usr/bin/env python3
"""Writes a fleet's results as the lab keeps them, for scripts/history-scale.sh:

    OUT/host-0001/2026-01-01T02.00Z/run-1.txt ... run-R.txt machine.json session.json

MACHINES machines with SESSIONS nightly sessions of RUNS runs each, every
transcript one of the committed idle runs (tests/data/idle-runs) with its
times moved: each machine its own speed per line, each session off by the
machine's wander (part shared by all lines, part per line, each line at its
own scale), each run by the spread inside a session. machine.json and
session.json are written as cpubench-record writes them; the kernel changes
in rollouts (a new version every few weeks, each machine within a week of
it), the microcode and firmware now and then, GMP once.

    scripts/make-fleet-tree.py OUT MACHINES SESSIONS [RUNS] [SEED]
"""
import datetime
import json
import math
import os
import random
import re
import sys

LABELS = ["double mul log", "SSE2 _mm_mul_pd", "GMP mpz_pow_ui", "INT64MulDiv128", "4Kern MulDiv128",
          "8Kern MulDiv128", "18KernMulDiv128", "MUL-Mod 32 Bit", "Copy 2 GB"]
PROCESSORS = [("AMD EPYC 7763 64-Core Processor", 16, 65536, "0xa0011d1"),
              ("Intel(R) Xeon(R) Gold 6338 CPU @ 2.00GHz", 8, 32768, "0xd0003a5"),
              ("Intel(R) Xeon(R) Processor @ 2.80GHz", 2, 24036, "0x1"),
              ("AMD EPYC 9654 96-Core Processor", 32, 131072, "0xa101144")]
MITIGATIONS = {"gather_data_sampling": "Not affected", "itlb_multihit": "Not affected", "l1tf": "Not affected",
               "mds": "Not affected", "meltdown": "Not affected", "mmio_stale_data": "Not affected",
               "retbleed": "Not affected", "spec_store_bypass": "Mitigation: Speculative Store Bypass disabled via prctl",
               "spectre_v1": "Mitigation: usercopy/swapgs barriers and __user pointer sanitization",
               "spectre_v2": "Mitigation: Retpolines; IBPB: conditional; STIBP: disabled; RSB filling",
               "srbds": "Not affected", "tsx_async_abort": "Not affected"}


def templates(folder):
    """Each idle run as its text cut at the nine times, and the times."""
    result = []
    for i in range(1, 31):
        text = open(os.path.join(folder, f"run-{i}.txt")).read()
        parts, times, rest = [], [], text
        for label in LABELS:
            found = re.search(re.escape(label) + r"[^\n]* in ([0-9]+\.[0-9]+) s", rest)
            parts.append(rest[:found.start(1)])
            times.append(float(found.group(1)))
            rest = rest[found.end(1):]
        parts.append(rest)
        result.append((parts, times))
    return result


def main():
    out, machines, sessions = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 4
    rng = random.Random(int(sys.argv[5]) if len(sys.argv) > 5 else 20261209)
    idle = templates(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "data", "idle-runs"))
    start = datetime.datetime(2026, 1, 1, 2, 0)
    names = [(start + datetime.timedelta(days=s)).strftime("%Y-%m-%dT%H.%MZ") for s in range(sessions)]
    # A new kernel every 30 to 60 days, reaching each machine within a week.
    kernels, day = [], 0
    while day < sessions + 60:
        kernels.append(day)
        day += rng.randint(30, 60)
    for m in range(machines):
        processor, cpus, memory, microcode = PROCESSORS[m % len(PROCESSORS)]
        speed = [math.exp(rng.gauss(0, 0.1)) for _ in LABELS]
        scale = [0.03 * rng.uniform(1 / 3, 5 / 3) for _ in LABELS]
        scale[-1] = 0.05
        spread = rng.uniform(0.01, 0.03)
        delay = [rng.randint(0, 6) for _ in kernels]
        info_text, info_key = "", None
        host = os.path.join(out, f"host-{m + 1:04d}")
        for s, name in enumerate(names):
            release = 26 + sum(1 for k, d in zip(kernels, delay) if k + d <= s)
            firmware = "2.19.1" if s < sessions * 2 // 3 or m % 5 else "2.21.0"
            code = microcode if s < sessions // 2 or m % 3 else microcode[:-1] + "f"
            gmp = ("6.2.1", "10.4.1") if s < sessions * 4 // 5 or m % 7 else ("6.3.0", "10.5.0")
            key = (release, firmware, code, gmp)
            if key != info_key:
                info = {"cpubench_version": "1.2.0", "firmware_date": "03/14/2025", "firmware_vendor": "Dell Inc.",
                        "firmware_version": firmware, "glibc": "2.36",
                        "gmp": f"/usr/lib/x86_64-linux-gnu/libgmp.so.{gmp[1]}", "gmp_version": gmp[0],
                        "governor": "performance", "kernel": f"6.1.0-{release}-amd64", "logical_cpus": cpus,
                        "memory_mib": memory, "microcode": code, "mitigations": MITIGATIONS,
                        "os": "Debian GNU/Linux 12 (bookworm)", "processor": processor, "virtualization": "none"}
                info_text, info_key = json.dumps(info, indent=2, sort_keys=True) + "\n", key
            folder = os.path.join(host, name)
            os.makedirs(folder)
            with open(os.path.join(folder, "machine.json"), "w") as f:
                f.write(info_text)
            shared = rng.gauss(0, 1)
            offsets = [speed[j] * math.exp(scale[j] * (0.7 * shared + 0.71 * rng.gauss(0, 1)))
                       for j in range(len(LABELS))]
            records = []
            for r in range(runs):
                parts, times = idle[rng.randrange(len(idle))]
                moved = [times[j] * offsets[j] * math.exp(rng.gauss(0, spread)) for j in range(len(LABELS))]
                text = parts[0] + "".join(f"{moved[j]:.3f}" + parts[j + 1] for j in range(len(LABELS)))
                with open(os.path.join(folder, f"run-{r + 1}.txt"), "w") as f:
                    f.write(text)
                lines = ",\n".join(
                    f'        {{\n          "line": "{label}",\n          "other_cpu_s": {rng.uniform(0, 0.01):.4f},\n'
                    f'          "run_delay_s": {rng.uniform(0, 0.02):.4f},\n          "seconds": {moved[j] + 0.002:.3f},\n'
                    f'          "steal_s": {rng.uniform(0, 0.005):.4f},\n          "throttle_events": 0\n        }}'
                    for j, label in enumerate(LABELS))
                records.append(f'    {{\n      "exit_status": 0,\n      "file": "run-{r + 1}.txt",\n'
                               f'      "lines": [\n{lines}\n      ],\n      "status": "complete"\n    }}')
            with open(os.path.join(folder, "session.json"), "w") as f:
                f.write(f'{{\n  "logical_cpus": {cpus},\n  "reason": "",\n  "recorder": "cpubench-record 1.2.0",\n'
                        f'  "runs": [\n' + ",\n".join(records) + f'\n  ],\n  "runs_planned": {runs},\n'
                        f'  "state": "complete"\n}}\n')


if __name__ == "__main__":
    main()
