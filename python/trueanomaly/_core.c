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
#include <numpy/ufuncobject.h>

#include <dlfcn.h>
#include <fenv.h>
#include <math.h>
#include <stdint.h>
#include <string.h>

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

/* ---- the ufunc ---- */

/* Elements gathered per call of the engine: the ufunc's operands may have
 * any strides and types; the engine wants contiguous floats. */
enum { kGather = 2048 };

static int fits_int32(int64_t v) { return v >= INT32_MIN && v <= INT32_MAX; }

/* The inner loop for one combination of input types: mean anomaly and
 * eccentricity as float or double (a double is rounded to float), limit and
 * tolerance as int32 or int64. An element that reaches the limit, or whose
 * limit or tolerance does not fit 32 bits, becomes NaN and raises the
 * invalid flag; the floating-point flags are otherwise as before the loop
 * (the solve's own, such as sin of an infinity, are not the caller's). */
#define TRUEANOMALY_LOOP(suffix, MT, IT)                                                     \
  static void loop_##suffix(char **args, const npy_intp *dims, const npy_intp *steps,        \
                            void *data) {                                                    \
    (void)data;                                                                              \
    const npy_intp n = dims[0];                                                              \
    fexcept_t saved;                                                                         \
    fegetexceptflag(&saved, FE_ALL_EXCEPT);                                                  \
    int failed = 0;                                                                          \
    float m[kGather], e[kGather], out[kGather];                                              \
    const int one_e = steps[1] == 0;                                                         \
    for (npy_intp base = 0; base < n; base += kGather) {                                     \
      const int32_t c = (int32_t)(n - base < kGather ? n - base : kGather);                  \
      for (int32_t k = 0; k < c; ++k) {                                                      \
        m[k] = (float)*(const MT *)(args[0] + (base + k) * steps[0]);                        \
        if (!one_e || k == 0) e[k] = (float)*(const MT *)(args[1] + (base + k) * steps[1]);  \
      }                                                                                      \
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
      for (int32_t k = 0; k < c; ++k) *(float *)(args[4] + (base + k) * steps[4]) = out[k];  \
    }                                                                                        \
    fesetexceptflag(&saved, FE_ALL_EXCEPT);                                                  \
    if (failed) feraiseexcept(FE_INVALID);                                                   \
  }

TRUEANOMALY_LOOP(ffii, npy_float, npy_int32)
TRUEANOMALY_LOOP(ffll, npy_float, npy_int64)
TRUEANOMALY_LOOP(ddii, npy_double, npy_int32)
TRUEANOMALY_LOOP(ddll, npy_double, npy_int64)

static PyUFuncGenericFunction loops[] = {loop_ffii, loop_ffll, loop_ddii, loop_ddll};
static void *loop_data[] = {NULL, NULL, NULL, NULL};
static char loop_types[] = {
    NPY_FLOAT,  NPY_FLOAT,  NPY_INT32, NPY_INT32, NPY_FLOAT,
    NPY_FLOAT,  NPY_FLOAT,  NPY_INT64, NPY_INT64, NPY_FLOAT,
    NPY_DOUBLE, NPY_DOUBLE, NPY_INT32, NPY_INT32, NPY_FLOAT,
    NPY_DOUBLE, NPY_DOUBLE, NPY_INT64, NPY_INT64, NPY_FLOAT,
};

static const char ufunc_doc[] =
    "true_anomaly(mean_anomaly, eccentricity, max_iterations, tolerance, /, out=None, *, "
    "where=True, ...)\n\n"
    "True anomaly (radians, float32) of each mean anomaly, as a numpy ufunc: the four\n"
    "arguments broadcast together; each result is, bit for bit, what the C function\n"
    "trueanomaly() returns for that element's mean anomaly, eccentricity, limit and\n"
    "tolerance (float64 inputs are rounded to float32 first).\n\n"
    "An element that reaches the iteration limit gives NaN and raises numpy's\n"
    "\"invalid\" floating-point flag (a RuntimeWarning by default; FloatingPointError\n"
    "under np.errstate(invalid=\"raise\")); so does a limit or tolerance outside the\n"
    "32-bit range. NaN inputs give NaN without the flag.\n\n"
    ">>> import numpy as np\n"
    ">>> from trueanomaly import true_anomaly\n"
    ">>> true_anomaly(np.float32([0.5, 1.0, 2.0]), np.float32([0.1, 0.5, 0.9]), 100, 0)\n"
    "array([0.6075041, 2.099301 , 3.0132477], dtype=float32)\n";

/* ---- the module's functions ---- */

/* convert(mean_anomalies, eccentricities, out, max_iterations, tolerance,
 * keep_going) -> index of the first failure, or -1. The arrays are 1-D
 * contiguous float32 (checked by the package); eccentricities has one
 * element or as many as mean_anomalies; out as many. The GIL is released. */
static PyObject *py_convert(PyObject *self, PyObject *args) {
  (void)self;
  PyArrayObject *m, *e, *out;
  int limit, tol, keep_going;
  if (!PyArg_ParseTuple(args, "O!O!O!iip", &PyArray_Type, &m, &PyArray_Type, &e, &PyArray_Type,
                        &out, &limit, &tol, &keep_going))
    return NULL;
  PyArrayObject *arrays[3] = {m, e, out};
  for (int i = 0; i < 3; ++i)
    if (PyArray_TYPE(arrays[i]) != NPY_FLOAT || !PyArray_IS_C_CONTIGUOUS(arrays[i])) {
      PyErr_SetString(PyExc_TypeError, "convert: arrays must be C-contiguous float32");
      return NULL;
    }
  const npy_intp n = PyArray_SIZE(m);
  const npy_intp ne = PyArray_SIZE(e);
  if (PyArray_SIZE(out) != n || !(ne == 1 || ne == n) || !PyArray_ISWRITEABLE(out)) {
    PyErr_SetString(PyExc_ValueError, "convert: sizes do not match, or out is read-only");
    return NULL;
  }
  const float *mp = (const float *)PyArray_DATA(m), *ep = (const float *)PyArray_DATA(e);
  float *op = (float *)PyArray_DATA(out);
  const int32_t e_step = ne == 1 ? 0 : 1;
  npy_intp first_failure = -1;
  Py_BEGIN_ALLOW_THREADS
  /* The engine counts in int32_t: longer arrays in consecutive calls. */
  for (npy_intp base = 0; base < n; base += INT32_MAX) {
    const int32_t c = (int32_t)(n - base < INT32_MAX ? n - base : INT32_MAX);
    const int32_t got = convert(mp + base, ep + base * e_step, e_step, c, op + base, limit, tol,
                                keep_going);
    if (got < c) {
      first_failure = base + got;
      if (!keep_going) break;
    }
  }
  Py_END_ALLOW_THREADS
  return PyLong_FromSsize_t(first_failure);
}

/* solve(mean_anomaly, eccentricity, max_iterations, tolerance) -> float, or
 * None when the limit is reached. */
static PyObject *py_solve(PyObject *self, PyObject *args) {
  (void)self;
  float m, e, out;
  int limit, tol;
  if (!PyArg_ParseTuple(args, "ffii", &m, &e, &limit, &tol)) return NULL;
  if (convert(&m, &e, 0, 1, &out, limit, tol, 0) != 1) Py_RETURN_NONE;
  return PyFloat_FromDouble(out);
}

/* use_library(path): route every conversion through another build's two
 * entries. Called once, before any conversion. */
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
    {"convert", py_convert, METH_VARARGS, "Conversion of contiguous float32 arrays (internal)."},
    {"solve", py_solve, METH_VARARGS, "One element; None on failure (internal)."},
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
