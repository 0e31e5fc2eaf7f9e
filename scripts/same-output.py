#!/usr/bin/env python3
"""Runs two cpubench-compare executables over every input the project has
and says where their outputs differ: a contributor's check that a change of
the code changes no output by accident.

    scripts/same-output.py [--reference REV | --reference-exe EXE] [--exe EXE]

REV (default main) is built from `git archive` into build/same-output/ (its
cpubench-compare alone, with the release preset's flags); EXE is the working
tree's build (default build/release/compare/cpubench-compare). The inputs:

- the fuzz corpora of the comparison and the history (fuzz/corpus/compare,
  fuzz/corpus/history), each written as the folder tree it stands for by
  fuzz/write-tree.cpp (built here), and run as a comparison and a history;
- tests/data's real runs as single files, folders, standard input, thirty
  machines and a history;
- the hostile folders of tests/hostile_input_test.cpp (FIFOs, links to a
  device, dangling links and loops, files far too large, names and facts
  with control characters and markup);
- generated histories and comparisons: steps with a changed fact, busy
  sessions, values that turn wrong, too few sessions, recorded sessions
  with disturbed lines and incomplete recordings, the layout before
  sessions, a fleet, rows judged together, flawed runs and outliers;
- usage errors and --help.

Each is run as text, --markdown, --by-machine, --html, --json and with
other --threshold, --confidence and --keep-disturbed (a history with its
own variants), and standard output, standard error, the exit status and the
HTML page are compared byte for byte. --json-added KEY,... names fields the
change adds to the JSON documents: a document that differs only by them
counts as the same. Exit status 0 when nothing else differs, 1 when
something does, 2 when the check itself cannot run.
"""
import argparse
import concurrent.futures
import difflib
import json
import os
import re
import shutil
import stat
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
WORK = os.path.join(ROOT, 'build', 'same-output')
IDLE = os.path.join(ROOT, 'tests', 'data', 'idle-runs')
LABELS = ["double mul log", "SSE2 _mm_mul_pd", "GMP mpz_pow_ui", "INT64MulDiv128", "4Kern MulDiv128",
          "8Kern MulDiv128", "18KernMulDiv128", "MUL-Mod 32 Bit", "Copy 2 GB"]
HTML = '@HTML@'  # replaced by each run's own page

COMPARE = [
    [], ['--markdown'], ['--by-machine'], ['--markdown', '--by-machine'], ['--json'],
    ['--html', HTML], ['--html=' + HTML, '--by-machine', '--markdown'],
    ['--threshold', '5'], ['--confidence', '99'], ['--confidence', '99.75', '--threshold', '0.5'],
    ['--keep-disturbed'], ['--json', '--keep-disturbed', '--threshold=1.5%'],
]
HISTORY = [
    ['--history'], ['--history', '--json'], ['--history', '--html', HTML],
    ['--history', '--threshold', '5', '--confidence', '99'],
    ['--history', '--keep-disturbed', '--json', '--confidence', '99.75'],
]


def fail(message):
    print('same-output: ' + message, file=sys.stderr)
    sys.exit(2)


def run(command, **kwargs):
    result = subprocess.run(command, **kwargs)
    if result.returncode != 0:
        fail('failed: ' + ' '.join(command))


# The executables ------------------------------------------------------------

def build_reference(rev, jobs):
    """REV's cpubench-compare, built once into build/same-output/REV/."""
    commit = subprocess.run(['git', '-C', ROOT, 'rev-parse', '--short', rev + '^{commit}'],
                            capture_output=True, text=True).stdout.strip()
    if not commit:
        fail('no commit ' + rev)
    base = os.path.join(WORK, 'ref-' + commit)
    exe = os.path.join(base, 'build', 'compare', 'cpubench-compare')
    if os.path.exists(exe):
        return exe
    shutil.rmtree(base, ignore_errors=True)
    source = os.path.join(base, 'source')
    os.makedirs(source)
    archive = subprocess.Popen(['git', '-C', ROOT, 'archive', commit], stdout=subprocess.PIPE)
    run(['tar', '-x', '-C', source], stdin=archive.stdout)
    archive.wait()
    # An older tree finds nlohmann/json only on the system: this tree's copy stands in.
    run(['cmake', '-S', source, '-B', os.path.join(base, 'build'), '-DCMAKE_BUILD_TYPE=Release',
         '-DCMAKE_C_COMPILER=gcc', '-DCMAKE_CXX_COMPILER=g++', '-DCPUBENCH_STATIC_RUNTIME=ON',
         '-DBUILD_TESTING=OFF', '-DNLOHMANN_JSON_INCLUDE_DIR=' + os.path.join(ROOT, 'third_party', 'nlohmann_json')],
        stdout=subprocess.DEVNULL)
    run(['cmake', '--build', os.path.join(base, 'build'), '--target', 'cpubench-compare', '-j', str(jobs)],
        stdout=subprocess.DEVNULL)
    return exe


def build_write_tree():
    exe = os.path.join(WORK, 'write-tree')
    sources = [os.path.join(ROOT, 'fuzz', name) for name in ('write-tree.cpp', 'fuzz_input.cpp')]
    run([os.environ.get('CXX', 'c++'), '-std=c++17', '-O1', '-Wall', '-o', exe] + sources)
    return exe


# The inputs -----------------------------------------------------------------

class Case:
    """A folder tree and the command lines run in it."""

    def __init__(self, name):
        self.name = name
        self.dir = os.path.join(WORK, 'cases', name)
        self.tree = os.path.join(self.dir, 'tree')
        os.makedirs(self.tree)
        self.calls = []  # (arguments, standard input file or None, cwd below the tree)

    def path(self, *parts):
        return os.path.join(self.tree, *parts)

    def add(self, variants, paths, stdin=None, cwd=''):
        paths = list(paths)
        if any(p.startswith(b'-' if isinstance(p, bytes) else '-') and p not in ('-', b'-') for p in paths):
            paths = ['--'] + paths
        for variant in variants:
            self.calls.append((list(variant) + paths, stdin, cwd))


def idle_runs():
    return [open(os.path.join(IDLE, 'run-%d.txt' % i), 'rb').read() for i in range(1, 31)]


def scaled(text, factor, labels=None):
    """The run with the times of the lines starting with one of `labels`
    (all lines when None) multiplied by `factor`."""
    out = []
    for line in text.split(b'\n'):
        if labels is None or any(line.startswith(label.encode()) for label in labels):
            line = re.sub(rb' in (\d+\.\d+) s', lambda m: b' in %.3f s' % (float(m.group(1)) * factor), line)
        out.append(line)
    return b'\n'.join(out)


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'wb') as f:
        f.write(data if isinstance(data, bytes) else data.encode())


def record_json(files, state='complete', busy=(), throttled=(), cpus=2, reason=''):
    """A session.json of the recorder: `busy` and `throttled` are (file, line) pairs."""
    runs = []
    for file in files:
        lines = []
        for j, label in enumerate(LABELS):
            other = 1.2 if (file, j) in busy else 0.004
            lines.append({'line': label, 'seconds': 1.0 + j / 4, 'other_cpu_s': other,
                          'steal_s': 0.0 if j % 2 else None, 'run_delay_s': 0.002,
                          'throttle_events': 3 if (file, j) in throttled else 0})
        runs.append({'file': file, 'status': 'complete', 'exit_status': 0, 'lines': lines})
    return json.dumps({'recorder': 'cpubench-record 1.2.0', 'state': state, 'reason': reason,
                       'runs_planned': len(files), 'logical_cpus': cpus, 'runs': runs}, indent=2)


def fuzz_cases(write_tree, target, cases):
    corpus = os.path.join(ROOT, 'fuzz', 'corpus', target)
    for name in sorted(os.listdir(corpus)):
        case = Case('fuzz-%s-%s' % (target, name))
        shutil.rmtree(case.tree)
        run([write_tree, os.path.join(corpus, name), case.dir, target])
        roots = [r for r in open(os.path.join(case.dir, 'roots'), 'rb').read().split(b'\0') if r]
        own = open(os.path.join(case.dir, 'options')).read().split()
        first, second = (COMPARE, HISTORY) if target == 'compare' else (HISTORY, COMPARE)
        case.add(first, roots)
        case.add(second[:1] + second[4:5], roots)
        case.add([own], roots)
        cases.append(case)


def idle_cases(cases):
    texts = idle_runs()
    case = Case('idle-files')
    for i in range(3):
        write(case.path('run-%d.txt' % (i + 1)), texts[i])
    case.add(COMPARE, ['run-1.txt', 'run-2.txt', 'run-3.txt'])
    case.add([[], ['--json']], ['-', 'run-2.txt'], stdin=case.path('run-1.txt'))
    case.add([[]], ['run-1.txt'])
    cases.append(case)

    case = Case('idle-folders')
    for m, (lo, hi, factor) in enumerate([(0, 5, 1.0), (5, 10, 1.0), (10, 15, 1.1), (15, 24, 0.97), (24, 30, 1.0)]):
        for i in range(lo, hi):
            write(case.path('m%d' % (m + 1), 'run-%d.txt' % (i - lo + 1)), scaled(texts[i], factor))
    case.add(COMPARE, ['m1', 'm2', 'm3'])
    case.add(COMPARE[:5], ['m4/', 'm1', 'm5'])
    case.add([[], ['--json']], ['m3', 'm1/run-1.txt', 'm2'])
    case.add(HISTORY[:2], ['m1', 'm2'])
    cases.append(case)

    case = Case('idle-thirty')
    for i, text in enumerate(texts):
        write(case.path('host-%02d.txt' % (i + 1)), scaled(text, 1 + (i % 5) / 40))
    case.add(COMPARE[:7], ['host-%02d.txt' % (i + 1) for i in range(30)])
    cases.append(case)

    case = Case('idle-whole')
    shutil.rmtree(case.tree)
    shutil.copytree(IDLE, case.tree)
    case.add(COMPARE[:5], ['.', '.'])
    case.add(COMPARE[:5] + HISTORY[:2], ['.'], cwd='.')
    cases.append(case)

    case = Case('idle-history')
    for s in range(6):
        for r in range(5):
            write(case.path('ordered', '2026-12-0%dT02.00Z' % (s + 1), 'run-%d.txt' % (r + 1)), texts[s * 5 + r])
    case.add(HISTORY, ['ordered'])
    case.add(COMPARE[:5], ['ordered', 'ordered/2026-12-01T02.00Z'])
    cases.append(case)


def hostile_cases(cases):
    texts = idle_runs()
    case = Case('hostile-odd')
    host, session = case.path('odd', 'host'), case.path('odd', 'history', '2026-12-08T14.05Z')
    for folder in (host, session):
        for i in range(4):
            write(os.path.join(folder, 'run-%d.txt' % (i + 1)), texts[i])
        os.mkfifo(os.path.join(folder, 'run-9.txt'))
        os.mkfifo(os.path.join(folder, 'machine.json'))
        os.symlink('/dev/zero', os.path.join(folder, 'run-8.txt'))
        os.symlink(os.path.join(folder, 'gone'), os.path.join(folder, 'run-7.txt'))
        os.symlink(os.path.join(folder, 'run-6.txt'), os.path.join(folder, 'loop'))
        os.symlink(os.path.join(folder, 'loop'), os.path.join(folder, 'run-6.txt'))
    os.mkfifo(os.path.join(session, 'session.json'))
    case.add(COMPARE, ['odd/host'])
    case.add(HISTORY, ['odd/history'])
    case.add([[]], ['odd/history/2026-12-08T14.05Z'])
    cases.append(case)

    case = Case('hostile-huge')
    for i in range(4):
        write(case.path('host', 'run-%d.txt' % (i + 1)), texts[i])
        write(case.path('info', 'run-%d.txt' % (i + 1)), texts[i])
    with open(case.path('host', 'run-5.txt'), 'wb') as f:
        f.truncate(3 << 30)
    with open(case.path('info', 'machine.json'), 'wb') as f:
        f.truncate(2 << 20)
    case.add([[], ['--json']], ['host'])
    case.add([[], ['--json']], ['/dev/zero'])
    case.add(COMPARE[:5] + HISTORY[:2], ['info'])
    case.add(HISTORY[:2], ['host'])
    cases.append(case)

    case = Case('hostile-names')
    name = b'esc\x1b[31mRED\x07\xc2\x9b<script>x'
    bad = b'bad\xff\x1b'
    top = os.fsencode(case.tree)
    for folder in (name, bad):
        for i in range(4):
            write(os.path.join(top, folder, b'run-%d.txt' % (i + 1)), texts[i + 4 * (folder == bad)])
    write(os.path.join(top, name, b'machine.json'),
          r'''{"processor": "cpu\u001b]0;title\u0007", "os": "<img src=x onerror=alert(1)>",
              "kernel": "\" onmouseover=\"alert(1)", "mitigations": {"flaw\u009b": "Vulnerable\u001b[2J"}}''')
    write(os.path.join(top, bad, b'machine.json'), '{broken')
    case.add(COMPARE, [name, bad])
    case.add(HISTORY, [name])
    case.add(HISTORY[:2], [name, bad])
    cases.append(case)


def history_of(case, host, sessions):
    """`sessions`: (name, [texts], machine.json dict or None, session.json text or None)."""
    for name, runs, facts, record in sessions:
        for r, text in enumerate(runs):
            write(case.path(host, name, 'run-%d.txt' % (r + 1)), text)
        if facts is not None:
            write(case.path(host, name, 'machine.json'), json.dumps(facts))
        if record is not None:
            write(case.path(host, name, 'session.json'), record)


def generated_histories(cases):
    texts = idle_runs()
    kernel = {'kernel': '6.1.0-26-amd64', 'glibc': '2.36', 'cpubench_version': '1.2.0'}
    newer = dict(kernel, kernel='6.1.0-27-amd64', microcode='0xa0011d3')
    case = Case('gen-histories')
    day = '2026-11-%02dT02.00Z'
    history_of(case, 'step', [(day % (s + 1), [scaled(texts[(3 * s + r) % 30], 1.15 if s >= 5 else 1,
                                                      ['GMP', 'Copy']) for r in range(3)],
                               newer if s >= 5 else kernel, None) for s in range(10)])
    for at, host in ((2, 'busy-back'), (5, 'busy-newest')):
        history_of(case, host, [(day % (s + 1), [scaled(texts[(5 * s + r + 3) % 30], 1.4 if s == at else 1,
                                                        ['double', 'SSE2', 'GMP', 'INT64']) for r in range(5)],
                                 kernel, None) for s in range(6)])
    history_of(case, 'wrong', [(day % (s + 1), [texts[4 * s + r].replace(b'= 54885', b'= 54886' if s >= 2 else b'= 54885')
                                                for r in range(4)], kernel, None) for s in range(4)])
    history_of(case, 'short', [(day % (s + 1), [scaled(texts[4 * s + r + 1], 1.3 if s == 2 else 1, ['GMP'])
                                                for r in range(4)], newer if s == 2 else kernel, None)
                               for s in range(3)])
    files = ['run-%d.txt' % (r + 1) for r in range(4)]
    history_of(case, 'recorded', [
        (day % 1, texts[0:4], kernel, record_json(files)),
        (day % 2, texts[4:8], kernel, record_json(files, busy={('run-2.txt', 2), ('run-3.txt', 0)},
                                                  throttled={('run-4.txt', 8)})),
        (day % 3, texts[8:12], kernel, record_json(files, 'recording')),
        (day % 4, texts[12:16], kernel, record_json(files, 'incomplete', reason='stopped by SIGINT during run 4 of 5')),
        (day % 5, texts[16:20], kernel, '{"state": "complete", "runs": 3}'),
        (day % 6, texts[20:24], kernel, record_json(files, busy={(f, j) for f in files for j in range(9)})),
    ])
    write(case.path('recorded', day % 4, 'run-5.partial.txt'), texts[24][:400])
    # The layout before sessions, session names out of order, a folder that
    # is no session, a file that is no transcript, a session without runs.
    history_of(case, 'layout', [(name, [scaled(texts[i], 1 + i / 20)] * 2, {'kernel': name}, None)
                                for i, name in enumerate(['2026-12-08T14.05Z-10', '2026-12-01T09.00Z',
                                                          '2026-12-08T14.05Z-2', '2026-12-08T14.05Z'])])
    write(case.path('layout', 'run-1.txt'), scaled(texts[5], 0.5))
    write(case.path('layout', 'machine.json'), '{"kernel": "5.10"}')
    write(case.path('layout', '2026-12-08T14.05Z', 'notes.txt'), 'not a run')
    write(case.path('layout', 'backup', 'run-1.txt'), scaled(texts[6], 9))
    write(case.path('layout', '2026-12-09T08.00Z', 'machine.json'), '{}')
    write(case.path('empty', 'readme.md'), 'nothing')
    hosts = ['step', 'busy-back', 'busy-newest', 'wrong', 'short', 'recorded', 'layout']
    for host in hosts:
        case.add(HISTORY, [host])
    case.add(HISTORY[:2], hosts)
    case.add(HISTORY[:2], ['empty'])
    case.add(HISTORY[:1], ['layout/2026-12-01T09.00Z', 'step'])
    case.add(COMPARE, hosts)
    case.add(COMPARE[:5], ['recorded', 'layout', 'layout/2026-12-01T09.00Z', 'recorded/' + day % 4])
    case.add([[]], ['empty'])
    cases.append(case)

    case = Case('gen-fleet')
    for m in range(8):
        history_of(case, 'host-%d' % (m + 1), [
            ('2026-10-%02dT03.00Z' % (s + 1), [scaled(texts[(m * 7 + s * 3 + r) % 30],
                                                      (1.2 if s >= 8 and m % 3 == 0 else 1) * (1 + m / 50),
                                                      LABELS[m % 9:m % 9 + 3])
                                               for r in range(3)],
             newer if s >= 8 else kernel, None) for s in range(12)])
    hosts = ['host-%d' % (m + 1) for m in range(8)]
    case.add(HISTORY, hosts)
    case.add(COMPARE[:7], hosts)
    cases.append(case)


def generated_comparisons(cases):
    texts = idle_runs()
    case = Case('gen-compare')
    for i in range(10):
        write(case.path('ten', 'run-%d.txt' % (i + 1)), texts[i])
        write(case.path('ten-slow', 'run-%d.txt' % (i + 1)), scaled(texts[10 + i], 1.06))
        write(case.path('ten-same', 'run-%d.txt' % (i + 1)), texts[20 + i])
    for i in range(4):
        write(case.path('four', 'run-%d.txt' % (i + 1)), scaled(texts[i + 3], 0.9))
    for i, text in enumerate(texts[:2]):
        write(case.path('two', 'run-%d.txt' % (i + 1)), text)
    mixed = [texts[0], texts[1].replace(b'= 54885', b'= 54895'), texts[2][:300], texts[3],
             scaled(texts[4], 1.6, ['GMP']), texts[5].replace(b'1.10599194636449', b'1.5')]
    for i, text in enumerate(mixed):
        write(case.path('mixed', 'run-%d.txt' % (i + 1)), text)
    write(case.path('mixed', 'machine.json'), '{"processor": "Test <CPU>", "logical_cpus": 8, "memory_mib": 16000}')
    for i, text in enumerate([texts[6].replace(b'in 14.', b'nicht genug Speicher'), b'Error mpz_mod',
                              texts[7].replace(b'in 2.', b'in 0.000 s'), texts[8].replace(b'in 1.', b'in 90000.000 s')]):
        write(case.path('flawed', 'run-%d.txt' % (i + 1)), text)
    write(case.path('flawed', 'machine.json'), '{"os": 12}')
    write(case.path('utf16', 'run-1.txt'), b'\xff\xfe' + texts[9].replace(b'\n', b'\r\n').decode('latin-1').encode('utf-16-le'))
    write(case.path('utf16', 'run-2.txt'), b'\xef\xbb\xbf' + texts[10] + b'\nuser@host:~$ ')
    write(case.path('long-name-of-a-machine-in-the-rack-number-twenty-eight-of-the-lab', 'run-1.txt'), texts[11])
    write(case.path('notes.txt'), 'shopping list\n')
    for paths in (['ten', 'ten-slow', 'ten-same'], ['ten', 'four', 'ten-slow', 'two'], ['mixed', 'ten', 'flawed'],
                  ['four', 'utf16', 'two', 'long-name-of-a-machine-in-the-rack-number-twenty-eight-of-the-lab'],
                  ['flawed']):
        case.add(COMPARE, paths)
    case.add([[], ['--json']], ['ten', 'notes.txt', 'missing.txt'])
    cases.append(case)


def usage_cases(cases):
    case = Case('usage')
    write(case.path('a.txt'), idle_runs()[0])
    for arguments in ([], ['--help'], ['-h'], ['--bogus', 'a.txt'], ['--json', '--markdown', 'a.txt'],
                      ['--history', '--markdown', 'a.txt'], ['--history', '--by-machine', '.'], ['--history'],
                      ['--threshold', '60', 'a.txt'], ['--threshold=abc', 'a.txt'], ['--confidence', '40', 'a.txt'],
                      ['--confidence=99.95', 'a.txt'], ['--threshold'], ['--html'], ['--html=', 'a.txt'],
                      ['--html', '/nonexistent/folder/report.html', 'a.txt'],
                      ['--history', '--html', '/nonexistent/folder/report.html', '.'], ['--history', 'a.txt'],
                      ['--', '--json', 'a.txt'], ['--threshold', '2%', '--confidence', '95%', 'a.txt'],
                      ['--threshold', '0', 'a.txt', 'a.txt']):
        case.calls.append((arguments, None, ''))
    cases.append(case)


# Running and comparing --------------------------------------------------------

def execute(exe, case, index, out):
    arguments, stdin, cwd = case.calls[index]
    page = os.path.join(WORK, 'pages', '%s-%d.html' % (case.name, index))
    arguments = [a.replace(HTML, page) if isinstance(a, str) else a for a in arguments]
    try:
        os.remove(page)
    except FileNotFoundError:
        pass
    with open(stdin or os.devnull, 'rb') as given:
        try:
            result = subprocess.run([exe] + arguments, stdin=given, capture_output=True, timeout=120,
                                    cwd=os.path.join(case.tree, cwd))
            stdout, stderr, status = result.stdout, result.stderr, str(result.returncode)
        except subprocess.TimeoutExpired:
            stdout, stderr, status = b'', b'', 'timeout'
    base = os.path.join(out, case.name, str(index))
    os.makedirs(os.path.dirname(base), exist_ok=True)
    write(base + '.out', stdout)
    write(base + '.err', stderr)
    write(base + '.status', status + '\n')
    if os.path.exists(page):
        shutil.move(page, base + '.html')


def without(value, keys):
    if isinstance(value, dict):
        return {k: without(v, keys) for k, v in value.items() if k not in keys}
    if isinstance(value, list):
        return [without(v, keys) for v in value]
    return value


def same_json(reference, current, keys):
    try:
        return json.loads(reference) == without(json.loads(current), keys)
    except ValueError:
        return False


def arguments_text(case, index):
    return ' '.join(a if isinstance(a, str) else os.fsdecode(a) for a in case.calls[index][0])


def compare(cases, runs, added, show, listed):
    differing, only_added, total = [], 0, 0
    for case in cases:
        for index, (arguments, _, _) in enumerate(case.calls):
            for ending in ('.out', '.err', '.status', '.html'):
                files = [os.path.join(runs[label], case.name, str(index) + ending) for label in ('reference', 'current')]
                data = [open(f, 'rb').read() if os.path.exists(f) else None for f in files]
                total += 1
                if data[0] == data[1]:
                    continue
                if ending == '.out' and added and '--json' in arguments and None not in data and \
                        same_json(data[0], data[1], added):
                    only_added += 1
                    continue
                differing.append((case, index, ending, data))
    print('%d outputs of %d runs compared: %d differ%s' % (
        total, total // 4, len(differing), ', %d JSON documents differ only by the added fields' % only_added
        if added else ''))
    kinds = {}
    for case, index, ending, _ in differing:
        kinds.setdefault(('-'.join(case.name.split('-')[:2]), ending), []).append(case.name)
    for (group, ending), names in sorted(kinds.items()):
        print('  %-20s %-8s %5d' % (group, ending, len(names)))
    if listed:
        for case, index, ending, _ in differing:
            print('  %s/%d%s: %s' % (case.name, index, ending, arguments_text(case, index)))
    for case, index, ending, data in differing[:show]:
        print('\n--- %s %s (%s)' % (case.name, ending, arguments_text(case, index)))
        texts = [(d or b'').decode('utf-8', 'backslashreplace').splitlines() for d in data]
        for line in list(difflib.unified_diff(texts[0], texts[1], 'reference', 'current', lineterm='', n=1))[:40]:
            print(line)
    return 1 if differing else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n\n')[0])
    parser.add_argument('--reference', default='main', help='the commit to build the reference from (main)')
    parser.add_argument('--reference-exe', help='a reference executable, instead of building one')
    parser.add_argument('--exe', default=os.path.join(ROOT, 'build', 'release', 'compare', 'cpubench-compare'))
    parser.add_argument('--jobs', type=int, default=2)
    parser.add_argument('--json-added', default='', help='fields the change adds to the JSON, comma-separated')
    parser.add_argument('--show', type=int, default=12, help='how many differences to print')
    parser.add_argument('--list', action='store_true', help='name every output that differs')
    parser.add_argument('--no-run', action='store_true', help='compare the outputs of the last run again')
    options = parser.parse_args()
    if not os.path.exists(options.exe):
        fail(options.exe + ': no such executable (build the release preset first)')
    os.makedirs(WORK, exist_ok=True)
    reference = options.reference_exe or build_reference(options.reference, options.jobs)
    write_tree = build_write_tree()
    for folder in ('cases', 'pages') if options.no_run else ('cases', 'runs', 'pages'):
        shutil.rmtree(os.path.join(WORK, folder), ignore_errors=True)
    os.makedirs(os.path.join(WORK, 'pages'))
    cases = []
    fuzz_cases(write_tree, 'compare', cases)
    fuzz_cases(write_tree, 'history', cases)
    idle_cases(cases)
    hostile_cases(cases)
    generated_histories(cases)
    generated_comparisons(cases)
    usage_cases(cases)
    runs = {'reference': os.path.join(WORK, 'runs', 'reference'), 'current': os.path.join(WORK, 'runs', 'current')}
    print('reference: %s\ncurrent:   %s\n%d cases, %d command lines each' % (
        reference, options.exe, len(cases), sum(len(c.calls) for c in cases)))

    def both(item):
        case, index = item
        execute(reference, case, index, runs['reference'])
        execute(options.exe, case, index, runs['current'])

    if not options.no_run:
        with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
            list(pool.map(both, [(case, i) for case in cases for i in range(len(case.calls))]))
    added = {key for key in options.json_added.split(',') if key}
    return compare(cases, runs, added, options.show, options.list)


if __name__ == '__main__':
    sys.exit(main())
