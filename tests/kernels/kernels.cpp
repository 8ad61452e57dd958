// SPDX-License-Identifier: BSD-3-Clause
// The tables of kernels.h this build compiled: one per vector path of
// src/paths.h (none off x86-64).
#include "kernels/kernels.h"

namespace lane_kernels {

#define TRUEANOMALY_DECLARE_KERNELS(name, label, lanes, groups, requirement) \
  extern const Kernels kernels_##name;
TRUEANOMALY_VECTOR_PATH_TABLE(TRUEANOMALY_DECLARE_KERNELS)
#undef TRUEANOMALY_DECLARE_KERNELS

std::string shape_name(const Shape &s) {
  static const char *const suffix[] = {"", "_one_step", "_stragglers"};
  return std::to_string(s.lanes) + "x" + std::to_string(s.groups) +
         suffix[static_cast<int>(s.driver)];
}

std::vector<const Kernels *> compiled() {
  return {
#define TRUEANOMALY_KERNELS_ADDRESS(name, label, lanes, groups, requirement) &kernels_##name,
      TRUEANOMALY_VECTOR_PATH_TABLE(TRUEANOMALY_KERNELS_ADDRESS)
#undef TRUEANOMALY_KERNELS_ADDRESS
  };
}

std::vector<const Kernels *> runnable() {
  std::vector<const Kernels *> out;
  for (const Kernels *k : compiled())
    if (runnable(*k)) out.push_back(k);
  return out;
}

}  // namespace lane_kernels
