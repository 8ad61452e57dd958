#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The whole test suite on older CPUs, emulated by Debian's qemu-user: Nehalem
# (no AVX: the plain path) and Haswell (AVX2 and FMA, no AVX-512). Every
# test program must run on each (passing, or skipping what the CPU lacks,
# never an illegal instruction), and the library must choose the path that
# CPU should get. Random counts are smaller, the kernel checks sampled.
set -euo pipefail
cd "$(dirname "$0")/../.."
source .ci/lib.sh
ci_install qemu-user cmake ninja-build g++ libgtest-dev libmpfr-dev

dir=build-ci/emulated
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRUEANOMALY_WERROR=ON -DTRUEANOMALY_BUILD_TOOLS=ON \
  -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/.ci/emulate-cpu" >/dev/null
cmake --build "$dir" -j2 >/dev/null

export TRUEANOMALY_DIFFERENTIAL_INPUTS=${TRUEANOMALY_EMULATED_INPUTS:-100000}
export TRUEANOMALY_KERNEL_STRIDE=1000
# Haswell's TSX and system features are not emulated; leaving them out keeps
# qemu from warning about each at every start.
for cpu in "Nehalem plain" "Haswell,-pcid,-x2apic,-tsc-deadline,-hle,-invpcid,-rtm avx2"; do
  read -r model expected <<<"$cpu"
  echo "--- qemu-x86_64 -cpu ${model%%,*}: the $expected path"
  TRUEANOMALY_QEMU_CPU=$model TRUEANOMALY_EXPECT_PATH=$expected \
    ctest --test-dir "$dir" -j2 --timeout 900 --no-tests=error --output-on-failure \
      >"$dir/ctest-${model%%,*}.log" 2>&1 || { cat "$dir/ctest-${model%%,*}.log"; exit 1; }
  grep -E "tests passed|Total Test time" "$dir/ctest-${model%%,*}.log"
  grep -c "(Skipped)" "$dir/ctest-${model%%,*}.log" | sed 's/$/ tests skipped (paths this CPU lacks)/'
  TRUEANOMALY_QEMU_CPU=$model TRUEANOMALY_EXPECT_PATH=$expected \
    ctest --test-dir "$dir" -L paths -V | grep "dispatcher's choice"
done
