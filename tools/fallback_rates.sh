#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Builds tools/fallback_rates.cpp and runs it: how often each vector path
# hands elements to the plain solve, per sample of inputs.
#   tools/fallback_rates.sh [ELEMENTS-PER-SAMPLE] [--path NAME]
set -euo pipefail
source "$(dirname "$0")/build_tools.sh"
build_tools trueanomaly_fallback_rates
exec "$tools/trueanomaly_fallback_rates" "$@"
