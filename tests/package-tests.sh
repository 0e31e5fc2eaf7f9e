#!/usr/bin/env bash
# Runs the Linux packages as users would, on machines that have never seen
# the source, and checks what the README and doc/packaging.md promise of
# them.
#
# Usage (as root): tests/package-tests.sh PACKAGE_DIR DEBIAN11_DIR RELEASE_DIR
#   e.g. cmake --workflow --preset release
#        scripts/build-linux-packages.sh
#        tests/package-tests.sh build/packages build/bullseye build/release
#
# DEBIAN11_DIR holds the Debian 11 roots the build script makes: minbase
# (as debootstrap made it, without libgomp1) and root (with the build
# dependencies, among them libgomp1 and libgmp10). Both are left as they
# were: the .deb is installed into a throwaway copy of minbase. RELEASE_DIR
# is the build of the release preset, from the same tree.
#
# - The checks of the machine code (codecheck.py) on the Debian 11 build.
# - The loops of the workloads in the programs the packages ship are those
#   of the release preset's build, registers and addresses aside
#   (sameloops.py), so that a run of a package and a run of one's own
#   build time the same instructions.
# - Host checks: the .deb's files and declared dependencies, the man pages
#   (groff without warnings), the C++ and GCC runtimes linked in; the
#   newest glibc that cpubench needs is at most Debian 11's (2.31) and at
#   most what doc/packaging.md says (which the README's install table
#   repeats); cpubench-compare and cpubench-record need no library at all.
# - Every package holds the README and every guide of the source's doc/:
#   the .deb compressed, the tarball's copies with links that resolve.
# - The tarball, unpacked, records a session on this machine with its
#   cpubench-record and runs a whole transcript in the Debian 11 root; the
#   packaged cpubench-compare finds them complete and exact (exit 0).
# - The .deb installs with apt-get into Debian 11 with its dependencies
#   from that release, runs there, and is removed again.
# - cpubench-compare checks a transcript in a root that holds nothing but
#   itself and the transcript.
# - The RPM's requirements, files, licence and documentation marks, and that
#   its programs are the tarball's.
set -euo pipefail

if [ $# -ne 3 ]; then
    echo "usage: $0 PACKAGE_DIR DEBIAN11_DIR RELEASE_DIR" >&2
    exit 2
fi
[ "$(id -u)" -eq 0 ] || { echo "$0: the Debian 11 roots need root (chroot)" >&2; exit 2; }
packages=$(cd "$1" && pwd)
debian11=$(cd "$2" && pwd)
[ -d "$debian11/minbase" ] && [ -d "$debian11/root" ] \
    || { echo "$0: no Debian 11 roots in $debian11 (scripts/build-linux-packages.sh makes them)" >&2; exit 2; }
release=$(cd "$3" && pwd)/cpubench
[ -x "$release" ] || { echo "$0: no $release (cmake --workflow --preset release builds it)" >&2; exit 2; }
source=$(cd "$(dirname "$0")/.." && pwd)
# The README and the guides every package carries, as the source lays them
# out, and the picture.
guides=(README.md CONTRIBUTING.md)
for guide in "$source"/doc/*.md; do guides+=("doc/$(basename "$guide")"); done
# Beside the roots, not in /tmp, which may forbid device files or programs.
work=$(mktemp -d "$debian11/test.XXXXXX")
inroot=$debian11/root/tmp/package-test
mounts=()
cleanup() {
    local dir
    for dir in "${mounts[@]}"; do umount "$dir" || true; done
    rm -rf --one-file-system "$work" "$inroot"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# Mounts /proc in a root until the end.
mount_proc() {
    mount -t proc proc "$1/proc"
    mounts+=("$1/proc")
}
# Runs a command in a root.
in_root() {
    local dir=$1; shift
    chroot "$dir" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"
}

only() {
    local matches=("$packages"/$1)
    [ ${#matches[@]} -eq 1 ] && [ -f "${matches[0]}" ] \
        || { echo "$0: expected exactly one $1 in $packages" >&2; exit 1; }
    echo "${matches[0]}"
}
# Whether version $1 is at most version $2.
at_most() { [ "$(printf '%s\n%s\n' "$1" "$2" | sort -V | tail -n 1)" = "$2" ]; }

# The newest glibc cpubench may need: Debian 11's, and what the packaging
# guide says, which the README's install table must repeat.
debian11Glibc=2.31
guideGlibc=$(tr '\n' ' ' <"$source/doc/packaging.md" | tr -s ' ' | grep -o '`cpubench` needs glibc [0-9.]*[0-9]' | head -n 1 | awk '{print $4}' || true)
[ -n "$guideGlibc" ] || fail "doc/packaging.md does not say which glibc cpubench needs"
for figure in $(tr '\n' ' ' <"$source/README.md" | tr -s ' ' | grep -o 'glibc [0-9.]*[0-9] or later' | awk '{print $2}' || true); do
    [ "$figure" = "$guideGlibc" ] || fail "the README says glibc $figure, doc/packaging.md $guideGlibc"
done

# Checks one unpacked tree: BIN_DIR MAN_DIR
check_tree() {
    local bin=$1 man=$2 name
    local newest
    newest=$(objdump -T "$bin/cpubench" | grep -o 'GLIBC_[0-9.]*[0-9]' | sed 's/GLIBC_//' | sort -V | tail -n 1)
    echo "cpubench needs glibc $newest"
    at_most "$newest" "$debian11Glibc" || fail "cpubench needs glibc $newest, newer than Debian 11's $debian11Glibc"
    at_most "$newest" "${guideGlibc:-0}" || fail "cpubench needs glibc $newest, doc/packaging.md says ${guideGlibc:-nothing}"
    # (Each tool's output is read whole: grep -q leaving a pipe early would
    # fail the pipeline.)
    grep -Eq 'NEEDED.*(libstdc\+\+|libgcc_s)' <<< "$(objdump -p "$bin/cpubench")" \
        && fail "cpubench links the C++ or GCC runtime dynamically"
    # Fully static: no program interpreter and no library to load.
    for name in cpubench-compare cpubench-record; do
        grep -q 'INTERP' <<< "$(readelf -lW "$bin/$name")" && fail "$name has a program interpreter"
        grep -q 'NEEDED' <<< "$(readelf -dW "$bin/$name")" && fail "$name needs a shared library"
    done
    for name in cpubench cpubench-compare cpubench-record; do
        local page=$man/$name.1.gz
        if [ -f "$page" ]; then
            local warnings
            warnings=$(zcat "$page" | groff -man -ww -z 2>&1)
            [ -z "$warnings" ] || fail "$page: $warnings"
        else
            fail "$page is missing"
        fi
    done
}

# The shipped programs come from another compiler than the tests' build:
# the checks of the machine code hold for them too (on the build before
# it was stripped for the packages, which the build script leaves in the
# root).
echo "== the machine code of the Debian 11 build"
python3 "$(dirname "$0")/codecheck.py" "$debian11/root/build/cpubench" >/dev/null \
    || fail "the machine code checks fail on the Debian 11 build (tests/codecheck.py $debian11/root/build/cpubench)"

deb=$(only 'cpubench_*_amd64.deb')
echo "== $(basename "$deb")"
mkdir "$work/deb"
dpkg-deb -x "$deb" "$work/deb"
[ -f "$work/deb/usr/share/doc/cpubench/copyright" ] || fail "the .deb has no copyright file"
# The JSON library compiled into two of the programs has its licence there.
grep -q '^Files: third_party/nlohmann_json/\*$' "$work/deb/usr/share/doc/cpubench/copyright" \
    || fail "the .deb's copyright file does not name nlohmann/json"
for guide in "${guides[@]}"; do
    gzip -t "$work/deb/usr/share/doc/cpubench/$guide.gz" 2>/dev/null || fail "the .deb lacks $guide.gz or it is broken"
done
[ -f "$work/deb/usr/share/doc/cpubench/doc/report.png" ] || fail "the .deb lacks doc/report.png"
depends=$(dpkg-deb -f "$deb" Depends)
for dependency in libgmp10 libgomp1 libc6; do
    grep -Eq "(^|, )$dependency( |,|$)" <<< "$depends" || fail "the .deb does not depend on $dependency ($depends)"
done
check_tree "$work/deb/usr/bin" "$work/deb/usr/share/man/man1"

echo "== the .deb installed with apt-get in Debian 11"
cp -a "$debian11/minbase" "$work/debian11"
cp "$deb" "$work/debian11/tmp/"
mount_proc "$work/debian11"
in_root "$work/debian11" apt-get update -q >/dev/null
if in_root "$work/debian11" DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        "/tmp/$(basename "$deb")" >"$work/apt.log" 2>&1; then
    version=$(in_root "$work/debian11" dpkg-query -W -f '${Version}' libgomp1)
    [[ $version == 10.* ]] || fail "libgomp1 $version did not come from Debian 11"
    status=0
    in_root "$work/debian11" cpubench </dev/null >"$work/debian11/tmp/run.txt" || status=$?
    [ $status -eq 0 ] || fail "the installed cpubench ended with status $status in Debian 11"
    in_root "$work/debian11" cpubench-compare /tmp/run.txt || fail "the installed cpubench-compare rejects the transcript"
    in_root "$work/debian11" apt-get remove -y -q cpubench >"$work/apt.log" 2>&1 \
        || { cat "$work/apt.log" >&2; fail "apt-get cannot remove the .deb"; }
    [ ! -e "$work/debian11/usr/bin/cpubench" ] || fail "apt-get remove left /usr/bin/cpubench"
else
    cat "$work/apt.log" >&2
    fail "the .deb does not install in Debian 11"
fi

tarball=$(only 'cpubench-*-linux-x86_64.tar.gz')
echo "== $(basename "$tarball")"
mkdir "$work/tar"
tar -xzf "$tarball" -C "$work/tar"
top=("$work"/tar/*)
[ ${#top[@]} -eq 1 ] || fail "the tarball holds ${#top[@]} top-level entries, not one folder"
tree=${top[0]}
check_tree "$tree/bin" "$tree/share/man/man1"

echo "== the loops of the shipped cpubench and of the release build"
# The Debian 11 build before stripping has the symbols to find the loops
# by; the .deb's and the tarball's programs must be that build (the RPM's
# is the tarball's, checked below).
python3 "$source/tests/sameloops.py" --stripped "$work/deb/usr/bin/cpubench" --stripped "$tree/bin/cpubench" \
    "$release" "$debian11/root/build/cpubench" >"$work/sameloops.txt" 2>&1 \
    || { grep -v '^ok' "$work/sameloops.txt" >&2 || true; fail "the shipped cpubench does not run the release build's loops (tests/sameloops.py)"; }
for guide in "${guides[@]}" doc/report.png LICENSE LICENSE.nlohmann-json; do
    [ -f "$tree/share/doc/cpubench/$guide" ] || fail "the tarball lacks share/doc/cpubench/$guide"
done
python3 "$source/tests/linkcheck.py" "$tree/share/doc/cpubench" || fail "the tarball's guides have broken links"
# A run on this machine, from the unpacked folder, with GMP from the system,
# recorded by the tarball's recorder, which finds the benchmark beside it.
status=0
"$tree/bin/cpubench-record" --runs 1 "$work/host" >"$work/record.log" || status=$?
[ $status -eq 0 ] || { cat "$work/record.log" >&2; fail "cpubench-record ended with status $status"; }
packaged=$(basename "$tarball" | sed -E 's/^cpubench-(.*)-linux-x86_64[.]tar[.]gz$/\1/')
grep -q '"cpubench_version": "'"$packaged"'"' "$work"/host/*/machine.json \
    || fail "the recorder's machine.json does not name cpubench $packaged"
"$tree/bin/cpubench-compare" "$work/host" || fail "the session recorded on this machine is not complete and exact"

echo "== the tarball in Debian 11"
mkdir -p "$inroot"
mount_proc "$debian11/root"
tar -xzf "$tarball" -C "$inroot"
folder=/tmp/package-test/$(basename "$tree")
status=0
in_root "$debian11/root" "$folder/bin/cpubench" </dev/null >"$inroot/run.txt" || status=$?
[ $status -eq 0 ] || fail "cpubench ended with status $status in Debian 11"
in_root "$debian11/root" "$folder/bin/cpubench-compare" /tmp/package-test/run.txt \
    || fail "the transcript made in Debian 11 is not complete and exact"

echo "== cpubench-compare in an empty root"
mkdir "$work/empty"
cp "$tree/bin/cpubench-compare" "$inroot/run.txt" "$work/empty/"
chroot "$work/empty" /cpubench-compare /run.txt || fail "cpubench-compare does not run in an empty root"

rpm=$(only 'cpubench-*.x86_64.rpm')
echo "== $(basename "$rpm")"
requires=$(rpm -qp --requires "$rpm")
for requirement in 'libgmp.so.10()(64bit)' 'libgomp.so.1()(64bit)'; do
    grep -qxF "$requirement" <<< "$requires" || fail "the RPM does not require $requirement"
done
grep -Eq 'libstdc\+\+|libgcc_s' <<< "$requires" && fail "the RPM requires the C++ or GCC runtime"
newest=$(grep -o 'GLIBC_[0-9.]*[0-9]' <<< "$requires" | sed 's/GLIBC_//' | sort -V | tail -n 1)
at_most "$newest" "$debian11Glibc" || fail "the RPM requires glibc $newest"
# Its own files only (and the build-id links rpmbuild adds): no folder of
# the system, such as /usr/bin or /usr/share/man.
files=$(rpm -qpl "$rpm" | grep -v '^/usr/lib/\.build-id' | LC_ALL=C sort)
expected=$(printf '%s\n' /usr/bin/cpubench /usr/bin/cpubench-compare /usr/bin/cpubench-record /usr/share/doc/cpubench \
    /usr/share/doc/cpubench/LICENSE /usr/share/doc/cpubench/LICENSE.nlohmann-json /usr/share/doc/cpubench/doc /usr/share/doc/cpubench/doc/report.png \
    /usr/share/man/man1/cpubench-compare.1.gz /usr/share/man/man1/cpubench-record.1.gz /usr/share/man/man1/cpubench.1.gz \
    "${guides[@]/#//usr/share/doc/cpubench/}" | LC_ALL=C sort)
[ "$files" = "$expected" ] || fail "the RPM's files are"$'\n'"$files"$'\n'"not"$'\n'"$expected"
flags=$(rpm -qp --qf '[%{FILEFLAGS:fflags} %{FILENAMES}\n]' "$rpm")
for licence in LICENSE LICENSE.nlohmann-json; do
    grep -Eq "^[a-z]*l[a-z]* /usr/share/doc/cpubench/$licence\$" <<< "$flags" \
        || fail "the RPM does not mark $licence as a licence"
done
for guide in "${guides[@]}" doc/report.png; do
    grep -Eq "^[a-z]*d[a-z]* /usr/share/doc/cpubench/$guide\$" <<< "$flags" \
        || fail "the RPM does not mark $guide as documentation"
done
# The same programs as the tarball (rpm lists each file's SHA-256).
for name in cpubench cpubench-compare cpubench-record; do
    digest=$(rpm -qp --dump "$rpm" | awk -v path="/usr/bin/$name" '$1 == path {print $4}')
    [ "$digest" = "$(sha256sum <"$tree/bin/$name" | cut -d' ' -f1)" ] || fail "the RPM's $name is not the tarball's"
done

if [ $failures -ne 0 ]; then
    echo "$failures package check(s) failed" >&2
    exit 1
fi
echo "package tests: all passed"
