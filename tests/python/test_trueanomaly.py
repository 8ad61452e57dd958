# SPDX-License-Identifier: BSD-3-Clause
"""The Python binding: results, shapes and dtypes, failures, argument
checks, the chunking of large arrays, Ctrl-C, and the inputs of astropy,
numpy's masked arrays, pandas, xarray and dask (each skipped where it is
not installed).

Run with PYTHONPATH=<build>/python and TRUEANOMALY_REFERENCE set to the
built libtrueanomaly.so: every result is checked against that library's
scalar entry, called one element at a time through ctypes. Exits with 77
(skipped) when numpy is not installed.
"""

import ctypes
import importlib
import os
import pickle
import signal
import subprocess
import sys
import threading
import time
import unittest
import warnings

try:
    import numpy as np
except ImportError:
    print("numpy is not installed: skipping the Python binding tests")
    sys.exit(77)

import trueanomaly as ta
from trueanomaly import IterationLimitError, _core, trueanomaly, trueanomaly_array

F32 = np.float32
# With e = 0.99 and a limit of 2, element 2 needs a second step and fails.
HARD = [2.0, 2.5, 0.2, 1.0]


def bits(a):
    return np.asarray(a, dtype=F32).view(np.uint32)


class ScalarTest(unittest.TestCase):
    def test_worked_examples(self):
        # Swapping the floats or the integers would change these.
        self.assertEqual(trueanomaly(1.0, 0.9, 2, 1), float(F32("2.98286128")))
        self.assertEqual(trueanomaly(-1.55, 0.99, 100, 0), float(F32("-3.07858443")))

    def test_failure_raises_and_minus_one_radian_does_not(self):
        self.assertEqual(trueanomaly(-1.0, 0.0, 100, 0), -1.0)
        with self.assertRaises(IterationLimitError) as caught:
            trueanomaly(0.5, 0.99, 3, 1)
        self.assertIsInstance(caught.exception, ArithmeticError)
        self.assertIn("iteration limit", str(caught.exception))


class ArrayTest(unittest.TestCase):
    def test_matches_the_scalar_entry_for_any_shape_and_layout(self):
        grid = np.linspace(-8, 8, 24).reshape(4, 6)
        # float64 in gives float64 out; as for numpy's ufuncs, a float32
        # scalar beside the Python float 0.9 gives float64 too.
        for given, dtype in [(grid, np.float64),
                             (grid.astype(F32).T, F32),         # Fortran order
                             (grid.astype(F32)[:, ::2], F32),   # strided
                             (grid.tolist(), np.float64),       # nested lists
                             (F32(1.0), np.float64)]:           # 0-d
            before = np.array(given, copy=True)
            out = trueanomaly_array(given, 0.9, 100, 0)
            flat = np.asarray(given, dtype=F32)
            self.assertEqual((out.dtype, out.shape), (dtype, flat.shape))
            self.assertEqual(out.dtype, ta.true_anomaly(given, 0.9, 100, 0).dtype)
            want = [trueanomaly(float(m), 0.9, 100, 0) for m in flat.ravel()]
            np.testing.assert_array_equal(bits(out.ravel()), bits(want))
            np.testing.assert_array_equal(np.asarray(given), before)

    def test_empty_arrays_keep_their_shape(self):
        for shape in [(0,), (3, 0)]:
            out = trueanomaly_array(np.zeros(shape, F32), 0.5, 0, 0)
            self.assertEqual((out.shape, out.dtype), (shape, F32))

    def test_failure_raises(self):
        with self.assertRaisesRegex(IterationLimitError, "element 2 reached the iteration limit"):
            trueanomaly_array(HARD, 0.99, 2, 0)


class ArgumentTest(unittest.TestCase):
    def test_integers_must_fit_int32(self):
        for bad in [2**31, -(2**31) - 1, 2**32 + 100]:
            with self.assertRaises(OverflowError):
                trueanomaly(1.0, 0.5, bad, 0)
            with self.assertRaises(OverflowError):
                trueanomaly_array([1.0], 0.5, 100, bad)
        with self.assertRaises(TypeError):
            trueanomaly_array([1.0], 0.5, 100.0, 0)
        # The extremes are accepted (a negative tolerance is never met).
        self.assertEqual(trueanomaly(1.0, 0.5, np.int64(2**31 - 1), 0), float(F32("2.0993011")))
        with self.assertRaises(IterationLimitError):
            trueanomaly_array([1.0], 0.5, 100, -(2**31))



class Reference:
    """The C library's scalar entry, one element at a time: NaN where it fails."""

    def __init__(self, path):
        lib = ctypes.CDLL(path)
        lib.trueanomaly.argtypes = [ctypes.c_float, ctypes.c_float, ctypes.c_int32, ctypes.c_int32]
        lib.trueanomaly.restype = ctypes.c_float
        lib.trueanomaly_array.argtypes = [ctypes.POINTER(ctypes.c_float), ctypes.c_int32,
                                          ctypes.c_float, ctypes.POINTER(ctypes.c_float),
                                          ctypes.c_int32, ctypes.c_int32]
        self.lib = lib

    def one(self, m, e, limit, tol):
        r = self.lib.trueanomaly(m, e, limit, tol)
        if r == -1.0:
            x, out = ctypes.c_float(m), ctypes.c_float()
            if self.lib.trueanomaly_array(ctypes.byref(x), 1, e, ctypes.byref(out), limit, tol):
                return np.nan
        return r

    def __call__(self, m, e, limit, tol):
        m, e, limit, tol = np.broadcast_arrays(np.asarray(m, F32), np.asarray(e, F32),
                                               np.asarray(limit), np.asarray(tol))
        flat = [self.one(float(a), float(b), int(c), int(d))
                for a, b, c, d in zip(m.ravel(), e.ravel(), limit.ravel(), tol.ravel())]
        return np.array(flat, dtype=F32).reshape(m.shape)


REFERENCE = Reference(os.environ["TRUEANOMALY_REFERENCE"]) if os.environ.get(
    "TRUEANOMALY_REFERENCE") else None


def same(a, b):
    """Bit for bit, NaN payloads aside (they are not part of the contract)."""
    a, b = np.asarray(a, F32), np.asarray(b, F32)
    return a.shape == b.shape and bool(np.all((bits(a) == bits(b)) | (np.isnan(a) & np.isnan(b))))


def random_orbits(rng, n):
    """Mean anomalies and per-element eccentricities over every regime: the
    circle, above the cap, negative, and raw bit patterns (NaN, infinities,
    subnormals)."""
    m = rng.uniform(-4 * np.pi, 4 * np.pi, n).astype(F32)
    e = np.concatenate([rng.uniform(0, 0.99, n // 4), rng.uniform(0.9, 1.5, n // 4),
                        rng.uniform(-2, 0, n // 4)]).astype(F32)
    raw = rng.integers(0, 2**32, n - e.size, dtype=np.uint64).astype(np.uint32).view(F32)
    e = np.concatenate([e, raw])
    m[-n // 8:] = rng.integers(0, 2**32, n // 8, dtype=np.uint64).astype(np.uint32).view(F32)
    perm = rng.permutation(n)
    return m[perm], e[perm]


def nan_array(m, e, limit, tol):
    return trueanomaly_array(m, e, limit, tol, errors="nan")


@unittest.skipIf(REFERENCE is None, "TRUEANOMALY_REFERENCE is not set")
class UfuncTest(unittest.TestCase):
    def test_per_element_orbits_match_the_c_library(self):
        rng = np.random.default_rng(20261209)
        m, e = random_orbits(rng, 40000)
        for limit, tol in [(100, 0), (3, 0), (100, -1), (50, 2**31 - 1)]:
            with np.errstate(invalid="ignore"):
                got = ta.true_anomaly(m, e, limit, tol)
                # Short calls take the compiled fast paths (numpy's own call
                # where a piece has a failure), with an eccentricity per
                # element or one per call.
                per_element = [np.concatenate([f(m[k:k + 64], e[k:k + 64], limit, tol)
                                               for k in range(0, 8192, 64)])
                               for f in (ta.true_anomaly, nan_array)]
                one_each = [np.concatenate([f(m[k:k + 64], float(e[k]), limit, tol)
                                            for k in range(0, 8192, 64)])
                            for f in (ta.true_anomaly, nan_array)]
            self.assertEqual(got.dtype, F32)
            self.assertTrue(same(got, REFERENCE(m, e, limit, tol)), (limit, tol))
            for short in per_element:
                self.assertTrue(same(short, REFERENCE(m[:8192], e[:8192], limit, tol)))
            for short in one_each:
                self.assertTrue(same(short, REFERENCE(m[:8192], np.repeat(e[:8192:64], 64),
                                                      limit, tol)))
        # Runs of one eccentricity among per-element ones, and limits and
        # tolerances that change along the array.
        e_runs = np.repeat(e[:400], 100)
        limits = np.where(np.arange(m.size) % 7 == 0, 2, 100).astype(np.int32)
        with np.errstate(invalid="ignore"):
            got = ta.true_anomaly(m, e_runs, limits, 0)
        self.assertTrue(same(got, REFERENCE(m, e_runs, limits, 0)))

    def test_broadcasting_out_where_and_layouts(self):
        m = np.linspace(-7, 7, 12).reshape(3, 4)            # float64: rounded to float32
        e = np.float32([0.0, 0.3, 0.7, 0.95])
        limits = np.array([[100], [2], [10]])               # int64
        with np.errstate(invalid="ignore"):
            got = ta.true_anomaly(m, e, limits, 0)
            self.assertTrue(same(got, REFERENCE(m, e, limits, 0)))
            out = np.full((3, 4), 7.0, F32)
            where = np.arange(12).reshape(3, 4) % 2 == 0
            ta.true_anomaly(m.T.copy().T, e, limits, 0, out=out, where=where)
        self.assertTrue(same(out[where], got[where]))
        self.assertTrue(np.all(out[~where] == 7.0))
        self.assertTrue(same(ta.true_anomaly(m.astype(F32)[:, ::2], e[::2], 100, 0),
                             REFERENCE(m[:, ::2], e[::2], 100, 0)))
        self.assertEqual(ta.true_anomaly(1.0, 0.5, 100, 0), F32("2.0993011"))

    def test_failure_is_nan_and_the_invalid_flag(self):
        hard = np.float32(HARD)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            # NaN and infinite inputs are solved: no flag.
            ok = ta.true_anomaly(np.float32([1.0, np.nan, np.inf, 2.0]), 0.5, 10, 0)
            self.assertTrue(same(ok, [2.0993011, np.nan, np.nan, 2.68497467]))
            with self.assertRaises(RuntimeWarning):
                ta.true_anomaly(hard, 0.99, 2, 0)
        with np.errstate(invalid="raise"), self.assertRaises(FloatingPointError):
            ta.true_anomaly(hard, 0.99, 2, 0)
        with np.errstate(invalid="ignore"):
            got = ta.true_anomaly(hard, 0.99, 2, 0)
            # A limit or tolerance beyond 32 bits is no valid input.
            wide = ta.true_anomaly(np.float32([1.0, 1.0]), 0.5, np.int64([100, 2**31]), 0)
        self.assertTrue(same(got, [3.10508943, 3.11935544, np.nan, np.nan]))
        self.assertTrue(same(wide, [2.0993011, np.nan]))

    def test_inputs_that_are_not_numbers_are_refused(self):
        for args in [(None, 0.5, 100, 0), (1.0, None, 100, 0), ("1", 0.5, 100, 0),
                     (1.0, 0.5, 100.0, 0), (np.datetime64("2026-01-01"), 0.5, 100, 0)]:
            with self.assertRaises(TypeError):
                ta.true_anomaly(*args)

    def test_dask_arrays_stay_lazy(self):
        try:
            import dask.array as da
        except ImportError:
            self.skipTest("dask is not installed")
        rng = np.random.default_rng(7)
        m, e = rng.uniform(-7, 7, 5000).astype(F32), rng.uniform(0, 0.9, 5000).astype(F32)
        lazy = ta.true_anomaly(da.from_array(m, chunks=1000), da.from_array(e, chunks=1000), 100, 0)
        self.assertIsInstance(lazy, da.Array)
        self.assertTrue(same(lazy.compute(scheduler="threads"), REFERENCE(m, e, 100, 0)))


class PerElementArrayTest(unittest.TestCase):
    def test_eccentricity_array_broadcasts(self):
        m = np.linspace(-7, 7, 12, dtype=F32).reshape(3, 4)
        e = np.float32([[0.1], [0.5], [0.9]])
        got = trueanomaly_array(m, e, 100, 0)
        want = [[trueanomaly(float(a), float(b), 100, 0) for a, b in zip(row, e.ravel()[i].repeat(4))]
                for i, row in enumerate(m)]
        self.assertTrue(same(got, want))
        self.assertEqual(trueanomaly_array(1.0, e, 100, 0).shape, (3, 1))

    def test_raise_names_the_first_failing_element_and_keeps_the_ones_before(self):
        m = np.float32([2.0, 2.5, 0.2, 1.0] * 3).reshape(3, 4)
        e = np.full((3, 4), 0.5, F32)
        e[1, 2] = 0.99
        out = np.full((3, 4), 7.0, F32)
        with self.assertRaises(IterationLimitError) as caught:
            trueanomaly_array(m, e, 2, 0, out=out)
        self.assertEqual(caught.exception.index, 6)
        self.assertIn("element 6 (index (1, 2))", str(caught.exception))
        flat = out.ravel()
        self.assertTrue(same(flat[:6], trueanomaly_array(m.ravel()[:6], 0.5, 2, 0)))
        self.assertTrue(np.all(flat[6:] == 7.0))

    def test_nan_marks_every_failure_and_converts_the_rest(self):
        m = np.float32(HARD * 2)
        got = trueanomaly_array(m, 0.99, 2, 0, errors="nan")
        self.assertTrue(same(got, [3.10508943, 3.11935544, np.nan, np.nan] * 2))
        with self.assertRaises(ValueError):
            trueanomaly_array(m, 0.99, 2, 0, errors="ignore")

    def test_in_place_and_out(self):
        m = np.linspace(-7, 7, 1000, dtype=F32)
        want = trueanomaly_array(m, 0.7, 100, 0)
        same_array = m.copy()
        self.assertIs(trueanomaly_array(same_array, 0.7, 100, 0, out=same_array), same_array)
        self.assertTrue(same(same_array, want))
        # An out that overlaps the input any other way converts from a copy.
        buf = np.concatenate([m, np.zeros(1, F32)])
        trueanomaly_array(buf[:-1], 0.7, 100, 0, out=buf[1:])
        self.assertTrue(same(buf[1:], want))
        for bad in [np.empty(1000, np.float64), np.empty(999, F32), np.empty((2, 1000), F32)[:, 0]]:
            with self.assertRaises(ValueError):
                trueanomaly_array(m, 0.7, 100, 0, out=bad)

    def test_workers_split_the_array_and_report_the_first_failure(self):
        saved = ta._MIN_PER_WORKER
        ta._MIN_PER_WORKER = 3
        try:
            rng = np.random.default_rng(3)
            m, e = rng.uniform(-7, 7, 1001).astype(F32), rng.uniform(0, 0.99, 1001).astype(F32)
            one = trueanomaly_array(m, e, 100, 0, errors="nan")
            self.assertTrue(same(trueanomaly_array(m, e, 100, 0, errors="nan", workers=4), one))
            self.assertTrue(same(trueanomaly_array(m, e, 100, 0, errors="nan", workers=-1), one))
            hard = np.float32([2.0] * 900 + [0.2] + [2.0] * 50 + [0.2] * 50)
            for workers in [1, 2, 7]:
                with self.assertRaises(IterationLimitError) as caught:
                    trueanomaly_array(hard, 0.99, 2, 0, workers=workers)
                self.assertEqual(caught.exception.index, 900)
            with self.assertRaises(ValueError):
                trueanomaly_array(m, e, 100, 0, workers=0)
        finally:
            ta._MIN_PER_WORKER = saved

    def test_inputs_that_are_not_numbers_name_the_parameter(self):
        with self.assertRaisesRegex(TypeError, "mean_anomalies"):
            trueanomaly_array([1.0, None], 0.5, 100, 0)
        with self.assertRaisesRegex(TypeError, "eccentricity"):
            trueanomaly_array([1.0], None, 100, 0)
        with self.assertRaisesRegex(TypeError, "mean_anomalies"):
            trueanomaly_array(["1.0"], 0.5, 100, 0)
        with self.assertRaisesRegex(TypeError, "eccentricity"):
            trueanomaly(1.0, None, 100, 0)
        with self.assertRaisesRegex(TypeError, "mean_anomaly"):
            trueanomaly("1.0", 0.5, 100, 0)


class PackageTest(unittest.TestCase):
    def test_version_docstrings_and_hints(self):
        import doctest
        import re
        with open(os.path.join(os.path.dirname(__file__), "..", "..", "include",
                               "trueanomaly.h")) as f:
            header = f.read()
        version = ".".join(re.search(rf"#define TRUEANOMALY_VERSION_{p} (\d+)", header).group(1)
                           for p in ("MAJOR", "MINOR", "PATCH"))
        self.assertEqual(ta.__version__, version)
        with open(os.path.join(os.path.dirname(__file__), "..", "..", "CITATION.cff")) as f:
            self.assertIn(f'\nversion: "{version}"\n', f.read())
        self.assertEqual(doctest.testmod(ta).failed, 0)
        finder = doctest.DocTestFinder()
        runner = doctest.DocTestRunner()
        for test in finder.find(ta.true_anomaly, "true_anomaly", globs={}):
            runner.run(test)
        self.assertEqual(runner.failures, 0)
        self.assertIsInstance(ta.true_anomaly, np.ufunc)
        self.assertIn("return", trueanomaly_array.__annotations__)


EXTERNAL = bool(os.environ.get("TRUEANOMALY_LIBRARY"))
# With e = 0.99 and tolerance 0 these take more steps than the capped limit
# of a slice (1024): elements 1 and 3 succeed from limits 1129 and 1118.
LONG = F32([1.0, 0.44172186, 2.0, 0.3979483, 0.5])


def optional(name):
    try:
        return importlib.import_module(name)
    except ImportError:
        raise unittest.SkipTest(f"{name} is not installed") from None


def bits64(a):
    return np.asarray(a, np.float64).view(np.uint64)


@unittest.skipIf(REFERENCE is None, "TRUEANOMALY_REFERENCE is not set")
class DtypeTest(unittest.TestCase):
    def test_float64_in_gives_the_float32_result_widened_exactly(self):
        rng = np.random.default_rng(11)
        m, e = rng.uniform(-7, 7, 3000), rng.uniform(0, 0.99, 3000)
        want = REFERENCE(m, e, 100, 0).astype(np.float64)
        # The compiled fast paths (small arrays) and the general ones.
        for got in [ta.true_anomaly(m[:16], e[:16], 100, 0), ta.true_anomaly(m, e, 100, 0),
                    trueanomaly_array(m[:16], e[:16], 100, 0), trueanomaly_array(m, e, 100, 0),
                    trueanomaly_array(m.tolist(), e, 100, 0, workers=2),
                    ta.true_anomaly(m.astype(F32), e, 100, 0),             # numpy's promotion
                    trueanomaly_array(m.astype(F32), e, 100, 0)]:
            self.assertEqual(got.dtype, np.float64)
            n = got.size
            np.testing.assert_array_equal(bits64(got), bits64(want[:n]))
        self.assertEqual(trueanomaly(float(m[0]), float(e[0]), 100, 0), want[0])

    def test_a_float64_beyond_float32s_range_raises_numpys_overflow_flag(self):
        big = np.array([1.0, 1e300])
        calls = [lambda: ta.true_anomaly(big, 0.5, 100, 0),
                 lambda: trueanomaly_array(big, 0.5, 100, 0),
                 lambda: trueanomaly_array(big.tolist(), 0.5, 100, 0, workers=2),
                 lambda: trueanomaly(1e300, 0.5, 100, 0)]
        for call in calls:
            with np.errstate(over="raise"), self.assertRaises(FloatingPointError):
                call()
            with warnings.catch_warnings():
                warnings.simplefilter("error")
                with self.assertRaisesRegex(RuntimeWarning, "overflow"):
                    call()
            with np.errstate(over="ignore"):
                self.assertTrue(np.isnan(call()).any())  # an infinite mean anomaly: NaN

    def test_every_function_refuses_bools_and_long_doubles_alike(self):
        for bad in [True, np.bool_(True), np.longdouble(1.0)]:
            for f in (ta.true_anomaly, trueanomaly_array, trueanomaly):
                with self.assertRaisesRegex(TypeError, "mean_anomal"):
                    f(bad, 0.5, 100, 0)
                with self.assertRaisesRegex(TypeError, "eccentricity"):
                    f(1.0, np.array([bad]) if f is not trueanomaly else bad, 100, 0)
                with self.assertRaisesRegex(TypeError, "max_iterations"):
                    f(1.0, 0.5, bad, 0)
        # A list mixing numbers and bools is numbers, as numpy converts it.
        self.assertTrue(same(trueanomaly_array([1.0, True], 0.5, 100, 0),
                             ta.true_anomaly([1.0, True], 0.5, 100, 0)))


class SliceTest(unittest.TestCase):
    """Conversions run in slices, between which Ctrl-C is looked for; the
    tests force slices of two elements."""

    def setUp(self):
        _core.set_slice(2)
        self.addCleanup(_core.set_slice, 0)

    def test_the_first_failure_is_the_first_across_slices(self):
        # e = 0.99, limit 2: M = 0.2 and 1.0 fail; here elements 3, 4 and 9,
        # on both sides of the boundary between slices [2, 3] and [4, 5].
        m = F32([2.0, 2.0, 2.0, 0.2, 1.0, 2.0, 2.0, 2.0, 2.0, 0.2])
        out = np.full(10, 7.0, F32)
        with np.errstate(invalid="ignore"):
            self.assertEqual(_core.convert(m, F32([0.99]), out, 2, 0, True, None, None), 3)
        self.assertEqual(list(np.flatnonzero(np.isnan(out))), [3, 4, 9])
        out[:] = 7.0
        with self.assertRaises(IterationLimitError) as caught:
            trueanomaly_array(m, 0.99, 2, 0, out=out)
        self.assertEqual(caught.exception.index, 3)
        self.assertTrue(np.all(out[3:] == 7.0) and not np.any(out[:3] == 7.0))
        masked = trueanomaly_array(m, 0.99, 2, 0, errors="mask")
        self.assertEqual(list(np.flatnonzero(np.ma.getmaskarray(masked))), [3, 4, 9])

    @unittest.skipIf(REFERENCE is None, "TRUEANOMALY_REFERENCE is not set")
    def test_solves_past_the_capped_limit_continue_under_the_real_one(self):
        for slices in (2, 0):
            _core.set_slice(slices)
            for limit, failures in [(1129, []), (1128, [1]), (1117, [1, 3])]:
                got = trueanomaly_array(LONG, 0.99, limit, 0, errors="mask")
                self.assertEqual(list(np.flatnonzero(np.ma.getmaskarray(got))), failures)
                self.assertTrue(same(got.filled(np.nan), REFERENCE(LONG, 0.99, limit, 0)))
                if failures:
                    with self.assertRaises(IterationLimitError) as caught:
                        trueanomaly_array(LONG, 0.99, limit, 0)
                    self.assertEqual(caught.exception.index, failures[0])
        self.assertEqual(trueanomaly(float(LONG[1]), 0.99, 1129, 0),
                         float(REFERENCE(LONG[1], 0.99, 1129, 0)))
        with self.assertRaises(IterationLimitError):
            trueanomaly(float(LONG[1]), 0.99, 1128, 0)


@unittest.skipIf(EXTERNAL, "another build's solve cannot be resumed: Ctrl-C waits for it")
class InterruptTest(unittest.TestCase):
    def setUp(self):
        # A shell that starts the tests in the background leaves SIGINT
        # ignored, and Python then installs no handler of its own: without
        # this, no call here would ever be interrupted.
        previous = signal.signal(signal.SIGINT, signal.default_int_handler)
        self.addCleanup(signal.signal, signal.SIGINT, previous)

    def seconds_to_stop(self, call):
        sent = []

        def interrupt():
            sent.append(time.monotonic())
            os.kill(os.getpid(), signal.SIGINT)

        timer = threading.Timer(0.3, interrupt)
        timer.start()
        try:
            with self.assertRaises(KeyboardInterrupt):
                call()
        finally:
            timer.cancel()
        return time.monotonic() - sent[0]

    def test_ctrl_c_stops_a_long_call_within_a_fifth_of_a_second(self):
        # Each of these elements takes 2**31 - 2 steps, far longer than the test.
        slow = np.ones(100)
        saved = ta._MIN_PER_WORKER
        self.addCleanup(setattr, ta, "_MIN_PER_WORKER", saved)
        calls = {
            "array": lambda: trueanomaly_array(slow, 0.5, 2**31 - 1, -1),
            "array, two workers": lambda: trueanomaly_array(slow, 0.5, 2**31 - 1, -1, workers=2),
            "masked array": lambda: trueanomaly_array(np.ma.masked_array(slow), 0.5, 2**31 - 1,
                                                      -1, errors="mask"),
            "scalar": lambda: trueanomaly(1.0, 0.5, 2**31 - 1, -1),
            "many short solves": lambda: trueanomaly_array(np.ones(10**6, F32), 0.5, 1000, -1,
                                                           errors="nan"),
        }
        for name, call in calls.items():
            ta._MIN_PER_WORKER = 3 if "workers" in name else saved
            with self.subTest(name):
                self.assertLess(self.seconds_to_stop(call), 0.2)


class OptionalLibrariesTest(unittest.TestCase):
    def test_plain_calls_import_none_of_the_optional_libraries(self):
        code = ("import sys, numpy as np, trueanomaly as ta\n"
                "x = np.ones(3, np.float32)\n"
                "ta.true_anomaly(x, 0.5, 100, 0); ta.trueanomaly(1.0, 0.5, 100, 0)\n"
                "ta.trueanomaly_array(x, 0.5, 100, 0)\n"
                "ta.trueanomaly_array([1.0, 2.0], x[:2], 100, 0, errors='mask', workers=2)\n"
                "ta.trueanomaly_array(np.ma.masked_array(x, mask=[0, 1, 0]), 0.5, 100, 0)\n"
                "print(sorted({n.partition('.')[0] for n in sys.modules}\n"
                "             & {'astropy', 'pandas', 'xarray', 'dask'}))\n")
        run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
        self.assertEqual((run.returncode, run.stdout.strip()), (0, "[]"), run.stderr)

    def test_one_signature_in_help_and_the_whole_radian_tolerance_stated(self):
        doc = ta.true_anomaly.__doc__
        self.assertEqual([line for line in doc.splitlines() if "(x1, x2, x3, x4" in line
                          or line.startswith("true_anomaly(")][1:], [])
        for f in (ta.true_anomaly, trueanomaly_array, trueanomaly):
            self.assertIn("whole radians", " ".join(f.__doc__.split()))
            self.assertIn("Accuracy", f.__doc__)

    def test_failures_pickle_with_their_index(self):
        # as a dask worker sends them back
        err = pickle.loads(pickle.dumps(IterationLimitError("element 3 ...", 3)))
        self.assertEqual((type(err), err.index, str(err)), (IterationLimitError, 3, "element 3 ..."))


@unittest.skipIf(REFERENCE is None, "TRUEANOMALY_REFERENCE is not set")
class MaskedTest(unittest.TestCase):
    def test_masked_elements_are_neither_converted_nor_failures(self):
        # Element 2 would fail; masked, it is no failure: element 3 is the first.
        m = np.ma.masked_array(F32(HARD * 2), mask=[0, 0, 1, 0, 0, 0, 1, 0])
        for e in (0.99, np.ma.masked_array(np.full(8, 0.99, F32), mask=[0] * 7 + [1])):
            mask = np.ma.getmaskarray(m) | np.ma.getmaskarray(e)
            with self.assertRaises(IterationLimitError) as caught:
                trueanomaly_array(m, e, 2, 0)
            self.assertEqual(caught.exception.index, 3)
            for errors in ("nan", "mask"):
                got = trueanomaly_array(m, e, 2, 0, errors=errors)
                self.assertIsInstance(got, np.ma.MaskedArray)
                want = REFERENCE(m.data, 0.99, 2, 0)
                self.assertTrue(same(got.data[~mask], want[~mask]))
                failed = np.isnan(want) & ~mask
                self.assertTrue(np.array_equal(np.ma.getmaskarray(got),
                                               mask | failed if errors == "mask" else mask))
        self.assertIs(trueanomaly(np.ma.masked, 0.5, 100, 0), np.ma.masked)
        self.assertIs(trueanomaly(1.0, np.ma.masked, 100, 0), np.ma.masked)
        # The ufunc too: with every failing element masked, no "invalid" flag.
        quiet = np.ma.masked_array(F32(HARD), mask=[0, 0, 1, 1])
        with np.errstate(invalid="raise"):
            for got in (ta.true_anomaly(quiet, 0.99, 2, 0),
                        ta.true_anomaly(quiet.data, np.ma.masked_array([0.99] * 4, mask=quiet.mask),
                                        2, 0, out=np.ma.masked_array(np.zeros(4, F32)))):
                self.assertIsInstance(got, np.ma.MaskedArray)
                self.assertTrue(np.array_equal(got.mask, quiet.mask))
                self.assertTrue(same(got.data[:2], REFERENCE(quiet.data[:2], 0.99, 2, 0)))
        self.assertIs(ta.true_anomaly(np.ma.masked, 0.5, 100, 0), np.ma.masked)


@unittest.skipIf(REFERENCE is None, "TRUEANOMALY_REFERENCE is not set")
class UnitsTest(unittest.TestCase):
    def setUp(self):
        # Imported after the package: its helper for the ufunc is registered
        # when astropy.units is.
        self.u = optional("astropy.units")

    def test_angles_in_any_unit_through_every_function(self):
        u = self.u
        from astropy.coordinates import Angle
        q = np.array([30.0, 60.0, 120.0]) * u.deg
        want = REFERENCE(q.to_value(u.rad), 0.5, 100, 0)
        self.assertTrue(same(want, [1.4730222, 2.140331, 2.7256799]))
        for got in [ta.true_anomaly(q, 0.5, 100, 0), trueanomaly_array(q, 0.5, 100, 0),
                    ta.true_anomaly(Angle(q), 50 * u.percent, 100, 0),
                    trueanomaly_array(q.to(u.arcmin), 0.5 * u.one, 100, 0),
                    u.Quantity([trueanomaly(x, 0.5, 100, 0) for x in q])]:
            self.assertIsInstance(got, u.Quantity)
            self.assertEqual(got.unit, u.rad)
            self.assertTrue(same(got.value, want))

    def test_the_ufunc_is_registered_when_astropy_comes_first_too(self):
        code = ("import astropy.units as u, trueanomaly as ta\n"
                "q = ta.true_anomaly(60.0 * u.deg, 0.5, 100, 0)\n"
                "print(repr(q.value.item()), q.unit)\n")
        run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
        want = REFERENCE((60.0 * self.u.deg).to_value(self.u.rad), 0.5, 100, 0)
        self.assertEqual(run.stdout.split(), [repr(float(want)), "rad"], run.stderr)

    def test_units_that_are_not_angles_are_refused_naming_the_parameter(self):
        u = self.u
        for f in (ta.true_anomaly, trueanomaly_array, trueanomaly):
            with self.assertRaisesRegex(u.UnitTypeError, "mean_anomal"):
                f(3.0 * u.m, 0.5, 100, 0)
            with self.assertRaisesRegex(u.UnitTypeError, "mean_anomal"):
                f(3.0 * u.one, 0.5, 100, 0)
            with self.assertRaisesRegex(u.UnitTypeError, "eccentricity"):
                f(3.0 * u.deg, 0.5 * u.s, 100, 0)


@unittest.skipIf(REFERENCE is None, "TRUEANOMALY_REFERENCE is not set")
class PandasXarrayDaskTest(unittest.TestCase):
    def test_series_and_frames_are_aligned_on_their_index(self):
        pd = optional("pandas")
        m = pd.Series([1.0, 2.0, 3.0, 4.0], index=list("abcd"))
        e = pd.Series([0.1, 0.3, 0.5, 0.7], index=list("abcd")).sample(frac=1, random_state=3)
        got = trueanomaly_array(m, e, 100, 0)
        self.assertEqual((type(got), list(got.index), got.name), (pd.Series, list("abcd"),
                                                                  "true_anomaly"))
        want = REFERENCE(m.to_numpy(), e.reindex(m.index).to_numpy(), 100, 0)
        self.assertTrue(same(got.to_numpy(), want))
        # DataFrame columns in one call, with a shuffled eccentricity per row.
        frame = pd.DataFrame({"m1": m, "m2": m[::-1].to_numpy()})
        both = trueanomaly_array(frame, e, 100, 0)
        self.assertEqual((list(both.columns), list(both.index)), (["m1", "m2"], list("abcd")))
        self.assertTrue(same(both["m1"].to_numpy(), want))
        # pandas' missing values are masked: neither converted nor failures.
        nullable = trueanomaly_array(pd.Series([1.0, None, 2.0], dtype="Float64"), 0.5, 100, 0)
        self.assertEqual(nullable.isna().tolist(), [False, True, False])
        self.assertTrue(same(nullable.dropna().to_numpy(np.float64),
                             REFERENCE([1.0, 2.0], 0.5, 100, 0)))

    def test_dataarrays_broadcast_by_dimension_name(self):
        xr = optional("xarray")
        mean = xr.DataArray(np.linspace(-3, 3, 6, dtype=F32).reshape(2, 3),
                            dims=("body", "epoch"),
                            coords={"body": ["a", "b"], "epoch": [10, 20, 30]})
        ecc = xr.DataArray(F32([0.1, 0.9]), dims="body", coords={"body": ["a", "b"]})
        got = trueanomaly_array(mean.transpose(), ecc, 100, 0)
        self.assertEqual((got.name, got.dims), ("true_anomaly", ("epoch", "body")))
        self.assertEqual(list(got.epoch.values), [10, 20, 30])
        want = REFERENCE(mean.values, ecc.values[:, np.newaxis], 100, 0)
        self.assertTrue(same(got.transpose("body", "epoch").values, want))

    def test_dask_failures_name_the_global_index_and_can_be_counted(self):
        da = optional("dask.array")
        m = np.full(40, 2.0, F32)
        m[[13, 27]] = 0.2  # e = 0.99, limit 2: these fail
        lazy = trueanomaly_array(da.from_array(m.reshape(4, 10), chunks=(2, 5)), 0.99, 2, 0,
                                 errors="mask")
        failed = da.ma.getmaskarray(lazy)
        self.assertEqual(int(failed.sum().compute()), 2)
        self.assertEqual(list(da.flatnonzero(failed).compute()), [13, 27])
        m[13] = 2.0
        with self.assertRaises(IterationLimitError) as caught:
            trueanomaly_array(da.from_array(m.reshape(4, 10), chunks=(2, 5)), 0.99, 2,
                              0).compute()
        self.assertEqual(caught.exception.index, 27)
        self.assertIn("(index (2, 7))", str(caught.exception))


if __name__ == "__main__":
    unittest.main()
