"""qor_lib from Python: the library's arrays and operations over numpy arrays, without copies.

    import numpy as np, qor_lib
    x = np.array([1, 2, 3], np.float32)
    qor_lib.square(x, out=x)          # the library squares x's own memory

The shared library is looked up in $QOR_LIB_PATH (a file or a folder), next to this package, then
in a source checkout's build tree (build/native)."""
from ._core import (
    ERRORS, FMT_8U, FMT_16S, FMT_16U, FMT_32F, FMT_32S, FMT_32U, FMT_64F, FMT_64S, FMT_64U, FMT_NONE,
    AllocError, Array, FormatError, FormatMismatchError, HandleError, InvalidError, KernelError, LengthError,
    QorError, RangeError, ValidBitsError, check, dtype_of, format_of, live_handles)
from ._native import SIGNATURES, Info, find_library, lib
from ._ops import *  # noqa: F401,F403  (the operations, listed in _ops.__all__)

__version__ = "1.0.0"
