// SPDX-License-Identifier: BSD-3-Clause
// The lane kernels of kernels.h for the AVX2 implementation, compiled with
// its flags, with one group of AVX-512's eight lanes in AVX2 registers.
#include "kernels/kernels_per_path.h"
#include "path_avx2.h"
#include "path_avx512.h"

namespace lane_kernels {
extern constexpr Kernels kernels_avx2 =
    KernelsFor<trueanomaly_detail::kAvx2Shape, trueanomaly_detail::kAvx512Shape.lanes>::table(
        &trueanomaly_detail::kAvx2, "avx2");
}  // namespace lane_kernels
