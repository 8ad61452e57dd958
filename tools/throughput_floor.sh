#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# How far the vector paths run from the throughput floor of their
# instruction mix (docs/performance.md):
#   tools/throughput_floor.sh [PATH...]        default: avx2 avx512
# For each path: tools/throughput_floor_regions.cpp compiled to assembly as
# the library compiles that path (g++, -O3, its flags), then llvm-mca's
# cycles per iteration of each marked region on a model of the CPU
# (MCPU_avx2, default znver3; MCPU_avx512, default icelake-server: LLVM 14
# models no AMD core with AVX-512), and per element of the block it serves.
# With BUILD set to a build directory configured with
# -DTRUEANOMALY_BUILD_TOOLS=ON, the measured side follows: the paths this
# CPU runs, in cycles per element, and the mean Newton steps, whose floor
# per element is (start + (steps - 1) * batch + finish) at e = 0.99.
# OUT: where the assembly goes (default build-tools/throughput_floor).
set -euo pipefail
cd "$(dirname "$0")/.."
paths=("${@:-avx2 avx512}")
read -r -a paths <<<"${paths[*]}"
out=${OUT:-build-tools/throughput_floor}
mkdir -p "$out"
common=(-O3 -std=c++17 -ffp-contract=off -fno-fast-math -frounding-math -fno-builtin-sin
        -fno-builtin-cos -fschedule-insns -fsched-pressure -Wno-psabi -DTRUEANOMALY_VECTOR_PATHS=1
        -Iinclude -Isrc)
for path in "${paths[@]}"; do
  case $path in
    avx2) flags=(-mavx2 -mfma) lanes=4 mcpu=${MCPU_avx2:-znver3} ;;
    avx512) flags=(-mavx512f -mfma) lanes=8 mcpu=${MCPU_avx512:-icelake-server} ;;
    *) echo "unknown path $path"; exit 2 ;;
  esac
  g++ "${common[@]}" "${flags[@]}" -S tools/throughput_floor_regions.cpp -o "$out/$path.s"
  # finish_block and first_step are out of line: each body, from its label
  # to its end, as a region (first_step's as straggler_start).
  awk '/^_Z.*finish_block.*:$/ && !done["finish_block"] {on = "finish_block"}
       /^_Z.*first_step.*:$/ && !done["straggler_start"] {on = "straggler_start"}
       on != "" && !begun {print; print "# LLVM-MCA-BEGIN " on; begun = 1; next}
       on != "" && /\.cfi_endproc/ {print "# LLVM-MCA-END"; done[on] = 1; on = ""; begun = 0}
       {print}' "$out/$path.s" >"$out/$path.regions.s"
  echo "--- $path on llvm-mca's $mcpu model (cycles per iteration; per element)"
  llvm-mca -mcpu="$mcpu" -iterations=200 "$out/$path.regions.s" 2>/dev/null |
    awk -v lanes="$lanes" '
      /^\[[0-9]+\] Code Region - / {name = $NF}
      /^Total Cycles:/ {cycles = $3}
      /^Iterations:/ {iterations = $2}
      /^Block RThroughput:/ {
        per = cycles / iterations
        groups = (name == "one_step_block") ? 8 : 4
        printf "  %-17s %7.1f cycles, %5.2f per element (RThroughput %s)\n", name, per, per / (lanes * groups), $3
      }'
done
if [[ -n ${BUILD:-} ]]; then
  echo "--- measured on this CPU"
  "$BUILD/tools/trueanomaly_throughput_floor"
fi
