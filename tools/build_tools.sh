# SPDX-License-Identifier: BSD-3-Clause
# Sourced by the scripts in tools/: builds the named CMake targets in a
# Release tree with the tools on (build-tools/, or TRUEANOMALY_TOOLS_BUILD)
# and sets $tools to the directory that holds them.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
tools_build=${TRUEANOMALY_TOOLS_BUILD:-$root/build-tools}
build_tools() {
  cmake -S "$root" -B "$tools_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DTRUEANOMALY_BUILD_TOOLS=ON >/dev/null
  cmake --build "$tools_build" -j2 --target "$@" >/dev/null
}
tools=$tools_build/tools
