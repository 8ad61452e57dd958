// SPDX-License-Identifier: BSD-3-Clause
// One conversion call as every driver layer sees it: its arrays, limit,
// tolerance and failure handling, and the first failure found so far; and
// where its eccentricities come from.
//
// Per instruction set (see kernels/lanes.h).
#ifndef TRUEANOMALY_DRIVERS_CALL_H
#define TRUEANOMALY_DRIVERS_CALL_H

#include <stdint.h>

#include "solve.h"

namespace trueanomaly_detail {
namespace {

struct Call {
  const float *in;  // mean anomalies in[0 .. count-1]
  float *out;       // true anomalies; may be `in` (in place), never otherwise overlapping
  int32_t count;    // > 0
  int32_t max_iterations, tolerance;
  // What an element that reaches the limit does: ends the call there, it
  // and every later output untouched (the array entry), or (keep_going) is
  // stored as NaN while the rest are converted (the Python module).
  bool keep_going;
  // The index of the first element that reached the limit; count while
  // none has.
  int32_t first_failure;

  // A call over in[0 .. count-1] with these rules, no failure yet.
  static Call over(const float *in, int32_t count, float *out, int32_t max_iterations,
                   int32_t tolerance, bool keep_going) {
    return {in, out, count, max_iterations, tolerance, keep_going, count};
  }

  // Elements from .. from + n - 1 as a call of their own, with the same
  // rules and no failure yet (its first_failure counted from `from`).
  Call part(int32_t from, int32_t n) const {
    return over(in + from, n, out + from, max_iterations, tolerance, keep_going);
  }
  Call rest(int32_t from) const { return part(from, count - from); }

  // Records that element `index` reached the limit; true when the call
  // must stop there.
  bool failed_at(int64_t index) {
    if (first_failure == count) first_failure = static_cast<int32_t>(index);
    return !keep_going;
  }

  // Folds the outcome of `part`, a call over elements from .. of this one,
  // into this one; true when this call must stop there.
  bool absorb(const Call &part, int32_t from) {
    if (part.first_failure == part.count) return false;
    return failed_at(from + part.first_failure);
  }

  bool stopped() const { return !keep_going && first_failure != count; }
};

// Where a call's eccentricities come from: one for the call (capped, and
// within the vector domain where the vector drivers run) or one per element
// (as given, not yet capped). at(i) is element i's, capped.
struct OneEccentricity {
  static constexpr bool kPerElement = false;
  float e;
  float at(int64_t) const { return e; }
};
struct EccentricityPerElement {
  static constexpr bool kPerElement = true;
  const float *e;
  float at(int64_t i) const { return cap_eccentricity(e[i]); }
};

}  // namespace
}  // namespace trueanomaly_detail

#endif  // TRUEANOMALY_DRIVERS_CALL_H
