// SPDX-License-Identifier: BSD-3-Clause
// The AVX-512 implementation (path_avx512.cpp): its drivers' shape, which
// the lane tests instantiate too.
#ifndef TRUEANOMALY_PATH_AVX512_H
#define TRUEANOMALY_PATH_AVX512_H

#include "implementation.h"

namespace trueanomaly_detail {

// Eight doubles per zmm register. Four groups per block of either driver
// (the latencies of AVX2 to cover, with twice the registers), eight in both
// block drivers on long calls: measured best on this path
// (docs/performance.md).
constexpr DriverShape kAvx512Shape = {8, 4, 4, 8};

}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_PATH_AVX512_H
