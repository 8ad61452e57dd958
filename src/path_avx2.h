// SPDX-License-Identifier: BSD-3-Clause
// The AVX2 implementation (path_avx2.cpp): its drivers' shape, which the
// lane tests instantiate too.
#ifndef TRUEANOMALY_PATH_AVX2_H
#define TRUEANOMALY_PATH_AVX2_H

#include "implementation.h"

namespace trueanomaly_detail {

// Four doubles per ymm register. Four groups per straggler block, five per
// block of the block driver, eight in both block drivers on long calls:
// measured best on this path (docs/performance.md).
constexpr DriverShape kAvx2Shape = {4, 4, 5, 8};

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_PATH_AVX2_H
