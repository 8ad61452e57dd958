// SPDX-License-Identifier: BSD-3-Clause
// The calling thread's stack: every entry, on every path this CPU runs, on
// a thread whose whole stack is 32 KiB (hosts that run many threads or
// coroutines give them small stacks), with results equal to the plain
// path's on a normal stack; and the most stack each entry touched, against
// the figure trueanomaly.h states.
#include <pthread.h>
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "implementations.h"
#include "path_plain.h"
#include "solve_one.h"
#include "float_bits.h"
#include "trueanomaly.h"

namespace {

using namespace trueanomaly_detail;

// The bounds trueanomaly.h and the man pages state for each call (libm's
// own frames included); and for the Python module's per-element conversion,
// which states none, what leaves room on a 32 KiB stack (clang builds touch
// more there than the entries' bound: docs/runs.md).
constexpr size_t kArrayStackBytes = 24 * 1024, kScalarStackBytes = 2 * 1024,
                 kPerElementStackBytes = 28 * 1024;

// Runs `work` on a thread whose stack is exactly `size` bytes of fresh
// memory (with an inaccessible page below, so an overflow faults rather
// than writes elsewhere), and returns the bytes of stack it touched below
// the thread function's frame; 0 when the thread did not run on that
// memory (qemu-user's threads for another architecture keep their own).
size_t run_on_small_stack(size_t size, const std::function<void()> &work) {
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  char *mapping = static_cast<char *>(
      mmap(nullptr, size + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (mapping == MAP_FAILED) throw std::runtime_error("mmap failed");
  mprotect(mapping, page, PROT_NONE);
  char *stack = mapping + page;
  constexpr unsigned char kUntouched = 0xa5;
  std::memset(stack, kUntouched, size);

  struct Call {
    const std::function<void()> *work;
    char *frame;
  } call{&work, nullptr};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstack(&attr, stack, size);
  pthread_t thread;
  const int started = pthread_create(
      &thread, &attr,
      [](void *arg) -> void * {
        Call *c = static_cast<Call *>(arg);
        c->frame = static_cast<char *>(__builtin_frame_address(0));
        (*c->work)();
        return nullptr;
      },
      &call);
  pthread_attr_destroy(&attr);
  if (started != 0) throw std::runtime_error("pthread_create failed");
  pthread_join(thread, nullptr);
  size_t lowest = 0;
  while (lowest < size && static_cast<unsigned char>(stack[lowest]) == kUntouched) ++lowest;
  munmap(mapping, size + page);
  if (call.frame < stack + lowest || call.frame >= stack + size) return 0;
  return static_cast<size_t>(call.frame - (stack + lowest));
}

struct Workload {
  std::vector<float> mean, eccentricity;
};

// Long calls where the straggler driver keeps its whole window busy
// (e = 0.99 and 0.95, steps of 1 to ~100), the two-step blocks (0.85), the
// one-step blocks (0.5), and eccentricities per element.
Workload workload() {
  Workload w;
  std::mt19937_64 rng(32768);
  std::uniform_real_distribution<float> m(-6.3f, 6.3f), e(0.8f, 0.99f);
  w.mean.resize(20000);
  for (float &x : w.mean) x = m(rng);
  w.eccentricity.resize(w.mean.size());
  for (size_t i = 0; i < w.eccentricity.size(); ++i)
    w.eccentricity[i] = i % 1000 < 300 ? 0.99f : e(rng);  // runs of one value, and mixed
  return w;
}

constexpr float kEccentricities[] = {0.99f, 0.95f, 0.85f, 0.5f};
constexpr int32_t kLimit = 1000;

// What one entry must give: the plain path, on this thread's own stack.
std::vector<float> plain_array(const Workload &w, float e, int32_t *status) {
  std::vector<float> out(w.mean.size());
  *status = convert_array_plain(w.mean.data(), static_cast<int32_t>(w.mean.size()), e,
                                out.data(), kLimit, 0);
  return out;
}

void expect_same(const std::vector<float> &want, const std::vector<float> &got,
                 const std::string &what) {
  for (size_t i = 0; i < want.size(); ++i)
    ASSERT_TRUE(same_result(want[i], got[i])) << what << ", element " << i;
}

class SmallStack : public ::testing::TestWithParam<Path> {
 protected:
  void SetUp() override {
    if (!available(GetParam()))
      GTEST_SKIP() << "the " << name(GetParam()) << " path is not available on this CPU";
  }
  // Runs `work` on a 32 KiB stack and checks what it touched. Sanitized
  // code keeps every local in a frame of its own with guards around it:
  // there the stack is larger, and only the results are checked.
  void run(const std::string &what, size_t bound, const std::function<void()> &work) {
#ifndef TRUEANOMALY_SANITIZED
    const size_t used = run_on_small_stack(32 * 1024, work);
#else
    const size_t used = run_on_small_stack(256 * 1024, work);
#endif
    if (used == 0) GTEST_SKIP() << "the thread did not run on the stack it was given";
    std::printf("%-48s %6zu bytes of stack\n", what.c_str(), used);
#ifndef TRUEANOMALY_SANITIZED
    EXPECT_LE(used, bound) << what;
#else
    (void)bound;
#endif
  }
};

TEST_P(SmallStack, EveryConversionRunsOnA32KiBStack) {
  static const Workload w = workload();
  const int32_t n = static_cast<int32_t>(w.mean.size());
  const Path path = GetParam();
  for (float e : kEccentricities) {
    int32_t want_status;
    const std::vector<float> want = plain_array(w, e, &want_status);
    std::vector<float> out(w.mean.size());
    int32_t status = 0;
    run(std::string(name(path)) + " array, e = " + std::to_string(e), kArrayStackBytes,
        [&] { status = path->convert_array(w.mean.data(), n, e, out.data(), kLimit, 0); });
    EXPECT_EQ(status, want_status);
    expect_same(want, out, "array");
  }

  std::vector<float> want(w.mean.size()), out(w.mean.size());
  const int32_t want_failure = convert_per_element_plain(w.mean.data(), w.eccentricity.data(),
                                                         n, want.data(), kLimit, 0, true);
  int32_t failure = 0;
  run(std::string(name(path)) + " an eccentricity per element", kPerElementStackBytes, [&] {
    failure = path->convert_elements(w.mean.data(), w.eccentricity.data(), 1, n, out.data(),
                                     kLimit, 0, true);
  });
  EXPECT_EQ(failure, want_failure);
  expect_same(want, out, "per element");

  // The scalar entry's solve wherever this implementation runs.
  const SolveOneFn solve_one = path->solve_one;
  for (float e : kEccentricities) {
    run(std::string(name(path)) + " scalar solve, e = " + std::to_string(e),
        kScalarStackBytes, [&] {
          for (size_t i = 0; i < w.mean.size(); ++i) out[i] = solve_one(w.mean[i], e, kLimit, 0);
        });
    for (size_t i = 0; i < w.mean.size(); ++i)
      ASSERT_TRUE(same_result(out[i], solve_one_plain(w.mean[i], e, kLimit, 0))) << i;
  }
}

// The two public entries, on whichever path and kernel this CPU gets.
TEST_P(SmallStack, TheEntriesRunOnA32KiBStack) {
  if (GetParam() != &best_implementation())
    GTEST_SKIP() << "the entries run on " << best_implementation().name;
  static const Workload w = workload();
  const int32_t n = static_cast<int32_t>(w.mean.size());
  for (float e : kEccentricities) {
    int32_t want_status;
    const std::vector<float> want = plain_array(w, e, &want_status);
    std::vector<float> out(w.mean.size()), scalar(w.mean.size());
    int32_t status = 0;
    run("trueanomaly_array, e = " + std::to_string(e), kArrayStackBytes,
        [&] { status = trueanomaly_array(w.mean.data(), n, e, out.data(), kLimit, 0); });
    EXPECT_EQ(status, want_status);
    expect_same(want, out, "trueanomaly_array");
    run("trueanomaly, e = " + std::to_string(e), kScalarStackBytes, [&] {
      for (size_t i = 0; i < w.mean.size(); ++i) scalar[i] = trueanomaly(w.mean[i], e, kLimit, 0);
    });
    if (want_status == 0) expect_same(want, scalar, "trueanomaly");
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, SmallStack, ::testing::ValuesIn(every_implementation()),
                         [](const auto &info) { return std::string(name(info.param)); });

}  // namespace
