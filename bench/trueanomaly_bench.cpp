// SPDX-License-Identifier: BSD-3-Clause
// Times the library against the libm loop, in one process, and prints the
// speed-up of each entry and each array path after the runs.
//
// Timed, in ns per element, at e in {0, 0.1, 0.5, 0.9, 0.95, 0.99}, limit
// 100, tolerance 0, on arrays of 16, 100, 1000 and 1048576 mean anomalies
// (the short ones as a model-fitting loop passes them, one orbit at a time:
// each call converts the next slice of the first 65536 inputs, so neither
// the data nor the branches repeat from call to call):
//   libm_loop      the plain libm solve (libm_loop.cpp), the reference
//   array_entry    trueanomaly_array, from the built shared object
//   scalar_entry   trueanomaly in a loop, from the built shared object
//   *_ftz_daz      the same with flush-to-zero and denormals-are-zero set,
//                  as in a host built with -Ofast (x86-64)
//   path_<name>    each array path this CPU can run, forced
// Before a case is timed its outputs are compared bit for bit with the libm
// loop's; a difference skips the case with an error and the program exits 1.
//
// The forced paths need the library's internal objects, linked into this
// program. The entries are taken from the shared object with dlopen instead:
// linking the shared object as well would silently bind their names to the
// internal copies here, and we want to time what callers run.
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#if defined(__x86_64__)
#include <xmmintrin.h>
#endif
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dispatch.h"
#include "float_bits.h"
#include "inputs.h"
#include "libm_loop.h"
#include "solve.h"

namespace {

using Path = const trueanomaly_detail::Implementation *;

constexpr int32_t kLimit = 100;
constexpr int32_t kTolerance = 0;
constexpr uint64_t kSeed = 4;
constexpr float kEccentricities[] = {0.0f, 0.1f, 0.5f, 0.9f, 0.95f, 0.99f};
constexpr size_t kSizes[] = {16, 100, 1000, 1048576};
constexpr size_t kPool = 65536;

// The inputs a case of `size` elements cycles through: whole slices of the
// first kPool inputs, or the whole array.
size_t pool_of(size_t size) { return size >= kPool ? size : kPool / size * size; }

// Defaults: many short repetitions, interleaved at random across all cases,
// so that a burst of load on a shared machine hits every case alike; about a
// minute in all. Later flags on the command line override them.
const char *const kDefaultFlags[] = {
    "--benchmark_min_time=0.05",
    "--benchmark_repetitions=10",
    "--benchmark_enable_random_interleaving=true",
    "--benchmark_display_aggregates_only=true",
};

using ScalarEntry = float (*)(float, float, int32_t, int32_t);
using ArrayEntry = int32_t (*)(const float *, int32_t, float, float *, int32_t, int32_t);
ScalarEntry g_scalar_entry = nullptr;
ArrayEntry g_array_entry = nullptr;

enum class Kind { libm_loop, array_entry, scalar_entry, path };

// MXCSR's flush-to-zero and denormals-are-zero set for a scope, as the
// startup code of a host built with -Ofast sets them (x86-64 only).
struct FlushToZero {
#if defined(__x86_64__)
  const unsigned saved = _mm_getcsr();
  explicit FlushToZero(bool on) {
    if (on) _mm_setcsr(saved | 0x8040u);
  }
  ~FlushToZero() { _mm_setcsr(saved); }
#else
  explicit FlushToZero(bool) {}
#endif
};

struct Variant {
  std::string name;    // benchmark name prefix
  std::string column;  // heading in the table
  Kind kind;
  Path path;           // for Kind::path
  bool flush_to_zero = false;
};

// The entries, the libm loop, and every implementation (src/implementation.h).
const std::vector<Variant> kVariants = [] {
  std::vector<Variant> v = {
      {"libm_loop", "libm loop", Kind::libm_loop, nullptr},
      {"array_entry", "array entry", Kind::array_entry, nullptr},
      {"scalar_entry", "scalar entry", Kind::scalar_entry, nullptr},
#if defined(__x86_64__)
      {"array_entry_ftz_daz", "array entry, FTZ/DAZ", Kind::array_entry, nullptr, true},
      {"scalar_entry_ftz_daz", "scalar entry, FTZ/DAZ", Kind::scalar_entry, nullptr, true},
#endif
  };
  for (Path path : trueanomaly_detail::kImplementations)
    v.push_back({std::string("path_") + path->name, std::string(path->label) + " path", Kind::path,
                 path});
  return v;
}();

struct Case {
  const Variant *variant;
  const bench::InputSet *inputs;
  size_t size;
  std::string name;
  bool verified = false;
};

bool g_failed = false;

// Returns the status as the array entry would (the scalar entry cannot say).
int32_t convert(const Variant &v, const float *in, int32_t count, float e, float *out) {
  const FlushToZero modes(v.flush_to_zero);
  switch (v.kind) {
    case Kind::libm_loop:
      return bench::libm_loop(in, count, e, out, kLimit, kTolerance);
    case Kind::array_entry:
      return g_array_entry(in, count, e, out, kLimit, kTolerance);
    case Kind::scalar_entry:
      for (int32_t i = 0; i < count; ++i) out[i] = g_scalar_entry(in[i], e, kLimit, kTolerance);
      return 0;
    case Kind::path:
      return v.path->convert_array(in, count, trueanomaly_detail::cap_eccentricity(e), out, kLimit,
                                   kTolerance);
  }
  return -1;
}

uint32_t bits(float x) { return float_bits(x); }

// Runs the case over every slice it will time and compares with the libm
// loop. Empty when equal.
std::string verify(const Case &c, std::vector<float> &out) {
  const float *in = c.inputs->mean_anomalies.data();
  const int32_t count = static_cast<int32_t>(c.size);
  const size_t pool = pool_of(c.size);
  std::fill(out.begin(), out.end(), 0.0f);
  for (size_t at = 0; at < pool; at += c.size)
    if (convert(*c.variant, in + at, count, c.inputs->eccentricity, out.data() + at) != 0)
      return "reported the iteration limit on inputs the libm loop solves";
  const int64_t i = bench::first_difference(out.data(), c.inputs->reference.data(), pool);
  if (i < 0) return {};
  char message[256];
  snprintf(message, sizeof message,
           "differs from the libm loop at element %lld: M = %.9g (0x%08x) gives "
           "0x%08x, libm loop 0x%08x",
           static_cast<long long>(i), static_cast<double>(in[i]), bits(in[i]),
           bits(out[static_cast<size_t>(i)]), bits(c.inputs->reference[static_cast<size_t>(i)]));
  return message;
}

void run_case(benchmark::State &state, Case *c) {
  const size_t pool = pool_of(c->size);
  std::vector<float> out(pool);
  if (!c->verified) {
    const std::string error = verify(*c, out);
    if (!error.empty()) {
      g_failed = true;
      state.SkipWithError(error.c_str());
      return;
    }
    c->verified = true;
  }
  const float *in = c->inputs->mean_anomalies.data();
  const int32_t count = static_cast<int32_t>(c->size);
  const float e = c->inputs->eccentricity;
  size_t at = 0;
  for (auto _ : state) {
    int32_t status = convert(*c->variant, in + at, count, e, out.data() + at);
    at = at + c->size < pool ? at + c->size : 0;
    benchmark::DoNotOptimize(status);
    benchmark::ClobberMemory();
    if (status != 0) {
      g_failed = true;
      state.SkipWithError("reported the iteration limit on inputs the libm loop solves");
      break;
    }
  }
  const double n = static_cast<double>(c->size);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(c->size));
  // CPU seconds per (iteration * n * 1e-9): nanoseconds per element.
  state.counters["ns_per_element"] = benchmark::Counter(
      n * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Passes everything to the reporter chosen by --benchmark_format and keeps
// each case's ns_per_element figures for the table.
class CollectingReporter : public benchmark::BenchmarkReporter {
 public:
  explicit CollectingReporter(benchmark::BenchmarkReporter *inner) : inner_(inner) {}

  bool ReportContext(const Context &context) override { return inner_->ReportContext(context); }

  void ReportRuns(const std::vector<Run> &reported) override {
    // ns_per_element is computed as an inverted rate; shown as one, it would
    // carry a unit of seconds. It is a plain number of nanoseconds.
    std::vector<Run> runs = reported;
    for (Run &run : runs) {
      const auto it = run.counters.find("ns_per_element");
      if (it != run.counters.end()) it->second.flags = benchmark::Counter::kDefaults;
    }
    for (const Run &run : runs) {
      Figures &f = figures_[run.run_name.function_name];
      if (run.error_occurred) {
        f.error = true;
        continue;
      }
      const auto it = run.counters.find("ns_per_element");
      if (it == run.counters.end()) continue;
      if (run.run_type == Run::RT_Iteration) f.repetitions.push_back(it->second.value);
      else if (run.aggregate_name == "min") f.min = it->second.value;
      if (run.run_type == Run::RT_Aggregate) f.count = static_cast<size_t>(run.iterations);
    }
    inner_->ReportRuns(runs);
  }

  void Finalize() override { inner_->Finalize(); }

  // Fastest ns per element of a case over its repetitions; negative when it
  // did not run or failed.
  double fastest(const std::string &name) const {
    const auto it = figures_.find(name);
    if (it == figures_.end() || it->second.error) return -1.0;
    const Figures &f = it->second;
    if (f.min > 0.0) return f.min;
    if (f.repetitions.empty()) return -1.0;
    return *std::min_element(f.repetitions.begin(), f.repetitions.end());
  }

  size_t repetitions(const std::string &name) const {
    const auto it = figures_.find(name);
    if (it == figures_.end()) return 0;
    return it->second.count ? it->second.count : it->second.repetitions.size();
  }

 private:
  struct Figures {
    std::vector<double> repetitions;  // when repetitions are displayed
    double min = -1.0;                // the "min" aggregate, when there is one
    size_t count = 0;                 // repetitions behind the aggregates
    bool error = false;
  };
  std::unique_ptr<benchmark::BenchmarkReporter> inner_;
  std::map<std::string, Figures> figures_;
};

std::string case_name(const Variant &v, float e, size_t size) {
  char name[96];
  snprintf(name, sizeof name, "%s/e:%.2f/n:%zu", v.name.c_str(), static_cast<double>(e), size);
  return name;
}

// One Markdown table: a row per eccentricity and size, a column per variant,
// each cell the fastest ns per element and the speed-up against the libm loop.
// The fastest repetition, not the median: on a shared machine the noise only
// ever adds time, and bursts of it can last for several repetitions.
void print_table(FILE *to, const CollectingReporter &r) {
  size_t repetitions = 0;
  for (const Variant &v : kVariants)
    for (float e : kEccentricities)
      for (size_t size : kSizes) repetitions = std::max(repetitions, r.repetitions(case_name(v, e, size)));
  fprintf(to,
          "\nSpeed-up against the libm loop, measured in this run (CPU time per element, "
          "fastest of %zu repetition%s; \"-\": not run or not available on this CPU):\n\n",
          repetitions, repetitions == 1 ? "" : "s");
  fprintf(to, "| e | n |");
  for (const Variant &v : kVariants) fprintf(to, " %s |", v.column.c_str());
  fprintf(to, "\n|---|---|");
  for (size_t i = 0; i < kVariants.size(); ++i) fprintf(to, "---|");
  fprintf(to, "\n");
  for (float e : kEccentricities) {
    for (size_t size : kSizes) {
      const double base = r.fastest(case_name(kVariants[0], e, size));
      bool any = base > 0.0;
      for (const Variant &v : kVariants) any = any || r.fastest(case_name(v, e, size)) > 0.0;
      if (!any) continue;
      fprintf(to, "| %.2f | %zu |", static_cast<double>(e), size);
      for (const Variant &v : kVariants) {
        const double ns = r.fastest(case_name(v, e, size));
        if (ns <= 0.0) fprintf(to, " - |");
        else if (v.kind == Kind::libm_loop || base <= 0.0) fprintf(to, " %.1f ns |", ns);
        else fprintf(to, " %.1f ns, %.2f× |", ns, base / ns);
      }
      fprintf(to, "\n");
    }
  }
}

// "AMD EPYC, family 26 model 2, AVX-512": the CPU as /proc/cpuinfo names it,
// for the report (the plot's title, the tables in docs/performance.md).
std::string cpu_description() {
  FILE *f = fopen("/proc/cpuinfo", "r");
  if (f == nullptr) return "unknown CPU";
  std::string name, family, model, isa = "no AVX2";
  char line[4096];
  while (fgets(line, sizeof line, f)) {
    std::string l(line);
    const size_t colon = l.find(':');
    if (colon == std::string::npos) continue;
    std::string key = l.substr(0, colon), value = l.substr(colon + 1);
    key.erase(key.find_last_not_of(" \t") + 1);
    value.erase(0, value.find_first_not_of(' '));
    value.erase(value.find_last_not_of("\n") + 1);
    if (key == "model name" && name.empty()) name = value;
    if (key == "cpu family" && family.empty()) family = value;
    if (key == "model" && model.empty()) model = value;
    if (key == "flags") {
      const std::string flags = " " + value + " ";
      isa = flags.find(" avx512f ") != std::string::npos ? "AVX-512"
            : flags.find(" avx2 ") != std::string::npos  ? "AVX2"
                                                         : "no AVX2";
      break;
    }
  }
  fclose(f);
  return name + ", family " + family + " model " + model + ", " + isa;
}

bool load_entries() {
  const char *path = getenv("TRUEANOMALY_BENCH_LIBRARY");
  if (path == nullptr || *path == '\0') path = TRUEANOMALY_LIBRARY_PATH;
  void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    fprintf(stderr, "cannot load %s: %s\n", path, dlerror());
    return false;
  }
  g_scalar_entry = reinterpret_cast<ScalarEntry>(dlsym(library, "trueanomaly"));
  g_array_entry = reinterpret_cast<ArrayEntry>(dlsym(library, "trueanomaly_array"));
  if (g_scalar_entry == nullptr || g_array_entry == nullptr) {
    fprintf(stderr, "%s does not export both entries\n", path);
    return false;
  }
  benchmark::AddCustomContext("library", path);
  return true;
}

}  // namespace

int main(int argc, char **argv) {
  std::vector<char *> args{argv[0]};
  for (const char *flag : kDefaultFlags) args.push_back(const_cast<char *>(flag));
  for (int i = 1; i < argc; ++i) args.push_back(argv[i]);
  // The table goes to stderr when stdout carries JSON or CSV.
  bool console = true;
  for (int i = 1; i < argc; ++i)
    if (strncmp(argv[i], "--benchmark_format=", 19) == 0) console = strcmp(argv[i] + 19, "console") == 0;
  int args_count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&args_count, args.data());
  if (benchmark::ReportUnrecognizedArguments(args_count, args.data())) return 1;
  if (!load_entries()) return 1;

  const size_t largest = *std::max_element(std::begin(kSizes), std::end(kSizes));
  std::vector<bench::InputSet> inputs;
  for (float e : kEccentricities) {
    inputs.push_back(bench::make_inputs(e, largest, kLimit, kTolerance, kSeed));
    const bench::InputSet &set = inputs.back();
    char key[64], value[128];
    snprintf(key, sizeof key, "inputs e=%.2f", static_cast<double>(e));
    snprintf(value, sizeof value, "%zu kept of %llu draws (dropped: not solved within the limit)",
             set.mean_anomalies.size(), static_cast<unsigned long long>(set.draws));
    benchmark::AddCustomContext(key, value);
  }
  benchmark::AddCustomContext("best path", trueanomaly_detail::best_implementation().name);
  benchmark::AddCustomContext("cpu", cpu_description());

  std::vector<std::unique_ptr<Case>> cases;
  for (const bench::InputSet &set : inputs) {
    for (size_t size : kSizes) {
      for (const Variant &v : kVariants) {
        if (v.kind == Kind::path && !trueanomaly_detail::available(*v.path)) continue;
        cases.push_back(std::make_unique<Case>(Case{&v, &set, size, case_name(v, set.eccentricity, size)}));
        benchmark::RegisterBenchmark(cases.back()->name.c_str(), run_case, cases.back().get())
            ->Unit(benchmark::kMicrosecond)
            ->ComputeStatistics("min", [](const std::vector<double> &v) {
              return *std::min_element(v.begin(), v.end());
            });
      }
    }
  }

  CollectingReporter reporter(benchmark::CreateDefaultDisplayReporter());
  benchmark::RunSpecifiedBenchmarks(&reporter);
  fflush(stdout);
  print_table(console ? stdout : stderr, reporter);
  fflush(stdout);
  benchmark::Shutdown();
  if (g_failed) fprintf(stderr, "\nFAILED: an output differs from the libm loop (see the errors above)\n");
  return g_failed ? 1 : 0;
}
