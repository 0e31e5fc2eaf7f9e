#!/usr/bin/env bash
# Builds the Linux packages (the .deb, the tarball and the RPM) inside a
# Debian 11 (bullseye) root, with that release's GCC 10, CMake and glibc
# 2.31, so that the shipped programs need no newer C library than Debian 11
# has, whatever machine runs this script. In a git checkout it also makes
# the source archive of the commit (scripts/make-source-archive.sh). All
# land in build/packages, with build-environment-linux.txt (what they were
# built with: a rebuild needs the same) and SHA256SUMS.
#
# Usage (as root): scripts/build-linux-packages.sh
#
# The packages are reproducible (scripts/pack-linux.sh says how): a build of
# the same commit gives the same bytes. The build inside the root runs with
# the caller's umask, time zone (TZ) and, when the caller runs under
# faketime, the same faked clock (the root has faketime too); its locale
# is C.UTF-8.
#
# The roots are made once and reused (delete build/bullseye to start over):
#   build/bullseye/minbase  Debian 11 as debootstrap makes it (minbase),
#                           kept as it is for the package tests
#   build/bullseye/root     the same with the build dependencies added
# CPUBENCH_DEBIAN_ROOTS=DIR uses (or makes) the roots in DIR instead, so
# that builds from several trees can share them.
# The archive is the one this machine's apt sources name (Debian hosts), or
# debootstrap's default; CPUBENCH_DEBIAN_MIRROR overrides it.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$(pwd)
base=${CPUBENCH_DEBIAN_ROOTS:-$checkout/build/bullseye}
mkdir -p "$base"
base=$(cd "$base" && pwd)
minbase=$base/minbase
root=$base/root
out=$checkout/build/packages

die() { echo "$0: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || die "making and entering the Debian 11 root needs root (run it with sudo)"
command -v debootstrap >/dev/null || die "debootstrap is missing (Debian package debootstrap)"

# The first archive of this machine's apt sources that is not the security
# archive, when this machine is Debian.
host_mirror() {
    grep -qx 'ID=debian' /etc/os-release 2>/dev/null || return 0
    {
        cat /etc/apt/sources.list.d/*.sources 2>/dev/null \
            | awk '/^URIs:/ {uri = $2} /^Suites:/ && !/-security/ && uri {print uri; exit}'
        grep -hs '^deb ' /etc/apt/sources.list \
            | awk '!/security/ {for (i = 2; i <= NF; i++) if ($i ~ /^https?:/) {print $i; exit}}'
    } | head -n 1 || true
}
mirror=${CPUBENCH_DEBIAN_MIRROR:-$(host_mirror)}
archive=${mirror:-the default archive of debootstrap}

# /proc, and a /dev/shm of its own, are mounted in a root while it is used,
# and unmounted on exit, also on failure.
mounted=""
unmount() {
    if [ -n "$mounted" ]; then
        umount "$mounted/dev/shm" "$mounted/proc"
        mounted=""
    fi
}
trap unmount EXIT
enter() {
    unmount
    mkdir -p "$1/dev/shm"
    mount -t proc proc "$1/proc"
    mount -t tmpfs -o size=64m tmpfs "$1/dev/shm"
    mounted=$1
}
# Runs a command inside the root entered last, with a plain environment but
# for the caller's time zone and faketime's settings: under faketime, the
# programs in the root see the same clock (through the root's own
# libfaketime, which keeps its state in the root's /dev/shm).
chroot=$(command -v chroot)
in_root() {
    local passed=() var
    for var in TZ FAKETIME FAKE_UTIME NO_FAKE_STAT LD_PRELOAD; do
        [ -z "${!var:-}" ] || passed+=("$var=${!var}")
    done
    env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 \
        "$chroot" "$mounted" /usr/bin/env "${passed[@]}" "$@"
}

# Each root is made under a temporary name and renamed when complete, so a
# failed attempt leaves nothing that a later run would take as made.
mkdir -p "$base"
if [ ! -d "$minbase" ]; then
    echo "== Making the Debian 11 root from $archive"
    rm -rf "$minbase.tmp"
    if ! debootstrap --variant=minbase bullseye "$minbase.tmp" $mirror >"$base/debootstrap.log" 2>&1; then
        rm -rf "$minbase.tmp"
        grep -q 'Failed getting release file' "$base/debootstrap.log" \
            && die "$archive no longer serves Debian 11 (bullseye): no root and no package made. Set CPUBENCH_DEBIAN_MIRROR to an archive that still holds it."
        die "debootstrap failed (see $base/debootstrap.log): no root and no package made"
    fi
    chroot "$minbase.tmp" apt-get clean
    mv "$minbase.tmp" "$minbase"
fi
if [ ! -d "$root" ]; then
    echo "== Adding the build dependencies"
    mountpoint -q "$root.tmp/dev/shm" && umount "$root.tmp/dev/shm"
    mountpoint -q "$root.tmp/proc" && umount "$root.tmp/proc"
    rm -rf "$root.tmp"
    cp -a "$minbase" "$root.tmp"
    enter "$root.tmp"
    in_root apt-get update -q
    in_root DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        g++ make cmake dpkg-dev file libgmp-dev rpm faketime
    in_root apt-get clean
    unmount
    mv "$root.tmp" "$root"
fi

# The source: the tree as it is (uncommitted changes too), in a folder named
# as this one is; in a checkout, the commit and its time written in, as the
# source archive has them.
mkdir -p "$out"
name=$(basename "$checkout")
rm -f "$out"/cpubench_*_amd64.deb "$out"/cpubench-*-linux-x86_64.tar.gz "$out"/cpubench-*.x86_64.rpm \
    "$out"/cpubench-[0-9]*.tar.gz "$out/build-environment-linux.txt"
commit=$(sh "$checkout/scripts/source-commit.sh" "$checkout")
rm -rf "$root/src" "$root/build" "$root/packages"
mkdir -p "$root/src/$name" "$root/packages"
tar -C "$checkout" --exclude=./build --exclude=./.git -cf - . | tar -C "$root/src/$name" -xf -
echo "$commit" >"$root/src/$name/packaging/source-commit"
# Dated at the commit, as in the source archive: the packages take the
# dates of the files they copy from the tree.
find "$root/src/$name" -exec touch -h -d "@${commit#* }" {} +
if git -c safe.directory='*' -C "$checkout" rev-parse --git-dir >/dev/null 2>&1; then
    echo "== The source archive"
    scripts/make-source-archive.sh "$out"
fi

enter "$root"
echo "== Building with $(in_root g++ --version | head -n 1) and $(in_root cmake --version | head -n 1), at $(in_root date -u '+%F %T') UTC by the root's clock"
in_root bash "/src/$name/scripts/pack-linux.sh" "/src/$name" /build /packages
cp "$root"/packages/* "$out"/
{
    echo "cpubench $(sed -n -E 's/^project\(cpubench VERSION ([0-9.]+).*/\1/p' CMakeLists.txt), the Linux packages"
    echo "Source: commit ${commit% *}, SOURCE_DATE_EPOCH=${commit#* }"
    echo "Source archive made with $(git --version 2>/dev/null || echo 'no git') and $(gzip --version | head -n 1)"
    echo "Built in Debian 11 (bullseye), $(cat "$root/etc/debian_version"), with these packages installed:"
    in_root dpkg-query -W -f '${Package} ${Version} ${Architecture}\n' | LC_ALL=C sort | sed 's/^/  /'
} >"$out/build-environment-linux.txt"
sh scripts/write-checksums.sh "$out"
# Started with sudo: the files belong to the user who started it.
if [ -n "${SUDO_UID:-}" ]; then
    chown "$SUDO_UID:$SUDO_GID" "$out" "$out"/*
fi
echo "== Packages in $out:"
ls -1 "$out"
