// The tables of lane_kernels.h this build compiled (none off x86-64).
#include "lane_kernels.h"

namespace lane_kernels {

#if TRUEANOMALY_VECTOR_PATHS
extern const Kernels kAvx2Kernels, kAvx512Kernels;
#endif

std::vector<const Kernels *> compiled() {
#if TRUEANOMALY_VECTOR_PATHS
  return {&kAvx2Kernels, &kAvx512Kernels};
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
