"""One function per operation: numpy arrays (or Arrays) in, numpy arrays out, nothing copied.

Operands that are numpy arrays are lent to the library for the length of the call; results are
written straight into `out` (a new numpy array of the right dtype when none is given)."""
import ctypes
import contextlib

import numpy as np

from ._core import Array, call, dtype_of, format_of

__all__ = [
    "div", "divI", "square", "sub_array", "min_max", "ln", "lnI", "log1p", "log10", "convert", "scaleC", "scaleCI",
    "gaussian_rand", "sin_plot", "quadratic_plot", "gaussian_plot", "vector_slope", "vector_tone", "dft_fwd",
    "dft_fwdI", "histogram", "test_rand", "quadratic_fit",
    "gaussian_fit",
]


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


def _target(out, dtype):
    """What a generator fills: an array (numpy or Array) as given, or a new one of `out` elements."""
    if isinstance(out, (int, np.integer)):
        return np.zeros(int(out), dtype)
    return out


def _unary(name, src, out):
    out = _out(out, src)
    with _Call() as c:
        call(name, c.handle(src), c.handle(out))
    return out


def _in_place(name, a, *args):
    with _Call() as c:
        call(name, c.handle(a), *args)
    return a


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


# ---- logarithms (float32, float64; out-of-domain elements only warn)


def ln(src, out=None):
    """out = ln(src). out may be src."""
    return _unary("qor_ln", src, out)


def lnI(a):
    """a = ln(a) in place; returns a."""
    return _in_place("qor_lnI", a)


def log1p(src, out=None):
    """out = ln(1 + src), accurate for small |src|."""
    return _unary("qor_log1p", src, out)


def log10(src, out=None):
    """out = log10(src)."""
    return _unary("qor_log10", src, out)


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


# ---- scaling


def scaleC(src, factor, offset, out=None):
    """out = src * factor + offset (uint16 saturating with integer constants, float32, float64)."""
    out = _out(out, src)
    with _Call() as c:
        call("qor_scaleC", c.handle(src), c.handle(out), factor, offset)
    return out


def scaleCI(a, factor, offset):
    """a = a * factor + offset in place; returns a."""
    return _in_place("qor_scaleCI", a, factor, offset)


# ---- generators: `out` is the array to fill, or a length for a new one of `dtype`


def gaussian_rand(out, mean=0.0, stdev=1.0, seed=0, dtype=np.float32):
    """Normal numbers (int16, float32, float64); the same sequence for the same seed everywhere."""
    return _in_place("qor_gaussian_rand", _target(out, dtype), mean, stdev, seed)


def test_rand(out, a, b, c, dtype=np.float32):
    """a i^2 + b i + c plus uniform noise in [-5, 5] from a fixed seed (float32): the fits' test input."""
    return _in_place("qor_test_rand", _target(out, dtype), a, b, c)


def sin_plot(out, frequency, amplitude=1.0, offset=0.0, phase_deg=0.0, dtype=np.float32):
    """amplitude * sin(2 pi frequency i + phase_deg pi / 180) + offset (float32)."""
    return _in_place("qor_sin_plot", _target(out, dtype), frequency, amplitude, offset, phase_deg)


def quadratic_plot(out, a, b, c, x0=0.0, dx=1.0, dtype=np.float32):
    """(a x + b) x + c over x = x0 + dx i (float32)."""
    return _in_place("qor_quadratic_plot", _target(out, dtype), a, b, c, x0, dx)


def gaussian_plot(out, centre, width, height=1.0, x0=0.0, dx=1.0, dtype=np.float32):
    """height * exp(-(x - centre)^2 / (2 width^2)) over x = x0 + dx i (float32)."""
    return _in_place("qor_gaussian_plot", _target(out, dtype), centre, width, height, x0, dx)


def vector_slope(out, offset, slope, dtype=np.float32):
    """offset + slope * i (uint16 rounded and saturated, float32)."""
    return _in_place("qor_vector_slope", _target(out, dtype), offset, slope)


def vector_tone(out, magnitude, rfreq, phase=0.0, dtype=np.float32):
    """magnitude * cos(2 pi rfreq i + phase), 0 <= rfreq < 0.5, 0 <= phase < 2 pi (int16, float32, float64)."""
    return _in_place("qor_vector_tone", _target(out, dtype), magnitude, rfreq, phase)


# ---- spectrum


def dft_fwd(src, out=None):
    """Amplitude spectrum of a real float32/float64 signal of N samples: |X[0]|/N, then 2|X[k]|/N."""
    return _unary("qor_dft_fwd", src, out)


def dft_fwdI(a):
    """The amplitude spectrum written over a's own samples; returns a."""
    return _in_place("qor_dft_fwdI", a)


# ---- histogram


def histogram(src, bins, lower, upper, counts=None):
    """Counts of src (int16 or float32) in `bins` equal bins over [lower, upper), written into `counts`
    (a new uint32 array when none is given); samples outside and NaN are not counted."""
    if counts is None:
        counts = np.zeros(max(int(bins), 0), np.uint32)
    elif (not isinstance(counts, np.ndarray) or counts.dtype != np.uint32 or not counts.flags.c_contiguous
          or not counts.flags.writeable or counts.size < bins):
        raise ValueError("counts must be a writeable, contiguous uint32 array of at least `bins` elements")
    with _Call() as c:
        call("qor_histogram", c.handle(src), counts.ctypes.data_as(ctypes.POINTER(ctypes.c_uint32)), bins, lower,
             upper)
    return counts


# ---- fits


def quadratic_fit(src, out=None):
    """Fits y = a x^2 + b x + c to src's float32 samples at x = 0, 1, 2, ...; returns (a, b, c).
    `out` (float32, at least 4 elements) receives them in elements 0..2 when given."""
    if out is None:
        out = np.zeros(4, np.float32)
    with _Call() as c:
        call("qor_quadratic_fit", c.handle(src), c.handle(out))
    v = out.numpy() if isinstance(out, Array) else out
    return float(v[0]), float(v[1]), float(v[2])


def gaussian_fit(src, x0=0.0, dx=1.0):
    """Fits A exp(-(x - centre)^2 / (2 sigma^2)) to 1 + y, y the samples of src (float32, int32, uint32)
    on x = x0 + dx i; returns (centre, sigma, A). An upward parabola gives a NaN sigma."""
    centre, sigma, amplitude = ctypes.c_float(), ctypes.c_float(), ctypes.c_float()
    with _Call() as c:
        call("qor_gaussian_fit", c.handle(src), x0, dx, ctypes.byref(centre), ctypes.byref(sigma),
             ctypes.byref(amplitude))
    return centre.value, sigma.value, amplitude.value
