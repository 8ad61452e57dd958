// SPDX-License-Identifier: BSD-3-Clause
// The tables of kernels.h this build compiled: one per vector path of
// src/paths.h (none off x86-64).
#include "kernels/kernels.h"

namespace lane_kernels {

#define TRUEANOMALY_DECLARE_KERNELS(name, label, lanes, groups, block_groups, long_call_groups, \
                                    requirement)                                               \
  extern const Kernels kernels_##name;
TRUEANOMALY_VECTOR_PATH_TABLE(TRUEANOMALY_DECLARE_KERNELS)
#undef TRUEANOMALY_DECLARE_KERNELS

std::string shape_name(const Shape &s) {
  const auto shape = [&s](int groups) {
    return std::to_string(s.lanes) + "x" + std::to_string(groups);
  };
  switch (s.driver) {
    case Driver::one_step: return shape(s.block_groups) + "_one_step";
    case Driver::two_step: return shape(s.long_call_groups) + "_two_step";
    case Driver::stragglers: return shape(s.groups) + "_stragglers";
    case Driver::chosen: break;
  }
  return s.block_groups == s.groups ? shape(s.groups)
                                    : shape(s.block_groups) + "_" + shape(s.groups);
}

std::vector<const Kernels *> compiled() {
  return {
#define TRUEANOMALY_KERNELS_ADDRESS(name, label, lanes, groups, block_groups, long_call_groups, \
                                    requirement)                                               \
  &kernels_##name,
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
