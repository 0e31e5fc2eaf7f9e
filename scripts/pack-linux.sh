#!/usr/bin/env bash
# Builds the project and makes the three Linux packages, reproducibly: run
# inside the Debian 11 root by scripts/build-linux-packages.sh.
#
# Usage: scripts/pack-linux.sh SOURCE_DIR BUILD_DIR OUTPUT_DIR
#
# Every time stamp in the packages is the commit's (SOURCE_DATE_EPOCH, from
# scripts/source-commit.sh), every owner root, every folder and program
# 0755 and every other file 0644, whatever the umask; the entries are
# sorted. The .deb is made by dpkg-deb, the tarball by tar, the RPM by
# CPack's RPM generator with rpmbuild's settings for this
# (cmake/packaging.cmake).
set -euo pipefail
[ $# -eq 3 ] || { echo "usage: $0 SOURCE_DIR BUILD_DIR OUTPUT_DIR" >&2; exit 2; }
src=$1 build=$2 out=$3
read -r commit SOURCE_DATE_EPOCH < <(sh "$src/scripts/source-commit.sh" "$src")
export SOURCE_DATE_EPOCH
echo "== Commit $commit, SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH"

# The release flags come from the top-level CMakeLists.txt; warnings are errors.
cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF \
    -DCPUBENCH_STATIC_RUNTIME=ON -DCPUBENCH_BUNDLED_JSON=ON -DCMAKE_C_FLAGS=-Werror -DCMAKE_CXX_FLAGS=-Werror
cmake --build "$build" -j "$(nproc)"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
stage=$build/stage
rm -rf "$stage"
mkdir -p "$stage" "$out"

# Installs components into a folder: DIR PREFIX COMPONENT...
install_into() {
    local dir=$1 prefix=$2 component
    shift 2
    for component in "$@"; do
        DESTDIR=$dir cmake --install "$build" --prefix "$prefix" --component "$component" --strip >/dev/null
    done
}
# Modes and times as the packages hold them.
normalize() {
    find "$1" -type d -exec chmod 0755 {} +
    find "$1" -type f -perm /0111 -exec chmod 0755 {} +
    find "$1" -type f ! -perm /0111 -exec chmod 0644 {} +
    find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
}

echo "== The .deb"
deb=$stage/deb
install_into "$deb" /usr program debian
# The libraries the dynamically linked programs need, as dpkg-shlibdeps
# finds them (it wants to run beside a debian/control, which may be empty,
# and the programs in a package's folder, which DEBIAN marks).
mkdir -p "$stage/shlibdeps/debian" "$deb/DEBIAN"
: >"$stage/shlibdeps/debian/control"
dynamic=()
for program in "$deb"/usr/bin/*; do
    [[ $(readelf -d "$program") != *NEEDED* ]] || dynamic+=("$program")
done
shlibs=$(cd "$stage/shlibdeps" && dpkg-shlibdeps -O "${dynamic[@]}" | sed -n 's/^shlibs:Depends=//p')
[ -n "$shlibs" ] || { echo "$0: dpkg-shlibdeps found no library" >&2; exit 1; }
# Installed-Size as dpkg counts it: each file in KiB rounded up, 1 for
# everything else; the sizes, not the file system's blocks.
size=$(cd "$deb" && find usr -printf '%y %s\n' | awk '{ n += ($1 == "f") ? int(($2 + 1023) / 1024) : 1 } END { print n }')
sed -e "s/@INSTALLED_SIZE@/$size/" -e "s/@SHLIBS_DEPENDS@/$shlibs/" \
    "$build/package-files/debian-control" >"$deb/DEBIAN/control"
(cd "$deb" && find usr -type f | LC_ALL=C sort | xargs md5sum) >"$deb/DEBIAN/md5sums"
normalize "$deb"
dpkg-deb --root-owner-group -Zgzip -z9 --build "$deb" "$out/cpubench_${version}_amd64.deb"

echo "== The tarball"
name=cpubench-$version-linux-x86_64
install_into "$stage/tar/$name" / program licence docs lab
normalize "$stage/tar"
tar -C "$stage/tar" --sort=name --format=gnu --owner=0 --group=0 --numeric-owner \
    --mtime="@$SOURCE_DATE_EPOCH" -cf - "$name" | gzip -9n >"$out/$name.tar.gz"

echo "== The RPM"
(cd "$build" && cpack -G RPM >/dev/null)
cp "$build/cpubench-$version-1.x86_64.rpm" "$out/"
