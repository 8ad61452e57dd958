#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Compiler and flag matrix: gcc and clang at -O0 and -O3 -march=native,
# warnings as errors (gcc at -O2 is the sanitizers' build, which runs the
# whole suite; gcc at -O3 the main one). Each build compiles every target
# (library, examples, tests, bindings, benchmark, the MPFR tool, and with
# clang the libFuzzer target), then runs the differential tests against the
# independent model (both entries, every available array path), the lane
# shapes, the near-tie corpus, the caller-state tests, the dispatcher's
# choice and the kernel checks (sampled), and with clang at -O3 the
# contract tests too; results must match bit for bit. gcc at -O3
# -march=native is also the build without GNU indirect functions
# (-DTRUEANOMALY_IFUNC=OFF: the path chosen on first use, as on musl), and
# runs the whole suite.
# Then configuring with -ffast-math or -Ofast must stop with a clear message.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
ci_install g++ clang cmake ninja-build libgtest-dev libbenchmark-dev libmpfr-dev gfortran

# Smaller counts per build than the main test run: 10^6 differential inputs
# per entry and path, every 7th input of the kernel checks (every 211th at
# -O0, where the vector code is some thirty times slower).
export TRUEANOMALY_DIFFERENTIAL_INPUTS=${TRUEANOMALY_DIFFERENTIAL_INPUTS:-1000000}
root=build-ci/matrix
mkdir -p "$root"
for compiler in gcc clang; do
  if [ "$compiler" = gcc ]; then cc=gcc cxx=g++ fuzzer=OFF; else cc=clang cxx=clang++ fuzzer=ON; fi
  levels=("-O0" "-O3 -march=native")
  for flags in "${levels[@]}"; do
    dir="$root/$compiler${flags// /}"
    ifunc=AUTO labels='differential|corpus|caller_state|paths|lanes|kernels'
    if [ "$compiler $flags" = "gcc -O3 -march=native" ]; then ifunc=OFF labels=.; fi
    # clang lays out frames its own way: its optimised build also runs the
    # contract tests, the 32 KiB stacks among them.
    if [ "$compiler $flags" = "clang -O3 -march=native" ]; then labels="$labels|contract"; fi
    echo "--- $compiler $flags (TRUEANOMALY_IFUNC=$ifunc)"
    # Build type None: the flags above are the only optimisation flags.
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=None \
      -DCMAKE_C_COMPILER=$cc -DCMAKE_CXX_COMPILER=$cxx \
      -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_Fortran_FLAGS="$flags" \
      -DTRUEANOMALY_WERROR=ON -DTRUEANOMALY_BUILD_BENCHMARKS=ON -DTRUEANOMALY_BUILD_TOOLS=ON \
      -DTRUEANOMALY_BUILD_FUZZER=$fuzzer -DTRUEANOMALY_IFUNC=$ifunc >"$dir.configure.log" 2>&1 ||
      { cat "$dir.configure.log"; exit 1; }
    cmake --build "$dir" -j2 >"$dir.build.log" 2>&1 || { cat "$dir.build.log"; exit 1; }
    echo "built $(grep -c '^\[' "$dir.build.log") steps, every target"
    stride=7
    [ "$flags" = -O0 ] && stride=211
    TRUEANOMALY_KERNEL_STRIDE=$stride ctest --test-dir "$dir" --output-on-failure -j2 --timeout 900 --no-tests=error \
      -L "$labels" \
      >"$dir.ctest.log" 2>&1 || { cat "$dir.ctest.log"; exit 1; }
    grep -E 'tests passed|Total Test time' "$dir.ctest.log"
    grep 'libtrueanomaly: the path is chosen' "$dir.configure.log"
  done
done

# clang against gcc, both at -O3 -march=native: a short benchmark run of each
# in turn, the entries on 2^20 elements at e = 0.5 and 0.99 (a figure for the
# log, not a gate: the machine is shared).
echo "--- clang/gcc at -O3 -march=native, fastest of two runs each (below 1: clang faster)"
filter='(libm_loop|array_entry|scalar_entry)/e:0.(50|99)/n:1048576$'
for run in 1 2; do
  for compiler in gcc clang; do
    "$root/$compiler-O3-march=native/bench/trueanomaly_bench" --benchmark_filter="$filter" \
      --benchmark_repetitions=2 --benchmark_min_time=0.05 2>/dev/null |
      sed -n "s/^| \(0\.[0-9]*\) | 1048576 | [^|]* | \([0-9.]*\) ns[^|]* | \([0-9.]*\) ns.*/$compiler \1 \2 \3/p"
  done
done | python3 -c '
import sys
best = {}
for compiler, e, array, scalar in (line.split() for line in sys.stdin):
    for entry, ns in (("array", float(array)), ("scalar", float(scalar))):
        key = (compiler, e, entry)
        best[key] = min(best.get(key, ns), ns)
for (compiler, e, entry), ns in sorted(best.items()):
    if compiler == "gcc" and ("clang", e, entry) in best:
        c = best[("clang", e, entry)]
        print(f"e = {e}, {entry} entry: gcc {ns:.1f} ns, clang {c:.1f} ns, clang/gcc {c / ns:.2f}")
'

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
