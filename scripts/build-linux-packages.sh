#!/usr/bin/env bash
# Builds the Linux packages (the .deb, the tarball and the RPM) inside a
# Debian 11 (bullseye) root, with that release's GCC 10, CMake and glibc
# 2.31, so that the shipped programs need no newer C library than Debian 11
# has, whatever machine runs this script. The packages land in
# build/packages.
#
# Usage (as root): scripts/build-linux-packages.sh
#
# The roots are made once and reused (delete build/bullseye to start over):
#   build/bullseye/minbase  Debian 11 as debootstrap makes it (minbase),
#                           kept as it is for the package tests
#   build/bullseye/root     the same with the build dependencies added
# The archive is the one this machine's apt sources name (Debian hosts), or
# debootstrap's default; CPUBENCH_DEBIAN_MIRROR overrides it.
set -euo pipefail
cd "$(dirname "$0")/.."
checkout=$(pwd)
base=$checkout/build/bullseye
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

# /proc is mounted in a root while it is used, and unmounted on exit, also
# on failure.
mounted=""
unmount() { if [ -n "$mounted" ]; then umount "$mounted"; mounted=""; fi; }
trap unmount EXIT
enter() {
    unmount
    mount -t proc proc "$1/proc"
    mounted=$1/proc
}
# Runs a command inside the root entered last, with a plain environment.
in_root() {
    chroot "${mounted%/proc}" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"
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
    mountpoint -q "$root.tmp/proc" && umount "$root.tmp/proc"
    rm -rf "$root.tmp"
    cp -a "$minbase" "$root.tmp"
    enter "$root.tmp"
    in_root apt-get update -q
    in_root DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
        g++ make cmake dpkg-dev file libgmp-dev nlohmann-json3-dev rpm
    in_root apt-get clean
    unmount
    mv "$root.tmp" "$root"
fi

enter "$root"
echo "== Building with $(in_root g++ --version | head -n 1) and $(in_root cmake --version | head -n 1)"
rm -rf "$root/src" "$root/build"
mkdir "$root/src"
tar -C "$checkout" --exclude=./build --exclude=./.git -cf - . | tar -C "$root/src" -xf -
# The release flags come from the top-level CMakeLists.txt; warnings are errors.
in_root cmake -S /src -B /build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCPUBENCH_STATIC_RUNTIME=ON -DCMAKE_C_FLAGS=-Werror -DCMAKE_CXX_FLAGS=-Werror
in_root cmake --build /build -j "$(nproc)"
in_root sh -c 'cd /build && cpack -G "DEB;TGZ;RPM"'

mkdir -p "$out"
rm -f "$out"/cpubench_*_amd64.deb "$out"/cpubench-*-linux-x86_64.tar.gz "$out"/cpubench-*.x86_64.rpm
packages=("$root"/build/cpubench_*_amd64.deb "$root"/build/cpubench-*-linux-x86_64.tar.gz "$root"/build/cpubench-*.x86_64.rpm)
cp "${packages[@]}" "$out"/
# Started with sudo: the packages belong to the user who started it.
if [ -n "${SUDO_UID:-}" ]; then
    for package in "${packages[@]}"; do chown "$SUDO_UID:$SUDO_GID" "$out/$(basename "$package")"; done
fi
echo "== Packages in $out:"
ls -1 "$out"
