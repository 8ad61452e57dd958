# SPDX-License-Identifier: BSD-3-Clause
"""Mean anomaly to true anomaly on an elliptical orbit, bit for bit.

Every value is, bit for bit, what the C library's ``trueanomaly()`` returns
for that element's mean anomaly, eccentricity, iteration limit and
tolerance: the package carries the library's own code, compiled with its
floating-point flags. Set ``TRUEANOMALY_LIBRARY`` to the path of another
build of ``libtrueanomaly.so`` before the import to run every conversion
through that build's two entries instead.

    >>> import numpy as np
    >>> from trueanomaly import trueanomaly, trueanomaly_array, true_anomaly
    >>> trueanomaly(1.0, 0.5, 100, 0)
    2.0993010997772217
    >>> trueanomaly_array([[0.5, 1.0], [2.0, 3.0]], 0.5, 100, 0)
    array([[1.4272524, 2.099301 ],
           [2.6849747, 3.0870664]], dtype=float32)
    >>> true_anomaly(np.float32([1.0, 1.0]), np.float32([0.1, 0.9]), 100, 0)
    array([1.1798402, 2.8286753], dtype=float32)

``true_anomaly`` is a numpy ufunc (broadcasting, ``out=``, ``where=``, dask
and xarray arrays); ``trueanomaly_array`` adds failures that name the
element and ``workers=``. Results are float32.
"""

from __future__ import annotations

import concurrent.futures
import numbers
import operator
import os
from typing import Literal, Optional

import numpy as np
import numpy.typing as npt

from . import _core

__all__ = ["true_anomaly", "trueanomaly", "trueanomaly_array", "IterationLimitError",
           "__version__"]

__version__: str = _core.__version__

if os.environ.get("TRUEANOMALY_LIBRARY"):
    _core.use_library(os.environ["TRUEANOMALY_LIBRARY"])

true_anomaly: np.ufunc = _core.true_anomaly

_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1
# Below this many elements per worker, more threads cost more than they save.
_MIN_PER_WORKER = 1 << 16


class IterationLimitError(ArithmeticError):
    """A solve reached the iteration limit before its step met the tolerance.

    ``index`` is the flat (C-order) index of the first element that did, or
    None for the scalar function."""

    def __init__(self, message: str, index: Optional[int] = None):
        super().__init__(message)
        self.index = index


def _int32(name: str, value) -> int:
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if not _INT32_MIN <= value <= _INT32_MAX:
        raise OverflowError(f"{name} = {value} does not fit a 32-bit signed integer")
    return value


def _real(name: str, value) -> float:
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (numbers.Real, np.number)):
        raise TypeError(f"{name} must be a real number, not {type(value).__name__}")
    return value


def _real_array(name: str, value) -> np.ndarray:
    a = np.asarray(value)
    if a.dtype.kind not in "iuf":
        raise TypeError(f"{name} must be real numbers, not {a.dtype} "
                        f"(from {type(value).__name__})")
    return a


def _workers(workers: Optional[int]) -> int:
    if workers is None:
        return 1
    workers = operator.index(workers)
    if workers < 0:  # as in scipy.fft: -1 is every CPU, -2 all but one, ...
        workers += (os.cpu_count() or 1) + 1
    if workers <= 0:
        raise ValueError("workers must be a positive number of threads, or -1 for every CPU")
    return workers


def _limit_message(what: str, max_iterations: int, tolerance: int) -> str:
    return (f"{what} reached the iteration limit of {max_iterations} before a step met "
            f"tolerance {tolerance}")


def trueanomaly(mean_anomaly: float, eccentricity: float, max_iterations: int,
                tolerance: int) -> float:
    """The true anomaly (radians; a float holding a float32 value) of one mean
    anomaly. Raises IterationLimitError when the limit is reached, so a true
    anomaly of -1 radian is never mistaken for a failure."""
    try:
        value = _core.solve(mean_anomaly, eccentricity, max_iterations, tolerance)
    except (TypeError, OverflowError):
        _real("mean_anomaly", mean_anomaly)
        _real("eccentricity", eccentricity)
        _int32("max_iterations", max_iterations)
        _int32("tolerance", tolerance)
        raise
    if value is None:
        raise IterationLimitError(_limit_message("the solve", max_iterations, tolerance))
    return value


def trueanomaly_array(mean_anomalies: npt.ArrayLike, eccentricity: npt.ArrayLike,
                      max_iterations: int, tolerance: int, *,
                      out: Optional[np.ndarray] = None,
                      errors: Literal["raise", "nan"] = "raise",
                      workers: Optional[int] = None) -> np.ndarray:
    """True anomalies of an array of mean anomalies, as float32.

    ``eccentricity`` is one value or an array broadcast with the mean
    anomalies (one orbit per element); float64 inputs are rounded to float32.
    The result has the broadcast shape; it is written into ``out`` when
    given (a C-contiguous float32 array of that shape; it may be the mean
    anomalies' own array, converted in place).

    errors="raise": the first element in C order that reaches the limit
    raises IterationLimitError, whose ``index`` is its flat index; the
    elements before it are converted (with ``out``, they are written), it
    and later ones are not (with more than one worker, later ones may be).
    errors="nan": every failing element becomes NaN and the rest are
    converted. A NaN result is then a failure exactly where that element's
    mean anomaly was finite and its eccentricity was neither NaN nor -inf
    (those inputs give NaN results when solved), or where the limit is
    below 2 (every element fails).

    workers: threads to split the conversion over (the GIL is released);
    -1 for every CPU. Beyond one machine, apply the ufunc ``true_anomaly``
    to a dask array.
    """
    max_iterations = _int32("max_iterations", max_iterations)
    tolerance = _int32("tolerance", tolerance)
    if errors not in ("raise", "nan"):
        raise ValueError(f'errors must be "raise" or "nan", not {errors!r}')
    nworkers = _workers(workers)
    m = _real_array("mean_anomalies", mean_anomalies)
    e = _real_array("eccentricity", eccentricity)
    shape = np.broadcast_shapes(m.shape, e.shape)
    if out is None:
        out = np.empty(shape, dtype=np.float32)
    elif not (isinstance(out, np.ndarray) and out.dtype == np.float32 and out.shape == shape
              and out.flags.c_contiguous and out.flags.writeable):
        raise ValueError(f"out must be a writeable C-contiguous float32 array of shape {shape}")
    if out.size == 0:
        return out
    m32 = np.ascontiguousarray(np.broadcast_to(m, shape), dtype=np.float32)
    if e.size == 1:
        e32 = np.array([e.reshape(-1)[0]], dtype=np.float32)
    else:
        e32 = np.ascontiguousarray(np.broadcast_to(e, shape), dtype=np.float32)
    # In place only when out is the input's own memory; any other overlap
    # converts from a copy.
    if np.shares_memory(m32, out) and m32.ctypes.data != out.ctypes.data:
        m32 = m32.copy()
    if np.shares_memory(e32, out):
        e32 = e32.copy()
    flat_m, flat_out = m32.reshape(-1), out.reshape(-1)
    keep_going = errors == "nan"
    n = flat_out.size
    parts = max(1, min(nworkers, n // _MIN_PER_WORKER))
    bounds = [n * k // parts for k in range(parts + 1)]

    def part(k: int) -> int:
        lo, hi = bounds[k], bounds[k + 1]
        ek = e32 if e32.size == 1 else e32.reshape(-1)[lo:hi]
        got = _core.convert(flat_m[lo:hi], ek, flat_out[lo:hi], max_iterations, tolerance,
                            keep_going)
        return -1 if got < 0 else lo + got

    if parts == 1:
        failures = [part(0)]
    else:
        with concurrent.futures.ThreadPoolExecutor(parts) as pool:
            failures = list(pool.map(part, range(parts)))
    failures = [f for f in failures if f >= 0]
    if failures and errors == "raise":
        index = min(failures)
        where = np.unravel_index(index, shape) if len(shape) > 1 else None
        element = f"element {index}" + (f" (index {tuple(int(i) for i in where)})"
                                        if where is not None else "")
        raise IterationLimitError(_limit_message(element, max_iterations, tolerance), index)
    return out
