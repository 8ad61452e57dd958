#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Does the array entry's speed depend on where the code lands? The shared
# library built several times with the same source and flags but for what
# moves its code (function and loop alignment, padding at the head of each
# unit's text), each build's 2^20-element cases timed by one benchmark
# program (TRUEANOMALY_BENCH_LIBRARY), the builds taken in turn for ROUNDS
# rounds, and per case the spread of the builds' speed-ups over the libm
# loop (timed in the same run, so that the machine's drift cancels):
#   tools/placement_spread.sh [ROUNDS]         default 3
# Needs a benchmark build (BENCH, default build-bench: cmake -S . -B
# build-bench -G Ninja -DTRUEANOMALY_BUILD_BENCHMARKS=ON). The builds go to
# OUT (default build-placement). Prints a Markdown table: per case the
# fastest speed-up of each build, the spread (largest / smallest - 1), and
# beside it the same figure for "control", built exactly as "default" (the
# same bytes): what the machine's noise alone gives.
# FORCED=avx2 times the AVX2 path on a CPU with AVX-512: the builds then
# choose as on a CPU without it (TRUEANOMALY_DISPATCH_WITHOUT_AVX512,
# src/dispatch.cpp), and their array entry runs the AVX2 path, timed by the
# same benchmark program as the others.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-3}
bench=${BENCH:-build-bench}/bench/trueanomaly_bench
out=${OUT:-build-placement}
pad=$PWD/tools/placement_pad.h
names=(default control aligned-64 unaligned loops-32 pad-16 pad-32 pad-48)
flags=("" ""
       "-falign-functions=64 -falign-loops=64"
       "-falign-functions=1 -falign-loops=1 -falign-jumps=1 -falign-labels=1"
       "-falign-loops=32"
       "-include $pad -DPLACEMENT_PAD=16"
       "-include $pad -DPLACEMENT_PAD=32"
       "-include $pad -DPLACEMENT_PAD=48")
forced=${FORCED:-}
case $forced in
  "") ;;
  avx2) for i in "${!flags[@]}"; do flags[i]+=" -DTRUEANOMALY_DISPATCH_WITHOUT_AVX512=1"; done ;;
  *) echo "FORCED: only avx2 (the array entry runs the widest path otherwise)"; exit 2 ;;
esac
[[ -x $bench ]] || { echo "no benchmark at $bench (see the comment at the top)"; exit 2; }
for i in "${!names[@]}"; do
  cmake -S . -B "$out/${names[i]}" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_CXX_FLAGS="${flags[i]}" >/dev/null
  cmake --build "$out/${names[i]}" --target trueanomaly >/dev/null
done
for round in $(seq "$rounds"); do
  for name in "${names[@]}"; do
    TRUEANOMALY_BENCH_LIBRARY="$out/$name/libtrueanomaly.so" "$bench" \
      --benchmark_filter="(libm_loop|array_entry)/e:[0-9.]+/n:1048576\$" \
      --benchmark_format=json --benchmark_out="$out/$name.$round.json" >/dev/null 2>&1
  done
done
python3 - "$out" "$rounds" "${names[@]}" <<'PYTHON'
import json, sys
out, rounds, names = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
best = {}  # (case, build) -> fastest speed-up over the libm loop, per run
for name in names:
    for r in range(1, rounds + 1):
        runs = json.load(open(f"{out}/{name}.{r}.json"))["benchmarks"]
        low = {b["run_name"]: b["real_time"] for b in runs if b.get("aggregate_name") == "min"}
        for run, t in low.items():
            if run.startswith("array_entry/"):
                case = run.split("/", 1)[1]
                ratio = low["libm_loop/" + case] / t
                best[case, name] = max(best.get((case, name), 0), ratio)
cases = sorted({c for c, _ in best}, key=lambda c: float(c.split("/")[0][2:]))
moved = [n for n in names if n != "control"]
print("| case | " + " | ".join(names) + " | spread | default against control |")
print("|---" * (len(names) + 3) + "|")
for case in cases:
    row = [best[case, n] for n in moved]
    control = best[case, "default"] / best[case, "control"]
    print(f"| {case} | " + " | ".join(f"{best[case, n]:.2f}×" for n in names) +
          f" | {100 * (max(row) / min(row) - 1):.1f} % | {100 * abs(control - 1):.1f} % |")
PYTHON
