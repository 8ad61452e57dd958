"""The Python binding: results, shapes and dtypes, failures, argument
checks, chunking of large arrays and loading of the library.

Run with TRUEANOMALY_LIBRARY set to the built library and PYTHONPATH=python.
Exits with 77 (skipped) when numpy is not installed.
"""

import os
import sys
import unittest

try:
    import numpy as np
except ImportError:
    print("numpy is not installed: skipping the Python binding tests")
    sys.exit(77)

import trueanomaly as ta
from trueanomaly import IterationLimitError, trueanomaly, trueanomaly_array

F32 = np.float32
# Element 2 needs a second step, so a limit of 2 with e = 0.99 fails there.
HARD = [2.0, 2.5, 0.2, 1.0]


def bits(a):
    return np.asarray(a, dtype=F32).view(np.uint32)


class ScalarTest(unittest.TestCase):
    def test_worked_examples(self):
        for m, e, limit, tol, want in [(1.0, 0.5, 100, 0, "2.0993011"),
                                       (1.0, 0.9, 2, 1, "2.98286128"),
                                       (-1.55, 0.99, 100, 0, "-3.07858443"),
                                       (0.5, 0.995, 100, 0, "2.99281645"),
                                       (7.0, 0.0, 100, 0, "-5.56637049")]:
            self.assertEqual(trueanomaly(m, e, limit, tol), float(F32(want)), (m, e))

    def test_failure_raises_and_minus_one_radian_does_not(self):
        self.assertEqual(trueanomaly(-1.0, 0.0, 100, 0), -1.0)
        with self.assertRaises(IterationLimitError) as caught:
            trueanomaly(0.5, 0.99, 3, 1)
        self.assertIsInstance(caught.exception, ArithmeticError)
        self.assertIn("iteration limit", str(caught.exception))
        with self.assertRaises(IterationLimitError):
            trueanomaly(0.0, 0.0, 1, 0)

    def test_nan_is_a_result_not_a_failure(self):
        self.assertTrue(np.isnan(trueanomaly(float("nan"), 0.5, 10, 0)))


class ArrayTest(unittest.TestCase):
    def test_matches_the_scalar_entry_for_any_shape_and_layout(self):
        grid = np.linspace(-8, 8, 24).reshape(4, 6)
        for given in [grid,                          # float64, rounded to float32
                      grid.astype(F32).T,            # Fortran order
                      grid.astype(F32)[:, ::2],      # strided
                      grid.tolist(),                 # nested lists
                      F32(1.0)]:                     # 0-d
            out = trueanomaly_array(given, 0.9, 100, 0)
            flat = np.asarray(given, dtype=F32)
            self.assertEqual(out.dtype, F32)
            self.assertEqual(out.shape, flat.shape)
            want = [trueanomaly(float(m), 0.9, 100, 0) for m in flat.ravel()]
            np.testing.assert_array_equal(bits(out.ravel()), bits(want))

    def test_input_is_left_alone(self):
        m = np.array([0.5, 1.0, 2.0], dtype=F32)
        trueanomaly_array(m, 0.5, 100, 0)
        np.testing.assert_array_equal(m, [0.5, 1.0, 2.0])

    def test_empty_arrays_keep_their_shape(self):
        for shape in [(0,), (3, 0)]:
            out = trueanomaly_array(np.zeros(shape), 0.5, 0, 0)
            self.assertEqual((out.shape, out.dtype), (shape, F32))

    def test_failure_raises(self):
        with self.assertRaisesRegex(IterationLimitError, "iteration limit reached"):
            trueanomaly_array(HARD, 0.99, 2, 0)


class ArgumentTest(unittest.TestCase):
    def test_integers_must_fit_int32(self):
        for bad in [2**31, -(2**31) - 1, 2**32 + 100]:
            with self.assertRaises(OverflowError):
                trueanomaly(1.0, 0.5, bad, 0)
            with self.assertRaises(OverflowError):
                trueanomaly_array([1.0], 0.5, 100, bad)
        # The extremes are accepted (a negative tolerance is never met).
        self.assertEqual(trueanomaly(1.0, 0.5, np.int64(2**31 - 1), 0), float(F32("2.0993011")))
        with self.assertRaises(IterationLimitError):
            trueanomaly_array([1.0], 0.5, 100, -(2**31))
        with self.assertRaises(TypeError):
            trueanomaly_array([1.0], 0.5, 100.0, 0)


class ChunkingTest(unittest.TestCase):
    """Arrays above 2**31 - 1 elements go through the same loop."""

    def setUp(self):
        self.saved = ta._CHUNK
        ta._CHUNK = 3

    def tearDown(self):
        ta._CHUNK = self.saved

    def test_chunks_give_one_calls_results(self):
        m = np.linspace(-7, 7, 11, dtype=F32).reshape(11, 1)
        chunked = trueanomaly_array(m, 0.99, 100, 0)
        ta._CHUNK = self.saved
        np.testing.assert_array_equal(bits(chunked), bits(trueanomaly_array(m, 0.99, 100, 0)))

    def test_failure_in_a_later_chunk_raises(self):
        with self.assertRaises(IterationLimitError):
            trueanomaly_array([2.0, 2.5, 2.0, 2.5, 2.0, 2.5, 0.2], 0.99, 2, 0)


class LoadingTest(unittest.TestCase):
    def test_a_bad_library_path_says_how_to_fix_it(self):
        saved_lib, saved_env = ta._lib, os.environ.get("TRUEANOMALY_LIBRARY")
        try:
            ta._lib = None
            os.environ["TRUEANOMALY_LIBRARY"] = "/nonexistent/libtrueanomaly.so"
            with self.assertRaisesRegex(OSError, "TRUEANOMALY_LIBRARY"):
                trueanomaly(1.0, 0.5, 100, 0)
        finally:
            ta._lib = saved_lib
            if saved_env is not None:
                os.environ["TRUEANOMALY_LIBRARY"] = saved_env


if __name__ == "__main__":
    unittest.main()
