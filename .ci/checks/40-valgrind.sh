#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# valgrind memcheck: the example program and the Fortran binding's test run
# with no error, and the library allocates nothing (a probe that calls both entries many times reports the
# same heap use as the same probe making no calls).
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
ci_install valgrind g++ gfortran cmake ninja-build libgtest-dev

dir=build-ci/valgrind
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$dir" -j2 --target orbit_table trueanomaly_heap_probe trueanomaly_fortran_test

memcheck() {
  valgrind --tool=memcheck --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=all \
    --track-origins=yes "$@"
}
echo "--- example program"
memcheck "$dir/examples/orbit_table" >/dev/null
echo "--- the Fortran binding's test (single and double precision)"
memcheck "$dir/trueanomaly_fortran_test"

echo "--- heap use with and without calls"
allocs() {  # prints "N allocs, M frees, B bytes allocated" of one run
  memcheck "$dir/tests/trueanomaly_heap_probe" "$1" 2>&1 >/dev/null |
    sed -n 's/.*total heap usage: //p'
}
without=$(allocs 0)
with=$(allocs 1)
echo "without calls: $without"
echo "with calls:    $with"
if [ -z "$with" ] || [ "$with" != "$without" ]; then
  echo "the library allocated memory (or valgrind printed no heap summary)"
  exit 1
fi
