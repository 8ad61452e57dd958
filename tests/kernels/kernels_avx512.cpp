// SPDX-License-Identifier: BSD-3-Clause
// The lane kernels of kernels.h for the AVX-512 implementation, compiled
// with its flags (the widest: no wider group).
#include "kernels/kernels_per_path.h"
#include "path_avx512.h"

namespace lane_kernels {
extern constexpr Kernels kernels_avx512 =
    KernelsFor<trueanomaly_detail::kAvx512Shape, 0>::table(&trueanomaly_detail::kAvx512, "avx512");
}  // namespace lane_kernels
