#!/bin/sh
# Builds tools/measure_kernels.cpp with the project (Release, in build-tools/)
# and runs it; arguments go to the program (e.g. --path avx2, --quick).
set -e
cd "$(dirname "$0")/.."
cmake -S . -B build-tools -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-tools --target trueanomaly_measure_kernels >/dev/null
exec build-tools/tools/trueanomaly_measure_kernels "$@"
