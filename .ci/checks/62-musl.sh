#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Another C library: musl (Debian's musl-tools), which has no GNU indirect
# functions, as on Alpine. CMake must find that out by itself and build
# the first-use dispatcher; the library must load with musl's loader,
# carry no IRELATIVE relocation, export its two entries, and the example
# must print the worked examples. (The whole test suite runs with the
# first-use dispatcher in the compiler matrix: GoogleTest needs a libstdc++
# that Debian does not build for musl.)
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
ci_install musl-tools cmake ninja-build g++

dir=build-ci/musl
rm -rf "$dir"
cmake -S . -B "$dir" -G Ninja --toolchain cmake/toolchains/x86_64-linux-musl.cmake \
  -DTRUEANOMALY_WERROR=ON -DTRUEANOMALY_BUILD_TESTS=OFF -DTRUEANOMALY_FORTRAN=OFF \
  -DTRUEANOMALY_PYTHON_MODULE=OFF >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
grep 'libtrueanomaly: the path is chosen' "$dir.configure.log"
grep -q 'no GNU indirect functions' "$dir.configure.log" ||
  { echo "FAIL: CMake did not find that musl has no indirect functions"; exit 1; }
cmake --build "$dir" -j2 --target trueanomaly orbit_table >/dev/null
lib=$dir/libtrueanomaly.so
readelf -l "$dir/examples/orbit_table" | grep -q 'ld-musl' || { echo "FAIL: not linked against musl"; exit 1; }
! readelf -r "$lib" | grep -q IRELATIVE || { echo "FAIL: IRELATIVE relocations"; exit 1; }
exports=$(nm -D --defined-only "$lib" | awk '{print $3}' | tr '\n' ' ')
[ "$exports" = "trueanomaly trueanomaly_array " ] || { echo "FAIL: exports $exports"; exit 1; }
out=$("$dir/examples/orbit_table")
grep -qx 'e = 0.99, limit 2: status -1, outputs 3.1050894 3.1193554 -9 -9' <<<"$out" ||
  { echo "FAIL: the failed array call's outputs"; echo "$out"; exit 1; }
grep -qx 'scalar entry, M = 1, e = 0.5: 2.0993011' <<<"$out" ||
  { echo "FAIL: the scalar worked example"; echo "$out"; exit 1; }
echo "musl: built without indirect functions, loads with $(readelf -l "$dir/examples/orbit_table" | grep -o 'ld-musl[^]]*'), exports: $exports; worked examples: OK"
