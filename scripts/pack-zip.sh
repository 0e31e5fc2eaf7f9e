#!/usr/bin/env bash
# Makes the Windows zip, reproducibly: run by cmake/zip-package.cmake when
# CPack has installed the zip's files into FILES_DIR. The zip holds one
# folder NAME, written by scripts/write-zip.py with the commit's time for
# every entry (CPack's own ZIP generator takes the files' times). The zip is
# then copied to OUTPUT_DIR with what it was built with
# (build-environment-windows.txt), and OUTPUT_DIR's SHA256SUMS written anew.
#
# Usage: scripts/pack-zip.sh FILES_DIR NAME ZIP OUTPUT_DIR
set -euo pipefail
[ $# -eq 4 ] || { echo "usage: $0 FILES_DIR NAME ZIP OUTPUT_DIR" >&2; exit 2; }
files=$1 name=$2 zip=$3 out=$4
here=$(cd "$(dirname "$0")" && pwd)
read -r commit epoch < <(sh "$here/source-commit.sh" "$here/..")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -R "$files" "$work/$name"
python3 "$here/write-zip.py" "$zip" "$work" "$name" "$epoch"

mkdir -p "$out"
cp "$zip" "$out/"
# What a rebuild must use to give the same bytes: the cross compiler and
# its runtime, the linker, mingw-w64's headers and libraries, the JSON
# header compiled into cpubench-compare.exe and cpubench-record.exe (the
# source's copy), the tools that build GMP, and Python's zipfile with the
# zlib that compresses the zip.
gmpPatch=$(cd "$work/$name/gmp-source" && ls gmp_*-windows-build.patch)
gmpVersion=${gmpPatch#gmp_}
{
    echo "cpubench $(sed -n -E 's/^project\(cpubench VERSION ([0-9.]+).*/\1/p' "$here/../CMakeLists.txt"), the Windows zip"
    echo "Source: commit $commit, SOURCE_DATE_EPOCH=$epoch"
    echo "GMP: Debian's source package gmp ${gmpVersion%-windows-build.patch} (gmp-source/ and GMP.txt in the zip)"
    echo "JSON: $(sed -n '1s/^# //p' "$here/../third_party/nlohmann_json/README.md"), the source's third_party/nlohmann_json"
    echo "Cross-built on $(. /etc/os-release && echo "$PRETTY_NAME") with these of its packages:"
    dpkg-query -W -f '${Package} ${Version} ${Architecture}\n' \
        g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix-runtime \
        gcc-mingw-w64-base binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev mingw-w64-common \
        cmake gcc m4 make python3 zlib1g 2>/dev/null | LC_ALL=C sort | sed 's/^/  /'
} >"$out/build-environment-windows.txt"
sh "$here/write-checksums.sh" "$out"
