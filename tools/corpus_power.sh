#!/usr/bin/env bash
# The near-tie corpus's power to catch a broken build: builds the test model
# twice, exactly as the tests do and deliberately contracted
# (-O2 -ffp-contract=fast -march=native, so products fuse into the following
# subtractions), and counts the corpus inputs, and for contrast random
# inputs, whose outcome (status, result bits, step count) the contracted
# build gets wrong. The library itself refuses to be configured this way.
#   tools/corpus_power.sh [CORPUS] [RANDOM-COUNT]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
corpus=${1:-$root/tests/data/near_ties.txt}
random_count=${2:-1000000}
out=${TRUEANOMALY_TOOLS_BUILD:-$root/build-tools}
cc=${CC:-gcc}
mkdir -p "$out"
build() {  # name, flags...
  local name=$1; shift
  "$cc" -std=c99 "$@" -fno-builtin -frounding-math -I"$root/tests/model" \
    "$root/tools/corpus_outcomes.c" "$root/tests/model/kepler_model.c" -lm -o "$out/$name"
}
build outcomes_exact -O0 -ffp-contract=off
build outcomes_contracted -O2 -ffp-contract=fast -march=native
if ! objdump -d "$out/outcomes_contracted" | grep -c "vfn\?m\(add\|sub\)" >/dev/null; then
  echo "note: $cc emitted no fused multiply-add here (CPU without FMA?)" >&2
fi
count_wrong() {
  diff <("$out/outcomes_exact" "$@") <("$out/outcomes_contracted" "$@") | grep -c '^<' || true
}
inputs=$(grep -vc '^#' "$corpus" || true)
wrong=$(count_wrong "$corpus")
random_wrong=$(count_wrong random "$random_count" 12345)
echo "corpus: contracted build wrong on $wrong of $inputs inputs"
echo "random: contracted build wrong on $random_wrong of $random_count inputs"
