#!/bin/sh
# Builds tools/measure_kernels.cpp with the library's floating-point flags and
# runs it; arguments go to the program (e.g. --quick, -n 1000000).
set -e
cd "$(dirname "$0")/.."
out="${TMPDIR:-/tmp}/measure_kernels"
g++ -O2 -mavx2 -mfma -ffp-contract=off -fno-fast-math -frounding-math -Wno-psabi -std=c++17 -Isrc \
  tools/measure_kernels.cpp -lmpfr -lgmp -o "$out"
exec "$out" "$@"
