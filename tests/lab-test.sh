#!/usr/bin/env bash
# The lab playbook (lab/lab.yml) run for real over SSH against this machine:
# an OpenSSH server of the test's own on 127.0.0.1, with keys made for the
# test, and an inventory of two hosts that both point at it and a third
# whose port nothing listens on. One benchmark run per host, from the real
# Linux tarball, in batches of one and two hosts: the unreachable host
# alone, then the other two at the same time. Then a second lab run of the
# two in one batch, as hosts that share hardware, which must record one
# after the other and keep the first sessions beside their own. Nothing is
# sent to any address but 127.0.0.1.
#
# Usage: tests/lab-test.sh PACKAGE     (the tarball, or the folder holding it)
#
# The playbook run is the tarball's copy; ansible-lint checks the source's.
#
# Needs sshd (openssh-server), ansible-playbook (ansible-core) and
# ansible-lint. Run as root (as CI does), sshd makes /run/sshd if missing.
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 PACKAGE" >&2
    exit 2
fi
package=$1
if [ -d "$package" ]; then
    matches=("$package"/cpubench-*-linux-x86_64.tar.gz)
    [ ${#matches[@]} -eq 1 ] && [ -f "${matches[0]}" ] \
        || { echo "$0: expected exactly one Linux tarball in $package" >&2; exit 1; }
    package=${matches[0]}
fi
package=$(realpath "$package")
source_dir=$(cd "$(dirname "$0")/.." && pwd)

work=$(mktemp -d)
sshd_pid=""
cleanup() {
    if [ -n "$sshd_pid" ]; then
        kill "$sshd_pid" 2>/dev/null || true
        wait "$sshd_pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Ansible and its linter keep everything in the test's folder, read no
# configuration of the machine's, and fetch nothing.
export ANSIBLE_CONFIG="$work/ansible.cfg" ANSIBLE_HOME="$work/ansible-home"
export ANSIBLE_LOCAL_TEMP="$work/ansible-local" ANSIBLE_RETRY_FILES_ENABLED=false
export ANSIBLE_HOST_KEY_CHECKING=false ANSIBLE_PYTHON_INTERPRETER=auto_silent
export ANSIBLE_NOCOLOR=true ANSIBLE_FORCE_COLOR=false
# No connection outlives its task, so the server ends with no session left.
export ANSIBLE_SSH_ARGS="-o ControlMaster=no -o ControlPersist=no"
: >"$ANSIBLE_CONFIG"

echo "== ansible-lint"
(cd "$source_dir" && ansible-lint --offline --profile production -q lab/) \
    || fail "ansible-lint finds faults in the playbook"

# The playbook and cpubench-compare as the tarball ships them.
unpacked=$work/unpacked
mkdir "$unpacked"
tar -xzf "$package" -C "$unpacked" --strip-components=1
lab=$unpacked/share/cpubench/lab
[ -f "$lab/lab.yml" ] || { echo "$0: the tarball holds no share/cpubench/lab/lab.yml" >&2; exit 1; }

# A port free now on 127.0.0.1 (the kernel picks it).
free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}
port=$(free_port)
closed_port=$(free_port)
while [ "$closed_port" = "$port" ]; do closed_port=$(free_port); done

ssh-keygen -q -t ed25519 -N "" -f "$work/host_key"
ssh-keygen -q -t ed25519 -N "" -f "$work/client_key"
user=$(id -un)
cat >"$work/sshd_config" <<EOF
ListenAddress 127.0.0.1
Port $port
HostKey $work/host_key
PidFile $work/sshd.pid
AuthorizedKeysFile $work/client_key.pub
AllowUsers $user
PermitRootLogin prohibit-password
PasswordAuthentication no
KbdInteractiveAuthentication no
UsePAM no
StrictModes no
Subsystem sftp internal-sftp
EOF
[ "$(id -u)" -ne 0 ] || mkdir -p /run/sshd
/usr/sbin/sshd -D -e -f "$work/sshd_config" 2>"$work/sshd.log" &
sshd_pid=$!
listening=false
for _ in $(seq 200); do
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && { listening=true; break; }
    kill -0 "$sshd_pid" 2>/dev/null || break
    sleep 0.1
done
$listening || { cat "$work/sshd.log" >&2; echo "$0: sshd did not start" >&2; exit 1; }

# inventory FILE [HOST-VARIABLES]: the three hosts, the unreachable one first.
inventory() {
    cat >"$1" <<EOF
[lab]
gone ansible_host=127.0.0.1 ansible_port=$closed_port
alpha ansible_host=127.0.0.1 ansible_port=$port ${2:-}
beta ansible_host=127.0.0.1 ansible_port=$port ${2:-}

[lab:vars]
ansible_user=$user
ansible_ssh_private_key_file=$work/client_key
ansible_ssh_common_args=-F /dev/null -o UserKnownHostsFile=/dev/null -o ConnectTimeout=10
# Ansible's own working files on the "hosts" stay in the test's folder.
ansible_remote_tmp=$work/remote-tmp
EOF
}
inventory "$work/hosts.ini"
inventory "$work/hosts-shared.ini" hardware=one-box

# The batches of a play's log: per batch of the benchmark play, the hosts
# that ran cpubench-record in each turn, as "alpha beta|..." one batch a line.
batches() {
    python3 - "$1" <<'EOF'
import re, sys
batches, turn = [], None
for line in open(sys.argv[1]):
    if line.startswith("PLAY ["):
        turn = None
        if line.startswith("PLAY [Benchmark each host]"):
            batches.append([])
    elif line.startswith("TASK ["):
        turn = [] if line.startswith("TASK [Run cpubench-record]") and batches else None
        if turn is not None:
            batches[-1].append(turn)
    elif turn is not None:
        found = re.match(r"(?:ok|changed|failed|fatal): \[([^]]+)\]", line)
        if found:
            turn.append(found.group(1))
for batch in batches:
    print("|".join(" ".join(sorted(turn)) for turn in batch))
EOF
}

# The playbook's temporary directories are made in the system's /tmp of the
# "hosts", which here is this machine's.
tmpdirs() { find /tmp -maxdepth 1 -name 'cpubench-lab.*' | sort; }
before=$(tmpdirs)

echo "== the lab playbook over SSH: an unreachable host, then two hosts at once, one run each"
set +e
(cd "$work" && ansible-playbook -i hosts.ini "$lab/lab.yml" \
    -e "package=$package" -e runs=1 -e results=results -e '{"batch": [1, 2]}') 2>&1 | tee "$work/play.log"
status=${PIPESTATUS[0]}
set -e
[ "$status" -ne 0 ] || fail "the play ended with status 0 although a host was unreachable"
grep -q '"msg": "Hosts with a problem: gone: unreachable' "$work/play.log" \
    || fail "the end of the play does not name the unreachable host"
# A batch of the unreachable host alone (nothing recorded), then one of
# both others, recording at the same time.
[ "$(batches "$work/play.log" | tr '\n' ';')" = ";alpha beta;" ] \
    || fail "not the batches [gone] and [alpha, beta] recording together: $(batches "$work/play.log" | tr '\n' ';')"

results=$work/results
version=$(basename "$package" | sed -n 's/^cpubench-\(.*\)-linux-x86_64[.]tar[.]gz$/\1/p')
glibc=$(getconf GNU_LIBC_VERSION | sed 's/^glibc //')
# A host's session folders: the sub-directories that hold transcripts.
sessions() { find "$results/$1" -mindepth 2 -maxdepth 2 -name '*.txt' -printf '%h\n' | sort -u; }
# A session's transcript (complete and exact) and its machine.json: the
# description as before, and the facts that updates change, each present
# exactly when this machine has its source.
check_session() {
    local host=$1 session=$2
    [ -f "$session/run-1.txt" ] || { fail "$host: no transcript in $session"; return; }
    [ ! -e "$session/run-2.txt" ] || fail "$host: more runs than asked for"
    "$unpacked/bin/cpubench-compare" "$session/run-1.txt" >/dev/null \
        || fail "$host: the transcript is not complete and exact"
    python3 - "$session/machine.json" "$version" "$glibc" <<'EOF' || fail "$host: $session/machine.json is not as agreed"
import json, os, re, sys
machine = json.load(open(sys.argv[1]))
for key in ("processor", "os", "kernel", "virtualization"):
    assert isinstance(machine[key], str) and machine[key], key
for key in ("logical_cpus", "memory_mib"):
    assert isinstance(machine[key], int) and machine[key] > 0, key
assert machine["cpubench_version"] == sys.argv[2], machine.get("cpubench_version")
assert machine["glibc"] == sys.argv[3], machine.get("glibc")
assert os.path.isfile(machine["gmp"]) and os.path.basename(machine["gmp"]).startswith("libgmp.so.10"), machine.get("gmp")
assert re.fullmatch(r"[0-9]+\.[0-9]+(\.[0-9]+)?", machine["gmp_version"]), machine.get("gmp_version")
flaws = "/sys/devices/system/cpu/vulnerabilities"
if os.path.isdir(flaws):
    assert sorted(machine["mitigations"]) == sorted(os.listdir(flaws)), machine.get("mitigations")
    assert all(isinstance(text, str) and text for text in machine["mitigations"].values())
def has(path):
    try:
        with open(path) as file:
            return file.read().strip() != ""
    except OSError:
        return False
# Present exactly where this machine has the source (a KVM guest often has
# no cpufreq and no DMI tables).
sources = {"governor": "/sys/devices/system/cpu/cpu0/cpufreq/scaling_governor",
           "firmware_version": "/sys/class/dmi/id/bios_version"}
for key, path in sources.items():
    assert (key in machine) == has(path), key
with open("/proc/cpuinfo") as cpuinfo:
    microcode = "\nmicrocode" in cpuinfo.read()
assert ("microcode" in machine) == (microcode or has("/sys/devices/system/cpu/cpu0/microcode/version")), "microcode"
EOF
}

for host in alpha beta; do
    found=$(sessions "$host")
    if [ "$(echo "$found" | grep -c .)" -ne 1 ]; then
        fail "$host: not one session folder but: $found"
        continue
    fi
    [[ $(basename "$found") =~ ^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}[.][0-9]{2}Z$ ]] \
        || fail "$host: the session folder is not named by the start in UTC: $found"
    check_session "$host" "$found"
done
first_alpha=$(sessions alpha | head -1)
[ "$(sessions alpha | xargs -rn1 basename)" = "$(sessions beta | xargs -rn1 basename)" ] \
    || fail "the hosts of one lab run have sessions of different names"
[ ! -e "$results/gone" ] || fail "the unreachable host has a results folder"
# report.txt, the table, is written only once cpubench-compare has made
# report.html on the controller.
[ -s "$results/report.html" ] && [ -s "$results/report.txt" ] || fail "no report made by cpubench-compare"
for host in alpha beta; do
    grep -q "$host" "$results/report.html" || fail "the report does not show $host"
done
[ "$(tmpdirs)" = "$before" ] || fail "temporary directories left behind: $(comm -13 <(echo "$before") <(tmpdirs) | tr '\n' ' ')"

# A second lab run, of alpha and beta (--limit) in one batch as hosts that
# share hardware. The folders of this minute and the next two are taken
# already under alpha (as by a lab run of the same minute): the sessions
# must go beside them, not into one, and the first sessions must stay.
first_beta=$(sessions beta | head -1)
taken=()
for minutes in 0 1 2; do
    taken+=("$results/alpha/$(date -u -d "+$minutes min" +%Y-%m-%dT%H.%MZ)")
done
mkdir -p "${taken[@]}"
echo "== the lab playbook again, alpha and beta in one batch, sharing hardware"
set +e
(cd "$work" && ansible-playbook -i hosts-shared.ini "$lab/lab.yml" --limit 'alpha:beta' \
    -e "package=$package" -e runs=1 -e results=results -e batch=100%) 2>&1 | tee "$work/play2.log"
status=${PIPESTATUS[0]}
set -e
[ "$status" -eq 0 ] || fail "the second lab run ended with status $status"
[ "$(batches "$work/play2.log" | tr '\n' ';')" = "alpha|beta;" ] \
    || fail "hosts of one hardware did not record one after the other: $(batches "$work/play2.log" | tr '\n' ';')"
for folder in "${taken[@]}"; do
    [ -z "$(ls -A "$folder")" ] || fail "the second lab run wrote into $folder, the folder of another lab run"
done
for host in alpha beta; do
    first=$first_alpha
    [ "$host" = alpha ] || first=$first_beta
    [ -n "$first" ] && [ -f "$first/run-1.txt" ] && [ -f "$first/machine.json" ] \
        || fail "the second lab run did not keep $host's first session $first"
    second=$(sessions "$host" | grep -vxF "$first" || true)
    if [ "$(echo "$second" | grep -c .)" -ne 1 ]; then
        fail "$host: not one new session folder but: $second"
    else
        [[ $(basename "$second") =~ Z-2$ ]] \
            || fail "$host: the new session is not named after the taken folder: $second"
        check_session "$host" "$second"
        grep -qF "Newest session compared: $(basename "$second") for alpha, beta" "$results/report.txt" \
            || fail "the second report does not compare $host's new session"
    fi
done
[ "$(tmpdirs)" = "$before" ] || fail "temporary directories left behind by the second lab run"

if [ $failures -ne 0 ]; then
    echo "$failures lab check(s) failed" >&2
    exit 1
fi
echo "lab test: passed"
