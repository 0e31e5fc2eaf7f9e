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
# The DLL is built from OUTDIR/source exactly as GMP.txt tells its readers,
# and is reproducible: the same source, compilers and linker give the same
# bytes, whatever the path, clock, time zone, locale and umask (the linker
# writes no time stamp, and the patch no file dates). With
# CPUBENCH_GMP_SOURCE=DIR, a folder such as the zip's gmp-source (one
# gmp_*.orig.tar.* and one gmp_*-windows-build.patch), the source is taken
# from there instead of from Debian's source package.
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

# Fetches Debian's source package of GMP through a private apt setup,
# prepares it for the build, and writes OUTDIR/source: the source archive as
# downloaded, and the prepared tree against that archive's own content as one
# patch.
fetch_source() {
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

    # Unpack and prepare the tree.
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
    fi

    ORIG=$(ls "$SRCDL"/gmp_*.orig.tar.* 2>/dev/null | head -n 1)
    [ -n "$ORIG" ] || die "no gmp .orig archive downloaded"
    VERSION=$(sed -n -E 's/^Version: ([0-9]+:)?//p' "$DSC" | head -n 1)
    cp "$ORIG" "$OUTDIR/source/"
    rm -rf "$WORK/pristine"
    mkdir -p "$WORK/pristine"
    tar -xf "$ORIG" -C "$WORK/pristine"
    PRISTINE=$(ls -d "$WORK"/pristine/*/ | head -n 1)
    PRISTINE=${PRISTINE%/}
    # File by file, sorted, with labels instead of the files' dates, so that the
    # patch is the same bytes whenever it is made. Debian's packaging folder and
    # quilt's bookkeeping are not built from.
    local file
    { LC_ALL=C diff -rqN --exclude=debian --exclude=.pc "$PRISTINE" "$SRC" || [ $? -eq 1 ]; } \
        | awk -v from="$PRISTINE/" '$1 == "Files" && index($2, from) == 1 { print substr($2, length(from) + 1) }' \
        | LC_ALL=C sort \
        | while read -r file; do
            LC_ALL=C diff -uN --label "a/$file" --label "b/$file" "$PRISTINE/$file" "$SRC/$file" || [ $? -eq 1 ]
        done >"$OUTDIR/source/gmp_$VERSION-windows-build.patch"
    [ -s "$OUTDIR/source/gmp_$VERSION-windows-build.patch" ] || die "the prepared tree does not differ from the source archive"
}

# ---------------------------------------------------------------------------
# The source: GMP's source archive and one patch with every change made to it
# before the build, in OUTDIR/source.
# ---------------------------------------------------------------------------
rm -rf "$OUTDIR/source" "$OUTDIR/legal"
mkdir -p "$OUTDIR/source" "$OUTDIR/legal"
if [ -n "${CPUBENCH_GMP_SOURCE:-}" ]; then
    say "source from $CPUBENCH_GMP_SOURCE"
    cp "$CPUBENCH_GMP_SOURCE"/gmp_*.orig.tar.* "$CPUBENCH_GMP_SOURCE"/gmp_*-windows-build.patch "$OUTDIR/source/"
else
    fetch_source
fi
ORIG=$(cd "$OUTDIR/source" && ls gmp_*.orig.tar.*)
PATCH_NAME=$(cd "$OUTDIR/source" && ls gmp_*-windows-build.patch)
[ "$(echo "$ORIG" | wc -l)" -eq 1 ] && [ "$(echo "$PATCH_NAME" | wc -l)" -eq 1 ] \
    || die "expected one source archive and one patch in $OUTDIR/source"
VERSION=${PATCH_NAME#gmp_}
VERSION=${VERSION%-windows-build.patch}
UPSTREAM=${VERSION%%+*}
UPSTREAM=${UPSTREAM%%-*}
TOP=$(tar -tf "$OUTDIR/source/$ORIG" | awk -F/ 'NR == 1 { print $1 }')

# What decides the DLL's bytes: the cross compiler, its linker and
# mingw-w64's libraries, in these versions.
TOOLS=(gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev)
BUILD_MACHINE=$(gcc -dumpmachine)
CONFIGURE_ARGS=(--host="$HOST" --build="$BUILD_MACHINE"
    CC="$CC_WIN" CC_FOR_BUILD=gcc "LDFLAGS=-static-libgcc -Wl,--no-insert-timestamp"
    --enable-shared --disable-static --enable-fat)
CONFIGURE_TEXT="./configure --host=$HOST --build=$BUILD_MACHINE CC=$CC_WIN CC_FOR_BUILD=gcc \\
        LDFLAGS=\"-static-libgcc -Wl,--no-insert-timestamp\" \\
        --enable-shared --disable-static --enable-fat"

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

Source: the folder gmp-source holds GMP's complete corresponding source:
  $ORIG
      the exact source archive the DLL was built from (Debian's copy of
      GMP $UPSTREAM, without the manual, which is not free software in
      Debian's sense)
  $PATCH_NAME
      every change made to it before the build: Debian's patches
      (among them the fix for CVE-2021-43618) and the removal of the
      manual's folder from the build

How it was built, and how to build the same DLL again, byte for byte:
cross-compiled for 64-bit Windows as a "fat" build (it picks the code for
the processor it runs on), on $(. /etc/os-release && echo "$PRETTY_NAME")
with these packages (other versions give another DLL):
$(dpkg-query -W -f '    ${Package} ${Version}\n' "${TOOLS[@]}")
and the build machine's gcc, m4 and make for GMP's own helper programs. In
the folder the zip was unpacked into (any path, any time, time zone, locale
and umask):
    tar -xf gmp-source/$ORIG
    cd $TOP
    patch -p1 < ../gmp-source/$PATCH_NAME
    touch aclocal.m4 configure Makefile.in config.in */Makefile.in
    $CONFIGURE_TEXT
    make
    cmp .libs/libgmp-10.dll ../libgmp-10.dll && echo same
(The touch keeps make from running autoconf and automake on the files the
patch changed.)
TEXT

# ---------------------------------------------------------------------------
# Build, exactly as GMP.txt says, in a folder of its own
# ---------------------------------------------------------------------------
BUILD="$WORK/build"
rm -rf "$BUILD"
mkdir -p "$BUILD/gmp-source"
cp "$OUTDIR/source/$ORIG" "$OUTDIR/source/$PATCH_NAME" "$BUILD/gmp-source/"
cd "$BUILD"
run_logged "unpacking $ORIG" tar -xf "gmp-source/$ORIG"
cd "$TOP"
run_logged "applying $PATCH_NAME" patch -p1 -i "../gmp-source/$PATCH_NAME"
touch aclocal.m4 configure Makefile.in config.in */Makefile.in
run_logged "configure (host $HOST, fat, shared)" ./configure "${CONFIGURE_ARGS[@]}"
JOBS=$(nproc 2>/dev/null || echo 2)
[ "$JOBS" -le 2 ] || JOBS=2
run_logged "make -j$JOBS" make -j"$JOBS"

for licence in COPYING.LESSERv3 COPYINGv3 COPYINGv2; do
    cp "$licence" "$OUTDIR/legal/"
done
mkdir -p "$OUTDIR/bin" "$OUTDIR/include" "$OUTDIR/lib"
cp .libs/libgmp-10.dll "$DLL"
cp gmp.h "$OUTDIR/include/gmp.h"
cp .libs/libgmp.dll.a "$OUTDIR/lib/"

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
