#!/usr/bin/env bash
# Rebuilds every package of a commit from a clean clone and compares them,
# byte for byte, with published ones: says for each file whether it is
# bit-identical, and ends with status 0 when all are, 1 when any file
# differs or is missing, 2 for a usage error.
#
# Usage (as root: the Linux packages are built in a Debian 11 root):
#   scripts/rebuild-and-compare.sh [OPTIONS] COMMIT PUBLISHED_DIR
#
# PUBLISHED_DIR holds the published files and their SHA256SUMS; every file
# SHA256SUMS names is compared, and SHA256SUMS itself. The rebuild:
#   1. clones the repository and checks out COMMIT;
#   2. makes the source archive of it (scripts/make-source-archive.sh) and
#      unpacks it into another folder, where git is not at hand;
#   3. builds the Linux packages there (scripts/build-linux-packages.sh)
#      and the Windows zip (the preset windows, without its tests, and the
#      package preset package-windows).
# A rebuild gives the same bytes only with the same tools: the Debian 11
# root's packages and the cross compiler's, as the published
# build-environment-*.txt name them (they are compared too).
#
# Options:
#   --repository URL  clone from there (default: the checkout this script is in)
#   --work DIR        rebuild in DIR, which must not exist (default: a new
#                     folder under /tmp); it is kept
#   --debian-roots DIR  the Debian 11 roots to build in, as made by
#                     scripts/build-linux-packages.sh (default: made anew)
#   --gmp-source DIR  GMP's source as the zip's gmp-source/ holds it (default:
#                     Debian's source package, fetched as for the first build)
#   --gmp-build DIR   the GMP DLL as scripts/build-gmp-dll.sh left it (the
#                     first build's build/windows/gmp): taken as it is, not
#                     built again. CI passes it to build the DLL once per run;
#                     the comparison then shows every file of the zip but the
#                     DLL rebuilt (its source, licence and GMP.txt still come
#                     from the folder and are compared).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
usage() { echo "usage: $0 [--repository URL] [--work DIR] [--debian-roots DIR] [--gmp-source DIR] [--gmp-build DIR] COMMIT PUBLISHED_DIR" >&2; exit 2; }
repository=$(cd "$here/.." && pwd)
work=""
gmp_build=""
while [ $# -gt 0 ]; do
    case $1 in
        --repository) repository=$2; shift 2 ;;
        --work) work=$2; shift 2 ;;
        --debian-roots) export CPUBENCH_DEBIAN_ROOTS; CPUBENCH_DEBIAN_ROOTS=$(cd "$2" && pwd); shift 2 ;;
        --gmp-source) export CPUBENCH_GMP_SOURCE; CPUBENCH_GMP_SOURCE=$(cd "$2" && pwd); shift 2 ;;
        --gmp-build) gmp_build=$(cd "$2" && pwd); shift 2 ;;
        -*) usage ;;
        *) break ;;
    esac
done
[ $# -eq 2 ] || usage
commit=$1
published=$(cd "$2" && pwd)
[ -f "$published/SHA256SUMS" ] || { echo "$0: no SHA256SUMS in $published" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "$0: the Linux packages are built in a Debian 11 root: run it as root" >&2; exit 2; }
if [ -z "$work" ]; then
    work=$(mktemp -d /tmp/cpubench-rebuild.XXXXXX)
else
    [ ! -e "$work" ] || { echo "$0: $work exists already" >&2; exit 2; }
    mkdir -p "$work"
    work=$(cd "$work" && pwd)
fi
echo "== Rebuilding $commit in $work"

echo "== Checking the published files against their SHA256SUMS"
(cd "$published" && sha256sum --quiet -c SHA256SUMS) || echo "(the rebuild goes on: it names the files that differ)"

git clone --quiet --no-checkout "$repository" "$work/clone"
git -C "$work/clone" -c advice.detachedHead=false checkout --quiet "$commit"
archive=$("$work/clone/scripts/make-source-archive.sh" "$work")
mkdir "$work/tree"
tar -xzf "$archive" -C "$work/tree"
tree=("$work"/tree/*)
cd "${tree[0]}"
echo "== Building in ${tree[0]}, from the source archive"
scripts/build-linux-packages.sh
if [ -n "$gmp_build" ]; then
    # build-gmp-dll.sh finds it up to date (newer than the script, which is
    # dated at the commit) and does nothing.
    mkdir -p build/windows/gmp
    for part in bin include lib legal source; do
        cp -a "$gmp_build/$part" build/windows/gmp/
    done
fi
cmake --preset windows -DBUILD_TESTING=OFF
cmake --build --preset windows
cpack --preset package-windows
cp "$archive" build/packages/
sh scripts/write-checksums.sh build/packages

echo "== Comparing $published with the rebuild"
rebuilt=${tree[0]}/build/packages
differ=()
total=0
while read -r name; do
    total=$((total + 1))
    if [ ! -f "$rebuilt/$name" ]; then
        echo "missing    $name (not made by the rebuild)"
        differ+=("$name")
    elif cmp -s "$published/$name" "$rebuilt/$name"; then
        echo "identical  $name"
    else
        echo "DIFFERS    $name"
        differ+=("$name")
    fi
done < <({ awk '{ sub(/^\*/, "", $2); print $2 }' "$published/SHA256SUMS"; echo SHA256SUMS; })
if [ ${#differ[@]} -eq 0 ]; then
    echo "All $total files are bit-identical to the rebuild in $rebuilt."
    exit 0
fi
echo "${#differ[@]} of $total files are not bit-identical to the rebuild: ${differ[*]}"
echo "(diffoscope PUBLISHED REBUILT, Debian's package diffoscope, shows where two files differ.)"
exit 1
