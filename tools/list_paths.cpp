// SPDX-License-Identifier: BSD-3-Clause
// Prints the implementations of this build (src/implementation.h) and
// whether this CPU runs each: "plain available", "avx2 available", "avx512
// not available". The array entry takes the last available one.
#include <cstdio>

#include "dispatch.h"

int main() {
  for (const trueanomaly_detail::Implementation *implementation :
       trueanomaly_detail::kImplementations)
    std::printf("%s %s\n", implementation->name,
                trueanomaly_detail::available(*implementation) ? "available" : "not available");
  return 0;
}
