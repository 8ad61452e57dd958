// SPDX-License-Identifier: BSD-3-Clause
// The vector paths' hot code, marked for llvm-mca: compiled to assembly
// only, with one vector implementation's flags, by tools/throughput_floor.sh.
// The regions:
//   one_step_block    one block of the one-step block driver as calls of
//                     512 elements or more run it: load, first steps,
//                     conversions, rounding tests (the e <= 0.5 case)
//   straggler_batch   one full batch of the straggler driver: a Newton step
//                     of a block's stragglers, window stores, queueing
// and two out-of-line functions whose bodies the script marks:
//   straggler_start   first_step, one block's first steps in the straggler
//                     driver
//   finish_block      a block's conversions and stores from the window
#include "drivers/choose_driver.h"
#include "path_avx2.h"
#include "path_avx512.h"

using namespace trueanomaly_detail;

#if defined(__AVX512F__)
constexpr const DriverShape &kShape = kAvx512Shape;
#else
constexpr const DriverShape &kShape = kAvx2Shape;
#endif
constexpr int W = kShape.lanes;
constexpr int kGroups = kShape.long_call_groups, kStraggler = kShape.straggler_groups;

extern "C" void one_step_block(const float *in, float e, BlockResult<W * kGroups> *r) {
  const Orbit orbit = make_orbit(e, 100, 0);
  __asm__ volatile("# LLVM-MCA-BEGIN one_step_block");
  solve_lanes<W, kGroups, StepRule::kOneStep, Conversion::kOffset>(in, W * kGroups, orbit, 0, r);
  __asm__ volatile("# LLVM-MCA-END");
}

extern "C" void straggler_batch(StragglerState<false> *s) {
  __asm__ volatile("# LLVM-MCA-BEGIN straggler_batch");
  straggler_step<W, kStraggler, OneEccentricity>(*s);
  __asm__ volatile("# LLVM-MCA-END");
}

// Only to have first_step's and finish_block's out-of-line bodies in the
// assembly (the script marks them).
extern "C" void straggler_start(const Call *call, StragglerState<false> *s) {
  first_step<W, kStraggler>(*call, OneEccentricity{0.99f}, *s, W * kStraggler);
}

extern "C" bool straggler_finish(Call *call, const StragglerState<false> *s) {
  return finish_block<W, kStraggler>(*call, OneEccentricity{0.99f}, *s, W * kStraggler);
}
