// SPDX-License-Identifier: BSD-3-Clause
// Times the conversion behind the Python module's ufunc on 10^6 mean
// anomalies uniform in [0, 2pi), limit 100, tolerance 0, in one process:
//   one_orbit/e:X       one eccentricity for all (the array path)
//   per_element/<path>  10^6 eccentricities uniform in [0, 0.9], on the best
//                       path and on each vector path forced
//   scalar_loop         the same pairs through a C loop of the shared
//                       object's trueanomaly()
//   libm_loop           the same pairs through the straightforward libm
//                       solve (libm_loop.cpp), one pair at a time
// Outputs are compared bit for bit with the scalar loop before timing. After
// the runs it prints the fastest repetition of each and the ratios.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <stdio.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "dispatch.h"
#include "elements.h"
#include "float_bits.h"
#include "libm_loop.h"

namespace {

using Path = const trueanomaly_detail::Implementation *;

constexpr int32_t kCount = 1000000, kLimit = 100, kTolerance = 0;
using ScalarEntry = float (*)(float, float, int32_t, int32_t);
ScalarEntry g_scalar = nullptr;

std::vector<float> g_mean(kCount), g_ecc(kCount), g_reference(kCount);
bool g_failed = false;

void check(benchmark::State &state, const std::vector<float> &out, const std::vector<float> &want) {
  for (size_t i = 0; i < out.size(); ++i)
    if (!same_result(out[i], want[i])) {
      g_failed = true;
      state.SkipWithError(("differs from trueanomaly() at element " + std::to_string(i)).c_str());
      return;
    }
}

void finish(benchmark::State &state) {
  state.counters["ns_per_element"] = benchmark::Counter(
      static_cast<double>(kCount), benchmark::Counter::kIsIterationInvariantRate |
                                       benchmark::Counter::kInvert);
}

void one_orbit(benchmark::State &state, float e) {
  std::vector<float> out(kCount), want(kCount);
  for (size_t i = 0; i < want.size(); ++i) want[i] = g_scalar(g_mean[i], e, kLimit, kTolerance);
  trueanomaly_convert_elements(g_mean.data(), &e, 0, kCount, out.data(), kLimit, kTolerance, 1);
  check(state, out, want);
  for (auto _ : state) {
    benchmark::DoNotOptimize(trueanomaly_convert_elements(g_mean.data(), &e, 0, kCount,
                                                          out.data(), kLimit, kTolerance, 1));
    benchmark::ClobberMemory();
  }
  finish(state);
}

void per_element(benchmark::State &state, Path path, bool best) {
  if (!trueanomaly_detail::available(*path)) {
    state.SkipWithError("path not available on this CPU");
    return;
  }
  std::vector<float> out(kCount);
  auto run = [&] {
    return best ? trueanomaly_convert_elements(g_mean.data(), g_ecc.data(), 1, kCount,
                                               out.data(), kLimit, kTolerance, 1)
                : path->convert_elements(g_mean.data(), g_ecc.data(), 1, kCount, out.data(), kLimit,
                                         kTolerance, true);
  };
  run();
  check(state, out, g_reference);
  for (auto _ : state) {
    benchmark::DoNotOptimize(run());
    benchmark::ClobberMemory();
  }
  finish(state);
}

void scalar_loop(benchmark::State &state) {
  std::vector<float> out(kCount);
  for (auto _ : state) {
    for (size_t i = 0; i < out.size(); ++i)
      out[i] = g_scalar(g_mean[i], g_ecc[i], kLimit, kTolerance);
    benchmark::ClobberMemory();
  }
  check(state, out, g_reference);
  finish(state);
}

void libm_loop(benchmark::State &state) {
  std::vector<float> out(kCount);
  for (auto _ : state) {
    for (size_t i = 0; i < out.size(); ++i)
      if (!bench::libm_solve(g_mean[i], g_ecc[i], kLimit, kTolerance, &out[i])) out[i] = -1.0f;
    benchmark::ClobberMemory();
  }
  check(state, out, g_reference);
  finish(state);
}

class Fastest : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run> &runs) override {
    for (const Run &run : runs) {
      const auto it = run.counters.find("ns_per_element");
      if (run.error_occurred || it == run.counters.end() || run.run_type != Run::RT_Iteration)
        continue;
      double &best = fastest[run.run_name.function_name];
      best = best > 0.0 ? std::min(best, it->second.value) : it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> fastest;
};

}  // namespace

int main(int argc, char **argv) {
  void *lib = dlopen(TRUEANOMALY_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  if (!lib || !(g_scalar = reinterpret_cast<ScalarEntry>(dlsym(lib, "trueanomaly")))) {
    fprintf(stderr, "cannot load %s\n", TRUEANOMALY_LIBRARY_PATH);
    return 1;
  }
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<float> mean(0.0f, 6.2831853f), ecc(0.0f, 0.9f);
  for (size_t i = 0; i < g_mean.size(); ++i) {
    g_mean[i] = mean(rng);
    g_ecc[i] = ecc(rng);
    g_reference[i] = g_scalar(g_mean[i], g_ecc[i], kLimit, kTolerance);
  }
  for (float e : {0.5f, 0.9f}) {
    char name[32];
    snprintf(name, sizeof name, "one_orbit/e:%.1f", static_cast<double>(e));
    benchmark::RegisterBenchmark(name, one_orbit, e)->Unit(benchmark::kMillisecond);
  }
  benchmark::RegisterBenchmark("per_element/best", per_element, &trueanomaly_detail::kPlain, true)
      ->Unit(benchmark::kMillisecond);
  for (Path path : trueanomaly_detail::kImplementations)
    if (path != &trueanomaly_detail::kPlain)
      benchmark::RegisterBenchmark((std::string("per_element/") + path->name).c_str(), per_element,
                                   path, false)
          ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("scalar_loop", scalar_loop)->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("libm_loop", libm_loop)->Unit(benchmark::kMillisecond);

  std::vector<char *> args(argv, argv + argc);
  // Repetitions interleaved at random across the cases, as in the main
  // benchmark: a burst of other work on a shared machine then slows one
  // repetition of several cases rather than every repetition of one.
  std::string reps = "--benchmark_repetitions=8", min_time = "--benchmark_min_time=0.1",
              interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, {reps.data(), min_time.data(), interleave.data()});
  int n = static_cast<int>(args.size());
  benchmark::Initialize(&n, args.data());
  Fastest reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  printf("\nfastest repetition, ns per element (10^6 elements, limit %d, tolerance %d):\n",
         kLimit, kTolerance);
  for (const auto &[name, s] : reporter.fastest) printf("  %-22s %7.2f\n", name.c_str(), s * 1e9);
  auto get = [&](const char *name) {
    const auto it = reporter.fastest.find(name);
    return it == reporter.fastest.end() ? -1.0 : it->second;
  };
  const double each = get("per_element/best"), loop = get("scalar_loop"), libm = get("libm_loop");
  if (each > 0 && get("one_orbit/e:0.5") > 0)
    printf("per element / one orbit at e = 0.5: %.2fx the cost\n", each / get("one_orbit/e:0.5"));
  if (each > 0 && get("one_orbit/e:0.9") > 0)
    printf("per element / one orbit at e = 0.9: %.2fx the cost\n", each / get("one_orbit/e:0.9"));
  if (each > 0 && loop > 0) printf("scalar loop / per element: %.1fx faster\n", loop / each);
  for (Path path : trueanomaly_detail::kImplementations) {
    const double p = get((std::string("per_element/") + path->name).c_str());
    if (p > 0 && loop > 0) printf("scalar loop / per element on %s: %.1fx\n", path->label, loop / p);
    if (p > 0 && libm > 0) printf("libm loop / per element on %s: %.1fx\n", path->label, libm / p);
  }
  return g_failed ? 1 : 0;
}
