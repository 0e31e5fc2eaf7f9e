#!/usr/bin/env bash
# Cross-build a Windows GMP DLL (libgmp-10.dll) for x86_64-w64-mingw32 from
# Debian's GMP source package.
#
# Usage: scripts/build-gmp-dll.sh OUTDIR
#
# Result:
#   OUTDIR/bin/libgmp-10.dll    the DLL (fat build: picks CPU-specific code at run time)
#   OUTDIR/include/gmp.h        header from the Windows configure (32-bit unsigned long)
#   OUTDIR/lib/libgmp.dll.a     import library
#   OUTDIR/legal/               what must travel with the DLL: GMP's licence
#                               texts (COPYING.LESSERv3, COPYINGv3, COPYINGv2)
#                               and GMP.txt (version, how it was built, where
#                               its source is)
#   OUTDIR/source/              GMP's complete corresponding source: the exact
#                               source archive the DLL was built from, and one
#                               patch with every change made to it before the
#                               build (Debian's patches and this script's edits)
#
# If the DLL and the files above already exist and the DLL is newer than this
# script, nothing is done, so CI can call it on every run.
#
# The system apt configuration is never changed: the source package is fetched
# through a private sources list and private lists/cache directories kept in
# the scratch dir OUTDIR/work.

set -euo pipefail

HOST=x86_64-w64-mingw32
SCRIPT_PATH=$(readlink -f "${BASH_SOURCE[0]}")

# Exports the program relies on; the build fails if any is missing.
REQUIRED_EXPORTS=(
    __gmpz_add __gmpz_add_ui __gmpz_pow_ui __gmpz_probab_prime_p __gmpz_sub_ui
    __gmpz_init_set_ui __gmp_printf __gmpz_init_set_str __gmpz_mod
)

say() { printf '[build-gmp-dll] %s\n' "$*"; }
die() { printf '[build-gmp-dll] ERROR: %s\n' "$*" >&2; exit 1; }

if [ $# -ne 1 ] || [ -z "$1" ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi

mkdir -p "$1"
OUTDIR=$(cd "$1" && pwd)
DLL="$OUTDIR/bin/libgmp-10.dll"

if [ -f "$DLL" ] && [ "$DLL" -nt "$SCRIPT_PATH" ] && [ -f "$OUTDIR/legal/GMP.txt" ]; then
    say "$DLL is up to date, nothing to do"
    exit 0
fi

START=$(date +%s)
WORK="$OUTDIR/work"
LOG="$WORK/build.log"
rm -rf "$WORK"
mkdir -p "$WORK"
: > "$LOG"

# Run a command with its output going to the log; on failure show the log tail.
run_logged() {
    local what=$1; shift
    say "$what"
    printf '\n===== %s: %s\n' "$what" "$*" >> "$LOG"
    if ! "$@" >> "$LOG" 2>&1; then
        echo "----- last 60 lines of $LOG -----" >&2
        tail -n 60 "$LOG" >&2
        die "$what failed"
    fi
}

# ---------------------------------------------------------------------------
# Tools
# ---------------------------------------------------------------------------
need_pkgs=()
command -v "$HOST-gcc-posix" >/dev/null 2>&1 || need_pkgs+=(gcc-mingw-w64-x86-64-posix)
command -v "$HOST-g++-posix" >/dev/null 2>&1 || need_pkgs+=(g++-mingw-w64-x86-64-posix)
command -v "$HOST-objdump" >/dev/null 2>&1 || need_pkgs+=(binutils-mingw-w64-x86-64)
command -v m4 >/dev/null 2>&1 || need_pkgs+=(m4)
command -v dpkg-source >/dev/null 2>&1 || need_pkgs+=(dpkg-dev)
command -v xz >/dev/null 2>&1 || need_pkgs+=(xz-utils)
command -v patch >/dev/null 2>&1 || need_pkgs+=(patch)
command -v make >/dev/null 2>&1 || need_pkgs+=(make)
# GMP builds a few generator programs for the build machine itself.
command -v gcc >/dev/null 2>&1 || need_pkgs+=(gcc)
dpkg -s libc6-dev >/dev/null 2>&1 || need_pkgs+=(libc6-dev)

if [ ${#need_pkgs[@]} -gt 0 ]; then
    [ "$(id -u)" -eq 0 ] || die "missing packages (${need_pkgs[*]}) and not root to install them"
    export DEBIAN_FRONTEND=noninteractive
    run_logged "apt-get update" apt-get update
    run_logged "installing ${need_pkgs[*]}" \
        apt-get install -y --no-install-recommends "${need_pkgs[@]}"
fi

CC_WIN="$HOST-gcc-posix"
command -v "$CC_WIN" >/dev/null 2>&1 || die "$CC_WIN not found after install"

# ---------------------------------------------------------------------------
# Private apt setup for fetching the source package
# ---------------------------------------------------------------------------
# Find the machine's own archive URI, first suite and components.
uri="" suite="" comps="" signed_by=""
if [ -f /etc/apt/sources.list.d/debian.sources ]; then
    # deb822: take the first stanza that has URIs and Suites.
    eval "$(awk '
        /^[ \t]*#/ { next }
        /^[ \t]*$/ { if (u != "" && s != "") { done = 1 } ; next }
        done { next }
        tolower($1) == "uris:"       { u = $2 }
        tolower($1) == "suites:"     { s = $2 }
        tolower($1) == "components:" { $1 = ""; c = substr($0, 2) }
        tolower($1) == "signed-by:"  { k = $2 }
        END {
            printf "uri=%s\nsuite=%s\ncomps=\"%s\"\nsigned_by=%s\n", u, s, c, k
        }' /etc/apt/sources.list.d/debian.sources)"
fi
if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    # One-line format: first "deb" line, options in [...] skipped.
    line=$(sed -n -E 's/^[ \t]*deb[ \t]+(\[[^]]*\][ \t]+)?//p' /etc/apt/sources.list | head -n 1)
    if [ -n "$line" ]; then
        read -r uri suite comps <<< "$line"
    fi
fi
[ -n "$uri" ] && [ -n "$suite" ] || die "could not find a Debian archive in the apt sources"
[ -n "$comps" ] || comps=main
if [ -z "$signed_by" ] && [ -f /usr/share/keyrings/debian-archive-keyring.gpg ]; then
    signed_by=/usr/share/keyrings/debian-archive-keyring.gpg
fi

APTDIR="$WORK/apt"
mkdir -p "$APTDIR/lists/partial" "$APTDIR/cache/archives/partial" "$APTDIR/parts"
if [ -n "$signed_by" ]; then
    echo "deb-src [signed-by=$signed_by] $uri $suite $comps" > "$APTDIR/sources.list"
else
    echo "deb-src $uri $suite $comps" > "$APTDIR/sources.list"
fi
say "using source entry: $(cat "$APTDIR/sources.list")"

APT_OPTS=(
    -o "Dir::Etc::SourceList=$APTDIR/sources.list"
    -o "Dir::Etc::SourceParts=$APTDIR/parts"
    -o "Dir::State::Lists=$APTDIR/lists"
    -o "Dir::Cache=$APTDIR/cache"
    -o "APT::Sandbox::User=root"
)

run_logged "fetching source index" apt-get "${APT_OPTS[@]}" update
SRCDL="$WORK/src"
mkdir -p "$SRCDL"
(cd "$SRCDL" && run_logged "downloading gmp source package" \
    apt-get "${APT_OPTS[@]}" source --download-only gmp)

DSC=$(ls "$SRCDL"/gmp_*.dsc 2>/dev/null | head -n 1)
[ -n "$DSC" ] || die "no gmp .dsc downloaded"
say "got $(basename "$DSC")"

# ---------------------------------------------------------------------------
# Unpack and prepare the tree
# ---------------------------------------------------------------------------
SRC="$WORK/gmp"
say "unpacking"
if ! dpkg-source -x "$DSC" "$SRC" >> "$LOG" 2>&1; then
    rm -rf "$SRC"
    run_logged "unpacking without signature check" dpkg-source --no-check -x "$DSC" "$SRC"
fi
cd "$SRC"

# The CVE-2021-43618 fix (mpz_inp_raw overflow). With the 3.0 (quilt) format
# dpkg-source applies the series on extraction; apply it only if it is not in yet.
CVE_PATCH=debian/patches/CVE-2021-43618.patch
if [ -f "$CVE_PATCH" ]; then
    if patch -p1 -R --dry-run -s -f < "$CVE_PATCH" >/dev/null 2>&1; then
        say "CVE-2021-43618 patch already applied"
    else
        run_logged "applying CVE-2021-43618 patch" patch -p1 -N -s -i "$CVE_PATCH"
    fi
else
    say "note: $CVE_PATCH not present in this source version"
fi

# Debian's source comes without doc/; drop it from the build.
if [ ! -d doc ]; then
    say "removing doc/ from Makefile.in and configure"
    sed -i -E '/^(DIST_)?SUBDIRS[ \t]*=/ s/[ \t]+doc\b//' Makefile.in
    sed -i -E '/^ac_config_files=/ s/[ \t]+doc\/Makefile\b//' configure
    sed -i -E '/"doc\/Makefile"\)/d' configure
    # Keep make from thinking the autotools outputs are stale.
    touch aclocal.m4 configure Makefile.in config.in */Makefile.in 2>/dev/null || true
fi

# ---------------------------------------------------------------------------
# Corresponding source and licence texts, taken before the build: the source
# archive as downloaded, and the tree as it is about to be configured,
# against that archive's own content, as one patch.
# ---------------------------------------------------------------------------
ORIG=$(ls "$SRCDL"/gmp_*.orig.tar.* 2>/dev/null | head -n 1)
[ -n "$ORIG" ] || die "no gmp .orig archive downloaded"
VERSION=$(sed -n -E 's/^Version: ([0-9]+:)?//p' "$DSC" | head -n 1)
UPSTREAM=${VERSION%%+*}
UPSTREAM=${UPSTREAM%%-*}
PATCH_NAME="gmp_$VERSION-windows-build.patch"
rm -rf "$OUTDIR/source" "$OUTDIR/legal" "$WORK/pristine"
mkdir -p "$OUTDIR/source" "$OUTDIR/legal" "$WORK/pristine"
cp "$ORIG" "$OUTDIR/source/"
tar -xf "$ORIG" -C "$WORK/pristine"
PRISTINE=$(ls -d "$WORK"/pristine/*/ | head -n 1)
PRISTINE=${PRISTINE%/}
# Debian's packaging folder and quilt's bookkeeping are not built from.
(cd "$WORK" && diff -ruN --exclude=debian --exclude=.pc \
    "pristine/$(basename "$PRISTINE")" "$(basename "$SRC")" > "$OUTDIR/source/$PATCH_NAME") || [ $? -eq 1 ] \
    || die "diff of the prepared tree failed"
for licence in COPYING.LESSERv3 COPYINGv3 COPYINGv2; do
    cp "$SRC/$licence" "$OUTDIR/legal/"
done

CONFIGURE_ARGS=(--host="$HOST" --build="$(gcc -dumpmachine)"
    CC="$CC_WIN" CC_FOR_BUILD=gcc LDFLAGS="-static-libgcc"
    --enable-shared --disable-static --enable-fat)

cat > "$OUTDIR/legal/GMP.txt" <<TEXT
libgmp-10.dll is GMP, the GNU Multiple Precision Arithmetic Library,
version $UPSTREAM, built from Debian's source package gmp $VERSION.
Upstream: https://gmplib.org/

Licence: GMP is free software. You may redistribute and modify it under the
terms of the GNU Lesser General Public License version 3 (COPYING.LESSERv3,
which builds on COPYINGv3) or of the GNU General Public License version 2
(COPYINGv2), or both in parallel. cpubench.exe loads the DLL at run time and
does not contain any of GMP's code: you may replace libgmp-10.dll with
another build of GMP 6 for 64-bit Windows.

How it was built: cross-compiled on Debian for 64-bit Windows with
$("$CC_WIN" --version | head -n 1),
a "fat" build that picks code for the processor it runs on:
    ./configure ${CONFIGURE_ARGS[*]}
    make

Source: the folder gmp-source holds GMP's complete corresponding source:
  $(basename "$ORIG")
      the exact source archive the DLL was built from (Debian's copy of
      GMP $UPSTREAM, without the manual, which is not free software in
      Debian's sense)
  $PATCH_NAME
      every change made to it before the build: Debian's patches
      (among them the fix for CVE-2021-43618) and the removal of the
      manual's folder from the build
To build it again:
    tar -xf $(basename "$ORIG")
    cd $(basename "$PRISTINE")
    patch -p1 < ../$PATCH_NAME
    touch aclocal.m4 configure Makefile.in config.in */Makefile.in
    ./configure ${CONFIGURE_ARGS[*]}
    make
TEXT

# ---------------------------------------------------------------------------
# Build
# ---------------------------------------------------------------------------
run_logged "configure (host $HOST, fat, shared)" \
    ./configure "${CONFIGURE_ARGS[@]}" --prefix="$OUTDIR"

JOBS=$(nproc 2>/dev/null || echo 2)
run_logged "make -j$JOBS" make -j"$JOBS"

mkdir -p "$OUTDIR/bin" "$OUTDIR/include" "$OUTDIR/lib"
rm -f "$DLL"
say "installing into $OUTDIR"
printf '\n===== make install\n' >> "$LOG"
if ! make install >> "$LOG" 2>&1; then
    say "make install failed, copying the files by hand"
fi
# Make sure the three files are there even if install skipped something.
[ -f "$DLL" ] || cp .libs/libgmp-10.dll "$DLL"
[ -f "$OUTDIR/include/gmp.h" ] || cp gmp.h "$OUTDIR/include/gmp.h"
[ -f "$OUTDIR/lib/libgmp.dll.a" ] || cp .libs/libgmp.dll.a "$OUTDIR/lib/" 2>/dev/null || true
touch "$DLL"

# ---------------------------------------------------------------------------
# Check
# ---------------------------------------------------------------------------
DUMP="$WORK/objdump-p.txt"
"$HOST-objdump" -p "$DLL" > "$DUMP"
missing=()
for sym in "${REQUIRED_EXPORTS[@]}"; do
    grep -Eq "[[:space:]]$sym\$" "$DUMP" || missing+=("$sym")
done
if [ ${#missing[@]} -gt 0 ]; then
    rm -f "$DLL"
    die "libgmp-10.dll lacks exports: ${missing[*]}"
fi
say "all ${#REQUIRED_EXPORTS[@]} required exports present"

deps=$(sed -n -E 's/^[[:space:]]*DLL Name: //p' "$DUMP" | tr '\n' ' ')
say "DLL imports: $deps"
grep -qi 'ucrt' <<< "$deps" && say "C runtime: UCRT" || say "C runtime: msvcrt.dll"
if grep -Eqi 'libgcc_s|libwinpthread|libstdc\+\+' <<< "$deps"; then
    say "warning: DLL needs MinGW runtime DLLs next to it: $deps"
fi

say "done in $(( $(date +%s) - START ))s: $DLL"
