/* SPDX-License-Identifier: BSD-3-Clause */
/* trueanomaly._core: the numpy ufunc true_anomaly and the conversions behind
 * the package's functions, on the library's own code (src/elements.h),
 * compiled into this module with the library's floating-point flags. With
 * use_library(path) every conversion goes instead through the two entries
 * of another build of libtrueanomaly, loaded with dlopen. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <numpy/arrayobject.h>
#include <numpy/arrayscalars.h>
#include <numpy/ufuncobject.h>

#include <dlfcn.h>
#include <fenv.h>
#include <float.h>
#include <math.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#if defined(__x86_64__)
#include <xmmintrin.h>
#endif

#include "elements.h"
#include "trueanomaly.h"

/* ---- the engine: the built-in code, or another build's two entries ---- */

typedef float (*ScalarEntry)(float, float, int32_t, int32_t);
typedef int32_t (*ArrayEntry)(const float *, int32_t, float, float *, int32_t, int32_t);

/* Set once by use_library, before any conversion (the package calls it at
 * import); NULL: the built-in code. */
static ScalarEntry external_scalar;
static ArrayEntry external_array;

/* One element through another build's entries: the array entry's status
 * tells a true anomaly of -1 radian from a failure. */
static int external_one(float m, float e, int32_t limit, int32_t tol, float *out) {
  const float r = external_scalar(m, e, limit, tol);
  if (r != -1.0f) {
    *out = r;
    return 1;
  }
  return external_array(&m, 1, e, out, limit, tol) == 0;
}

/* As trueanomaly_convert_elements, through another build's entries. */
static int32_t external_convert(const float *m, const float *e, int32_t e_step, int32_t n,
                                float *out, int32_t limit, int32_t tol, int keep_going) {
  int32_t first_failure = n;
  enum { kChunk = 256 };
  float copy[kChunk];
  for (int32_t base = 0; base < n; base += kChunk) {
    const int32_t c = n - base < kChunk ? n - base : kChunk;
    /* A copy of the inputs: a failing call may have written some outputs,
     * which in place are the inputs redone one by one below. */
    memcpy(copy, m + base, (size_t)c * sizeof(float));
    if (e_step == 0 && external_array(copy, c, e[0], out + base, limit, tol) == 0) continue;
    for (int32_t k = 0; k < c; ++k) {
      float v;
      if (!external_one(copy[k], e[(base + k) * e_step], limit, tol, &v)) {
        if (first_failure == n) first_failure = base + k;
        if (!keep_going) return first_failure;
        v = NAN;
      }
      out[base + k] = v;
    }
  }
  return first_failure;
}

static int32_t convert(const float *m, const float *e, int32_t e_step, int32_t n, float *out,
                       int32_t limit, int32_t tol, int keep_going) {
  if (n <= 0) return 0;
  if (external_array) return external_convert(m, e, e_step, n, out, limit, tol, keep_going);
  return trueanomaly_convert_elements(m, e, e_step, n, out, limit, tol, keep_going);
}

/* ---- a conversion that Ctrl-C can stop ----
 *
 * The functions convert in slices whose worst case is bounded: at most
 * kSliceSteps Newton steps, so that between two slices the main thread can
 * look for a signal with the GIL taken back. A solve that succeeds within a
 * smaller iteration limit gives the same result under any larger one, so a
 * slice runs with the limit capped at kCappedLimit; an element that reaches
 * the capped limit is solved again on its own with the real limit
 * (trueanomaly_solve_steps, in slices of steps), and only a failure there is
 * a failure. Results and failures are therefore those of the real limit. */

enum {
  kCappedLimit = 1024,
  kSliceSteps = 1 << 18,
  kMinSlice = 256,
  kMaxSlice = 1 << 16,
  /* Below this many steps in the worst case the call keeps the GIL: giving
   * it up and taking it back would cost more than the conversion. */
  kHoldGilSteps = 1 << 16,
  kStackSlice = 1024,
};
static const int64_t kCheckEveryNs = 10 * 1000 * 1000;

/* Elements per slice when positive (the tests force small slices to put
 * failures on both sides of a boundary). */
static npy_intp forced_slice;

typedef struct {
  const float *m;          /* n mean anomalies */
  const float *e;          /* eccentricities: one, or n (e_step 1) */
  int32_t e_step;
  npy_intp n;
  float *out32;            /* results: exactly one of out32 and out64 */
  double *out64;
  int32_t limit, tol;
  int keep_going;          /* 0: stop at the first failure */
  unsigned char *failed;   /* NULL, or n flags set where an element failed */
  int *stop;               /* NULL, or a flag shared with the other workers */
  int check_signals;       /* the main thread, GIL released: look for Ctrl-C */
  PyThreadState *released; /* while the GIL is released */
  int64_t last_check;
} Job;

/* What both entries set alike: the arrays (NULL e: the one eccentricity at
 * e_one) and the call's settings. */
static void job_set(Job *job, const float *m, const float *e, const float *e_one, npy_intp n,
                    PyArrayObject *out, int wide, int32_t limit, int32_t tol, int keep_going) {
  job->m = m;
  job->e = e ? e : e_one;
  job->e_step = e ? 1 : 0;
  job->n = n;
  if (wide)
    job->out64 = (double *)PyArray_DATA(out);
  else
    job->out32 = (float *)PyArray_DATA(out);
  job->limit = limit;
  job->tol = tol;
  job->keep_going = keep_going;
}

/* run_job's results besides a failure's index. */
enum { kNoFailure = -1, kStopped = -2, kNoMemory = -3 };

static int64_t now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (int64_t)t.tv_sec * 1000000000 + t.tv_nsec;
}

/* Between slices: 0 to go on; -1 to stop, because another worker was
 * stopped or because a signal handler raised (its exception is pending,
 * KeyboardInterrupt for Ctrl-C). */
static int pause_point(Job *job) {
  if (job->stop && __atomic_load_n(job->stop, __ATOMIC_RELAXED)) return -1;
  if (!job->check_signals) return 0;
  const int64_t t = now_ns();
  if (t - job->last_check < kCheckEveryNs) return 0;
  job->last_check = t;
  PyEval_RestoreThread(job->released);
  const int raised = PyErr_CheckSignals() < 0;
  job->released = PyEval_SaveThread();
  if (!raised) return 0;
  if (job->stop) __atomic_store_n(job->stop, 1, __ATOMIC_RELAXED);
  return -1;
}

/* Element i alone under the job's real limit: 1 (the result in *value), -1
 * (the limit reached) or -2 (stopped). Another build's entries cannot be
 * resumed: there the element is solved in one call. */
static int solve_alone(Job *job, npy_intp i, float *value) {
  const float m = job->m[i], e = job->e[i * job->e_step];
  if (external_array) return external_one(m, e, job->limit, job->tol, value) ? 1 : -1;
  trueanomaly_solve_state state;
  trueanomaly_solve_start(&state, m);
  for (;;) {
    const int r = trueanomaly_solve_steps(&state, m, e, job->limit, job->tol, kSliceSteps, value);
    if (r != 0) return r;
    if (pause_point(job) < 0) return -2;
  }
}

static void store(Job *job, npy_intp base, const float *from, int32_t count) {
  if (job->out64) {
    for (int32_t k = 0; k < count; ++k) job->out64[base + k] = (double)from[k];
  } else {
    memcpy(job->out32 + base, from, (size_t)count * sizeof(float));
  }
}

static int32_t capped_limit(int32_t limit) {
  return !external_array && limit > kCappedLimit ? kCappedLimit : limit;
}

/* Converts the job: the index of its first failure, or kNoFailure,
 * kStopped, kNoMemory. With keep_going 0 the outputs from the first failure
 * on keep what they held; otherwise failures are NaN. Called with the GIL
 * released when job->released is set. */
static npy_intp run_job(Job *job) {
  const npy_intp n = job->n;
  const int32_t limit = capped_limit(job->limit);
  /* Failures under the engine's limit are only candidates where the limit
   * is capped, or where every failure must be told from a NaN result. */
  const int sift = limit != job->limit || job->failed != NULL;
  npy_intp slice = kSliceSteps / (limit > 1 ? limit : 1);
  slice = slice < kMinSlice ? kMinSlice : slice > kMaxSlice ? kMaxSlice : slice;
  if (forced_slice > 0) slice = forced_slice;
  if (slice > n) slice = n;
  const int buffered = sift || job->out64 != NULL;
  float on_stack[kStackSlice];
  float *buffer = NULL;
  if (buffered) {
    buffer = slice <= kStackSlice ? on_stack : malloc((size_t)slice * sizeof(float));
    if (!buffer) return kNoMemory;
  }
  npy_intp first = kNoFailure;
  for (npy_intp base = 0; base < n; base += slice) {
    const int32_t c = (int32_t)(n - base < slice ? n - base : slice);
    const float *m = job->m + base, *e = job->e + base * job->e_step;
    float *to = buffered ? buffer : job->out32 + base;
    int32_t keep = c;  /* outputs of this slice to store */
    int done = 0;
    if (!sift) {
      const int32_t got = convert(m, e, job->e_step, c, to, limit, job->tol, job->keep_going);
      if (got < c) {
        if (first < 0) first = base + got;
        if (!job->keep_going) keep = got, done = 1;
      }
    } else {
      /* Every failure is stored as NaN: the candidates are the NaNs from
       * the first failure on (a NaN may also be a result, as of a NaN
       * mean anomaly). */
      for (int32_t k = convert(m, e, job->e_step, c, to, limit, job->tol, 1); k < c; ++k) {
        if (to[k] == to[k]) continue;
        float v;
        const int r = solve_alone(job, base + k, &v);
        if (r == -2) {
          first = kStopped;
          done = 2;
          break;
        }
        if (r == -1) {
          if (first < 0) first = base + k;
          if (job->failed) job->failed[base + k] = 1;
          if (!job->keep_going) {
            keep = k;
            done = 1;
            break;
          }
        } else {
          to[k] = v;
        }
        /* A slice may hold many candidates, each up to the capped limit. */
        if (pause_point(job) < 0) {
          first = kStopped;
          done = 2;
          break;
        }
      }
    }
    if (done == 2) break;
    if (buffered) store(job, base, buffer, keep);
    if (done) break;
    if (base + c < n && pause_point(job) < 0) {
      first = kStopped;
      break;
    }
  }
  if (buffer != on_stack) free(buffer);
  return first;
}

/* The main thread's ident (from the package, at import): only there do
 * signal handlers run. */
static unsigned long main_thread_ident;

/* Runs the job, releasing the GIL unless its worst case is short. Returns
 * as run_job, with a Python exception set for kStopped (when this thread
 * was interrupted) and kNoMemory. */
static npy_intp run(Job *job) {
  const int32_t limit = capped_limit(job->limit);
  const int release = limit != job->limit || job->failed != NULL ||
                      (double)job->n * (double)(limit > 1 ? limit : 1) > kHoldGilSteps;
  npy_intp r;
  if (release) {
    job->check_signals = PyThread_get_thread_ident() == main_thread_ident;
    job->last_check = now_ns();
    job->released = PyEval_SaveThread();
    r = run_job(job);
    PyEval_RestoreThread(job->released);
    job->released = NULL;
  } else {
    job->check_signals = 0;
    r = run_job(job);
  }
  if (r == kNoMemory) PyErr_NoMemory();
  return r;
}

/* ---- the input check shared by the ufunc and the functions ---- */

/* 0 when an operand of this dtype is accepted; otherwise -1 with TypeError.
 * Mean anomalies and eccentricities (integer 0) are real numbers as numpy
 * takes them: float16, float32, float64 or integers. A bool is no number,
 * and a long double is refused rather than rounded to float twice (via
 * float64) in one function and once in another. Limits and tolerances
 * (integer 1) are integers, never bool. */
static int check_dtype(const char *name, PyArray_Descr *d, int integer) {
  const char kind = d->kind;
  if (integer ? (kind == 'i' || kind == 'u')
              : (kind == 'i' || kind == 'u' || (kind == 'f' && d->elsize <= 8)))
    return 0;
  PyObject *text = PyObject_Str((PyObject *)d);
  if (!text) return -1;
  PyErr_Format(PyExc_TypeError, "%s must be %s, not %U%s", name,
               integer ? "an integer" : "real numbers (float16, float32, float64 or integers)",
               text, kind == 'b' ? " (a bool is not a number)" : "");
  Py_DECREF(text);
  return -1;
}

/* check_dtype(name, dtype, integer): the shared check, for the package. */
static PyObject *py_check_dtype(PyObject *self, PyObject *args) {
  (void)self;
  const char *name;
  PyArray_Descr *d;
  int integer;
  if (!PyArg_ParseTuple(args, "sO&p", &name, PyArray_DescrConverter, &d, &integer)) return NULL;
  const int bad = check_dtype(name, d, integer);
  Py_DECREF(d);
  if (bad) return NULL;
  Py_RETURN_NONE;
}

/* ---- the ufunc ---- */

/* The ufunc's inner loop keeps the floating-point flags of the casts it
 * makes (an overflow from a float64 beyond float32's range, as numpy's own
 * cast raises it) and drops those of the solve (sin of an infinity is not
 * the caller's "invalid"). On x86-64 the solve runs on SSE alone, so the
 * flags are MXCSR's; elsewhere fenv does it. */
#if defined(__x86_64__)
typedef unsigned int FpFlags;
static FpFlags save_fp_flags(void) { return _mm_getcsr(); }
static void restore_fp_flags(FpFlags saved) {
  _mm_setcsr((_mm_getcsr() & ~0x3fu) | (saved & 0x3fu));
}
#else
typedef fexcept_t FpFlags;
static FpFlags save_fp_flags(void) {
  fexcept_t saved;
  fegetexceptflag(&saved, FE_ALL_EXCEPT);
  return saved;
}
static void restore_fp_flags(FpFlags saved) { fesetexceptflag(&saved, FE_ALL_EXCEPT); }
#endif

/* Elements gathered per call of the engine: the ufunc's operands may have
 * any strides and types; the engine wants contiguous floats. */
enum { kGather = 2048 };

static int fits_int32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

/* The inner loop for one combination of types: mean anomaly and
 * eccentricity as float or double (a double is rounded to float, and the
 * float result widened back exactly), limit and tolerance as int32 or
 * int64. An element that reaches the limit, or whose limit or tolerance
 * does not fit 32 bits, becomes NaN and raises the invalid flag. */
#define TRUEANOMALY_LOOP(suffix, MT, IT, OT)                                                 \
  static void loop_##suffix(char **args, const npy_intp *dims, const npy_intp *steps,        \
                            void *data) {                                                    \
    (void)data;                                                                              \
    const npy_intp n = dims[0];                                                              \
    int failed = 0;                                                                          \
    float m[kGather], e[kGather], out[kGather];                                              \
    const int one_e = steps[1] == 0;                                                         \
    for (npy_intp base = 0; base < n; base += kGather) {                                     \
      const int32_t c = (int32_t)(n - base < kGather ? n - base : kGather);                  \
      for (int32_t k = 0; k < c; ++k) {                                                      \
        m[k] = (float)*(const MT *)(args[0] + (base + k) * steps[0]);                        \
        if (!one_e || k == 0) e[k] = (float)*(const MT *)(args[1] + (base + k) * steps[1]);  \
      }                                                                                      \
      const FpFlags saved = save_fp_flags();                                                 \
      /* Stretches with one limit and tolerance (usually the whole chunk). */                \
      for (int32_t from = 0; from < c;) {                                                    \
        const int64_t limit = (int64_t) * (const IT *)(args[2] + (base + from) * steps[2]);  \
        const int64_t tol = (int64_t) * (const IT *)(args[3] + (base + from) * steps[3]);    \
        int32_t to = from + 1;                                                               \
        while (to < c && (int64_t) * (const IT *)(args[2] + (base + to) * steps[2]) == limit && \
               (int64_t) * (const IT *)(args[3] + (base + to) * steps[3]) == tol)            \
          ++to;                                                                              \
        if (!fits_int32(limit) || !fits_int32(tol)) {                                        \
          for (int32_t k = from; k < to; ++k) out[k] = NAN;                                  \
          failed = 1;                                                                        \
        } else if (convert(m + from, one_e ? e : e + from, one_e ? 0 : 1, to - from,         \
                           out + from, (int32_t)limit, (int32_t)tol, 1) < to - from) {       \
          failed = 1;                                                                        \
        }                                                                                    \
        from = to;                                                                           \
      }                                                                                      \
      restore_fp_flags(saved);                                                               \
      for (int32_t k = 0; k < c; ++k)                                                        \
        *(OT *)(args[4] + (base + k) * steps[4]) = (OT)out[k];                               \
    }                                                                                        \
    if (failed) feraiseexcept(FE_INVALID);                                                   \
  }

TRUEANOMALY_LOOP(ffii, npy_float, npy_int32, npy_float)
TRUEANOMALY_LOOP(ffll, npy_float, npy_int64, npy_float)
TRUEANOMALY_LOOP(ddii, npy_double, npy_int32, npy_double)
TRUEANOMALY_LOOP(ddll, npy_double, npy_int64, npy_double)

static PyUFuncGenericFunction loops[] = {loop_ffii, loop_ffll, loop_ddii, loop_ddll};
static void *loop_data[] = {NULL, NULL, NULL, NULL};
static char loop_types[] = {
    NPY_FLOAT,  NPY_FLOAT,  NPY_INT32, NPY_INT32, NPY_FLOAT,
    NPY_FLOAT,  NPY_FLOAT,  NPY_INT64, NPY_INT64, NPY_FLOAT,
    NPY_DOUBLE, NPY_DOUBLE, NPY_INT32, NPY_INT32, NPY_DOUBLE,
    NPY_DOUBLE, NPY_DOUBLE, NPY_INT64, NPY_INT64, NPY_DOUBLE,
};

static const char *const operand_names[] = {"mean_anomaly", "eccentricity", "max_iterations",
                                            "tolerance"};

/* numpy's own loop choice, after the shared input check: numpy would take
 * a bool for a number and pick no loop for a long double. */
static int type_resolver(PyUFuncObject *ufunc, NPY_CASTING casting, PyArrayObject **operands,
                         PyObject *type_tup, PyArray_Descr **out_dtypes) {
  for (int i = 0; i < 4; ++i)
    if (check_dtype(operand_names[i], PyArray_DESCR(operands[i]), i >= 2) < 0) return -1;
  return PyUFunc_DefaultTypeResolver(ufunc, casting, operands, type_tup, out_dtypes);
}

/* The ufunc's call for the common small case, where numpy's own machinery
 * (converting three Python scalars to arrays, choosing a loop by their
 * values, a buffered iterator to cast them) costs many times the
 * conversion: a C-contiguous float32 or float64 ndarray of mean anomalies,
 * one eccentricity (a Python or numpy number) or an ndarray like the mean
 * anomalies, Python int limit and tolerance, no keywords, and a worst case
 * of at most kUfuncFastSteps Newton steps. The result's dtype is the one
 * numpy's promotion gives, its values the inner loop's. Anything else, and
 * any call in which an element fails or a cast overflows (numpy then
 * raises its floating-point flags), is numpy's own call. */
static vectorcallfunc numpy_call;
enum { kUfuncFastSteps = 1 << 16 };
static int scalar_widens;

static int plain_number(PyObject *x, double *value, int *is_float64_scalar);
static int plain_int32(PyObject *x, int32_t *value);

/* numpy's masked array type, and the package's call of the ufunc on masked
 * arrays (set by configure): numpy 1 hands a ufunc every element of a
 * masked array, masked or not, so that masked elements would be converted
 * and their failures flagged. */
static PyObject *masked_type;
static PyObject *masked_call;

static int is_masked(PyObject *x) {
  return masked_type && PyObject_TypeCheck(x, (PyTypeObject *)masked_type);
}

static PyObject *ufunc_call(PyObject *ufunc, PyObject *const *args, size_t nargsf,
                            PyObject *kwnames) {
  const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (nargs == 4 && masked_call && (is_masked(args[0]) || is_masked(args[1])))
    return PyObject_Vectorcall(masked_call, args, nargsf, kwnames);
  if (kwnames || nargs != 4 || !PyArray_CheckExact(args[0]))
    return numpy_call(ufunc, args, nargsf, kwnames);
  PyArrayObject *const m = (PyArrayObject *)args[0];
  const int m_type = PyArray_TYPE(m);
  const npy_intp n = PyArray_SIZE(m);
  int32_t limit, tol;
  if ((m_type != NPY_FLOAT && m_type != NPY_DOUBLE) || PyArray_NDIM(m) == 0 || n > kGather ||
      !PyArray_IS_C_CONTIGUOUS(m) || !PyArray_ISALIGNED(m) || !PyArray_ISNOTSWAPPED(m) ||
      !plain_int32(args[2], &limit) || !plain_int32(args[3], &tol) ||
      (double)n * (double)(limit > 1 ? limit : 1) > kUfuncFastSteps)
    return numpy_call(ufunc, args, nargsf, kwnames);
  int wide = m_type == NPY_DOUBLE;
  float e_value = 0.0f;
  const char *e_data = NULL;
  int e_double = 0;
  double v;
  int float64_scalar;
  if (plain_number(args[1], &v, &float64_scalar)) {
    if (isfinite(v) && fabs(v) > FLT_MAX) return numpy_call(ufunc, args, nargsf, kwnames);
    if (float64_scalar && scalar_widens) wide = 1;
    e_value = (float)v;
  } else if (PyArray_CheckExact(args[1])) {
    PyArrayObject *const e = (PyArrayObject *)args[1];
    const int e_type = PyArray_TYPE(e);
    if ((e_type != NPY_FLOAT && e_type != NPY_DOUBLE) || !PyArray_IS_C_CONTIGUOUS(e) ||
        !PyArray_ISALIGNED(e) || !PyArray_ISNOTSWAPPED(e) ||
        PyArray_NDIM(e) != PyArray_NDIM(m) ||
        !PyArray_CompareLists(PyArray_DIMS(e), PyArray_DIMS(m), PyArray_NDIM(m)))
      return numpy_call(ufunc, args, nargsf, kwnames);
    e_double = e_type == NPY_DOUBLE;
    wide |= e_double;
    e_data = PyArray_BYTES(e);
  } else {
    return numpy_call(ufunc, args, nargsf, kwnames);
  }
  float mf[kGather], ef[kGather], out[kGather];
  const float *mp = (const float *)PyArray_DATA(m);
  int overflow = 0;
  if (m_type == NPY_DOUBLE) {
    const double *md = (const double *)PyArray_DATA(m);
    for (npy_intp k = 0; k < n; ++k) {
      mf[k] = (float)md[k];
      overflow |= isinf(mf[k]) && isfinite(md[k]);
    }
    mp = mf;
  }
  const float *ep = &e_value;
  if (e_data) {
    ep = (const float *)e_data;
    if (e_double) {
      for (npy_intp k = 0; k < n; ++k) {
        ef[k] = (float)((const double *)e_data)[k];
        overflow |= isinf(ef[k]) && isfinite(((const double *)e_data)[k]);
      }
      ep = ef;
    }
  }
  if (overflow) return numpy_call(ufunc, args, nargsf, kwnames);
  PyArrayObject *result = (PyArrayObject *)PyArray_SimpleNew(
      PyArray_NDIM(m), PyArray_DIMS(m), wide ? NPY_DOUBLE : NPY_FLOAT);
  if (!result) return NULL;
  float *to = wide ? out : (float *)PyArray_DATA(result);
  const FpFlags saved = save_fp_flags();
  const int32_t got = convert(mp, ep, e_data ? 1 : 0, (int32_t)n, to, limit, tol, 1);
  restore_fp_flags(saved);
  if (got < n) {
    Py_DECREF(result);
    return numpy_call(ufunc, args, nargsf, kwnames);
  }
  if (wide) {
    double *d = (double *)PyArray_DATA(result);
    for (npy_intp k = 0; k < n; ++k) d[k] = (double)out[k];
  }
  return (PyObject *)result;
}

/* numpy writes the signature line (x1..x4) above this text. */
static const char ufunc_doc[] =
    "True anomaly (radians) of each mean anomaly, as a numpy ufunc.\n\n"
    "x1 mean_anomaly (radians), x2 eccentricity, x3 max_iterations, x4 tolerance:\n"
    "the four broadcast together. Each result is, bit for bit, what the C function\n"
    "trueanomaly() returns for that element's four values: float64 inputs are\n"
    "rounded to float32 for the solve and the float32 result widened exactly, so\n"
    "float32 in gives float32 out and float64 in gives float64 out.\n\n"
    "The tolerance is in whole radians: the iteration stops at the first Newton\n"
    "step whose magnitude, truncated to an integer, is at most the tolerance, so\n"
    "tolerance 0 stops at the first step below one radian. Results are this\n"
    "iteration's, not a converged solution of Kepler's equation: see the\n"
    "README's section \"Accuracy: what the results are, and are not\".\n\n"
    "An element that reaches the iteration limit gives NaN and raises numpy's\n"
    "\"invalid\" floating-point flag (a RuntimeWarning by default; FloatingPointError\n"
    "under np.errstate(invalid=\"raise\")); so does a limit or tolerance outside the\n"
    "32-bit range. NaN inputs give NaN without the flag. A finite float64 beyond\n"
    "float32's range raises the \"overflow\" flag, as numpy's cast does. Bools and\n"
    "long doubles are refused (TypeError). Masked elements of numpy's masked arrays\n"
    "are not converted (so never a failure) and stay masked.\n\n"
    "Each inner-loop call runs to its end: Ctrl-C takes effect when the call\n"
    "returns. Use trueanomaly_array for calls that may run long.\n\n"
    ">>> import numpy as np\n"
    ">>> from trueanomaly import true_anomaly\n"
    ">>> true_anomaly(np.float32([0.5, 1.0, 2.0]), np.float32([0.1, 0.5, 0.9]), 100, 0)\n"
    "array([0.6075041, 2.099301 , 3.0132477], dtype=float32)\n";

/* ---- the module's functions ---- */

/* Called back with (index, shape, max_iterations, tolerance) to make the
 * package's IterationLimitError (set by configure). */
static PyObject *limit_error;
/* scalar_widens (above): whether a float64 numpy scalar widens a float32
 * array's result (NumPy 2's promotion) or not (NumPy 1's value-based one);
 * set by configure. */

static int contiguous_of(PyArrayObject *a, int type) {
  return PyArray_TYPE(a) == type && PyArray_IS_C_CONTIGUOUS(a) && PyArray_ISALIGNED(a) &&
         PyArray_ISNOTSWAPPED(a);
}

/* convert(mean_anomalies, eccentricities, out, max_iterations, tolerance,
 * keep_going, failed, stop) -> the index of the first failure, -1 for none,
 * or -2 when stopped by the flag `stop` (another worker was interrupted).
 * The arrays are C-contiguous: mean anomalies and eccentricities float32
 * (one eccentricity, or one per element), out float32 or float64, failed
 * None or bool, stop None or int32 (the package checks the rest). The GIL is
 * released for long conversions; on the main thread Ctrl-C stops it. */
static PyObject *py_convert(PyObject *self, PyObject *args) {
  (void)self;
  PyArrayObject *m, *e, *out;
  PyObject *failed_obj, *stop_obj;
  int limit, tol, keep_going;
  if (!PyArg_ParseTuple(args, "O!O!O!iipOO", &PyArray_Type, &m, &PyArray_Type, &e,
                        &PyArray_Type, &out, &limit, &tol, &keep_going, &failed_obj, &stop_obj))
    return NULL;
  const npy_intp n = PyArray_SIZE(m), ne = PyArray_SIZE(e);
  const int out64 = PyArray_TYPE(out) == NPY_DOUBLE;
  if (!contiguous_of(m, NPY_FLOAT) || !contiguous_of(e, NPY_FLOAT) ||
      !contiguous_of(out, out64 ? NPY_DOUBLE : NPY_FLOAT)) {
    PyErr_SetString(PyExc_TypeError, "convert: arrays must be C-contiguous float32 "
                                     "(out float32 or float64)");
    return NULL;
  }
  if (PyArray_SIZE(out) != n || !(ne == 1 || ne == n) || !PyArray_ISWRITEABLE(out)) {
    PyErr_SetString(PyExc_ValueError, "convert: sizes do not match, or out is read-only");
    return NULL;
  }
  Job job = {0};
  if (failed_obj != Py_None) {
    PyArrayObject *f = (PyArrayObject *)failed_obj;
    if (!PyArray_Check(failed_obj) || !contiguous_of(f, NPY_BOOL) || PyArray_SIZE(f) != n ||
        !PyArray_ISWRITEABLE(f)) {
      PyErr_SetString(PyExc_TypeError, "convert: failed must be a C-contiguous bool array");
      return NULL;
    }
    job.failed = (unsigned char *)PyArray_DATA(f);
  }
  if (stop_obj != Py_None) {
    PyArrayObject *s = (PyArrayObject *)stop_obj;
    if (!PyArray_Check(stop_obj) || !contiguous_of(s, NPY_INT32) || PyArray_SIZE(s) < 1 ||
        !PyArray_ISWRITEABLE(s)) {
      PyErr_SetString(PyExc_TypeError, "convert: stop must be a C-contiguous int32 array");
      return NULL;
    }
    job.stop = (int *)PyArray_DATA(s);
  }
  if (n == 0) return PyLong_FromLong(-1);
  const float *e_data = (const float *)PyArray_DATA(e);
  job_set(&job, (const float *)PyArray_DATA(m), ne == 1 ? NULL : e_data, e_data, n, out, out64,
          limit, tol, keep_going);
  const npy_intp r = run(&job);
  if (r == kNoMemory || (r == kStopped && PyErr_Occurred())) return NULL;
  return PyLong_FromSsize_t(r);
}

/* One number for the fast paths: a Python float or int (never a bool) or a
 * numpy float16/32/64 or integer scalar. 1 with *value set; 0 for anything
 * else. */
static int plain_number(PyObject *x, double *value, int *is_float64_scalar) {
  *is_float64_scalar = 0;
  if (PyFloat_CheckExact(x)) {
    *value = PyFloat_AS_DOUBLE(x);
    return 1;
  }
  if (PyLong_CheckExact(x)) {
    int overflow;
    const long v = PyLong_AsLongAndOverflow(x, &overflow);
    /* Small enough for numpy to take it as a float32 beside a float32
     * array (larger ones widen the result). */
    if (overflow || v < -32768 || v > 32767) return 0;
    *value = (double)v;
    return 1;
  }
  if (PyArray_IsScalar(x, Float)) {
    *value = (double)PyArrayScalar_VAL(x, Float);
    return 1;
  }
  if (PyArray_IsScalar(x, Double)) {
    *value = PyArrayScalar_VAL(x, Double);
    *is_float64_scalar = 1;
    return 1;
  }
  return 0;
}

static int plain_int32(PyObject *x, int32_t *value) {
  if (!PyLong_CheckExact(x) && !PyArray_IsScalar(x, Integer)) return 0;
  int overflow;
  const long v = PyLong_AsLongAndOverflow(x, &overflow);
  if (overflow || v < INT32_MIN || v > INT32_MAX) return 0;
  *value = (int32_t)v;
  return 1;
}

/* As float32, rounded by numpy's cast (its overflow warning included), or a
 * new reference to the array itself when it is one already. */
static PyArrayObject *as_float32(PyArrayObject *a) {
  if (contiguous_of(a, NPY_FLOAT)) {
    Py_INCREF(a);
    return a;
  }
  return (PyArrayObject *)PyArray_FromAny(
      (PyObject *)a, PyArray_DescrFromType(NPY_FLOAT), 0, 0,
      NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED | NPY_ARRAY_FORCECAST, NULL);
}

static int overlaps(PyArrayObject *a, PyArrayObject *b) {
  const char *a0 = PyArray_BYTES(a), *b0 = PyArray_BYTES(b);
  return a0 < b0 + PyArray_NBYTES(b) && b0 < a0 + PyArray_NBYTES(a);
}

static PyObject *raise_limit_error(npy_intp index, PyArrayObject *shape_of, int32_t limit,
                                   int32_t tol) {
  if (!limit_error) {
    PyErr_SetString(PyExc_RuntimeError, "trueanomaly._core is not configured");
    return NULL;
  }
  PyObject *shape = PyTuple_New(PyArray_NDIM(shape_of));
  if (!shape) return NULL;
  for (int i = 0; i < PyArray_NDIM(shape_of); ++i) {
    PyObject *d = PyLong_FromSsize_t(PyArray_DIM(shape_of, i));
    if (!d) {
      Py_DECREF(shape);
      return NULL;
    }
    PyTuple_SET_ITEM(shape, i, d);
  }
  PyObject *err = PyObject_CallFunction(limit_error, "nOii", index, shape, limit, tol);
  Py_DECREF(shape);
  if (err) {
    PyErr_SetObject((PyObject *)Py_TYPE(err), err);
    Py_DECREF(err);
  }
  return NULL;
}

/* array(mean_anomalies, eccentricity, max_iterations, tolerance, out,
 * errors, workers): trueanomaly_array for the common inputs, before any
 * other kind of input is looked for: a float32 or float64 ndarray; one
 * eccentricity (a Python or numpy number) or an ndarray of the same shape;
 * Python int limit and tolerance; out None or a fitting ndarray; errors
 * "raise" or "nan"; one worker. NotImplemented for anything else: the
 * package's general path then handles it (or raises its errors). */
static PyObject *py_array(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
  (void)self;
  if (nargs != 7) {
    PyErr_SetString(PyExc_TypeError, "array takes 7 arguments");
    return NULL;
  }
  PyObject *const m_obj = args[0], *const e_obj = args[1], *const out_obj = args[4];
  if (!PyArray_CheckExact(m_obj)) Py_RETURN_NOTIMPLEMENTED;
  PyArrayObject *const m = (PyArrayObject *)m_obj;
  const int m_type = PyArray_TYPE(m);
  if ((m_type != NPY_FLOAT && m_type != NPY_DOUBLE) || !PyArray_ISNOTSWAPPED(m))
    Py_RETURN_NOTIMPLEMENTED;
  int wide = m_type == NPY_DOUBLE;
  PyArrayObject *e_array = NULL;
  float e_value = 0.0f;
  double v;
  int float64_scalar;
  if (plain_number(e_obj, &v, &float64_scalar)) {
    /* A float64 beyond float32's range: numpy's own rules and warnings. */
    if (isfinite(v) && fabs(v) > FLT_MAX) Py_RETURN_NOTIMPLEMENTED;
    if (float64_scalar && scalar_widens) wide = 1;
    e_value = (float)v;
  } else if (PyArray_CheckExact(e_obj)) {
    e_array = (PyArrayObject *)e_obj;
    const int e_type = PyArray_TYPE(e_array);
    if ((e_type != NPY_FLOAT && e_type != NPY_DOUBLE) || !PyArray_ISNOTSWAPPED(e_array) ||
        PyArray_NDIM(e_array) == 0 || PyArray_NDIM(e_array) != PyArray_NDIM(m) ||
        !PyArray_CompareLists(PyArray_DIMS(e_array), PyArray_DIMS(m), PyArray_NDIM(m)))
      Py_RETURN_NOTIMPLEMENTED;
    if (e_type == NPY_DOUBLE) wide = 1;
  } else {
    Py_RETURN_NOTIMPLEMENTED;
  }
  int32_t limit, tol;
  if (!plain_int32(args[2], &limit) || !plain_int32(args[3], &tol)) Py_RETURN_NOTIMPLEMENTED;
  int keep_going;
  if (!PyUnicode_Check(args[5])) Py_RETURN_NOTIMPLEMENTED;
  if (PyUnicode_CompareWithASCIIString(args[5], "raise") == 0)
    keep_going = 0;
  else if (PyUnicode_CompareWithASCIIString(args[5], "nan") == 0)
    keep_going = 1;
  else
    Py_RETURN_NOTIMPLEMENTED;
  if (args[6] != Py_None && !(PyLong_CheckExact(args[6]) && PyLong_AsLong(args[6]) == 1)) {
    if (PyErr_Occurred()) PyErr_Clear();
    Py_RETURN_NOTIMPLEMENTED;
  }
  const int out_type = wide ? NPY_DOUBLE : NPY_FLOAT;
  PyArrayObject *out = NULL;
  if (out_obj != Py_None) {
    out = (PyArrayObject *)out_obj;
    if (!PyArray_CheckExact(out_obj) || !contiguous_of(out, out_type) ||
        !PyArray_ISWRITEABLE(out) || PyArray_NDIM(out) != PyArray_NDIM(m) ||
        !PyArray_CompareLists(PyArray_DIMS(out), PyArray_DIMS(m), PyArray_NDIM(m)))
      Py_RETURN_NOTIMPLEMENTED;
  }
  PyArrayObject *m32 = as_float32(m);
  if (!m32) return NULL;
  PyArrayObject *e32 = NULL;
  if (e_array && !(e32 = as_float32(e_array))) {
    Py_DECREF(m32);
    return NULL;
  }
  /* In place only when out is the mean anomalies' own memory; the general
   * path copies for any other overlap. */
  if (out && ((overlaps(m32, out) && PyArray_BYTES(m32) != PyArray_BYTES(out)) ||
              (e32 && overlaps(e32, out)))) {
    Py_DECREF(m32);
    Py_XDECREF(e32);
    Py_RETURN_NOTIMPLEMENTED;
  }
  if (out) {
    Py_INCREF(out);
  } else {
    out = (PyArrayObject *)PyArray_SimpleNew(PyArray_NDIM(m), PyArray_DIMS(m), out_type);
    if (!out) {
      Py_DECREF(m32);
      Py_XDECREF(e32);
      return NULL;
    }
  }
  Job job = {0};
  job_set(&job, (const float *)PyArray_DATA(m32), e32 ? (const float *)PyArray_DATA(e32) : NULL,
          &e_value, PyArray_SIZE(m), out, wide, limit, tol, keep_going);
  const npy_intp r = job.n > 0 ? run(&job) : kNoFailure;
  Py_DECREF(m32);
  Py_XDECREF(e32);
  if (r == kNoMemory || r == kStopped) {
    Py_DECREF(out);
    return NULL;
  }
  if (r >= 0 && !keep_going) {
    raise_limit_error(r, m, limit, tol);
    Py_DECREF(out);
    return NULL;
  }
  return (PyObject *)out;
}

/* A float64 rounded to float32 as numpy's cast rounds it, with its overflow
 * warning (or error, under np.errstate) for a finite value beyond
 * float32's range. 0, or -1 with an exception. */
static int to_float32(double x, float *value) {
  *value = (float)x;
  if (!(isinf(*value) && isfinite(x))) return 0;
  PyObject *cast = PyObject_CallFunction((PyObject *)&PyFloatArrType_Type, "d", x);
  if (!cast) return -1;
  Py_DECREF(cast);
  return 0;
}

/* solve(mean_anomaly, eccentricity, max_iterations, tolerance) -> float,
 * None when the limit is reached, or NotImplemented when the arguments are
 * not plain numbers (the package handles those). Ctrl-C stops a long
 * solve. */
static PyObject *py_solve(PyObject *self, PyObject *const *args, Py_ssize_t nargs) {
  (void)self;
  if (nargs != 4) {
    PyErr_SetString(PyExc_TypeError, "solve takes 4 arguments");
    return NULL;
  }
  double mv, ev;
  int f64;
  int32_t limit, tol;
  if (!plain_number(args[0], &mv, &f64) || !plain_number(args[1], &ev, &f64) ||
      !plain_int32(args[2], &limit) || !plain_int32(args[3], &tol))
    Py_RETURN_NOTIMPLEMENTED;
  float m, e, out;
  if (to_float32(mv, &m) < 0 || to_float32(ev, &e) < 0) return NULL;
  Job job = {0};
  job.m = &m;
  job.e = &e;
  job.n = 1;
  job.out32 = &out;
  job.limit = limit;
  job.tol = tol;
  const npy_intp r = run(&job);
  if (r == kNoMemory || r == kStopped) return NULL;
  if (r >= 0) Py_RETURN_NONE;
  return PyFloat_FromDouble((double)out);
}

/* configure(limit_error, main_thread_ident, scalar_widens, masked_type,
 * masked_call): set once by the package at import. */
static PyObject *py_configure(PyObject *self, PyObject *args) {
  (void)self;
  PyObject *factory, *type, *call;
  unsigned long ident;
  int widens;
  if (!PyArg_ParseTuple(args, "OkpO!O", &factory, &ident, &widens, &PyType_Type, &type, &call))
    return NULL;
  Py_INCREF(factory);
  Py_XSETREF(limit_error, factory);
  Py_INCREF(type);
  Py_XSETREF(masked_type, type);
  Py_INCREF(call);
  Py_XSETREF(masked_call, call);
  main_thread_ident = ident;
  scalar_widens = widens;
  Py_RETURN_NONE;
}

/* set_slice(elements): slices of that many elements (0: the normal size).
 * For the tests. */
static PyObject *py_set_slice(PyObject *self, PyObject *args) {
  (void)self;
  Py_ssize_t n;
  if (!PyArg_ParseTuple(args, "n", &n)) return NULL;
  forced_slice = n;
  Py_RETURN_NONE;
}

/* use_library(path): route every conversion through another build's two
 * entries. Called once, before any conversion. Such a build's solve cannot
 * be resumed: there one element's solve is not stopped by Ctrl-C. */
static PyObject *py_use_library(PyObject *self, PyObject *args) {
  (void)self;
  const char *path;
  if (!PyArg_ParseTuple(args, "s", &path)) return NULL;
  void *handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    PyErr_Format(PyExc_OSError, "cannot load libtrueanomaly from %s: %s", path, dlerror());
    return NULL;
  }
  ScalarEntry s = (ScalarEntry)dlsym(handle, "trueanomaly");
  ArrayEntry a = (ArrayEntry)dlsym(handle, "trueanomaly_array");
  if (!s || !a) {
    PyErr_Format(PyExc_OSError, "%s does not export trueanomaly and trueanomaly_array", path);
    dlclose(handle);
    return NULL;
  }
  external_scalar = s;
  external_array = a;
  Py_RETURN_NONE;
}

static PyMethodDef methods[] = {
    {"array", (PyCFunction)(void (*)(void))py_array, METH_FASTCALL,
     "trueanomaly_array for plain arrays; NotImplemented otherwise (internal)."},
    {"convert", py_convert, METH_VARARGS, "Conversion of contiguous arrays (internal)."},
    {"solve", (PyCFunction)(void (*)(void))py_solve, METH_FASTCALL,
     "One element; None on failure, NotImplemented for other inputs (internal)."},
    {"check_dtype", py_check_dtype, METH_VARARGS, "The shared input check (internal)."},
    {"configure", py_configure, METH_VARARGS, "Set by the package at import (internal)."},
    {"set_slice", py_set_slice, METH_VARARGS, "Force the slice size (for the tests)."},
    {"use_library", py_use_library, METH_VARARGS,
     "Route conversions through another build's shared library (internal)."},
    {NULL, NULL, 0, NULL}};

static struct PyModuleDef module = {PyModuleDef_HEAD_INIT, "_core",
                                    "The compiled core of the trueanomaly package.", -1,
                                    methods, NULL, NULL, NULL, NULL};

#define TRUEANOMALY_STR(x) #x
#define TRUEANOMALY_XSTR(x) TRUEANOMALY_STR(x)

PyMODINIT_FUNC PyInit__core(void) {
  import_array();
  import_umath();
  PyObject *mod = PyModule_Create(&module);
  if (!mod) return NULL;
  PyObject *ufunc = PyUFunc_FromFuncAndData(loops, loop_data, loop_types, 4, 4, 1,
                                            PyUFunc_None, "true_anomaly", ufunc_doc, 0);
  if (ufunc) {
    PyUFuncObject *u = (PyUFuncObject *)ufunc;
    u->type_resolver = type_resolver;
    numpy_call = u->vectorcall;
    if (numpy_call) u->vectorcall = ufunc_call;
  }
  if (!ufunc || PyModule_AddObject(mod, "true_anomaly", ufunc) < 0) {
    Py_XDECREF(ufunc);
    Py_DECREF(mod);
    return NULL;
  }
  if (PyModule_AddStringConstant(mod, "__version__",
                                 TRUEANOMALY_XSTR(TRUEANOMALY_VERSION_MAJOR) "." TRUEANOMALY_XSTR(
                                     TRUEANOMALY_VERSION_MINOR) "." TRUEANOMALY_XSTR(TRUEANOMALY_VERSION_PATCH)) <
      0) {
    Py_DECREF(mod);
    return NULL;
  }
  return mod;
}
