#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The near-tie corpus's power to catch a broken build: the test model built
# exactly as the tests build it and built deliberately contracted
# (-O2 -ffp-contract=fast -march=native, so products fuse into the following
# subtractions; tools/CMakeLists.txt), and the count of corpus inputs, and
# for contrast random inputs, whose outcome (status, result bits, step
# count) the contracted build gets wrong. The library itself refuses to be
# configured this way.
#   tools/corpus_power.sh [CORPUS] [RANDOM-COUNT]
set -euo pipefail
source "$(dirname "$0")/build_tools.sh"
corpus=${1:-$root/tests/data/near_ties.txt}
random_count=${2:-1000000}
build_tools trueanomaly_outcomes_exact trueanomaly_outcomes_contracted
fused=$(objdump -d "$tools/trueanomaly_outcomes_contracted" | grep -c "vfn\?m\(add\|sub\)" || true)
if [ "$fused" = 0 ]; then
  echo "note: no fused multiply-add was emitted here (CPU without FMA?)" >&2
fi
count_wrong() {
  diff <("$tools/trueanomaly_outcomes_exact" "$@") <("$tools/trueanomaly_outcomes_contracted" "$@") |
    grep -c '^<' || true
}
inputs=$(grep -vc '^#' "$corpus" || true)
wrong=$(count_wrong "$corpus")
random_wrong=$(count_wrong random "$random_count" 12345)
echo "corpus: contracted build wrong on $wrong of $inputs inputs"
echo "random: contracted build wrong on $random_wrong of $random_count inputs"
