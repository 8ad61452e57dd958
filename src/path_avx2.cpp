// SPDX-License-Identifier: BSD-3-Clause
// The AVX2 path (paths.h: 4 lanes, 4 groups, 5 in the block driver, 8 in
// both block drivers on calls of 512 elements or more), compiled with
// -mavx2 -mfma; reached only on CPUs that have both.
#include "drivers/choose_driver.h"
#include "paths.h"

TRUEANOMALY_DEFINE_VECTOR_PATH(avx2)
