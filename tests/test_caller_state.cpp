// SPDX-License-Identifier: BSD-3-Clause
// The caller's floating-point state: results follow the calling thread's
// rounding mode (equal to the model's under the same mode), and the library
// leaves the rounding mode, the control register's bits (x86-64 MXCSR: FTZ,
// DAZ, masks; aarch64 FPCR: FZ), the x87 control word and any exception
// flags already raised as it found them.
#include <fenv.h>
#include <gtest/gtest.h>

#include "differential.h"
#include "trueanomaly.h"

#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

namespace {

using namespace differential;

// The SSE or FP control register, its flush-to-zero bits and the exception
// flags it holds itself (on aarch64 they live in FPSR, which fenv reads).
#if defined(__x86_64__)
unsigned fp_control() { return _mm_getcsr(); }
void set_fp_control(unsigned v) { _mm_setcsr(v); }
constexpr unsigned kControlFlags = 0x3f;  // IE DE ZE OE UE PE
constexpr unsigned kFtzDaz = 0x8040;      // flush to zero, denormals are zero
#define TRUEANOMALY_TEST_FLUSH_TO_ZERO 1
#elif defined(__aarch64__)
unsigned fp_control() {
  uint64_t v;
  __asm__ volatile("mrs %0, fpcr" : "=r"(v));
  return static_cast<unsigned>(v);
}
void set_fp_control(unsigned v) { __asm__ volatile("msr fpcr, %0" : : "r"(uint64_t{v})); }
constexpr unsigned kControlFlags = 0;
constexpr unsigned kFtzDaz = 1u << 24;  // FZ
#define TRUEANOMALY_TEST_FLUSH_TO_ZERO 1
#else
unsigned fp_control() { return 0; }
void set_fp_control(unsigned) {}
constexpr unsigned kControlFlags = 0;
constexpr unsigned kFtzDaz = 0;
#endif

struct Mode {
  int rounding;
  const char* name;
};
const Mode kModes[] = {{FE_TONEAREST, "to nearest"},
                       {FE_TOWARDZERO, "toward zero"},
                       {FE_UPWARD, "upward"},
                       {FE_DOWNWARD, "downward"}};

// A batch from every regime plus the corpus, drawn before any mode is set.
struct Batch {
  std::vector<float> means;
  std::vector<Config> configs;  // one per mean
};

Batch make_batch(size_t per_regime) {
  Batch b;
  Inputs gen(seed(500));
  for (Regime r : kRegimes)
    for (size_t i = 0; i < per_regime; ++i) {
      b.configs.push_back(gen.config(r));
      b.means.push_back(gen.mean(r));
    }
  for (const CorpusEntry& x : load_corpus(TRUEANOMALY_CORPUS_PATH)) {
    b.configs.push_back({x.eccentricity, x.limit, x.tolerance});
    b.means.push_back(x.mean);
  }
  // Subnormal means and eccentricities, for FTZ/DAZ.
  for (uint32_t bits : {0x00000001u, 0x00400000u, 0x807fffffu, 0x00800000u}) {
    b.configs.push_back({0.5f, 100, 0});
    b.means.push_back(float_from_bits(bits));
    b.configs.push_back({float_from_bits(bits), 100, 0});
    b.means.push_back(1.0f);
  }
  return b;
}

// Library and model under the state currently set; returns the number of
// differing results and writes the first one to `first`.
size_t count_differences(const Batch& b, std::string* first) {
  size_t differ = 0;
  for (size_t i = 0; i < b.means.size(); ++i) {
    const Config& c = b.configs[i];
    const float m = b.means[i];
    const float got = trueanomaly(m, c.eccentricity, c.limit, c.tolerance);
    const float want = model_scalar(m, c.eccentricity, c.limit, c.tolerance);
    float out = sentinel(0), expected = sentinel(0);
    const int32_t s = trueanomaly_array(&m, 1, c.eccentricity, &out, c.limit, c.tolerance);
    const int32_t ms = model_array(&m, 1, c.eccentricity, &expected, c.limit, c.tolerance, nullptr);
    if (!same_result(got, want) || s != ms || !same_result(out, expected)) {
      if (differ++ == 0) {
        std::ostringstream why;
        why << std::hexfloat << "M " << m << " e " << c.eccentricity << " limit " << c.limit
            << " tolerance " << c.tolerance << ": scalar " << got << " model " << want
            << "; array " << s << " " << out << " model " << ms << " " << expected;
        *first = why.str();
      }
    }
  }
  return differ;
}

TEST(CallerState, EveryRoundingModeMatchesTheModelUnderThatMode) {
  const Batch batch = make_batch(scaled_count(4000));
  for (const Mode& mode : kModes) {
    std::string first;
    ASSERT_EQ(fesetround(mode.rounding), 0);
    const size_t differ = count_differences(batch, &first);
    const int after = fegetround();
    fesetround(FE_TONEAREST);
    EXPECT_EQ(after, mode.rounding) << mode.name;
    EXPECT_EQ(differ, 0u) << mode.name << ": " << first;
  }
}

// Inputs that raise every flag the solve can raise: inexact, invalid (NaN
// and sqrt of a negative), overflow, underflow, divide by zero, denormal.
const float kRaising[][2] = {{1.0f, 0.5f},        {NAN, 0.5f},
                             {1.0f, -1.5f},       {1e-40f, 0.5f},
                             {3e38f, 0.97f},      {INFINITY, 0.9f},
                             {0.0f, 1.0f},        {-1e-45f, 0.99f}};

void call_everything() {
  float out[8];
  for (const auto& x : kRaising) {
    (void)trueanomaly(x[0], x[1], 50, 0);
    (void)trueanomaly(x[0], x[1], 50, -1);
    (void)trueanomaly_array(&x[0], 1, x[1], out, 50, 0);
  }
}

TEST(CallerState, ModeControlBitsAndRaisedFlagsAreKept) {
  for (const Mode& mode : kModes)
    for (unsigned ftz_daz : {0u, kFtzDaz})
      for (bool flags_raised : {false, true}) {
        fesetround(mode.rounding);
        set_fp_control((fp_control() & ~kFtzDaz) | ftz_daz);
        feclearexcept(FE_ALL_EXCEPT);
        if (flags_raised) {
          feraiseexcept(FE_ALL_EXCEPT);
          set_fp_control(fp_control() | kControlFlags);  // x86's DE too, which fenv lacks
        }
        fenv_t before, after;
        fegetenv(&before);
        const unsigned csr_before = fp_control();
        const int raised_before = fetestexcept(FE_ALL_EXCEPT);

        call_everything();

        const unsigned csr_after = fp_control();
        const int raised_after = fetestexcept(FE_ALL_EXCEPT);
        const int rounding_after = fegetround();
        fegetenv(&after);
        fesetround(FE_TONEAREST);
        set_fp_control(fp_control() & ~kFtzDaz);
        feclearexcept(FE_ALL_EXCEPT);

        const std::string where = std::string(mode.name) + (ftz_daz ? ", FTZ/DAZ" : "") +
                                  (flags_raised ? ", flags raised" : "");
        EXPECT_EQ(rounding_after, mode.rounding) << where;
        EXPECT_EQ(csr_after & ~kControlFlags, csr_before & ~kControlFlags) << where;
        EXPECT_EQ(csr_after & csr_before & kControlFlags, csr_before & kControlFlags) << where;
        EXPECT_EQ(raised_after & raised_before, raised_before) << where;
#if defined(__x86_64__)
        EXPECT_EQ(after.__control_word, before.__control_word) << where;
#else
        (void)after;
#endif
      }
}

// With flush-to-zero set results may differ from the default mode's; they
// must still be the model's under the same control register.
#if TRUEANOMALY_TEST_FLUSH_TO_ZERO
TEST(CallerState, FlushToZeroMatchesTheModelUnderTheSameMxcsr) {
  const Batch batch = make_batch(scaled_count(1000));
  for (const Mode& mode : kModes) {
    std::string first;
    fesetround(mode.rounding);
    set_fp_control(fp_control() | kFtzDaz);
    const size_t differ = count_differences(batch, &first);
    const unsigned csr = fp_control();
    set_fp_control(fp_control() & ~kFtzDaz);
    fesetround(FE_TONEAREST);
    EXPECT_EQ(csr & kFtzDaz, kFtzDaz) << mode.name;
    EXPECT_EQ(differ, 0u) << mode.name << ": " << first;
  }
}
#endif

}  // namespace
