#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The long differential run: about 10^9 inputs (or TOTAL) across the two
# public entries, every array path this CPU can run and the scalar kernel,
# in every regime, against the independent model: the tests labelled
# "differential", with larger counts, two at a time. Builds a Release tree in
# build-long/ and prints the totals.  tools/long_differential.sh [TOTAL] [SEED]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
total=${1:-1000000000}
seed=${2:-$(date +%s)}
dir=${TRUEANOMALY_LONG_BUILD:-$root/build-long}
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRUEANOMALY_BUILD_TOOLS=ON >/dev/null
cmake --build "$dir" -j2 >/dev/null

# Targets: the scalar entry, the array entry, each available path, and the
# scalar kernel where the AVX2 path (its requirement) is available.
paths=$("$dir/tools/trueanomaly_list_paths" | grep -c ' available$' || true)
kernel=$("$dir/tools/trueanomaly_list_paths" | grep -c '^avx2 available$' || true)
per_target=$(( total / (2 + paths + kernel) ))
echo "seed $seed; $((2 + paths + kernel)) targets (2 entries, $paths paths, $kernel scalar kernel); $per_target inputs each"
export TRUEANOMALY_DIFFERENTIAL_SEED=$seed TRUEANOMALY_DIFFERENTIAL_INPUTS=$per_target
start=$(date +%s)
status=0
ctest --test-dir "$dir" -L differential -j2 --timeout 0 --no-tests=error >/dev/null || status=1
# Every test's output, passing or not.
cp "$dir/Testing/Temporary/LastTest.log" "$dir/long-$seed.log"
seconds=$(( $(date +%s) - start ))
grep -h ': [0-9]* inputs' "$dir/long-$seed.log" | sort || true
checked=$(sed -n 's/.*: \([0-9]*\) inputs.*/\1/p' "$dir/long-$seed.log" | awk '{s += $1} END {print s}')
echo "total: $checked inputs in $seconds s, seed $seed: $([ $status = 0 ] && echo 'all match the model' || echo 'MISMATCHES (see the log)')"
grep -h -A3 'Failure' "$dir/long-$seed.log" | head -40 || true
exit $status
