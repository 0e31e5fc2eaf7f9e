#!/usr/bin/env bash
# Runs the Linux packages as a user would, on a machine that has never seen
# the source: each is unpacked into an empty folder and the program is run
# from there with standard input at end of file. The packaged
# cpubench-compare then checks the transcript: exit status 0 means a
# complete run with exact fixed values.
#
# Usage: tests/package-tests.sh PACKAGE_DIR     (e.g. build/packages)
#
# Also checked: the .deb's files and declared dependencies, the man pages
# (groff without warnings), and that the programs need no newer glibc than
# the README promises.
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 PACKAGE_DIR" >&2
    exit 2
fi
packages=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# The newest glibc symbol version each program may need (README, "Install").
declare -A glibcFloor=([cpubench]=2.35 [cpubench-compare]=2.36)

only() {
    local matches=("$packages"/$1)
    [ ${#matches[@]} -eq 1 ] && [ -f "${matches[0]}" ] \
        || { echo "$0: expected exactly one $1 in $packages" >&2; exit 1; }
    echo "${matches[0]}"
}

# Checks one unpacked tree: BIN_DIR MAN_DIR
check_tree() {
    local bin=$1 man=$2 name
    for name in cpubench cpubench-compare; do
        [ -x "$bin/$name" ] || { fail "$bin/$name is missing"; continue; }
        local newest
        newest=$(objdump -T "$bin/$name" | grep -o 'GLIBC_[0-9.]*' | sed 's/GLIBC_//' | sort -V | tail -n 1)
        [ "$(printf '%s\n%s\n' "$newest" "${glibcFloor[$name]}" | sort -V | tail -n 1)" = "${glibcFloor[$name]}" ] \
            || fail "$name needs glibc $newest, more than ${glibcFloor[$name]}"
        objdump -p "$bin/$name" | grep -q 'NEEDED.*libstdc++' && fail "$name links libstdc++ dynamically"
        objdump -p "$bin/$name" | grep -q 'NEEDED.*libgcc_s' && fail "$name links libgcc dynamically"
        local page=$man/$name.1.gz
        if [ -f "$page" ]; then
            local warnings
            warnings=$(zcat "$page" | groff -man -ww -z 2>&1)
            [ -z "$warnings" ] || fail "$page: $warnings"
        else
            fail "$page is missing"
        fi
    done
    # A run from the unpacked folder, with GMP from the system.
    local status=0
    (cd "$(dirname "$bin")" && "$bin/cpubench" </dev/null >run.txt) || status=$?
    [ $status -eq 0 ] || fail "cpubench ended with status $status"
    "$bin/cpubench-compare" "$(dirname "$bin")/run.txt" || fail "the transcript is not complete and exact"
}

deb=$(only 'cpubench_*_amd64.deb')
echo "== $(basename "$deb")"
mkdir "$work/deb"
dpkg-deb -x "$deb" "$work/deb"
[ -f "$work/deb/usr/share/doc/cpubench/copyright" ] || fail "the .deb has no copyright file"
depends=$(dpkg-deb -f "$deb" Depends)
for dependency in libgmp10 libgomp1 libc6; do
    grep -Eq "(^|, )$dependency( |,|$)" <<< "$depends" || fail "the .deb does not depend on $dependency ($depends)"
done
check_tree "$work/deb/usr/bin" "$work/deb/usr/share/man/man1"

tarball=$(only 'cpubench-*-linux-x86_64.tar.gz')
echo "== $(basename "$tarball")"
mkdir "$work/tar"
tar -xzf "$tarball" -C "$work/tar"
top=("$work"/tar/*)
[ ${#top[@]} -eq 1 ] || fail "the tarball holds ${#top[@]} top-level entries, not one folder"
check_tree "${top[0]}/bin" "${top[0]}/share/man/man1"

if [ $failures -ne 0 ]; then
    echo "$failures package check(s) failed" >&2
    exit 1
fi
echo "package tests: 2 passed, 0 failed"
