#!/usr/bin/env python3
"""Writes the fuzz targets' seed corpora from the real transcripts of
tests/data/idle-runs and machine.json files as the lab writes them, with the
variants a console or another system makes of them. The campaigns' finds
are merged into the same folders (doc/fuzzing.md); run this again only to
start a corpus afresh: python3 fuzz/make-seeds.py"""
import hashlib
import json
import os
import re

here = os.path.dirname(os.path.abspath(__file__))
runs_dir = os.path.join(here, '..', 'tests', 'data', 'idle-runs')
runs = [open(os.path.join(runs_dir, f'run-{i}.txt'), 'rb').read() for i in range(1, 31)]


def save(target, data):
    folder = os.path.join(here, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    name = 'seed-' + hashlib.sha1(data).hexdigest()[:16]
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def scaled(run, factor):
    """The run with every time multiplied by factor."""
    return re.sub(rb'in (\d+\.\d+) s', lambda m: b'in %.3f s' % (float(m.group(1)) * factor), run)


infos = [
    {"processor": "Intel(R) Xeon(R) Processor @ 2.80GHz", "logical_cpus": 2, "memory_mib": 24036,
     "os": "Debian GNU/Linux 12 (bookworm)", "kernel": "6.1.0-27-amd64", "virtualization": "kvm",
     "microcode": "0x1", "firmware_vendor": "SeaBIOS", "firmware_version": "1.16.2-debian-1.16.2-1",
     "firmware_date": "04/01/2014", "glibc": "2.36", "gmp": "/usr/lib/x86_64-linux-gnu/libgmp.so.10.4.1",
     "gmp_version": "6.2.1", "governor": "performance", "cpubench_version": "1.1.0",
     "mitigations": {"meltdown": "Not affected", "retbleed": "Vulnerable",
                     "spectre_v2": "Mitigation: Retpolines; STIBP: disabled; RSB filling"}},
    {"processor": "Intel Core i7-8700", "logical_cpus": 12, "memory_mib": 32768,
     "os": "Windows 11 Pro 23H2", "kernel": "10.0.22631", "virtualization": "none"},
    {"processor": "AMD Ryzen 7 7840U", "logical_cpus": 16, "memory_mib": 30720, "os": "Fedora Linux 41",
     "kernel": "6.11.4-301.fc41.x86_64", "microcode": "0xa704104", "glibc": "2.40", "gmp_version": "6.3.0",
     "governor": "powersave", "mitigations": {"spec_rstack_overflow": "Mitigation: Safe RET"}},
]

# The transcript reader.
for run in runs[:6]:
    save('transcript', run)
r = runs[0]
save('transcript', r.replace(b'\n', b'\r\n'))
save('transcript', b'\xef\xbb\xbf' + r)
save('transcript', b'\xff\xfe' + r.decode('latin-1').encode('utf-16-le'))
save('transcript', b'user@host:~$ ./cpubench\n' + r + b'user@host:~$ \n')
save('transcript', r + b'\n' + runs[1])                       # two runs, the last counts
save('transcript', r[:r.index(b'INT64')])                      # cut off
save('transcript', r.replace(b'in 14.404 s', b'nicht genug Speicher'))
save('transcript', r.replace(b'54885', b'54886'))              # a wrong value
save('transcript', r.replace(b'in 2.744 s', b'in'))            # no time
save('transcript', b'libgmp.so.10 nicht gefunden')
save('transcript', b'Error mpz_add_ui')
save('transcript', re.sub(rb'\n\n', b'\n', r))                 # blank lines lost
save('transcript', re.sub(rb'\n', b'   \t\n', r))              # trailing blanks

# machine.json.
for info in infos:
    save('machine_json', json.dumps(info).encode())
save('machine_json', json.dumps(infos[0], indent=2).encode())
save('machine_json', b'{}')
save('machine_json', b'{"kernel": 5}')
save('machine_json', b'{"logical_cpus": 2.5, "memory_mib": -1}')
save('machine_json', b'{"mitigations": {"mds": null, "l1tf": 3}}')
save('machine_json', b'{"processor": "Test \\u001b[31mRED\\u009b \xff\xfe <b>\\"x\\"</b>"}')
save('machine_json', b'[1, 2]')
save('machine_json', b'{"processor": "cut')


def machine(name, some_runs, info=None):
    text = b'@@M ' + name + b'\n'
    if info is not None:
        text += b'@@J\n' + (info if isinstance(info, bytes) else json.dumps(info).encode()) + b'\n'
    for i, run in enumerate(some_runs):
        text += b'@@R run-%d.txt\n' % (i + 1) + run
    return text


# The comparison.
save('compare', machine(b'one', runs[:1]))
save('compare', machine(b'a', runs[:4], infos[0]) + machine(b'b', [scaled(x, 1.1) for x in runs[4:8]], infos[1]))
save('compare', b'@@O mb t50 c990\n' + machine(b'lab/host-a', runs[:6], infos[0]) +
     machine(b'lab/host-b', runs[6:12], infos[2]) + machine(b'lab/host-c', [scaled(x, 0.9) for x in runs[12:18]]))
save('compare', machine(b'base', runs[:5]) +
     machine(b'flawed', [runs[5].replace(b'54885', b'54886'), runs[6][:300], runs[7]]) +
     machine(b'utf16', [b'\xff\xfe' + runs[8].decode('latin-1').encode('utf-16-le')]))
save('compare', machine(b'esc\x1b[31mRED', runs[:4], b'{"processor": "x\\u001b]0;title\\u0007", "os": "<script>alert(1)</script>"}') +
     machine(b'<img src=x onerror=alert(1)>\xc2\x9b\xff', runs[4:8], b'{"kernel": "\\" onmouseover=\\"x", "mitigations": {"a\\u0000": "\\u007f"}}') +
     machine(b'\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e-machine-with-a-very-long-name-' * 3, runs[8:12]))
save('compare', b'@@O b\n' + b''.join(machine(b'm%d' % i, runs[i * 3:i * 3 + 3], infos[i % 3]) for i in range(10)))

# The history.
def history(name, sessions):
    text = b'@@M ' + name + b'\n'
    for session, info, some_runs in sessions:
        text += b'@@S ' + session + b'\n'
        if info is not None:
            text += b'@@J\n' + json.dumps(info).encode() + b'\n'
        for i, run in enumerate(some_runs):
            text += b'@@R run-%d.txt\n' % (i + 1) + run
    return text


newer = dict(infos[0], microcode="0x2")
save('history', history(b'host-a', [(b'2026-12-0%dT14.05Z' % d, infos[0] if d < 5 else newer,
                                     [scaled(x, 1.0 if d < 5 else 1.08) for x in runs[(d - 1) * 3:d * 3]])
                                    for d in range(1, 9)]))
save('history', history(b'host-b', [(b'2026-12-01T10.00Z', infos[1], runs[:5]),
                                    (b'2026-12-02T10.00Z', infos[1], [scaled(x, 1.3) for x in runs[5:10]]),
                                    (b'2026-12-03T10.00Z', infos[1], runs[10:15]),
                                    (b'2026-12-03T10.00Z-2', infos[1], [runs[15].replace(b'54885', b'1')])]) +
     history(b'host-c', [(b'2026-12-01T10.00Z', None, runs[20:23])]))
save('history', history(b'h\x1b[2J', [(b'2026-12-0%dT1\x07.05Z\x9b\xff' % d, infos[2], runs[d * 2:d * 2 + 2])
                                      for d in range(1, 6)]))
save('history', history(b'many', [(b'2026-%02d-01T00.00Z' % (i % 12 + 1) + (b'-%d' % i if i >= 12 else b''),
                                   None, [scaled(runs[i % 30], 1 + (i % 7) / 50)]) for i in range(60)]))
