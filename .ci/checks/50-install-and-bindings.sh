#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Installs into a temporary prefix and moves it, builds and runs consumers
# through the CMake package and through pkg-config, then builds the Debian
# packages and inspects their contents, dependencies, shlibs and SONAME, and
# builds the consumers once more against the unpacked packages.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
ci_install cmake ninja-build g++ pkg-config dpkg-dev file binutils lintian man-db groff-base

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)

echo "--- build for /usr (multiarch libdir), install into a temporary prefix"
cmake -S . -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTRUEANOMALY_BUILD_TESTS=OFF -DTRUEANOMALY_BUILD_EXAMPLES=OFF -DTRUEANOMALY_FORTRAN=OFF \
  -DTRUEANOMALY_PACKAGE_CONTACT="libtrueanomaly CI <ci@libtrueanomaly.invalid>" >/dev/null
cmake --build "$work/build" -j2 >/dev/null
cmake --install "$work/build" --prefix "$work/stage" >/dev/null
# Everything found through the installed files must survive a move.
mv "$work/stage" "$work/prefix"

# Builds and runs the consumers against the tree under $1 (a prefix).
consumers() {
  local prefix=$1 out=$2 libdir
  echo "--- find_package(trueanomaly 1 CONFIG REQUIRED) in $prefix"
  cmake -S tests/install -B "$out/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
  cmake --build "$out/cmake" >/dev/null
  LD_LIBRARY_PATH="$prefix/lib/$multiarch" "$out/cmake/consumer_c"
  LD_LIBRARY_PATH="$prefix/lib/$multiarch" "$out/cmake/consumer_cpp"

  echo "--- pkg-config trueanomaly in $prefix"
  export PKG_CONFIG_PATH="$prefix/lib/$multiarch/pkgconfig"
  [ "$(pkg-config --modversion trueanomaly)" = 1.0.0 ] || fail "pkg-config version"
  libdir=$(pkg-config --variable=libdir trueanomaly)
  [ "$(cd "$libdir" && pwd -P)" = "$(cd "$prefix/lib/$multiarch" && pwd -P)" ] \
    || fail "pkg-config libdir $libdir is not $prefix/lib/$multiarch"
  # shellcheck disable=SC2046
  cc -std=c99 -Wall -Werror tests/install/consumer.c -o "$out/pc_consumer" \
    $(pkg-config --cflags --libs trueanomaly)
  LD_LIBRARY_PATH="$libdir" "$out/pc_consumer"
  unset PKG_CONFIG_PATH
}
consumers "$work/prefix" "$work/consumers-prefix"

echo "--- a request for major version 2 is refused"
mkdir -p "$work/v2"
printf 'cmake_minimum_required(VERSION 3.16)\nproject(v2 LANGUAGES C)\nfind_package(trueanomaly 2 CONFIG REQUIRED)\n' \
  >"$work/v2/CMakeLists.txt"
if cmake -S "$work/v2" -B "$work/v2/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null 2>&1; then
  fail "find_package(trueanomaly 2) accepted version 1"
fi

echo "--- Debian packages: without a maintainer cpack must stop"
cmake "$work/build" -DTRUEANOMALY_PACKAGE_CONTACT= >/dev/null
if (cd "$work/build" && cpack -G DEB >"$work/cpack.log" 2>&1); then fail "cpack built packages without a maintainer"; fi
grep -q "need a maintainer" "$work/cpack.log" || { cat "$work/cpack.log"; fail "no clear message"; }
cmake "$work/build" -DTRUEANOMALY_PACKAGE_CONTACT="libtrueanomaly CI <ci@libtrueanomaly.invalid>" >/dev/null
echo "--- Debian packages"
(cd "$work/build" && cpack -G DEB >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; fail "cpack"; }
rt=$(echo "$work"/build/libtrueanomaly1_*.deb)
dev=$(echo "$work"/build/libtrueanomaly-dev_*.deb)
for deb in "$rt" "$dev"; do
  echo "== $(basename "$deb")"
  dpkg-deb -f "$deb"
  dpkg-deb -c "$deb" | awk '{print $1, $6, $7, $8}'
done
version=$(dpkg-deb -f "$rt" Version)
[ "$(dpkg-deb -f "$rt" Package)" = libtrueanomaly1 ] || fail "runtime package name"
[ "$(dpkg-deb -f "$dev" Package)" = libtrueanomaly-dev ] || fail "dev package name"
[[ "$(dpkg-deb -f "$rt" Depends)" =~ ^libc6\ \(\>=\ [0-9.]+\)$ ]] \
  || fail "runtime Depends: $(dpkg-deb -f "$rt" Depends)"
[ "$(dpkg-deb -f "$dev" Depends)" = "libtrueanomaly1 (= $version)" ] \
  || fail "dev Depends: $(dpkg-deb -f "$dev" Depends)"
[ "$(dpkg-deb --ctrl-tarfile "$rt" | tar -xO ./shlibs)" = \
  "libtrueanomaly 1 libtrueanomaly1 (>= $version)" ] || fail "shlibs"
echo "shlibs: $(dpkg-deb --ctrl-tarfile "$rt" | tar -xO ./shlibs)"

files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ {print $6}' | sort | tr '\n' ' '; }
lib="./usr/lib/$multiarch"
doc=./usr/share/doc
want_rt=$(printf '%s\n' "$lib/libtrueanomaly.so.1" "$lib/libtrueanomaly.so.1.0.0" \
  $doc/libtrueanomaly1/changelog.Debian.gz $doc/libtrueanomaly1/changelog.gz \
  $doc/libtrueanomaly1/copyright ./usr/share/lintian/overrides/libtrueanomaly1 | sort | tr '\n' ' ')
want_dev=$(printf '%s\n' ./usr/include/trueanomaly.h ./usr/include/trueanomaly.hpp \
  "$lib/cmake/trueanomaly/trueanomalyConfig.cmake" \
  "$lib/cmake/trueanomaly/trueanomalyConfigVersion.cmake" \
  "$lib/cmake/trueanomaly/trueanomalyTargets-release.cmake" \
  "$lib/cmake/trueanomaly/trueanomalyTargets.cmake" \
  "$lib/libtrueanomaly.so" "$lib/pkgconfig/trueanomaly.pc" \
  ./usr/share/trueanomaly/fortran/trueanomaly.f90 \
  ./usr/share/man/man3/trueanomaly.3.gz ./usr/share/man/man3/trueanomaly_array.3.gz \
  $doc/libtrueanomaly-dev/changelog.Debian.gz $doc/libtrueanomaly-dev/changelog.gz \
  $doc/libtrueanomaly-dev/copyright ./usr/share/lintian/overrides/libtrueanomaly-dev | sort | tr '\n' ' ')
[ "$(files "$rt")" = "$want_rt" ] || fail "runtime contents: $(files "$rt")"
[ "$(files "$dev")" = "$want_dev" ] || fail "dev contents: $(files "$dev")"

dpkg-deb -x "$rt" "$work/root"
dpkg-deb -x "$dev" "$work/root"
so="$work/root/usr/lib/$multiarch/libtrueanomaly.so.1.0.0"
[ "$(readlink "$work/root/usr/lib/$multiarch/libtrueanomaly.so.1")" = libtrueanomaly.so.1.0.0 ] \
  || fail "libtrueanomaly.so.1 link"
[ "$(readlink "$work/root/usr/lib/$multiarch/libtrueanomaly.so")" = libtrueanomaly.so.1 ] \
  || fail "libtrueanomaly.so namelink"
soname=$(readelf -d "$so" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
echo "SONAME: $soname"
[ "$soname" = libtrueanomaly.so.1 ] || fail "SONAME $soname"
exports=$(nm -D --defined-only "$so" | awk '{print $3}' | sort | tr '\n' ' ')
echo "exports: $exports"
[ "$exports" = "trueanomaly trueanomaly_array " ] || fail "exports: $exports"

consumers "$work/root/usr" "$work/consumers-deb"

echo "--- lintian -E --pedantic"
lintian -E --pedantic --show-overrides "$rt" "$dev" 2>&1 | grep -v '^running with root' | tee "$work/lintian.log"
if grep -q '^[EW]:' "$work/lintian.log"; then fail "lintian reports errors or warnings"; fi
echo "--- the man pages, from the unpacked package"
for page in trueanomaly trueanomaly_array; do
  MANWIDTH=80 man --warnings -l "$work/root/usr/share/man/man3/$page.3.gz" 2>"$work/man.err" | head -4
  [ ! -s "$work/man.err" ] || { cat "$work/man.err"; fail "man $page: warnings"; }
done
echo "install and packages: OK"
