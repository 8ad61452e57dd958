# SPDX-License-Identifier: BSD-3-Clause
"""Mean anomaly to true anomaly on an elliptical orbit, bit for bit.

Every value is, bit for bit, what the C library's ``trueanomaly()`` returns
for that element's mean anomaly, eccentricity, iteration limit and
tolerance: the package carries the library's own code, compiled with its
floating-point flags. float32 inputs give float32 results; float64 inputs
are rounded to float32 for the solve and give the float32 result widened
exactly to float64. Set ``TRUEANOMALY_LIBRARY`` to the path of another
build of ``libtrueanomaly.so`` before the import to run every conversion
through that build's two entries instead.

The tolerance is in whole radians (0 stops at the first Newton step below
one radian), and results are this iteration's, not a converged solution of
Kepler's equation: see the README's section "Accuracy: what the results
are, and are not".

    >>> import numpy as np
    >>> from trueanomaly import trueanomaly, trueanomaly_array, true_anomaly
    >>> trueanomaly(1.0, 0.5, 100, 0)
    2.0993010997772217
    >>> trueanomaly_array(np.float32([[0.5, 1.0], [2.0, 3.0]]), 0.5, 100, 0)
    array([[1.4272524, 2.099301 ],
           [2.6849747, 3.0870664]], dtype=float32)
    >>> true_anomaly(np.float32([1.0, 1.0]), np.float32([0.1, 0.9]), 100, 0)
    array([1.1798402, 2.8286753], dtype=float32)

``true_anomaly`` is a numpy ufunc (broadcasting, ``out=``, ``where=``,
dask, xarray, pandas objects and astropy Quantities); ``trueanomaly_array``
adds failures that name the element, ``errors="mask"``, ``workers=``,
masked arrays, index alignment of pandas objects, broadcasting of xarray
DataArrays by dimension name and lazy dask arrays. astropy, pandas, xarray
and dask are used only when an input of theirs is seen.
"""

from __future__ import annotations

import concurrent.futures
import functools
import importlib
import importlib.abc
import importlib.machinery
import numbers
import operator
import os
import sys
import threading
from types import ModuleType
from typing import (Any, Callable, List, Literal, Optional, Sequence, Tuple, Union, cast,
                    overload)

import numpy as np
import numpy.typing as npt

from . import _core

# numpy's type stubs leave np.ma's functions untyped.
_ma: Any = np.ma

__all__ = ["true_anomaly", "trueanomaly", "trueanomaly_array", "IterationLimitError",
           "__version__"]

__version__: str = _core.__version__

if os.environ.get("TRUEANOMALY_LIBRARY"):
    _core.use_library(os.environ["TRUEANOMALY_LIBRARY"])

true_anomaly: np.ufunc = _core.true_anomaly

_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1
# Below this many elements per worker, more threads cost more than they save.
_MIN_PER_WORKER = 1 << 16

Errors = Literal["raise", "nan", "mask"]
_F32 = npt.NDArray[np.float32]
_F64 = npt.NDArray[np.float64]
# Eccentricities that keep float32 mean anomalies' results float32; past
# those, float arrays (numpy's stubs type many float64 arrays as floating
# of 64 bits, not as float64) give float64 results.
_E32 = Union[float, np.float32, npt.NDArray[np.float32]]
_FloatArray = npt.NDArray[np.floating[Any]]
_E = Union[float, np.floating[Any], _FloatArray]


class IterationLimitError(ArithmeticError):
    """A solve reached the iteration limit before its step met the tolerance.

    ``index`` is the flat (C-order) index of the first element that did, or
    None for the scalar function."""

    def __init__(self, message: str, index: Optional[int] = None):
        super().__init__(message)
        self.index = index


def _limit_error(index: int, shape: Tuple[int, ...], max_iterations: int,
                 tolerance: int) -> IterationLimitError:
    where = f" (index {tuple(int(i) for i in np.unravel_index(index, shape))})" \
        if len(shape) > 1 else ""
    return IterationLimitError(
        f"element {index}{where} reached the iteration limit of {max_iterations} before a "
        f"step met tolerance {tolerance}", index)


def _masked_ufunc(mean_anomaly: Any, eccentricity: Any, max_iterations: Any, tolerance: Any,
                  **kwargs: Any) -> Any:
    """The ufunc on masked arrays (the compiled call sends them here): masked
    elements are not converted (so never a failure), the mask is kept, and
    they keep their mean anomaly as data, as np.ma's own functions do."""
    args = (mean_anomaly, eccentricity, max_iterations, tolerance)
    shape = np.broadcast_shapes(*(np.shape(a) for a in args))
    mask = np.broadcast_to(_ma.getmaskarray(mean_anomaly) | _ma.getmaskarray(eccentricity),
                           shape)
    out = kwargs.pop("out", None)
    out = out[0] if isinstance(out, tuple) else out
    where = ~mask & np.asarray(kwargs.pop("where", True))
    m, e = _ma.getdata(mean_anomaly), _ma.getdata(eccentricity)
    if out is None:
        data = np.asarray(true_anomaly(m, e, max_iterations, tolerance, where=where, **kwargs))
        # numpy leaves the masked elements' output as it found it; masked
        # data are no numbers to warn about.
        with np.errstate(all="ignore"):
            np.copyto(data, np.broadcast_to(m, shape), casting="unsafe", where=mask)
        result = _ma.MaskedArray(data, mask=mask)
        return result[()] if result.ndim == 0 else result
    true_anomaly(m, e, max_iterations, tolerance, out=_ma.getdata(out), where=where, **kwargs)
    if isinstance(out, np.ma.MaskedArray):
        out.mask = mask
        return out
    return _ma.MaskedArray(out, mask=mask)


# numpy 2 widens a float32 array's result for a float64 scalar; numpy 1
# looks at the scalar's value. The compiled fast path follows whichever
# this numpy does.
_core.configure(_limit_error, threading.main_thread().ident or 0,
                np.result_type(np.zeros(1, np.float32), np.float64(0.5)) == np.float64,
                np.ma.MaskedArray, _masked_ufunc)


# ---- the input checks every function shares ----

def _int32(name: str, value: Any) -> int:
    if isinstance(value, (bool, np.bool_)):
        raise TypeError(f"{name} must be an integer, not bool")
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if not _INT32_MIN <= value <= _INT32_MAX:
        raise OverflowError(f"{name} = {value} does not fit a 32-bit signed integer")
    return int(value)


def _real_array(name: str, value: Any) -> np.ndarray[Any, Any]:
    """The input as numpy takes it, refused unless its dtype holds real numbers."""
    a = np.asarray(value)
    _core.check_dtype(name, a.dtype, False)
    return a


def _real_scalar(name: str, value: Any) -> float:
    if isinstance(value, (np.ndarray, np.generic)) and np.ndim(value) == 0:
        _core.check_dtype(name, value.dtype, False)
        return float(value.item())
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number, not {type(value).__name__}")
    return float(value)


def _result_dtype(m: Any, e: Any) -> np.dtype[Any]:
    """float32 or float64, as the ufunc's loop would be chosen for them."""
    return np.promote_types(np.result_type(m, e), np.float32)


def _workers(workers: Optional[int]) -> int:
    if workers is None:
        return 1
    workers = _int32("workers", workers)
    if workers < 0:  # as in scipy.fft: -1 is every CPU, -2 all but one, ...
        workers += (os.cpu_count() or 1) + 1
    if workers <= 0:
        raise ValueError("workers must be a positive number of threads, or -1 for every CPU")
    return workers


def _errors(errors: str) -> Errors:
    if errors not in ("raise", "nan", "mask"):
        raise ValueError(f'errors must be "raise", "nan" or "mask", not {errors!r}')
    return cast(Errors, errors)


def _family(x: object) -> str:
    """The library an input's type comes from ("" for numpy and Python)."""
    module = type(x).__module__
    return "" if module.startswith(("numpy", "builtins")) else module.partition(".")[0]


# ---- astropy: angles in any unit, results in radians ----

def _angle_converter(unit: Any, name: str) -> Optional[Callable[[Any], Any]]:
    """astropy's converter of a value in `unit` to radians; None for no unit
    (radians) or no scaling."""
    if unit is None:
        return None
    units = sys.modules["astropy.units"]
    helpers = importlib.import_module("astropy.units.quantity_helper.helpers")
    try:
        converter: Optional[Callable[[Any], Any]] = helpers.get_converter(unit, units.radian)
    except units.UnitsError:
        raise units.UnitTypeError(f"{name} must be an angle (any angle unit), not {unit}") \
            from None
    return converter


def _ratio_converter(unit: Any, name: str) -> Optional[Callable[[Any], Any]]:
    if unit is None:
        return None
    units = sys.modules["astropy.units"]
    helpers = importlib.import_module("astropy.units.quantity_helper.helpers")
    try:
        converter: Optional[Callable[[Any], Any]] = helpers.get_converter(
            unit, units.dimensionless_unscaled)
    except units.UnitsError:
        raise units.UnitTypeError(f"{name} must be dimensionless, not {unit}") from None
    return converter


def _no_unit(unit: Any, name: str) -> None:
    if unit is not None:
        raise sys.modules["astropy.units"].UnitTypeError(
            f"{name} must be a plain integer, not a Quantity")


def _quantity_helper(ufunc: np.ufunc, m: Any, e: Any, limit: Any,
                     tolerance: Any) -> Tuple[List[Any], Any]:
    """The ufunc's helper for astropy's Quantity: mean anomalies to radians,
    the eccentricity dimensionless, results in radians."""
    _no_unit(limit, "max_iterations")
    _no_unit(tolerance, "tolerance")
    return ([_angle_converter(m, "mean_anomaly"), _ratio_converter(e, "eccentricity"), None,
             None], sys.modules["astropy.units"].radian)


def _quantity_value(x: Any, name: str, angle: bool) -> Any:
    """A Quantity's value in radians (or dimensionless), converted as the
    ufunc's helper converts it; anything else as it is."""
    units = sys.modules.get("astropy.units")
    if units is None or not isinstance(x, units.Quantity):
        return x
    convert = (_angle_converter if angle else _ratio_converter)(x.unit, name)
    return x.value if convert is None else convert(x.value)


def _register_with_astropy() -> None:
    quantity_helper = importlib.import_module("astropy.units.quantity_helper")
    quantity_helper.UFUNC_HELPERS[true_anomaly] = _quantity_helper


class _AstropyHook(importlib.abc.MetaPathFinder):
    """Registers the ufunc's helper once astropy.units has been imported
    (when that happens after this package), without importing astropy."""

    def find_spec(self, fullname: str, path: Optional[Sequence[str]],
                  target: Optional[ModuleType] = None) -> Optional[importlib.machinery.ModuleSpec]:
        if fullname != "astropy.units":
            return None
        for finder in sys.meta_path:
            if finder is self or not hasattr(finder, "find_spec"):
                continue
            found = finder.find_spec(fullname, path, target)
            if found is not None:
                break
        else:
            return None
        loader = found.loader
        # A file loader is made for this one module: its exec_module can be
        # wrapped without touching any other module's import.
        if not isinstance(loader, (importlib.machinery.SourceFileLoader,
                                   importlib.machinery.SourcelessFileLoader)):
            return None
        run = loader.exec_module

        def exec_module(module: ModuleType) -> None:
            run(module)
            _unhook()
            _register_with_astropy()

        loader.exec_module = exec_module  # type: ignore[assignment]
        return found


_hook = _AstropyHook()


def _unhook() -> None:
    try:
        sys.meta_path.remove(_hook)
    except ValueError:
        pass


if hasattr(sys.modules.get("astropy.units"), "Quantity"):
    _register_with_astropy()
else:
    sys.meta_path.insert(0, _hook)


# ---- the scalar function ----

@overload
def trueanomaly(mean_anomaly: float, eccentricity: float, max_iterations: int,
                tolerance: int) -> float: ...


@overload
def trueanomaly(mean_anomaly: Any, eccentricity: Any, max_iterations: int,
                tolerance: int) -> Any: ...


def trueanomaly(mean_anomaly: Any, eccentricity: Any, max_iterations: int,
                tolerance: int) -> Any:
    """The true anomaly (radians) of one mean anomaly (radians).

    Returns a float holding the float32 result of the C function
    ``trueanomaly()`` for these values rounded to float32. Raises
    IterationLimitError when the limit is reached, so a true anomaly of -1
    radian is never mistaken for a failure. The tolerance is in whole
    radians (see the README's section "Accuracy: what the results are, and
    are not"). An astropy Quantity in any angle unit gives a Quantity in
    radians; ``np.ma.masked`` gives ``np.ma.masked``. Ctrl-C stops a long
    solve.
    """
    value = _core.solve(mean_anomaly, eccentricity, max_iterations, tolerance)
    if type(value) is float:
        return value
    if value is None:
        raise IterationLimitError(f"the solve reached the iteration limit of {max_iterations} "
                                  f"before a step met tolerance {tolerance}")
    max_iterations = _int32("max_iterations", max_iterations)
    tolerance = _int32("tolerance", tolerance)
    if "astropy" in (_family(mean_anomaly), _family(eccentricity)):
        m = _quantity_value(mean_anomaly, "mean_anomaly", True)
        e = _quantity_value(eccentricity, "eccentricity", False)
        result = trueanomaly(m, e, max_iterations, tolerance)
        if result is _ma.masked:
            return result
        return sys.modules["astropy.units"].Quantity(result, sys.modules["astropy.units"].radian)
    if any(x is _ma.masked or (isinstance(x, np.ma.MaskedArray) and np.ndim(x) == 0
                                  and bool(_ma.getmaskarray(x)))
           for x in (mean_anomaly, eccentricity)):
        _real_scalar("mean_anomaly", _ma.getdata(mean_anomaly))
        _real_scalar("eccentricity", _ma.getdata(eccentricity))
        return _ma.masked
    m = _real_scalar("mean_anomaly", _ma.getdata(mean_anomaly)
                     if isinstance(mean_anomaly, np.ma.MaskedArray) else mean_anomaly)
    e = _real_scalar("eccentricity", _ma.getdata(eccentricity)
                     if isinstance(eccentricity, np.ma.MaskedArray) else eccentricity)
    return trueanomaly(m, e, max_iterations, tolerance)


# ---- the array function ----

# numpy's stubs make float32 a kind of float64 (their bit widths subclass
# each other), so mypy sees the float32 forms overlap the float64 ones.
@overload
def trueanomaly_array(  # type: ignore[misc]
        mean_anomalies: _F32, eccentricity: _E32, max_iterations: int, tolerance: int, *,
        out: Optional[_F32] = ..., errors: Literal["raise", "nan"] = ...,
        workers: Optional[int] = ...) -> _F32: ...


@overload
def trueanomaly_array(mean_anomalies: _FloatArray, eccentricity: _E, max_iterations: int,
                      tolerance: int, *, out: Optional[_F64] = ...,
                      errors: Literal["raise", "nan"] = ...,
                      workers: Optional[int] = ...) -> _F64: ...


@overload
def trueanomaly_array(  # type: ignore[misc]
        mean_anomalies: _F32, eccentricity: _E32, max_iterations: int, tolerance: int, *,
        out: Optional[_F32] = ..., errors: Literal["mask"],
        workers: Optional[int] = ...) -> np.ma.MaskedArray[Any, np.dtype[np.float32]]: ...


@overload
def trueanomaly_array(mean_anomalies: _FloatArray, eccentricity: _E, max_iterations: int,
                      tolerance: int, *, out: Optional[_F64] = ..., errors: Literal["mask"],
                      workers: Optional[int] = ...) -> np.ma.MaskedArray[Any, np.dtype[np.float64]]:
    ...


@overload
def trueanomaly_array(mean_anomalies: Any, eccentricity: Any, max_iterations: int,
                      tolerance: int, *, out: Any = ..., errors: Errors = ...,
                      workers: Optional[int] = ...) -> Any: ...


def trueanomaly_array(mean_anomalies: Any, eccentricity: Any, max_iterations: int,
                      tolerance: int, *, out: Any = None, errors: Errors = "raise",
                      workers: Optional[int] = None) -> Any:
    """True anomalies (radians) of an array of mean anomalies (radians).

    ``eccentricity`` is one value or an array broadcast with the mean
    anomalies (one orbit per element). float32 inputs give float32 results;
    float64 inputs are rounded to float32 for the solve and give the float32
    result widened exactly (numpy's promotion decides mixed inputs, as for
    the ufunc). The tolerance is in whole radians: tolerance 0 stops at the
    first Newton step below one radian, and results are this iteration's,
    not a converged solution (README, "Accuracy: what the results are, and
    are not"). The result has the broadcast shape; it is written into
    ``out`` when given (a C-contiguous array of that shape and the result's
    dtype; it may be the mean anomalies' own array, converted in place).

    errors="raise": the first element in C order that reaches the limit
    raises IterationLimitError, whose ``index`` is its flat index; the
    elements before it are converted (with ``out``, they are written), it
    and later ones are not (with more than one worker, later ones may be).
    errors="nan": every failing element becomes NaN, the rest are
    converted. errors="mask": as "nan", in a masked array whose mask is
    exactly the failures (and any masked input).

    Masked arrays in give masked arrays out: masked elements are neither
    converted nor counted as failures. astropy Quantities (any angle unit;
    a dimensionless eccentricity) give a Quantity in radians. pandas
    Series and DataFrames are aligned on their index and give the same
    kind back. xarray DataArrays broadcast by dimension name and keep their
    coordinates; the result is named "true_anomaly". Dask arrays give a lazy
    dask array, whose errors="raise" names the global flat index when
    computed.

    workers: threads to split the conversion over (the GIL is released);
    -1 for every CPU. Ctrl-C stops the call within a fraction of a second,
    whatever its size and however long one element's solve.
    """
    result = _core.array(mean_anomalies, eccentricity, max_iterations, tolerance, out, errors,
                         workers)
    if result is not NotImplemented:
        return result
    max_iterations = _int32("max_iterations", max_iterations)
    tolerance = _int32("tolerance", tolerance)
    errors = _errors(errors)
    families = (_family(mean_anomalies), _family(eccentricity))
    convert = (_xarray_array if "xarray" in families else
               _dask_array if "dask" in families else
               _pandas_array if "pandas" in families else
               _quantity_array if "astropy" in families else
               _numpy_array)
    return convert(mean_anomalies, eccentricity, max_iterations, tolerance, out, errors,
                   workers)


def _output(out: Any, shape: Tuple[int, ...], dtype: np.dtype[Any]) -> np.ndarray[Any, Any]:
    """The array the results go into: a new one, or out's (its data, for a
    masked array)."""
    if out is None:
        return np.empty(shape, dtype)
    data = _ma.getdata(out) if isinstance(out, np.ma.MaskedArray) else out
    if not (isinstance(data, np.ndarray) and data.dtype == dtype and data.shape == shape
            and data.flags.c_contiguous and data.flags.aligned and data.flags.writeable):
        raise ValueError(f"out must be a writeable, aligned, C-contiguous {dtype} array of "
                         f"shape {shape}")
    return data


def _float32(a: np.ndarray[Any, Any], dtype: np.dtype[Any],
             shape: Tuple[int, ...]) -> np.ndarray[Any, Any]:
    """Contiguous float32, rounded by numpy's cast (integers through the
    result's dtype, as the ufunc takes them)."""
    if a.dtype.kind in "iu":
        a = a.astype(dtype)
    # Aligned too: arrays unpickled from a buffer (as dask workers get
    # them) may not be.
    return np.require(np.broadcast_to(a, shape), np.float32, ["C", "A"])


def _convert_parts(m: np.ndarray[Any, Any], e: np.ndarray[Any, Any], out: np.ndarray[Any, Any],
                   limit: int, tolerance: int, keep_going: bool,
                   failed: Optional[np.ndarray[Any, Any]], workers: int) -> int:
    """Converts the flat arrays over `workers` threads, this one among them:
    the index of the first failure, or -1. Ctrl-C (on this thread) stops
    every part."""
    n = out.size
    parts = max(1, min(workers, n // _MIN_PER_WORKER))
    if parts == 1:
        return int(_core.convert(m, e, out, limit, tolerance, keep_going, failed, None))
    bounds = [n * k // parts for k in range(parts + 1)]
    stop = np.zeros(1, np.int32)

    def part(k: int) -> int:
        lo, hi = bounds[k], bounds[k + 1]
        got = _core.convert(m[lo:hi], e if e.size == 1 else e[lo:hi], out[lo:hi], limit,
                            tolerance, keep_going, None if failed is None else failed[lo:hi],
                            stop)
        return lo + got if got >= 0 else -1

    with concurrent.futures.ThreadPoolExecutor(parts - 1) as pool:
        futures = [pool.submit(part, k) for k in range(1, parts)]
        try:
            failures = [part(0)]
            # Waits that time out, so that Ctrl-C is seen here too.
            while concurrent.futures.wait(futures, timeout=0.05).not_done:
                pass
        except BaseException:
            stop[0] = 1
            concurrent.futures.wait(futures)
            raise
        failures += [f.result() for f in futures]
    failures = [f for f in failures if f >= 0]
    return min(failures) if failures else -1


def _numpy_array(m: Any, e: Any, limit: int, tolerance: int, out: Any, errors: Errors,
                 workers: Optional[int]) -> Any:
    nworkers = _workers(workers)
    mask = None
    if isinstance(m, np.ma.MaskedArray) or isinstance(e, np.ma.MaskedArray):
        mask = _ma.getmaskarray(m) | _ma.getmaskarray(e)
        m, e = _ma.getdata(m), _ma.getdata(e)
    m_arr = _real_array("mean_anomalies", m)
    e_arr = _real_array("eccentricity", e)
    dtype = _result_dtype(m_arr, e_arr)
    shape = np.broadcast_shapes(m_arr.shape, e_arr.shape)
    data = _output(out, shape, dtype)
    m32 = _float32(m_arr, dtype, shape)
    e32 = _float32(e_arr.reshape(-1)[:1] if e_arr.size == 1 else e_arr, dtype,
                   (1,) if e_arr.size == 1 else shape)
    # In place only when out is the input's own memory; any other overlap
    # converts from a copy.
    if np.shares_memory(m32, data) and m32.ctypes.data != data.ctypes.data:
        m32 = m32.copy()
    if np.shares_memory(e32, data):
        e32 = e32.copy()
    flat_m, flat_e, flat_out = m32.reshape(-1), e32.reshape(-1), data.reshape(-1)
    keep_going = errors != "raise"
    failed = np.zeros(shape, bool) if errors == "mask" else None
    if mask is None:
        first = _convert_parts(flat_m, flat_e, flat_out, limit, tolerance, keep_going,
                               None if failed is None else failed.reshape(-1), nworkers)
    else:
        mask = np.broadcast_to(mask, shape).reshape(-1)
        kept = np.flatnonzero(~mask)
        results = np.empty(kept.size, dtype)
        kept_failed = None if failed is None else np.zeros(kept.size, bool)
        first = _convert_parts(flat_m[kept], flat_e if flat_e.size == 1 else flat_e[kept],
                               results, limit, tolerance, keep_going, kept_failed, nworkers)
        done = kept.size if first < 0 or keep_going else first
        flat_out[kept[:done]] = results[:done]
        if out is None:  # masked elements keep their mean anomaly, as np.ma's functions do
            flat_out[mask] = flat_m[mask]
        if kept_failed is not None and failed is not None:
            failed.reshape(-1)[kept] = kept_failed
        if first >= 0:
            first = int(kept[first])
    if first >= 0 and errors == "raise":
        raise _limit_error(first, shape, limit, tolerance)
    if mask is None and failed is None:
        return out if out is not None else data
    full_mask = failed if mask is None else (
        mask.reshape(shape) if failed is None else mask.reshape(shape) | failed)
    if isinstance(out, np.ma.MaskedArray):
        out.mask = full_mask
        return out
    return _ma.MaskedArray(data, mask=full_mask)


def _quantity_array(m: Any, e: Any, limit: int, tolerance: int, out: Any, errors: Errors,
                    workers: Optional[int]) -> Any:
    units = sys.modules["astropy.units"]
    into = out
    if isinstance(out, units.Quantity):
        if out.unit != units.radian:
            raise units.UnitTypeError(f"out must be in radians, not {out.unit}")
        into = out.view(np.ndarray)
    values = trueanomaly_array(_quantity_value(m, "mean_anomalies", True),
                               _quantity_value(e, "eccentricity", False), limit, tolerance,
                               out=into, errors=errors, workers=workers)
    if isinstance(out, units.Quantity):
        return out
    return units.Quantity(values, units.radian, copy=False)


def _pandas_values(x: Any, pd: Any) -> Any:
    """A Series' or DataFrame's values; a nullable one's missing values
    masked."""
    if not isinstance(x, (pd.Series, pd.DataFrame)):
        return x
    dtypes = [x.dtype] if isinstance(x, pd.Series) else list(x.dtypes)
    if any(isinstance(d, pd.api.extensions.ExtensionDtype) and getattr(d, "numpy_dtype", None)
           is not None for d in dtypes):
        common = np.result_type(*[getattr(d, "numpy_dtype", d) for d in dtypes])
        return _ma.MaskedArray(x.to_numpy(dtype=common, na_value=0), mask=x.isna().to_numpy())
    return x.to_numpy()


def _pandas_array(m: Any, e: Any, limit: int, tolerance: int, out: Any, errors: Errors,
                  workers: Optional[int]) -> Any:
    pd = sys.modules["pandas"]
    if out is not None:
        raise TypeError("out= takes numpy arrays, not with pandas inputs")
    e = _quantity_value(e, "eccentricity", False)
    frames = (pd.Series, pd.DataFrame)
    if isinstance(m, frames) and isinstance(e, frames):
        if isinstance(m, pd.DataFrame) and isinstance(e, pd.Series):
            m, e = m.align(e, axis=0)
        elif isinstance(m, pd.Series) and isinstance(e, pd.DataFrame):
            e, m = e.align(m, axis=0)
        else:
            m, e = m.align(e)
    like = m if isinstance(m, pd.DataFrame) or not isinstance(e, frames) else e
    values = []
    for x in (m, e):
        v = _pandas_values(x, pd)
        # A Series beside a DataFrame: one value per row.
        if isinstance(x, pd.Series) and isinstance(like, pd.DataFrame):
            v = v[:, np.newaxis]
        values.append(v)
    result = trueanomaly_array(values[0], values[1], limit, tolerance, errors=errors,
                               workers=workers)
    if isinstance(result, np.ma.MaskedArray):
        data, missing = _ma.getdata(result), _ma.getmaskarray(result)
        if result.ndim == 1:
            result = pd.arrays.FloatingArray(data, missing)
        else:
            columns = {k: pd.arrays.FloatingArray(data[:, k], missing[:, k])
                       for k in range(data.shape[1])}
            return pd.DataFrame(columns, index=like.index).set_axis(like.columns, axis=1)
    if isinstance(like, pd.DataFrame):
        return pd.DataFrame(result, index=like.index, columns=like.columns)
    return pd.Series(result, index=like.index, name="true_anomaly")


def _xarray_array(m: Any, e: Any, limit: int, tolerance: int, out: Any, errors: Errors,
                  workers: Optional[int]) -> Any:
    xr = sys.modules["xarray"]
    if out is not None:
        raise TypeError("out= takes numpy arrays, not with xarray inputs")
    result = xr.apply_ufunc(
        functools.partial(trueanomaly_array, max_iterations=limit, tolerance=tolerance,
                          errors=errors, workers=workers),
        m, e, dask="allowed")
    if isinstance(result, xr.DataArray):
        result = result.rename("true_anomaly")
        result.attrs["units"] = "rad"
    return result


def _dask_block(mean_anomalies: Any, eccentricity: Any, *, max_iterations: int,
                tolerance: int, errors: Errors, block_info: Any = None) -> Any:
    """One block of a dask array, its failure named by its global index."""
    try:
        return trueanomaly_array(mean_anomalies, eccentricity, max_iterations, tolerance,
                                 errors=errors)
    except IterationLimitError as err:
        if block_info is None or err.index is None:
            raise
        info = block_info[None]
        local = np.unravel_index(err.index, info["chunk-shape"])
        where = tuple(int(lo) + int(i) for (lo, _), i in zip(info["array-location"], local))
        index = int(np.ravel_multi_index(where, info["shape"])) if where else 0
        raise _limit_error(index, tuple(info["shape"]), max_iterations, tolerance) from None


def _dask_array(m: Any, e: Any, limit: int, tolerance: int, out: Any, errors: Errors,
                workers: Optional[int]) -> Any:
    da = sys.modules["dask.array"]
    if out is not None:
        raise TypeError("out= takes numpy arrays, not with dask inputs")
    _workers(workers)  # the scheduler runs the blocks in parallel, one thread each
    m = da.asarray(m)
    _core.check_dtype("mean_anomalies", m.dtype, False)
    e = _quantity_value(e, "eccentricity", False)
    lazy_e = _family(e) == "dask" or np.ndim(e) > 0
    if lazy_e:
        e = da.asarray(e)
        _core.check_dtype("eccentricity", e.dtype, False)
        dtype = _result_dtype(m.dtype, e.dtype)
    else:  # one value, masked or not, handed to every block
        dtype = _result_dtype(m.dtype, _real_array("eccentricity", _ma.getdata(e)))
        if isinstance(e, np.ma.MaskedArray):  # np.ma.masked itself: a copy dask can hash
            e = _ma.MaskedArray(_ma.getdata(e), mask=_ma.getmaskarray(e))
    meta: Any = np.empty((0,) * max(m.ndim, np.ndim(e)), dtype)
    if errors == "mask":
        meta = _ma.MaskedArray(meta)
    block = functools.partial(_dask_block, max_iterations=limit, tolerance=tolerance,
                              errors=errors)
    if lazy_e:
        m, e = da.broadcast_arrays(m, e)
        return da.map_blocks(block, m, e, dtype=dtype, meta=meta)
    return da.map_blocks(block, m, eccentricity=e, dtype=dtype, meta=meta)
