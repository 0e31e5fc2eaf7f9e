#!/usr/bin/env bash
# Runs the tests of the Windows build under Wine.
#
# Usage: tests/wine-tests.sh LINUX_BUILD_DIR WINDOWS_BUILD_DIR [PACKAGE_DIR]
#   e.g. cmake --workflow --preset release
#        cmake --workflow --preset package-windows
#        tests/wine-tests.sh build/release build/windows build/packages
#
# 1. CTest of the Windows build: unit_tests.exe under Wine, and the check
#    that cpubench.exe imports system DLLs only.
# 2. The end-to-end tests: the Linux test program (LINUX_BUILD_DIR/tests/
#    e2e_tests) drives WINDOWS_BUILD_DIR/cpubench.exe through wine, with the
#    real GMP DLL on WINEPATH for complete runs and the stand-in DLLs of the
#    Windows build for the binding failures. One more test plants a
#    loadable libgmp-10.dll in the working directory: it must not be loaded.
# 3. With PACKAGE_DIR: the Windows zip found there, unpacked into an empty
#    folder as a user would, holds what it must (the README and every guide
#    of the source's doc/ as text files, whose links resolve); the zip's
#    cpubench-record.exe records one run of its cpubench.exe there, with the
#    DLL beside it, and the Windows facts in machine.json; the zip's
#    cpubench-compare.exe finds the session complete and exact.
#
# Wine runs in a prefix of the Windows build's own (WINDOWS_BUILD_DIR/
# wineprefix) with one server that stays up until the end; it is stopped
# then, also after a failure.
set -euo pipefail

if [ $# -ne 2 ] && [ $# -ne 3 ]; then
    echo "usage: $0 LINUX_BUILD_DIR WINDOWS_BUILD_DIR [PACKAGE_DIR]" >&2
    exit 2
fi
linux=$(cd "$1" && pwd)
windows=$(cd "$2" && pwd)
packages=""
[ $# -eq 3 ] && packages=$(cd "$3" && pwd)
e2e=$linux/tests/e2e_tests
exe=$windows/cpubench.exe
gmp_dir=$windows/gmp/bin
standins=$windows/tests/standin

for file in "$e2e" "$exe" "$gmp_dir/libgmp-10.dll" "$standins/complete/libgmp-10.dll"; do
    [ -f "$file" ] || { echo "$0: $file is missing: build first" >&2; exit 1; }
done
# The tests choose which DLL the program finds: none may lie beside it.
if [ -e "$windows/libgmp-10.dll" ]; then
    echo "$0: $windows/libgmp-10.dll must not exist (it would be found before any other)" >&2
    exit 1
fi

export WINEPREFIX=$windows/wineprefix
export WINEDEBUG=-all
# No dialog offering to install Wine's Mono or Gecko in a new prefix.
export WINEDLLOVERRIDES='mscoree,mshtml='
here=$(cd "$(dirname "$0")" && pwd)
unpacked=$(mktemp -d)
trap 'sh "$here/wine-server.sh" stop; rm -rf "$unpacked"' EXIT

# CTest makes the prefix first when it is new (that takes some seconds).
echo "== Unit tests under Wine (prefix $WINEPREFIX)"
ctest --test-dir "$windows" --output-on-failure

echo "== End-to-end tests of cpubench.exe under Wine"
# One server for all the tests (CTest stopped its own): see wine-server.sh.
sh "$here/wine-server.sh" start
CPUBENCH_RUNNER=wine \
CPUBENCH_EXE="$exe" \
CPUBENCH_LIBRARY_PATH_VAR=WINEPATH \
WINEPATH="$gmp_dir" \
CPUBENCH_STANDIN_DIR="$standins" \
CPUBENCH_NOT_FOUND="libgmp-10.dll nicht gefunden" \
CPUBENCH_PRINTF_SPY="" \
CPUBENCH_STRIP_CR=1 \
CPUBENCH_CWD_DLL_DIR="$standins/complete" \
    "$e2e"

[ -n "$packages" ] || exit 0
zips=("$packages"/cpubench-*-windows-x86_64.zip)
if [ ${#zips[@]} -ne 1 ] || [ ! -f "${zips[0]}" ]; then
    echo "$0: expected exactly one cpubench-*-windows-x86_64.zip in $packages" >&2
    exit 1
fi
echo "== $(basename "${zips[0]}"), unpacked into an empty folder, under Wine"
(cd "$unpacked" && cmake -E tar xf "${zips[0]}")
folder=("$unpacked"/*)
if [ ${#folder[@]} -ne 1 ] || [ ! -d "${folder[0]}" ]; then
    echo "FAIL: the zip holds ${#folder[@]} top-level entries, not one folder" >&2
    exit 1
fi
cd "${folder[0]}"
guides=()
for guide in "$here"/../doc/*.md; do guides+=("doc/$(basename "${guide%.md}").txt"); done
for file in cpubench.exe cpubench-compare.exe cpubench-record.exe libgmp-10.dll README.txt CONTRIBUTING.txt "${guides[@]}" \
            doc/report.png LICENSE.txt LICENSE-nlohmann-json.txt GMP.txt COPYING.LESSERv3 COPYINGv3 COPYINGv2 \
            gmp-source/*.orig.tar.* gmp-source/*.patch; do
    [ -f "$file" ] || { echo "FAIL: the zip lacks $file" >&2; exit 1; }
done
python3 "$here/linkcheck.py" . || { echo "FAIL: the zip's guides have broken links" >&2; exit 1; }
# No search path: the DLL must be found beside the program. One run,
# recorded by the zip's recorder, which finds cpubench.exe beside it.
status=0
env -u WINEPATH wine cpubench-record.exe --runs 1 recorded >record.log || status=$?
if [ $status -ne 0 ]; then
    cat record.log recorded/*/run-1*.txt
    echo "FAIL: cpubench-record.exe from the zip ended with status $status" >&2
    exit 1
fi
python3 - recorded/*/machine.json <<'EOF' || { echo "FAIL: the recorder's machine.json lacks Windows facts" >&2; exit 1; }
import json, sys
machine = json.load(open(sys.argv[1]))
for key in ("processor", "os", "c_runtime", "gmp", "gmp_version", "cpubench_version"):
    assert isinstance(machine.get(key), str) and machine[key], key
assert machine["gmp"].lower().endswith("libgmp-10.dll"), machine["gmp"]
assert machine["logical_cpus"] >= 1 and machine["memory_mib"] >= 1
EOF
wine cpubench-compare.exe recorded || { echo "FAIL: the zip's recorded run is not complete and exact" >&2; exit 1; }
echo "zip test: 1 passed, 0 failed"
