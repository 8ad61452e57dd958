#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Builds the near-tie miner (tools/mine_near_ties.c with the test model's
# libm calls made perturbable; tools/CMakeLists.txt) and runs it:
#   tools/mine_near_ties.sh SECONDS TARGET SEED > tests/data/near_ties.txt
# Statistics go to stderr.
set -euo pipefail
source "$(dirname "$0")/build_tools.sh"
build_tools trueanomaly_mine_near_ties
exec "$tools/trueanomaly_mine_near_ties" "$@"
