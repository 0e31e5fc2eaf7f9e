#!/usr/bin/env bash
# The README's Quick start as a newcomer runs it: the two command lines of
# the first fenced block under "## Quick start", read from the README and
# run exactly as written, one after the other, in this tree, with standard
# input at its end (the benchmark's ENTER).
#
# Each runs on the machine as the README describes it. Whatever this
# machine has beyond that and a build could pick up is hidden from it, in a
# mount namespace of the command's own, for as long as it runs:
# - the first line (configure, build, run the benchmark) sees a C++
#   compiler, CMake and GMP's header, and neither nlohmann/json
#   (nlohmann-json3-dev) nor the test tools (libgtest-dev, valgrind);
# - the second (the test suite) sees the test tools too, but no
#   nlohmann/json.
# So both pass only if the build takes its own copy of nlohmann/json, and
# the programs build without anything the tests need.
#
# Usage: tests/quickstart.sh     (as root: the mount namespace needs it)
# Exit status: the first failing line's, or 1 when a package the README
# names is missing or the README has no such block.
set -euo pipefail
cd "$(dirname "$0")/.."

# The block's lines, as the README has them.
mapfile -t lines < <(awk '
    /^## / { inside = ($0 == "## Quick start") }
    inside && /^```/ { if (fence) exit; fence = 1; next }
    inside && fence { print }
' README.md)
[ ${#lines[@]} -eq 2 ] || { echo "$0: the Quick start block of README.md holds ${#lines[@]} lines, not two" >&2; exit 1; }

# What the README names: the build's packages, then the tests'.
for package in g++ cmake libgmp-dev libgtest-dev valgrind python3; do
    dpkg -s "$package" >/dev/null 2>&1 || { echo "$0: the README names $package, which this machine lacks" >&2; exit 1; }
done
echo "== The machine has what the README names: $(dpkg-query -W -f '${Package} ${Version}, ' \
    g++ cmake libgmp-dev libgtest-dev valgrind python3 | sed 's/, $//')"

json=(/usr/include/nlohmann)
tests=(/usr/include/gtest /usr/include/gmock /usr/src/googletest /usr/lib/x86_64-linux-gnu/cmake/GTest
       /usr/bin/valgrind)
empty=$(mktemp -d)
trap 'rm -rf "$empty"' EXIT
mkdir "$empty/dir"
: >"$empty/file"

# run LINE PATH...: the line, in a mount namespace where each PATH that
# exists is an empty folder (or an empty file that is no program).
run() {
    local line=$1
    shift
    local hidden=() path
    for path in "$@"; do [ -e "$path" ] && hidden+=("$path"); done
    echo "== \$ $line"
    echo "   (hidden from it: ${hidden[*]:-nothing, the machine has none of them})"
    unshare --mount --propagation private bash -euo pipefail -c '
        dir=$1 file=$2 line=$3
        shift 3
        for path in "$@"; do
            if [ -d "$path" ]; then mount --bind "$dir" "$path"; else mount --bind "$file" "$path"; fi
        done
        [ ! -e /usr/include/nlohmann/json.hpp ] || { echo "nlohmann/json is still there" >&2; exit 1; }
        bash -c "$line" </dev/null
    ' quickstart "$empty/dir" "$empty/file" "$line" "${hidden[@]}"
}

run "${lines[0]}" "${json[@]}" "${tests[@]}"
run "${lines[1]}" "${json[@]}"
echo "== Both lines of the Quick start passed"
