// SPDX-License-Identifier: BSD-3-Clause
// Prints the array paths of this build (src/paths.h) and whether this CPU
// runs each: "plain available", "avx2 available", "avx512 not available".
// The path the array entry takes is the last available one.
#include <cstdio>

#include "dispatch.h"

int main() {
  for (const auto &info : trueanomaly_detail::kPaths)
    std::printf("%s %s\n", info.name,
                trueanomaly_detail::path_available(info.path) ? "available" : "not available");
  return 0;
}
