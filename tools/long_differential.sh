#!/usr/bin/env bash
# The long differential run: about 10^9 inputs (or TOTAL) across the two
# public entries and every array path this CPU can run, in every regime,
# against the independent model. Builds a Release tree in build-long/, runs
# the entry and path test programs side by side (two cores), and prints the
# totals.  tools/long_differential.sh [TOTAL] [SEED]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
total=${1:-1000000000}
seed=${2:-$(date +%s)}
dir=${TRUEANOMALY_LONG_BUILD:-$root/build-long}
cmake -S "$root" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$dir" -j2 --target trueanomaly_model_tests trueanomaly_path_tests

# Targets: the scalar entry, the array entry, and each available path.
paths=$(TRUEANOMALY_DIFFERENTIAL_INPUTS=6 "$dir/tests/trueanomaly_path_tests" \
          --gtest_filter='*RandomArrays*circle' | grep -c '^array path .* inputs' || true)
per_target=$(( total / (2 + paths) ))
echo "seed $seed; $((2 + paths)) targets (2 entries, $paths paths); $per_target inputs each"
export TRUEANOMALY_DIFFERENTIAL_SEED=$seed TRUEANOMALY_DIFFERENTIAL_INPUTS=$per_target
log="$dir/long-$seed"
start=$(date +%s)
"$dir/tests/trueanomaly_model_tests" --gtest_filter='*EntriesVsModel*' >"$log.entries" 2>&1 &
entries=$!
"$dir/tests/trueanomaly_path_tests" --gtest_filter='*RandomArrays*' >"$log.paths" 2>&1 &
paths_pid=$!
status=0
wait $entries || status=1
wait $paths_pid || status=1
seconds=$(( $(date +%s) - start ))
grep -h 'inputs' "$log.entries" "$log.paths" || true
checked=$(cat "$log.entries" "$log.paths" | sed -n 's/.*: \([0-9]*\) inputs.*/\1/p' | awk '{s += $1} END {print s}')
echo "total: $checked inputs in $seconds s, seed $seed: $([ $status = 0 ] && echo 'all match the model' || echo 'MISMATCHES (see logs)')"
grep -h -A3 'Failure' "$log.entries" "$log.paths" | head -40 || true
exit $status
