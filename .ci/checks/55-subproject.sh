#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The library as a subproject of another CMake project, with add_subdirectory
# and with FetchContent from a local path, and GoogleTest unavailable: the
# parent must configure and build, run its program, keep its own (empty)
# build type and its own CPack configuration, and get no test, example or
# install rules of the library.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
ci_install cmake ninja-build g++

for how in add_subdirectory FetchContent; do
  dir=build-ci/subproject-$how
  rm -rf "$dir"
  echo "--- $how"
  cmake -S tests/subproject -B "$dir" -G Ninja -DTRUEANOMALY_SOURCE="$PWD" \
    -DTRUEANOMALY_HOW=$how -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON >"$dir.log" 2>&1 ||
    { cat "$dir.log"; exit 1; }
  cmake --build "$dir" >/dev/null
  "$dir/parent_app"
  build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$dir/CMakeCache.txt")
  [ -z "$build_type" ] || { echo "FAIL: the parent's build type was set to '$build_type'"; exit 1; }
  grep -q 'CPACK_PACKAGE_NAME "trueanomaly_parent"' "$dir/CPackConfig.cmake" ||
    { echo "FAIL: the library took over the parent's CPack configuration"; exit 1; }
  if ninja -C "$dir" -t targets all | grep -qE '^(trueanomaly_tests|orbit_table|trueanomaly_fortran)'; then
    echo "FAIL: tests, examples or bindings of the library were added to the parent"; exit 1
  fi
  if ninja -C "$dir" -t targets all | grep -q '^install:'; then
    if cmake --install "$dir" --prefix "$dir/stage" >/dev/null && [ -d "$dir/stage/include" ]; then
      echo "FAIL: the library added install rules to the parent"; exit 1
    fi
  fi
  echo "$how: builds without GoogleTest, parent's build type and packaging kept"
done
