#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Sanitizers. An ASan+UBSan build (-fno-sanitize-recover=all: the first
# report fails the run) runs the whole test suite; a TSan build runs the
# entries from several threads at once on shared inputs.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
ci_install g++ clang cmake ninja-build libgtest-dev libmpfr-dev

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
# Sanitized code runs several times slower: a smaller differential count,
# and every 16th input of the kernel checks.
export TRUEANOMALY_DIFFERENTIAL_INPUTS=${TRUEANOMALY_DIFFERENTIAL_INPUTS:-1000000}
export TRUEANOMALY_KERNEL_STRIDE=${TRUEANOMALY_KERNEL_STRIDE:-16}

echo "--- ASan + UBSan, whole suite"
dir=build-ci/asan-ubsan
# Reports keep their file and line; GCC's tracking of variable locations
# through the instrumented vector code would triple the build's time.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS=-fno-var-tracking-assignments -DCMAKE_CXX_FLAGS=-fno-var-tracking-assignments \
  -DTRUEANOMALY_SANITIZE=address,undefined >/dev/null
cmake --build "$dir" -j2
ctest --test-dir "$dir" --output-on-failure -j2 --timeout 900 --no-tests=error

# gcc: clang 14 instruments even a no_sanitize("thread") function's entry,
# and the library's load-time path resolver runs before the TSan runtime.
echo "--- TSan, concurrent calls"
dir=build-ci/tsan
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ \
  -DTRUEANOMALY_SANITIZE=thread -DTRUEANOMALY_BUILD_EXAMPLES=OFF >/dev/null
cmake --build "$dir" -j2 --target trueanomaly_model_tests
ctest --test-dir "$dir" --output-on-failure --timeout 600 --no-tests=error -L threads
