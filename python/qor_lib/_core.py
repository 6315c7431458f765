"""Statuses as exceptions, element formats as numpy dtypes, and Array: one library handle."""
import ctypes
import weakref

import numpy as np

from . import _native
from ._native import Info, lib


class QorError(Exception):
    """A negative status from the library; `code` holds it."""

    code = None

    def __init__(self, code, function=""):
        self.code = code
        self.function = function
        super().__init__(f"{function}: status {code} ({type(self).__name__})" if function else f"status {code}")


class FormatError(QorError):
    """-1: format or combination of formats not supported."""


class LengthError(QorError):
    """-2: operand arrays differ in element count."""


class ValidBitsError(QorError):
    """-3: valid bits exceed the format's width."""


class FormatMismatchError(QorError):
    """-4: operand arrays differ in element format."""


class KernelError(QorError):
    """-5: a numeric kernel failed (the library printed its status)."""


class HandleError(QorError):
    """-6: handle negative or beyond the registry."""


class RangeError(QorError):
    """-7: requested sub-range outside the source."""


class AllocError(QorError):
    """-8: allocation failed, size <= 0, or a format of 0 bytes."""


class InvalidError(QorError):
    """-32: freed handle, or an array holding no data."""


ERRORS = {cls_code: cls for cls_code, cls in (
    (-1, FormatError), (-2, LengthError), (-3, ValidBitsError), (-4, FormatMismatchError), (-5, KernelError),
    (-6, HandleError), (-7, RangeError), (-8, AllocError), (-32, InvalidError))}


def check(status, function=""):
    """Raises the status's QorError subclass when it is negative; anything else (warnings too) passes."""
    if status < 0:
        raise ERRORS.get(status, QorError)(status, function)
    return status


def call(name, *args):
    fn = getattr(lib, name, None)
    if fn is None:
        raise NotImplementedError(f"{name} is not exported by the loaded library ({_native.LIBRARY_NAME})")
    return check(fn(*args), name)


# Element formats, numbered as the library numbers them.
FMT_NONE, FMT_8U, FMT_16U, FMT_16S, FMT_32F, FMT_32U, FMT_32S, FMT_64F, FMT_64U, FMT_64S = range(10)
_DTYPES = {
    FMT_8U: np.dtype(np.uint8), FMT_16U: np.dtype(np.uint16), FMT_16S: np.dtype(np.int16),
    FMT_32F: np.dtype(np.float32), FMT_32U: np.dtype(np.uint32), FMT_32S: np.dtype(np.int32),
    FMT_64F: np.dtype(np.float64), FMT_64U: np.dtype(np.uint64), FMT_64S: np.dtype(np.int64),
}
_FORMATS = {dt: fmt for fmt, dt in _DTYPES.items()}


def format_of(dtype):
    """The library's format number for a numpy dtype."""
    dt = np.dtype(dtype).newbyteorder("=")
    try:
        return _FORMATS[dt]
    except KeyError:
        raise TypeError(f"no qor_lib format holds {dtype}") from None


def dtype_of(fmt):
    """The numpy dtype of a library format number."""
    try:
        return _DTYPES[int(fmt)]
    except KeyError:
        raise TypeError(f"format {fmt} has no numpy dtype") from None


def _destroy(handle):
    lib.qor_destroy_array(handle)


class Array:
    """One library array, owning its handle until close() (or garbage collection).

    Array(n, dtype) asks the library for an owned, zero-filled buffer; Array.borrow(x) lends the
    library a numpy array's memory without copying it and keeps x alive while it is lent; Array()
    is an empty handle. `.numpy()` views the buffer as a numpy array (the borrowed array itself).
    """

    def __init__(self, size=None, dtype=None):
        h = _native.handle_t()
        call("qor_create_array", ctypes.byref(h))
        self.handle = h.value
        self._host = None
        self._finalizer = weakref.finalize(self, _destroy, self.handle)
        if size is not None:
            try:
                call("qor_init_array", self.handle, int(size), format_of(dtype))
            except BaseException:
                self.close()
                raise

    @classmethod
    def borrow(cls, x, valid_bits=None):
        """An array that works on x's memory in place. x: a writeable, contiguous 1-D numpy array."""
        if not isinstance(x, np.ndarray) or x.ndim != 1 or not x.flags.c_contiguous or not x.flags.writeable:
            raise ValueError("borrow() needs a writeable, contiguous 1-D numpy array (it never copies)")
        fmt = format_of(x.dtype)
        if not x.dtype.isnative:
            raise ValueError("borrow() needs native byte order")
        self = cls()
        info = Info(x.size, fmt, 8 * x.itemsize if valid_bits is None else valid_bits, x.ctypes.data)
        try:
            call("qor_init_array_ex", self.handle, ctypes.byref(info))
        except BaseException:
            self.close()
            raise
        self._host = x
        return self

    # ---- lifetime
    def close(self):
        """Destroys the handle; views of an owned buffer must not be used after this."""
        if self._finalizer.detach():
            _destroy(self.handle)
        self._host = None

    @property
    def closed(self):
        return not self._finalizer.alive

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # ---- description
    def info(self):
        info = Info()
        call("qor_get_info", self.handle, ctypes.byref(info))
        return info

    @property
    def size(self):
        return self.info().size

    @property
    def dtype(self):
        return dtype_of(self.info().data_type)

    @property
    def buffer_address(self):
        buf = ctypes.c_void_p()
        call("qor_get_buf", self.handle, ctypes.byref(buf))
        return buf.value or 0

    def numpy(self):
        """The elements as a numpy array sharing the library's buffer (no copy)."""
        if self._host is not None:
            return self._host
        info = self.info()
        dt = dtype_of(info.data_type)
        if info.size == 0 or not info.frame_buf:
            return np.empty(0, dt)
        raw = (ctypes.c_char * (info.size * dt.itemsize)).from_address(info.frame_buf)
        raw._owner = self  # the view keeps the Array (and so the buffer) alive
        return np.frombuffer(raw, dtype=dt)

    def __repr__(self):
        state = "closed" if self.closed else f"handle {self.handle}"
        return f"<qor_lib.Array {state}>"


def live_handles():
    """Handles the registry holds live right now (a debugging aid: finds leaked arrays)."""
    live, h = [], 0
    while True:
        st = lib.qor_sum(h)
        if st == -6:
            return live
        if st == 0:
            live.append(h)
        h += 1
