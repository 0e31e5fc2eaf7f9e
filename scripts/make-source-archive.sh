#!/usr/bin/env bash
# Makes the source archive cpubench-VERSION.tar.gz of the commit checked
# out (HEAD), with git archive: one folder cpubench-VERSION/, every file
# dated at the commit's time, packaging/source-commit filled in, so that the
# packages build from it without git. The same commit gives the same bytes
# (with the same git and gzip: see build-environment-linux.txt).
#
# Usage: scripts/make-source-archive.sh OUTPUT_DIR
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 OUTPUT_DIR" >&2; exit 2; }
checkout=$(cd "$(dirname "$0")/.." && pwd)
out=$1
git=(git -c safe.directory='*' -C "$checkout")
version=$(sed -n -E 's/^project\(cpubench VERSION ([0-9.]+).*/\1/p' "$checkout/CMakeLists.txt")
[ -n "$version" ] || { echo "$0: no version in CMakeLists.txt" >&2; exit 1; }
if [ -n "$("${git[@]}" status --porcelain --untracked-files=no)" ]; then
    echo "$0: warning: uncommitted changes are not in the source archive, which holds the commit $("${git[@]}" rev-parse --short HEAD)" >&2
fi
mkdir -p "$out"
archive=$out/cpubench-$version.tar.gz
# tar.umask fixes the modes in the archive (0644, 0755), whatever the
# caller's umask; gzip -n leaves the name and time out of its header.
"${git[@]}" -c tar.umask=0022 archive --format=tar --prefix="cpubench-$version/" HEAD \
    | gzip -9n >"$archive.tmp"
mv "$archive.tmp" "$archive"
echo "$archive"
