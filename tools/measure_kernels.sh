#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Builds tools/measure_kernels.cpp (needs libmpfr-dev) and runs it; arguments
# go to the program (e.g. --path avx2, --quick).
set -euo pipefail
source "$(dirname "$0")/build_tools.sh"
build_tools trueanomaly_measure_kernels
exec "$tools/trueanomaly_measure_kernels" "$@"
