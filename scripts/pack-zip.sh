#!/usr/bin/env bash
# Makes the Windows zip, reproducibly: run by cmake/zip-package.cmake when
# CPack has installed the zip's files into FILES_DIR. The zip holds one
# folder NAME; its entries are sorted by name, dated at the commit's time
# (in UTC: a zip's dates have no time zone), without the owners and Unix
# time stamps Info-ZIP's zip would add (-X), and with modes 0644 and 0755.
# The zip is then copied to OUTPUT_DIR with what it was built with
# (build-environment-windows.txt), and OUTPUT_DIR's SHA256SUMS written anew.
#
# Usage: scripts/pack-zip.sh FILES_DIR NAME ZIP OUTPUT_DIR
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: $0 FILES_DIR NAME ZIP OUTPUT_DIR" >&2; exit 2; }
files=$1 name=$2 zip=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
command -v zip >/dev/null || { echo "$0: zip is missing (Debian package zip)" >&2; exit 1; }
read -r commit epoch < <(sh "$here/source-commit.sh" "$here/..")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$files" "$work/$name"
find "$work/$name" -type d -exec chmod 0755 {} +
find "$work/$name" -type f -perm /0111 -exec chmod 0755 {} +
find "$work/$name" -type f ! -perm /0111 -exec chmod 0644 {} +
find "$work/$name" -exec touch -h -d "@$epoch" {} +
rm -f "$zip"
(cd "$work" && find "$name" -type f | LC_ALL=C sort | TZ=UTC0 zip -X -D -9 -q -@ "$zip")

mkdir -p "$out"
cp "$zip" "$out/"
# What a rebuild must use to give the same bytes: the cross compiler and
# its runtime, the linker, mingw-w64's headers and libraries, the JSON
# headers compiled into cpubench-compare.exe, and the tools that build GMP
# and make the zip.
gmpPatch=$(cd "$work/$name/gmp-source" && ls gmp_*-windows-build.patch)
gmpVersion=${gmpPatch#gmp_}
{
    echo "cpubench $(sed -n -E 's/^project\(cpubench VERSION ([0-9.]+).*/\1/p' "$here/../CMakeLists.txt"), the Windows zip"
    echo "Source: commit $commit, SOURCE_DATE_EPOCH=$epoch"
    echo "GMP: Debian's source package gmp ${gmpVersion%-windows-build.patch} (gmp-source/ and GMP.txt in the zip)"
    echo "Cross-built on $(. /etc/os-release && echo "$PRETTY_NAME") with these of its packages:"
    dpkg-query -W -f '${Package} ${Version} ${Architecture}\n' \
        g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix-runtime \
        gcc-mingw-w64-base binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev mingw-w64-common \
        nlohmann-json3-dev cmake gcc m4 make zip 2>/dev/null | LC_ALL=C sort | sed 's/^/  /'
} >"$out/build-environment-windows.txt"
sh "$here/write-checksums.sh" "$out"
