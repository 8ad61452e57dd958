#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Hosts built with -Ofast set flush-to-zero and denormals-are-zero (MXCSR
# 0x9fc0), and the vector paths and the scalar kernel run under them. The
# differential tests, the near-tie corpus and the lane tests with FTZ, DAZ
# and both set before the tests start (TRUEANOMALY_TEST_MXCSR), for library
# and model alike: every result must be the model's under the same modes.
# (The fuzz target draws the modes per input.)
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
ci_install cmake ninja-build g++ gcc libgtest-dev libmpfr-dev

if [ "$(uname -m)" != x86_64 ]; then
  echo "not x86-64: no MXCSR"
  exit 0
fi
if [ ! -f build/CTestTestfile.cmake ]; then  # run alone, not after .ci/run
  cmake --preset default >/dev/null
  cmake --build --preset default
fi
export TRUEANOMALY_DIFFERENTIAL_INPUTS=${TRUEANOMALY_DIFFERENTIAL_INPUTS:-1000000}
mkdir -p build-ci
for modes in ftz daz ftz,daz; do
  log=build-ci/flush-to-zero-$modes.log
  TRUEANOMALY_TEST_MXCSR=$modes ctest --test-dir build -j2 --timeout 900 --no-tests=error \
    --output-on-failure -L 'differential|corpus|lanes' >"$log" 2>&1 || { cat "$log"; exit 1; }
  echo "$modes: $(grep -E 'tests passed' "$log")"
done
