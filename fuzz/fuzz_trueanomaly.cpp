// SPDX-License-Identifier: BSD-3-Clause
// libFuzzer target: decodes bytes into (M[], e, limit, tolerance), calls both
// entries and every array path this CPU can run, and aborts unless
//  - each scalar result is NaN or lies in [-2pi, 2pi] (2pi rounded to float);
//  - the scalar entry gives -1.0 exactly when the solve fails, and the solve
//    otherwise gives the scalar entry's bits; so does the scalar kernel,
//    called directly where this CPU runs it;
//  - every array call returns -1 iff an element fails, writes exactly the
//    elements before the first failure, each bit-identical to the scalar
//    entry, and leaves that element and every later one untouched
//    (separately and in place).
//
// Input layout: e (4 bytes), limit (4), tolerance (4), flags (1), then mean
// anomalies, 4 bytes each (at most 256). The limit is folded into -5..205 so
// that one input runs in microseconds; all other values are used as given.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "dispatch.h"
#include "float_bits.h"
#include "solve.h"
#include "solve_one.h"
#include "trueanomaly.h"

namespace {

using trueanomaly_detail::Path;

[[noreturn]] void fail(const char* what, size_t index) {
  std::fprintf(stderr, "fuzz check failed: %s (element %zu)\n", what, index);
  std::abort();
}
#define CHECK(condition, index) \
  do {                          \
    if (!(condition)) fail(#condition, index); \
  } while (0)

uint32_t bits(float x) { return float_bits(x); }
float from_bits(uint32_t u) { return float_from_bits(u); }
bool same(float a, float b) { return same_result(a, b); }

// Outputs start outside every result's range, distinct per index.
float sentinel(size_t i) { return from_bits(0x4b000000u + static_cast<uint32_t>(i)); }

using ArrayFn = int32_t (*)(Path, const float*, int32_t, float, float*, int32_t, int32_t);

int32_t public_entry(Path, const float* in, int32_t count, float e, float* out, int32_t limit,
                     int32_t tolerance) {
  return trueanomaly_array(in, count, e, out, limit, tolerance);
}
int32_t forced_path(Path path, const float* in, int32_t count, float e, float* out,
                    int32_t limit, int32_t tolerance) {
  if (count <= 0) return 0;
  return trueanomaly_detail::convert_array(path, in, count,
                                           trueanomaly_detail::cap_eccentricity(e), out, limit,
                                           tolerance);
}

// One array call, separately and in place, against the scalar results.
void check_array(ArrayFn fn, Path path, const std::vector<float>& in, int32_t count, float e,
                 int32_t limit, int32_t tolerance, const std::vector<float>& scalar,
                 const std::vector<char>& solved) {
  const size_t n = static_cast<size_t>(count);
  size_t first_failure = n;
  for (size_t i = 0; i < n; ++i)
    if (!solved[i]) {
      first_failure = i;
      break;
    }
  const int32_t expected_status = first_failure < n ? -1 : 0;

  std::vector<float> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = sentinel(i);
  CHECK(fn(path, in.data(), count, e, out.data(), limit, tolerance) == expected_status, n);
  for (size_t i = 0; i < n; ++i)
    CHECK(i < first_failure ? same(out[i], scalar[i]) : bits(out[i]) == bits(sentinel(i)), i);

  std::vector<float> buffer(in.begin(), in.begin() + static_cast<std::ptrdiff_t>(n));
  CHECK(fn(path, buffer.data(), count, e, buffer.data(), limit, tolerance) == expected_status, n);
  for (size_t i = 0; i < n; ++i)
    CHECK(i < first_failure ? same(buffer[i], scalar[i]) : bits(buffer[i]) == bits(in[i]), i);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 13) return 0;
  uint32_t e_bits, raw_limit, raw_tolerance;
  std::memcpy(&e_bits, data, 4);
  std::memcpy(&raw_limit, data + 4, 4);
  std::memcpy(&raw_tolerance, data + 8, 4);
  const uint8_t flags = data[12];
  const float e = from_bits(e_bits);
  const int32_t limit = static_cast<int32_t>(raw_limit % 211) - 5;
  int32_t tolerance;
  std::memcpy(&tolerance, &raw_tolerance, 4);
  size_t n = (size - 13) / 4;
  if (n > 256) n = 256;
  std::vector<float> in(n);
  if (n) std::memcpy(in.data(), data + 13, n * 4);

  const float two_pi = 6.28318548f;
  std::vector<float> scalar(n);
  std::vector<char> solved(n);
  const float capped = trueanomaly_detail::cap_eccentricity(e);
  for (size_t i = 0; i < n; ++i) {
    scalar[i] = trueanomaly(in[i], e, limit, tolerance);
    CHECK(scalar[i] != scalar[i] || (scalar[i] >= -two_pi && scalar[i] <= two_pi), i);
    float result = 0.0f;
    solved[i] = trueanomaly_detail::trueanomaly_solve(in[i], capped, limit, tolerance, &result);
    CHECK(solved[i] ? same(result, scalar[i]) : bits(scalar[i]) == bits(-1.0f), i);
#if TRUEANOMALY_VECTOR_PATHS
    if (trueanomaly_detail::path_available(Path::avx2))
      CHECK(same(trueanomaly_detail::solve_one_avx2(in[i], capped, limit, tolerance), scalar[i]),
            i);
#endif
  }

  // Counts: all elements, or fewer when the flags ask (exercising tails).
  const int32_t count = static_cast<int32_t>(flags & 1 ? n - (flags >> 1) % (n + 1) : n);
  check_array(public_entry, Path::plain, in, count, e, limit, tolerance, scalar, solved);
  for (const auto& info : trueanomaly_detail::kPaths)
    if (const Path path = info.path; trueanomaly_detail::path_available(path))
      check_array(forced_path, path, in, count, e, limit, tolerance, scalar, solved);

  // Non-positive counts touch nothing, null addresses included.
  CHECK(trueanomaly_array(nullptr, -static_cast<int32_t>(flags), e, nullptr, limit, tolerance) == 0, 0);
  return 0;
}
