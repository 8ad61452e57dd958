#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Fuzzing: the libFuzzer target in fuzz/ (clang, with ASan and UBSan, the
# library instrumented for coverage) runs from the committed seed corpus for
# a bounded time. An input that fails a check is saved under
# build-ci/fuzz/artifacts/; commit it to fuzz/regressions/ so that the test
# suite (ctest: fuzz.replay) replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
ci_install clang cmake ninja-build libgtest-dev

seconds=${TRUEANOMALY_FUZZ_SECONDS:-60}
dir=build-ci/fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link \
  -DTRUEANOMALY_SANITIZE=address,undefined -DTRUEANOMALY_BUILD_FUZZER=ON \
  -DTRUEANOMALY_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$dir" -j2 --target trueanomaly_fuzzer

# New corpus entries go to a scratch directory, never into the repository.
rm -rf "$dir/corpus" "$dir/artifacts"
mkdir -p "$dir/corpus" "$dir/artifacts"
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
if ! "$dir/fuzz/trueanomaly_fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
     -print_final_stats=1 -artifact_prefix="$dir/artifacts/" \
     "$dir/corpus" fuzz/seeds fuzz/regressions; then
  echo "The fuzzer found a failing input: $(ls "$dir/artifacts")"
  echo "Commit it to fuzz/regressions/ (ctest replays it) and fix the library."
  exit 1
fi
