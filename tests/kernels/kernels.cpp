// SPDX-License-Identifier: BSD-3-Clause
// The tables of kernels.h this build compiled: one per vector
// implementation of src/implementation.h (none off x86-64), in its order.
#include "kernels/kernels.h"

namespace lane_kernels {

#if TRUEANOMALY_VECTOR_PATHS
extern const Kernels kernels_avx2;    // kernels_avx2.cpp
extern const Kernels kernels_avx512;  // kernels_avx512.cpp
#endif

std::string shape_name(const Shape &s) {
  const auto shape = [&s](int groups) {
    return std::to_string(s.lanes) + "x" + std::to_string(groups);
  };
  switch (s.driver) {
    case Driver::one_step: return shape(s.block_groups) + "_one_step";
    case Driver::until_stopped: return shape(s.block_groups) + "_until_stopped";
    case Driver::two_step: return shape(s.long_call_groups) + "_two_step";
    case Driver::stragglers: return shape(s.groups) + "_stragglers";
    case Driver::chosen: break;
  }
  return s.block_groups == s.groups ? shape(s.groups)
                                    : shape(s.block_groups) + "_" + shape(s.groups);
}

std::vector<const Kernels *> compiled() {
#if TRUEANOMALY_VECTOR_PATHS
  return {&kernels_avx2, &kernels_avx512};
#else
  return {};
#endif
}

std::vector<const Kernels *> runnable() {
  std::vector<const Kernels *> out;
  for (const Kernels *k : compiled())
    if (runnable(*k)) out.push_back(k);
  return out;
}

}  // namespace lane_kernels
