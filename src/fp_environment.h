// SPDX-License-Identifier: BSD-3-Clause
// The caller's floating-point state the vector kernels assume (x86-64 only):
// round to nearest, no flush-to-zero, no denormals-are-zero, every exception
// masked. Anything else goes to the plain solve, which follows whatever mode
// the caller chose.
//
// Included by translation units compiled for different instruction sets
// (dispatch.cpp, solve_one_avx2.cpp): the anonymous namespace gives each its
// own copy, so a build at -O0 cannot link one unit's VEX-encoded copy into
// code that runs on CPUs without AVX.
#ifndef TRUEANOMALY_FP_ENVIRONMENT_H
#define TRUEANOMALY_FP_ENVIRONMENT_H

#if !defined(__x86_64__)
#error "fp_environment.h reads the x86-64 MXCSR"
#endif
#include <xmmintrin.h>

namespace trueanomaly_detail {
namespace {

// MXCSR without its six exception flags: masks all set (0x1f80), rounding
// bits zero (to nearest), FTZ (bit 15) and DAZ (bit 6) clear.
inline bool default_fp_environment() { return (_mm_getcsr() & 0xffc0u) == 0x1f80u; }

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_FP_ENVIRONMENT_H
