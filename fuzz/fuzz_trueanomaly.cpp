// SPDX-License-Identifier: BSD-3-Clause
// libFuzzer target: decodes bytes into a call (M[], e, limit, tolerance),
// runs both entries, every array path this CPU can run, every lane shape
// of tests/kernels/ (each driver forced) and the per-element conversion,
// and aborts unless
//  - each scalar result is NaN or lies in [-2pi, 2pi] (2pi rounded to float);
//  - the scalar entry gives -1.0 exactly when the solve fails, and the solve
//    otherwise gives the scalar entry's bits; so does the scalar kernel,
//    called directly where this CPU runs it;
//  - every array call returns -1 iff an element fails, writes exactly the
//    elements before the first failure, each bit-identical to the scalar
//    entry, and leaves that element and every later one untouched
//    (separately and in place);
//  - the per-element conversion reports the first failure and gives each
//    element the scalar entry's bits, stopping there or storing NaN.
//
// Input layout: e (4 bytes), limit (4), tolerance (4), flags (1), length
// (2), position (2), e2 (4), then the pattern: mean anomalies, 4 bytes each
// (1 to 256). The limit is folded into -5..205 so that one input runs in
// milliseconds; all other values are used as given. Flags bits 0-1 choose
// the call's length:
//   0  the pattern as it is
//   1  the pattern less (flags >> 2) % (n + 1) elements at its end
//   2  long: the pattern repeated to 512 + length % 5632 elements, the
//      pattern's last element alone at `position` (mod the length) and
//      nowhere else, so long calls reach every driver chosen from 512
//      elements on, the two-step blocks' hand-over, the straggler window's
//      turns, and failures at any block position
//   3  as 2, with the mean anomaly at `position` taken from e2's bits
// The per-element conversion takes e and e2 in runs of 64 and alternating
// element by element in between. On x86-64 the limit's bytes also choose
// the floating-point modes of the whole input ((raw limit / 211) mod 4:
// default, flush-to-zero, denormals-are-zero, both), under which the
// library must give what the plain solve gives under the same modes.
#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <vector>

#include "float_bits.h"
#include "implementations.h"
#include "kernels/kernels.h"
#include "solve.h"
#include "solve_one.h"
#include "trueanomaly.h"

namespace {

[[noreturn]] void fail(const char* what, size_t index) {
  std::fprintf(stderr, "fuzz check failed: %s (element %zu)\n", what, index);
  std::abort();
}
#define CHECK(condition, index) \
  do {                          \
    if (!(condition)) fail(#condition, index); \
  } while (0)

uint32_t bits(float x) { return float_bits(x); }
bool same(float a, float b) { return same_result(a, b); }

// Outputs start outside every result's range, distinct per index.
float sentinel(size_t i) { return float_from_bits(0x4b000000u + static_cast<uint32_t>(i)); }

constexpr float kTwoPi = 6.28318548f;

// What the scalar entry and the solve give for one (M, e).
struct Expected {
  float scalar;
  bool solved;
};

Expected expected(float m, float e, int32_t limit, int32_t tolerance) {
  Expected x;
  x.scalar = trueanomaly(m, e, limit, tolerance);
  CHECK(x.scalar != x.scalar || (x.scalar >= -kTwoPi && x.scalar <= kTwoPi), 0);
  float result = 0.0f;
  const float capped = trueanomaly_detail::cap_eccentricity(e);
  x.solved = trueanomaly_detail::trueanomaly_solve(m, capped, limit, tolerance, &result);
  CHECK(x.solved ? same(result, x.scalar) : bits(x.scalar) == bits(-1.0f), 0);
#if TRUEANOMALY_VECTOR_PATHS
  if (trueanomaly_detail::available(trueanomaly_detail::kAvx2))
    CHECK(same(trueanomaly_detail::solve_one_avx2(m, capped, limit, tolerance), x.scalar), 0);
#endif
  return x;
}

// One array call, separately and in place, against the scalar results.
template <class Call>
void check_array(Call call, const std::vector<float>& in, const std::vector<Expected>& want) {
  const size_t n = in.size();
  const int32_t count = static_cast<int32_t>(n);
  size_t first_failure = n;
  for (size_t i = 0; i < n; ++i)
    if (!want[i].solved) {
      first_failure = i;
      break;
    }
  const int32_t expected_status = first_failure < n ? -1 : 0;

  std::vector<float> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = sentinel(i);
  CHECK(call(in.data(), count, out.data()) == expected_status, n);
  for (size_t i = 0; i < n; ++i)
    CHECK(i < first_failure ? same(out[i], want[i].scalar) : bits(out[i]) == bits(sentinel(i)), i);

  std::vector<float> buffer = in;
  CHECK(call(buffer.data(), count, buffer.data()) == expected_status, n);
  for (size_t i = 0; i < n; ++i)
    CHECK(i < first_failure ? same(buffer[i], want[i].scalar) : bits(buffer[i]) == bits(in[i]), i);
}

// The per-element conversion, both failure modes.
void check_per_element(Path path, const std::vector<float>& in, const std::vector<float>& ecc,
                       const std::vector<Expected>& want, int32_t limit, int32_t tolerance) {
  const size_t n = in.size();
  size_t first_failure = n;
  for (size_t i = 0; i < n && first_failure == n; ++i)
    if (!want[i].solved) first_failure = i;
  for (bool keep_going : {false, true}) {
    std::vector<float> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = sentinel(i);
    const int32_t got = path->convert_elements(in.data(), ecc.data(), 1, static_cast<int32_t>(n),
                                               out.data(), limit, tolerance, keep_going);
    CHECK(static_cast<size_t>(got) == first_failure, n);
    for (size_t i = 0; i < n; ++i) {
      if (want[i].solved && (keep_going || i < first_failure))
        CHECK(same(out[i], want[i].scalar), i);
      else if (keep_going)
        CHECK(out[i] != out[i], i);
      else
        CHECK(bits(out[i]) == bits(sentinel(i)), i);
    }
  }
}

}  // namespace

// The input's floating-point modes for its scope.
struct FuzzedModes {
#if defined(__x86_64__)
  const unsigned saved = _mm_getcsr();
  explicit FuzzedModes(uint32_t choice) {
    static constexpr unsigned kModes[] = {0u, 0x8000u, 0x0040u, 0x8040u};  // FTZ, DAZ
    _mm_setcsr(saved | kModes[choice % std::size(kModes)]);
  }
  ~FuzzedModes() { _mm_setcsr(saved); }
#else
  explicit FuzzedModes(uint32_t) {}
#endif
};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kHeader = 21;
  if (size < kHeader + 4) return 0;
  uint32_t e_bits, raw_limit, e2_bits;
  int32_t tolerance;
  uint16_t length, position;
  std::memcpy(&e_bits, data, 4);
  std::memcpy(&raw_limit, data + 4, 4);
  std::memcpy(&tolerance, data + 8, 4);
  const uint8_t flags = data[12];
  std::memcpy(&length, data + 13, 2);
  std::memcpy(&position, data + 15, 2);
  std::memcpy(&e2_bits, data + 17, 4);
  const float e = float_from_bits(e_bits), e2 = float_from_bits(e2_bits);
  const int32_t limit = static_cast<int32_t>(raw_limit % 211) - 5;
  const FuzzedModes modes(raw_limit / 211);
  size_t k = (size - kHeader) / 4;
  if (k > 256) k = 256;
  std::vector<float> pattern(k);
  std::memcpy(pattern.data(), data + kHeader, k * 4);

  // The call: pattern elements by index, and one element alone.
  std::vector<float> in;
  std::vector<size_t> from;  // index into pattern, or k for the element alone
  const unsigned mode = flags & 3u;
  if (mode < 2) {
    const size_t n = mode == 1 ? k - (flags >> 2) % (k + 1) : k;
    for (size_t i = 0; i < n; ++i) from.push_back(i);
  } else {
    const size_t n = 512 + length % 3584u, alone = position % n;
    const size_t period = k > 1 ? k - 1 : 1;
    for (size_t i = 0; i < n; ++i) from.push_back(i == alone ? k : i % period);
    pattern.push_back(mode == 3 ? e2 : pattern[k - 1]);
  }
  for (size_t j : from) in.push_back(pattern[j]);

  // Each distinct input once, at e and at e2.
  std::vector<Expected> at_e(pattern.size()), at_e2(pattern.size());
  for (size_t j = 0; j < pattern.size(); ++j) {
    at_e[j] = expected(pattern[j], e, limit, tolerance);
    at_e2[j] = expected(pattern[j], e2, limit, tolerance);
  }
  std::vector<Expected> want, want_per_element;
  std::vector<float> ecc;
  for (size_t i = 0; i < from.size(); ++i) {
    want.push_back(at_e[from[i]]);
    const bool first = i % 128 < 64 || i % 2 == 0;
    ecc.push_back(first ? e : e2);
    want_per_element.push_back(first ? at_e[from[i]] : at_e2[from[i]]);
  }

  // Non-positive counts touch nothing, null addresses included.
  CHECK(trueanomaly_array(nullptr, -static_cast<int32_t>(flags), e, nullptr, limit, tolerance) == 0, 0);
  if (in.empty()) return 0;

  const float capped = trueanomaly_detail::cap_eccentricity(e);
  check_array(
      [&](const float* a, int32_t n, float* b) {
        return trueanomaly_array(a, n, e, b, limit, tolerance);
      },
      in, want);
  for (Path path : every_implementation()) {
    if (!available(path)) continue;
    check_array(
        [&](const float* a, int32_t n, float* b) {
          return path->convert_array(a, n, capped, b, limit, tolerance);
        },
        in, want);
    check_per_element(path, in, ecc, want_per_element, limit, tolerance);
  }
  // Each driver forced, whatever e and the tolerance, where the CPU runs
  // it (inside the vector domain: the entries send everything else to the
  // plain path before a driver is reached).
  if (capped >= -0.99f && capped <= 0.99f) {
    for (const lane_kernels::Kernels* kernels : lane_kernels::runnable())
      for (size_t s = 0; s < kernels->shape_count; ++s)
        check_array(
            [&](const float* a, int32_t n, float* b) {
              return kernels->shapes[s].convert(a, n, capped, b, limit, tolerance);
            },
            in, want);
  }
  return 0;
}
