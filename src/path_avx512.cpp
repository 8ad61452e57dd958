// SPDX-License-Identifier: BSD-3-Clause
// The AVX-512 path (paths.h: 8 lanes, 4 groups: the latencies of AVX2 to
// cover, with twice the registers), compiled with -mavx512f -mfma from the
// same source as the AVX2 path; reached only on CPUs that have both.
#include "drivers/choose_driver.h"
#include "paths.h"

TRUEANOMALY_DEFINE_VECTOR_PATH(avx512)
