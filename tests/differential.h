// SPDX-License-Identifier: BSD-3-Clause
// Random inputs by regime, and the comparison of a library call with the
// model, shared by the differential, corpus, caller-state and thread tests.
#ifndef TRUEANOMALY_TESTS_DIFFERENTIAL_H
#define TRUEANOMALY_TESTS_DIFFERENTIAL_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <ostream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "float_bits.h"
#include "kepler_model.h"

namespace differential {

// Where inputs are drawn from. Each regime stresses a different part of the
// solve; together they cover every input class.
enum class Regime : int {
  circle,       // M in [-2pi, 2pi], e in [0, 0.99]
  high_e,       // e in [0.9, 1.5]: the cap, and the slowest orbits
  negative_e,   // e in [-2, 0]: mirrored orbits, NaN below -1
  raw_bits,     // any bit patterns for M and e (NaN, infinities, subnormals),
                // limits -5..205, tolerances INT32_MIN..INT32_MAX
  huge_mean,    // |M| up to 1e10, never reduced
  straying,     // e in [0.95, 0.99]: iterations that stray far, 2^31 steps
  two_steps,    // |e| in [0.8, 0.9]: a second step common, a third rare
};
constexpr Regime kRegimes[] = {Regime::circle,   Regime::high_e,    Regime::negative_e,
                               Regime::raw_bits, Regime::huge_mean, Regime::straying,
                               Regime::two_steps};

inline const char* name(Regime r) {
  static const char* const names[] = {"circle",    "high_e",   "negative_e", "raw_bits",
                                      "huge_mean", "straying", "two_steps"};
  return names[static_cast<int>(r)];
}

inline void PrintTo(Regime r, std::ostream* os) { *os << name(r); }

struct Config {
  float eccentricity;
  int32_t limit, tolerance;
};

class Inputs {
 public:
  explicit Inputs(uint64_t seed) : rng_(seed) {}

  float mean(Regime r) {
    constexpr double two_pi = 6.283185307179586;
    switch (r) {
      case Regime::raw_bits: return float_from_bits(static_cast<uint32_t>(rng_()));
      case Regime::huge_mean: {
        const float m = static_cast<float>(std::pow(10.0, uniform(-3.0, 10.0)));
        return (rng_() & 1) ? -m : m;
      }
      case Regime::high_e: return static_cast<float>(uniform(-2 * two_pi, 2 * two_pi));
      default: return static_cast<float>(uniform(-two_pi, two_pi));
    }
  }

  Config config(Regime r) {
    Config c{};
    switch (r) {
      case Regime::circle: c.eccentricity = uniform_f(0.0, 0.99); break;
      case Regime::high_e: c.eccentricity = uniform_f(0.9, 1.5); break;
      case Regime::negative_e: c.eccentricity = uniform_f(-2.0, 0.0); break;
      case Regime::raw_bits: c.eccentricity = float_from_bits(static_cast<uint32_t>(rng_())); break;
      case Regime::huge_mean: c.eccentricity = uniform_f(-0.5, 0.99); break;
      case Regime::straying: c.eccentricity = uniform_f(0.95, 0.99); break;
      case Regime::two_steps:
        c.eccentricity = uniform_f(0.8, 0.9);
        if (rng_() & 1) c.eccentricity = -c.eccentricity;
        break;
    }
    if (r == Regime::raw_bits) {
      c.limit = static_cast<int32_t>(rng_() % 211) - 5;
      c.tolerance = static_cast<int32_t>(static_cast<uint32_t>(rng_()));
      return c;
    }
    const uint64_t pick = rng_() % 100;
    c.limit = pick < 60 ? 100 : pick < 85 ? 2 + static_cast<int32_t>(rng_() % 11)
            : pick < 95 ? static_cast<int32_t>(rng_() % 211) - 5 : static_cast<int32_t>(rng_() % 2);
    const uint64_t t = rng_() % 100;
    c.tolerance = t < 45 ? 0 : t < 70 ? static_cast<int32_t>(rng_() % 7) - 2
                : t < 85 ? (rng_() & 1 ? 1000000 : INT32_MAX)
                : static_cast<int32_t>(static_cast<uint32_t>(rng_()));
    return c;
  }

  // Array lengths: mostly short, some long, a few zero or negative, and a
  // few longer than the straggler driver's window (2048), so that it wraps
  // and fills.
  int32_t length() {
    const uint64_t pick = rng_() % 100;
    if (pick < 5) return -static_cast<int32_t>(rng_() % 4);
    if (pick < 35) return static_cast<int32_t>(rng_() % 9);
    if (pick < 75) return 9 + static_cast<int32_t>(rng_() % 56);
    if (pick < 99) return 65 + static_cast<int32_t>(rng_() % 536);
    return 2000 + static_cast<int32_t>(rng_() % 8000);
  }

  uint64_t bits() { return rng_(); }

 private:
  double uniform(double lo, double hi) {
    return lo + (hi - lo) * static_cast<double>(rng_() >> 11) * 0x1p-53;
  }
  float uniform_f(double lo, double hi) { return static_cast<float>(uniform(lo, hi)); }

  std::mt19937_64 rng_;
};

// Inputs per target (one entry or one array path) in a differential run:
// TRUEANOMALY_DIFFERENTIAL_INPUTS, or the default given.
inline uint64_t inputs_per_target(uint64_t fallback) {
  const char* v = std::getenv("TRUEANOMALY_DIFFERENTIAL_INPUTS");
  return v && *v ? std::strtoull(v, nullptr, 10) : fallback;
}

// A fixed-size test's count, scaled down with TRUEANOMALY_DIFFERENTIAL_INPUTS
// below its default of 10^7 (emulated and sanitized CI runs), but never below
// a fortieth of `full`.
inline size_t scaled_count(size_t full) {
  constexpr uint64_t kDefault = 10'000'000;
  const uint64_t inputs = inputs_per_target(kDefault);
  if (inputs >= kDefault) return full;
  const size_t scaled = static_cast<size_t>(full * inputs / kDefault);
  return std::max(scaled, std::max<size_t>(full / 40, 1));
}

inline uint64_t seed(uint64_t salt) {
  const char* v = std::getenv("TRUEANOMALY_DIFFERENTIAL_SEED");
  const uint64_t base = v && *v ? std::strtoull(v, nullptr, 0) : 20261208u;
  return base * 0x9e3779b97f4a7c15ull + salt;
}

// Outputs start as values no solve can produce (results are NaN or lie in
// [-2pi, 2pi]), distinct per index, so any stray write shows.
inline float sentinel(size_t i) { return 100.0f + static_cast<float>(i % 65536); }

// An array call to check: in, count, eccentricity, out, limit, tolerance.
using ArrayCall = std::function<int32_t(const float*, int32_t, float, float*, int32_t, int32_t)>;

// Runs `call` on `in` (separately, or in place when `in_place`) and the model
// on the same; returns an empty string when status, the written prefix and
// the untouched tail agree bit for bit, else a description of the first
// difference. `solved` receives the number of elements the model solved.
inline std::string compare_array(const ArrayCall& call, const std::vector<float>& in,
                                 int32_t count, const Config& c, bool in_place,
                                 int32_t* solved = nullptr) {
  const size_t n = count > 0 ? static_cast<size_t>(count) : 0;
  std::vector<float> expected(n), actual(n);
  for (size_t i = 0; i < n; ++i) expected[i] = actual[i] = in_place ? in[i] : sentinel(i);
  int32_t written = 0;
  const int32_t model_status = model_array(in.data(), count, c.eccentricity, expected.data(),
                                           c.limit, c.tolerance, &written);
  const int32_t status = in_place ? call(actual.data(), count, c.eccentricity, actual.data(),
                                         c.limit, c.tolerance)
                                  : call(in.data(), count, c.eccentricity, actual.data(),
                                         c.limit, c.tolerance);
  if (solved) *solved = written;
  std::ostringstream why;
  why.precision(9);
  const auto where = [&](size_t i) {
    why << " (count " << count << ", e " << c.eccentricity << " [0x" << std::hex
        << float_bits(c.eccentricity) << std::dec << "], limit " << c.limit << ", tolerance "
        << c.tolerance << (in_place ? ", in place" : "") << "; element " << i << " M "
        << in[i] << " [0x" << std::hex << float_bits(in[i]) << "] got 0x"
        << float_bits(actual[i]) << " expected 0x" << float_bits(expected[i]) << std::dec << ")";
  };
  if (status != model_status) {
    why << "status " << status << ", model " << model_status << " (count " << count << ", e "
        << c.eccentricity << ", limit " << c.limit << ", tolerance " << c.tolerance << ")";
    return why.str();
  }
  for (size_t i = 0; i < n; ++i) {
    const bool ok = static_cast<int32_t>(i) < written
                        ? same_result(actual[i], expected[i])
                        : float_bits(actual[i]) == float_bits(expected[i]);
    if (!ok) {
      why << (static_cast<int32_t>(i) < written ? "result differs" : "element past the failure changed");
      where(i);
      return why.str();
    }
  }
  return {};
}

// Random arrays of one regime through `call` (alternately separate and in
// place) until `total` inputs have been checked against the model; keeps the
// first ten differences.
struct ArrayRun {
  uint64_t inputs = 0, calls = 0;
  std::vector<std::string> differences;
};

inline ArrayRun run_random_arrays(const ArrayCall& call, Regime regime, uint64_t total,
                                  uint64_t seed_value) {
  Inputs gen(seed_value);
  ArrayRun run;
  std::vector<float> in;
  while (run.inputs < total && run.differences.size() < 10) {
    const Config c = gen.config(regime);
    const int32_t count = gen.length();
    in.resize(count > 0 ? static_cast<size_t>(count) : 0);
    for (float& m : in) m = gen.mean(regime);
    int32_t solved = 0;
    std::string diff = compare_array(call, in, count, c, (run.calls & 1) != 0, &solved);
    run.inputs += static_cast<uint64_t>(solved) + (solved < count ? 1 : 0);
    ++run.calls;
    if (!diff.empty()) run.differences.push_back(std::move(diff));
  }
  return run;
}

// The near-tie corpus in tests/data: inputs only; expected values are always
// recomputed with the model and this machine's libm.
struct CorpusEntry {
  float mean, eccentricity;
  int32_t limit, tolerance;
};

inline std::vector<CorpusEntry> load_corpus(const std::string& path) {
  std::ifstream file(path);
  std::vector<CorpusEntry> entries;
  std::string line;
  while (std::getline(file, line)) {
    const auto hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    std::istringstream fields(line);
    std::string m, e;
    long long limit, tolerance;
    if (!(fields >> m >> e >> limit >> tolerance)) continue;
    entries.push_back({float_from_bits(static_cast<uint32_t>(std::stoul(m, nullptr, 16))),
                       float_from_bits(static_cast<uint32_t>(std::stoul(e, nullptr, 16))),
                       static_cast<int32_t>(limit), static_cast<int32_t>(tolerance)});
  }
  return entries;
}

}  // namespace differential

#endif
