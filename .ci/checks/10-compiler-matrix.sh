#!/usr/bin/env bash
# Compiler and flag matrix: gcc and clang, each at -O0, -O2 and
# -O3 -march=native. Every build runs the differential tests against the
# independent model (both entries, every available array path), the near-tie
# corpus and the caller-state tests; results must match bit for bit. Then
# configuring with -ffast-math or -Ofast must stop with a clear message.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
ci_install g++ clang cmake ninja-build libgtest-dev

# A smaller differential count per build than the main test run.
export TRUEANOMALY_DIFFERENTIAL_INPUTS=${TRUEANOMALY_DIFFERENTIAL_INPUTS:-1000000}
root=build-ci/matrix
mkdir -p "$root"
for compiler in gcc clang; do
  if [ "$compiler" = gcc ]; then cc=gcc cxx=g++; else cc=clang cxx=clang++; fi
  for flags in "-O0" "-O2" "-O3 -march=native"; do
    dir="$root/$compiler${flags// /}"
    echo "--- $compiler $flags"
    # Build type None: the flags above are the only optimisation flags.
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=None \
      -DCMAKE_C_COMPILER=$cc -DCMAKE_CXX_COMPILER=$cxx \
      -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
      -DTRUEANOMALY_BUILD_EXAMPLES=OFF >"$dir.configure.log" 2>&1 ||
      { cat "$dir.configure.log"; exit 1; }
    cmake --build "$dir" -j2 --target trueanomaly_model_tests trueanomaly_path_tests
    ctest --test-dir "$dir" --output-on-failure -j2 --timeout 600 --no-tests=error \
      -R 'VsModel|NearTieCorpus|PathCheck|CallerState'
  done
done

# Flags that would let the compiler reorder, fuse or approximate must be
# refused at configure time, naming the flag.
for bad in -ffast-math -Ofast; do
  for var in CMAKE_C_FLAGS CMAKE_CXX_FLAGS; do
    dir="$root/refuse"
    rm -rf "$dir"
    if cmake -S . -B "$dir" -G Ninja -D$var="$bad" >"$dir.log" 2>&1; then
      echo "configuring with $var=$bad was accepted; it must fail"
      exit 1
    fi
    if ! grep -q "contains '$bad'" "$dir.log"; then
      echo "configuring with $var=$bad failed without naming the flag:"
      cat "$dir.log"
      exit 1
    fi
    echo "$var=$bad refused: $(grep -m1 "contains '$bad'" "$dir.log" | sed 's/^ *//')"
  done
done
