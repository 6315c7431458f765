"""One function per operation: numpy arrays (or Arrays) in, numpy arrays out, nothing copied.

Operands that are numpy arrays are lent to the library for the length of the call; results are
written straight into `out` (a new numpy array of the right dtype when none is given)."""
import ctypes
import contextlib

import numpy as np

from ._core import Array, call, dtype_of, format_of

__all__ = ["div", "divI", "square", "sub_array", "min_max", "convert"]


def _size_dtype(x):
    if isinstance(x, Array):
        info = x.info()
        return info.size, dtype_of(info.data_type)
    if isinstance(x, np.ndarray):
        return x.size, x.dtype
    raise TypeError(f"expected a numpy array or a qor_lib.Array, got {type(x).__name__}")


class _Call(contextlib.ExitStack):
    """Lends numpy operands to the library for one call and takes their handles back after it."""

    def handle(self, x):
        if isinstance(x, Array):
            return x.handle
        if isinstance(x, np.ndarray):
            return self.enter_context(Array.borrow(x)).handle
        raise TypeError(f"expected a numpy array or a qor_lib.Array, got {type(x).__name__}")


def _out(out, like):
    """out, or a new zero-filled numpy array of like's size and dtype."""
    return np.zeros(*_size_dtype(like)) if out is None else out


# ---- division


def div(divisor, dividend, out=None):
    """out = dividend / divisor, element by element (float32 or float64). out may be an operand."""
    out = _out(out, dividend)
    with _Call() as c:
        call("qor_div", c.handle(divisor), c.handle(dividend), c.handle(out))
    return out


def divI(divisor, dividend):
    """dividend /= divisor in place; returns dividend."""
    with _Call() as c:
        call("qor_divI", c.handle(divisor), c.handle(dividend))
    return dividend


# ---- square, sub-array copy and extrema


def square(a, out=None):
    """out = a squared (uint16 saturating, float32, float64). out may be a."""
    out = _out(out, a)
    with _Call() as c:
        call("qor_square", c.handle(a), c.handle(out))
    return out


def sub_array(src, offset, count, out=None):
    """out[:count] = src[offset:offset + count] (uint16, int16, float32, float64)."""
    if out is None:
        out = np.zeros(max(int(count), 0), _size_dtype(src)[1])
    with _Call() as c:
        call("qor_sub_array", c.handle(src), c.handle(out), int(offset), int(count))
    return out


def min_max(a, lo=float("inf"), hi=float("-inf")):
    """(min, max) of a (uint16 or float32) merged with lo and hi; NaN elements are ignored."""
    mn, mx = ctypes.c_float(lo), ctypes.c_float(hi)
    with _Call() as c:
        call("qor_min_max", c.handle(a), ctypes.byref(mn), ctypes.byref(mx))
    return mn.value, mx.value


# ---- format conversion


def convert(src, dtype=None, out=None):
    """out = src converted to dtype (8u<->16u, 16s->8u, 16u/16s->32f, 32f->16u, saturating)."""
    if out is None:
        if dtype is None:
            raise TypeError("convert() needs a dtype or an out array")
        format_of(dtype)
        out = np.zeros(_size_dtype(src)[0], dtype)
    with _Call() as c:
        call("qor_convert", c.handle(src), c.handle(out))
    return out
