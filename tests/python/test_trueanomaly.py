# SPDX-License-Identifier: BSD-3-Clause
"""The Python binding: results, shapes and dtypes, failures, argument
checks and the chunking of large arrays.

Run with TRUEANOMALY_LIBRARY set to the built library and PYTHONPATH=python.
Exits with 77 (skipped) when numpy is not installed.
"""

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
        with self.assertRaisesRegex(IterationLimitError, "iteration limit reached"):
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


class ChunkingTest(unittest.TestCase):
    """Arrays above 2**31 - 1 elements go through the same loop."""

    def setUp(self):
        self.saved = ta._CHUNK
        ta._CHUNK = 3

    def tearDown(self):
        ta._CHUNK = self.saved

    def test_chunks_give_one_calls_results_and_fail_in_a_later_chunk(self):
        m = np.linspace(-7, 7, 11, dtype=F32).reshape(11, 1)
        chunked = trueanomaly_array(m, 0.99, 100, 0)
        with self.assertRaises(IterationLimitError):
            trueanomaly_array([2.0, 2.5, 2.0, 2.5, 2.0, 2.5, 0.2], 0.99, 2, 0)
        ta._CHUNK = self.saved
        np.testing.assert_array_equal(bits(chunked), bits(trueanomaly_array(m, 0.99, 100, 0)))


if __name__ == "__main__":
    unittest.main()
