#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The vector paths and the scalar kernel beside glibc's plain libm. glibc
# picks its FMA variants of sin, cos and atan2 on a CPU with FMA and its
# plain ones elsewhere, and the two differ in the last bit for a few
# arguments in ten thousand. The rounding tests budget libm's error rather
# than one libm's values, so every result must match the plain solve under
# either; but a CPU with the vector paths has FMA, so the rest of CI only
# ever runs them beside the FMA variants. GLIBC_TUNABLES takes FMA and AVX2
# out of glibc's view of the CPU, which switches libm alone: the library
# reads cpuid itself, and Dispatch.ChoosesThePathThisMachineShouldGet fails
# if its choice moved.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
ci_install cmake ninja-build g++ gcc libgtest-dev libmpfr-dev

if [ "$TRUEANOMALY_EXPECT_PATH" = plain ]; then
  echo "no vector path on this CPU: nothing to run beside another libm"
  exit 0
fi
if [ ! -f build/CTestTestfile.cmake ]; then  # run alone, not after .ci/run
  cmake --preset default >/dev/null
  cmake --build --preset default
fi

plain_libm=glibc.cpu.hwcaps=-AVX2,-FMA
mkdir -p build-ci
gcc -O1 -fno-builtin -std=c99 -Wall -Wextra -Werror .ci/libm-fingerprint.c -o build-ci/libm-fingerprint -lm
fma=$(build-ci/libm-fingerprint)
plain=$(GLIBC_TUNABLES=$plain_libm build-ci/libm-fingerprint)
echo "libm fingerprint: $fma as this CPU gets it, $plain with $plain_libm"
if [ "$fma" = "$plain" ]; then
  echo "GLIBC_TUNABLES did not switch libm's variants: this check would test nothing"
  exit 1
fi

export GLIBC_TUNABLES=$plain_libm
log=build-ci/plain-libm-ctest.log
ctest --test-dir build -j2 --timeout 900 --no-tests=error --output-on-failure \
  -L 'differential|corpus|lanes|paths' >"$log" 2>&1 || { cat "$log"; exit 1; }
grep -E "tests passed|Total Test time" "$log"
# Our sin and cos against this libm's, every 5th float of each set.
log=build-ci/plain-libm-sincos.log
TRUEANOMALY_KERNEL_STRIDE=5 build/tests/trueanomaly_exhaustive_sincos >"$log" 2>&1 ||
  { cat "$log"; exit 1; }
grep -E "max|inputs" "$log"
