#!/usr/bin/env bash
# Builds the Debian package build/package/ostrakel_<version>_<arch>.deb: a
# Release build in build/package (Debian's hardening flags), installed with
# `cmake --install --prefix /usr` into a staging folder, its Depends computed
# by dpkg-shlibdeps from the program plus the Firebird client library and
# embedded engine that the program loads at run time (dist/control).
# Needs dpkg-dev and librsvg2-bin (scripts/deps.sh test installs both).
# Usage: scripts/package.sh      The last line of its output is the package's path.
set -euo pipefail
umask 022
cd "$(dirname "$0")/.."
top=$(pwd)
build=$top/build/package
for tool in dpkg-shlibdeps:dpkg-dev dpkg-gencontrol:dpkg-dev dpkg-parsechangelog:dpkg-dev \
            rsvg-convert:librsvg2-bin cmake:cmake ninja:ninja-build; do
  command -v "${tool%%:*}" >/dev/null || { echo "package.sh: ${tool%%:*} is missing (Debian package ${tool##*:})" >&2; exit 1; }
done

version=$(sed -n 's/^project(Ostrakel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
changelog_version=$(dpkg-parsechangelog -l dist/changelog -SVersion)
if [ "$version" != "$changelog_version" ]; then
  echo "package.sh: CMakeLists.txt says version $version, dist/changelog $changelog_version; add a changelog entry" >&2
  exit 1
fi
# Every time stamp in the package is the changelog's, so a rebuild gives the same bytes.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l dist/changelog -STimestamp)
export SOURCE_DATE_EPOCH

# Debian's compiler and linker hardening; the symbols are stripped anyway.
eval "$(DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g dpkg-buildflags --export=sh)"
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DOSTRAKEL_TESTS=OFF -DOSTRAKEL_BENCH=OFF -DOSTRAKEL_ICON_PNG=ON \
  -DCMAKE_CXX_FLAGS="$CPPFLAGS $CXXFLAGS" -DCMAKE_EXE_LINKER_FLAGS="$LDFLAGS" >"$build/configure.log" 2>&1 ||
  { cat "$build/configure.log" >&2; exit 1; }
# The machine's cores are shared: two jobs, one build at a time.
flock "$top/build/.lock" ninja -C "$build" -j2

deb=$build/deb
root=$deb/root
rm -rf "$deb"
mkdir -p "$deb/debian" "$root"
DESTDIR=$root cmake --install "$build" >"$deb/install.log"
# As dh_strip does: no symbols, no compiler notes.
strip --remove-section=.comment --remove-section=.note "$root/usr/bin/ostrakel"
doc=$root/usr/share/doc/ostrakel
gzip -9nc dist/changelog >"$doc/changelog.gz"
find "$root" -exec touch --no-dereference --date="@$SOURCE_DATE_EPOCH" {} +

# Files under /etc are the administrator's to change: dpkg keeps their edits.
mkdir -p "$root/DEBIAN"
if [ -d "$root/etc" ]; then
  (cd "$root" && find etc -type f -printf '/%p\n' | sort) >"$root/DEBIAN/conffiles"
fi
(cd "$root" && find . -path ./DEBIAN -prune -o -type f -printf '%P\0' | sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"

# dpkg-shlibdeps and dpkg-gencontrol read debian/control and debian/changelog.
cp dist/control "$deb/debian/control"
cp dist/changelog "$deb/debian/changelog"
(cd "$deb" && dpkg-shlibdeps -Tdebian/substvars -e root/usr/bin/ostrakel &&
  dpkg-gencontrol -postrakel -Proot -Tdebian/substvars -fdebian/files)
arch=$(dpkg-architecture -qDEB_HOST_ARCH)
out=$build/ostrakel_${version}_${arch}.deb
rm -f "$build"/ostrakel_*.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$out" >/dev/null
echo "$out"
