# SPDX-License-Identifier: BSD-3-Clause
"""Mean anomaly to true anomaly on an elliptical orbit, bit for bit.

A ctypes binding of libtrueanomaly. The shared library is found by the
system's loader (``libtrueanomaly.so.1``: installed, or on LD_LIBRARY_PATH) or
taken from the path in the environment variable ``TRUEANOMALY_LIBRARY``. It
is loaded at the first call, so importing this package never fails.

    >>> from trueanomaly import trueanomaly, trueanomaly_array
    >>> trueanomaly(1.0, 0.5, 100, 0)
    2.0993010997772217
    >>> trueanomaly_array([[0.5, 1.0], [2.0, 3.0]], 0.5, 100, 0)   # float32, shape (2, 2)

Results are the library's single-precision results; the limit and the
whole-radian tolerance mean what they mean for the C entries. Reaching the
iteration limit raises :class:`IterationLimitError` in both functions, so a
true anomaly of -1 radian is never mistaken for a failure.
"""

import ctypes
import operator
import os

import numpy as np

__all__ = ["trueanomaly", "trueanomaly_array", "IterationLimitError"]

_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1
# Elements per C call: the C count is a 32-bit signed integer, so larger
# arrays are converted in consecutive calls (first failure stops them all).
_CHUNK = _INT32_MAX

_lib = None


class IterationLimitError(ArithmeticError):
    """A solve reached the iteration limit before its step met the tolerance."""


def _library():
    global _lib
    if _lib is None:
        path = os.environ.get("TRUEANOMALY_LIBRARY") or "libtrueanomaly.so.1"
        try:
            lib = ctypes.CDLL(path)
        except OSError as err:
            raise OSError(
                f"cannot load libtrueanomaly ({path}): install it, put it on "
                f"LD_LIBRARY_PATH, or set TRUEANOMALY_LIBRARY to its path: {err}"
            ) from err
        lib.trueanomaly.argtypes = [ctypes.c_float, ctypes.c_float, ctypes.c_int32, ctypes.c_int32]
        lib.trueanomaly.restype = ctypes.c_float
        lib.trueanomaly_array.argtypes = [ctypes.c_void_p, ctypes.c_int32, ctypes.c_float,
                                          ctypes.c_void_p, ctypes.c_int32, ctypes.c_int32]
        lib.trueanomaly_array.restype = ctypes.c_int32
        _lib = lib
    return _lib


def _int32(name, value):
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if not _INT32_MIN <= value <= _INT32_MAX:
        raise OverflowError(f"{name} = {value} does not fit a 32-bit signed integer")
    return value


def _limit_error(max_iterations, tolerance):
    return IterationLimitError(
        f"iteration limit reached: a solve hit the limit of {max_iterations} "
        f"iterations before a step met tolerance {tolerance}")


def trueanomaly(mean_anomaly, eccentricity, max_iterations, tolerance):
    """The true anomaly (radians, a float holding a float32 value) of one mean
    anomaly. Raises IterationLimitError when the limit is reached."""
    max_iterations = _int32("max_iterations", max_iterations)
    tolerance = _int32("tolerance", tolerance)
    lib = _library()
    result = lib.trueanomaly(mean_anomaly, eccentricity, max_iterations, tolerance)
    if result == -1.0:
        # Either the failure value or a true anomaly of -1 radian: ask the
        # array entry, whose status tells them apart.
        out = ctypes.c_float()
        status = lib.trueanomaly_array(ctypes.byref(ctypes.c_float(mean_anomaly)), 1,
                                       eccentricity, ctypes.byref(out), max_iterations, tolerance)
        if status != 0:
            raise _limit_error(max_iterations, tolerance)
    return result


def trueanomaly_array(mean_anomalies, eccentricity, max_iterations, tolerance):
    """True anomalies of any array-like of mean anomalies, as a new float32
    numpy array of the same shape. The input is converted to contiguous
    float32 first (a float64 input is rounded). Raises IterationLimitError
    when an element reaches the limit."""
    max_iterations = _int32("max_iterations", max_iterations)
    tolerance = _int32("tolerance", tolerance)
    m = np.asarray(mean_anomalies, dtype=np.float32, order="C")
    out = np.empty(m.shape, dtype=np.float32)
    if m.size == 0:
        return out
    lib = _library()
    src, dst, item = m.ctypes.data, out.ctypes.data, m.itemsize
    for start in range(0, m.size, _CHUNK):
        count = min(_CHUNK, m.size - start)
        status = lib.trueanomaly_array(src + start * item, count, eccentricity,
                                       dst + start * item, max_iterations, tolerance)
        if status != 0:
            raise _limit_error(max_iterations, tolerance)
    return out
