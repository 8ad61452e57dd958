# SPDX-License-Identifier: BSD-3-Clause
"""The Python binding: results, shapes and dtypes, failures, argument
checks and the chunking of large arrays.

Run with PYTHONPATH=<build>/python and TRUEANOMALY_REFERENCE set to the
built libtrueanomaly.so: every result is checked against that library's
scalar entry, called one element at a time through ctypes. Exits with 77
(skipped) when numpy is not installed.
"""

import ctypes
import os
import sys
import unittest
import warnings

try:
    import numpy as np
except ImportError:
    print("numpy is not installed: skipping the Python binding tests")
    sys.exit(77)

import trueanomaly as ta
from trueanomaly import IterationLimitError, trueanomaly, trueanomaly_array

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
        for given in [grid,                          # float64, rounded to float32
                      grid.astype(F32).T,            # Fortran order
                      grid.astype(F32)[:, ::2],      # strided
                      grid.tolist(),                 # nested lists
                      F32(1.0)]:                     # 0-d
            before = np.array(given, copy=True)
            out = trueanomaly_array(given, 0.9, 100, 0)
            flat = np.asarray(given, dtype=F32)
            self.assertEqual((out.dtype, out.shape), (F32, flat.shape))
            want = [trueanomaly(float(m), 0.9, 100, 0) for m in flat.ravel()]
            np.testing.assert_array_equal(bits(out.ravel()), bits(want))
            np.testing.assert_array_equal(np.asarray(given), before)

    def test_empty_arrays_keep_their_shape(self):
        for shape in [(0,), (3, 0)]:
            out = trueanomaly_array(np.zeros(shape), 0.5, 0, 0)
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


@unittest.skipIf(REFERENCE is None, "TRUEANOMALY_REFERENCE is not set")
class UfuncTest(unittest.TestCase):
    def test_per_element_orbits_match_the_c_library(self):
        rng = np.random.default_rng(20261209)
        m, e = random_orbits(rng, 40000)
        for limit, tol in [(100, 0), (3, 0), (100, -1), (50, 2**31 - 1)]:
            with np.errstate(invalid="ignore"):
                got = ta.true_anomaly(m, e, limit, tol)
            self.assertEqual(got.dtype, F32)
            self.assertTrue(same(got, REFERENCE(m, e, limit, tol)), (limit, tol))
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
        self.assertEqual(doctest.testmod(ta).failed, 0)
        finder = doctest.DocTestFinder()
        runner = doctest.DocTestRunner()
        for test in finder.find(ta.true_anomaly, "true_anomaly", globs={}):
            runner.run(test)
        self.assertEqual(runner.failures, 0)
        self.assertIsInstance(ta.true_anomaly, np.ufunc)
        self.assertIn("return", trueanomaly_array.__annotations__)


if __name__ == "__main__":
    unittest.main()
