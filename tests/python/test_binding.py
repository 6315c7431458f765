"""The binding's mechanism: library lookup, declarations against the header, Array, zero-copy, errors."""
import ctypes
import gc
import re

import numpy as np
import pytest

import qor_lib
from qor_lib import _native

from conftest import ROOT

HEADER = ROOT / "include" / "qor_lib.h"
CSHARP = ROOT / "csharp" / "QorLib.cs"
P = ctypes.POINTER

# C parameter types of the exports, as ctypes and as the C# declarations spell them.
C_TYPES = {
    "qor_handle": (ctypes.c_int32, {"int"}),
    "qor_handle*": (P(ctypes.c_int32), {"out int", "ref int"}),
    "int64_t": (ctypes.c_int64, {"long"}),
    "int32_t": (ctypes.c_int32, {"int"}),
    "uint32_t": (ctypes.c_uint32, {"uint"}),
    "uint32_t*": (P(ctypes.c_uint32), {"[Out] uint[]", "uint[]", "ref uint", "out uint"}),
    "int": (ctypes.c_int32, {"int"}),
    "uint8_t*": (P(ctypes.c_uint8), {"out byte", "ref byte"}),
    "qor_data_format": (ctypes.c_int32, {"DataFormat"}),
    "qor_info*": (P(_native.Info), {"ref QorInfo", "out QorInfo"}),
    "void**": (P(ctypes.c_void_p), {"out IntPtr", "ref IntPtr"}),
    "float": (ctypes.c_float, {"float"}),
    "double": (ctypes.c_double, {"double"}),
    "float*": (P(ctypes.c_float), {"ref float", "out float"}),
    "double*": (P(ctypes.c_double), {"ref double", "out double"}),
}


def header_exports():
    """name -> list of C parameter types, from the public header."""
    text = re.sub(r"/\*.*?\*/", "", HEADER.read_text(), flags=re.S)
    exports = {}
    for name, params in re.findall(r"QOR_API\s+qor_status\s+(qor_\w+)\s*\(([^)]*)\)\s*;", text):
        types = []
        for p in filter(None, (x.strip() for x in params.split(","))):
            # "qor_info* info", "void **buf": the type is everything but the name, stars included
            p = re.sub(r"\bconst\b", "", p).replace("*", " * ")
            words = p.split()
            types.append("".join(words[:-1]))
        exports[name] = types
    assert len(exports) >= 8, "header parse found too few exports"
    return exports


def test_header_exports_have_exact_ctypes_and_csharp_declarations():
    csharp = {}
    for name, params in re.findall(r"static\s+extern\s+sbyte\s+(qor_\w+)\s*\(([^)]*)\)\s*;", CSHARP.read_text()):
        csharp[name] = [" ".join(p.split()[:-1]) for p in filter(None, (x.strip() for x in params.split(",")))]
    missing = []
    for name, c_types in header_exports().items():
        if name not in _native.SIGNATURES or name not in csharp:
            missing.append(name)
            continue
        expected = [C_TYPES[t][0] for t in c_types]  # KeyError: a C type this test does not map yet
        assert list(_native.SIGNATURES[name]) == expected, name
        fn = getattr(qor_lib.lib, name)
        assert fn.restype is ctypes.c_int8 and list(fn.argtypes) == expected, name
        assert len(csharp[name]) == len(c_types), name
        for cs, c in zip(csharp[name], c_types):
            assert cs in C_TYPES[c][1], f"{name}: C {c} declared as C# {cs}"
    if missing:
        pytest.skip("exports without a Python or C# declaration yet: " + ", ".join(missing))


def test_library_lookup(monkeypatch, tmp_path):
    found = qor_lib.find_library()
    monkeypatch.setenv(_native.ENV_VAR, str(found))
    assert _native.find_library() == found
    monkeypatch.setenv(_native.ENV_VAR, str(found.parent))
    assert _native.find_library() == found.parent / _native.LIBRARY_NAME
    # An explicit choice that does not exist is an error, not a reason to look elsewhere.
    monkeypatch.setenv(_native.ENV_VAR, str(tmp_path))
    with pytest.raises(OSError, match="not found"):
        _native.find_library()


def test_owned_array_is_a_view_of_the_library_buffer():
    with qor_lib.Array(100, np.float32) as a:
        assert (a.size, a.dtype) == (100, np.float32)
        v = a.numpy()
        assert v.dtype == np.float32 and v.ctypes.data == a.buffer_address and a.buffer_address % 64 == 0
        assert not v.any()  # the library zero-fills
        v[:] = np.arange(100)
        qor_lib.square(a, out=a)
        assert np.array_equal(v, np.arange(100, dtype=np.float32) ** 2)
    assert a.closed
    a.close()  # closing twice is harmless


def test_borrowed_array_is_the_numpy_memory():
    x = np.array([1.5, -2, 3], np.float64)
    with qor_lib.Array.borrow(x) as a:
        assert a.buffer_address == x.ctypes.data and a.numpy() is x
        info = a.info()
        assert (info.size, info.data_type, info.valid_bits) == (3, qor_lib.FMT_64F, 64)
        qor_lib.square(a, out=a)
    assert x.tolist() == [2.25, 4, 9]


def test_borrow_never_copies():
    for bad in (np.zeros(6, np.float32)[::2], np.zeros((2, 2), np.float32), np.zeros(3, ">f4")):
        with pytest.raises(ValueError):
            qor_lib.Array.borrow(bad)
    frozen = np.zeros(3, np.float32)
    frozen.flags.writeable = False
    with pytest.raises(ValueError):
        qor_lib.Array.borrow(frozen)
    with pytest.raises(TypeError):
        qor_lib.Array.borrow(np.zeros(3, np.complex64))


def test_lifetimes():
    # A borrow holds its numpy array, a view holds its owned Array, and collection destroys the handle.
    a = qor_lib.Array.borrow(np.arange(1000, dtype=np.float32))
    v = qor_lib.Array(8, np.int32).numpy()
    h = qor_lib.Array(4, np.uint16).handle
    gc.collect()
    assert h not in qor_lib.live_handles()
    with a:
        qor_lib.square(a, out=a)  # would write into freed memory if the borrow did not hold the array
        assert a.numpy()[999] == 999.0**2
    v[:] = 7  # the buffer is still the library's
    assert v.sum() == 56
    del v


def test_dtypes_and_formats_correspond():
    for fmt in range(1, 10):
        dt = qor_lib.dtype_of(fmt)
        assert qor_lib.format_of(dt) == fmt
        with qor_lib.Array(3, dt) as a:
            assert a.numpy().dtype == dt and a.numpy().size == 3
            b = ctypes.c_uint8()
            qor_lib.check(qor_lib.lib.qor_get_data_byte(a.handle, ctypes.byref(b)))
            assert b.value == dt.itemsize


def test_statuses_raise_their_named_errors(capfd):
    f32 = np.ones(4, np.float32)
    with pytest.raises(qor_lib.FormatMismatchError) as e:
        qor_lib.div(f32, np.ones(4, np.float64))
    assert e.value.code == -4 and isinstance(e.value, qor_lib.QorError) and "qor_div" in str(e.value)
    for error, call in ((qor_lib.LengthError, lambda: qor_lib.square(f32, out=np.ones(3, np.float32))),
                        (qor_lib.FormatError, lambda: qor_lib.square(np.ones(2, np.int32))),
                        (qor_lib.RangeError, lambda: qor_lib.sub_array(f32, 3, 2)),
                        (qor_lib.HandleError, lambda: qor_lib.check(qor_lib.lib.qor_sum(1 << 30))),
                        (qor_lib.AllocError, lambda: qor_lib.Array(0, np.float32)),
                        (qor_lib.ValidBitsError, lambda: qor_lib.check(-3))):
        with pytest.raises(error):
            call()
    with qor_lib.Array() as empty, pytest.raises(qor_lib.InvalidError):
        qor_lib.square(empty, out=f32)
    # The status is a signed byte: -32 is 0xE0, which read unsigned or wider would not be negative.
    a = qor_lib.Array()
    h = a.handle
    a.close()
    assert qor_lib.lib.qor_sum(h) == -32
    # A zero divisor is a kernel warning: printed by the library, yet the call succeeds.
    assert qor_lib.check(2) == 2
    assert qor_lib.div(np.zeros(2, np.float32), np.array([1, -1], np.float32)).tolist() == [np.inf, -np.inf]
    assert "KRN function failed,return value 2." in capfd.readouterr().out
