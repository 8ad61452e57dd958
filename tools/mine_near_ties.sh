#!/usr/bin/env bash
# Builds the near-tie miner (tools/mine_near_ties.c with the test model's
# libm calls made perturbable) and runs it:
#   tools/mine_near_ties.sh SECONDS TARGET SEED > tests/data/near_ties.txt
# Statistics go to stderr. Build products go to build-tools/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${TRUEANOMALY_TOOLS_BUILD:-$root/build-tools}
cc=${CC:-gcc}
mkdir -p "$out"
# The model exactly as the tests build it (no contraction, no builtins), only
# with sin, cos and atan2 routed through the perturbable wrappers.
"$cc" -std=c99 -O2 -ffp-contract=off -fno-builtin -frounding-math -fno-fast-math \
  -include "$root/tools/perturbed_libm.h" \
  -DMODEL_SIN=perturbed_sin -DMODEL_COS=perturbed_cos -DMODEL_ATAN2=perturbed_atan2 \
  -I"$root/tests/model" -c "$root/tests/model/kepler_model.c" -o "$out/model_perturbed.o"
# The scans: -march=native only to vectorise them; contraction stays off and
# the fused variants they test are explicit fma() calls.
"$cc" -std=c99 -D_GNU_SOURCE -O3 -march=native -ffp-contract=off -fno-fast-math \
  -Wall -Wextra -I"$root/tests/model" -I"$root/tools" \
  "$root/tools/mine_near_ties.c" "$out/model_perturbed.o" -lm -o "$out/mine_near_ties"
exec "$out/mine_near_ties" "$@"
