#!/bin/sh
# Prints the commit a source tree was made from and that commit's time in
# seconds since 1970, "COMMIT EPOCH". The time is the SOURCE_DATE_EPOCH of
# every package: each time stamp in them is this one, so that two builds of
# one commit give the same bytes whenever they run.
#
# Usage: scripts/source-commit.sh [SOURCE_DIR]
#
# A tree unpacked from the source archive has both in packaging/source-commit
# (git archive writes them there); in a git checkout, git tells them.
set -eu
dir=${1:-$(dirname "$0")/..}
line=$(cat "$dir/packaging/source-commit")
case $line in
    *Format*)
        # A checkout (possibly someone else's, under sudo: hence safe.directory).
        git -c safe.directory='*' -C "$dir" log -1 --format='%H %ct' \
            || { echo "$0: $dir is neither a git checkout nor an unpacked source archive" >&2; exit 1; } ;;
    *)
        echo "$line" ;;
esac
