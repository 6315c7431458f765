"""Finding and loading the shared library, and the ctypes declarations of its exports."""
import ctypes
import os
import sys
from pathlib import Path

if sys.platform == "win32":
    LIBRARY_NAME = "qor_lib.dll"
    _BUILD_SUBDIRS = ("build/windows/bin", "build/bin")
else:
    LIBRARY_NAME = "libqor_lib.so"
    _BUILD_SUBDIRS = ("build/native", "build")

ENV_VAR = "QOR_LIB_PATH"

int8, int32, int64 = ctypes.c_int8, ctypes.c_int32, ctypes.c_int64
handle_t = ctypes.c_int32
format_t = ctypes.c_int32
status_t = ctypes.c_int8  # a default c_int result would read whatever the upper bits hold


class Info(ctypes.Structure):
    """The qor_info record: element count, format, meaningful bits per element, buffer."""

    _fields_ = [
        ("size", ctypes.c_int64),
        ("data_type", format_t),
        ("valid_bits", ctypes.c_uint16),
        ("frame_buf", ctypes.c_void_p),
    ]


assert ctypes.sizeof(Info) == 24 and Info.frame_buf.offset == 16

P = ctypes.POINTER
f32, f64 = ctypes.c_float, ctypes.c_double

# Every export and its argument types, in the header's order. All of them return status_t.
SIGNATURES = {
    # array lifecycle
    "qor_create_array": (P(handle_t),),
    "qor_destroy_array": (handle_t,),
    "qor_init_array": (handle_t, int64, format_t),
    "qor_init_array_ex": (handle_t, P(Info)),
    "qor_get_info": (handle_t, P(Info)),
    "qor_get_buf": (handle_t, P(ctypes.c_void_p)),
    "qor_get_data_byte": (handle_t, P(ctypes.c_uint8)),
    "qor_sum": (handle_t,),
    # division
    "qor_div": (handle_t, handle_t, handle_t),
    "qor_divI": (handle_t, handle_t),
    # square, sub-array copy and extrema
    "qor_square": (handle_t, handle_t),
    "qor_sub_array": (handle_t, handle_t, int64, int64),
    "qor_min_max": (handle_t, P(f32), P(f32)),
    # logarithms
    "qor_ln": (handle_t, handle_t),
    "qor_lnI": (handle_t,),
    "qor_log1p": (handle_t, handle_t),
    "qor_log10": (handle_t, handle_t),
    # format conversion
    "qor_convert": (handle_t, handle_t),
    # scaling
    "qor_scaleC": (handle_t, handle_t, f32, f32),
    "qor_scaleCI": (handle_t, f32, f32),
    # random numbers and the test signal
    "qor_gaussian_rand": (handle_t, f32, f32, ctypes.c_uint32),
    "qor_test_rand": (handle_t, f32, f32, f32),
    # curves
    "qor_sin_plot": (handle_t, f32, f32, f32, f32),
    "qor_quadratic_plot": (handle_t, f32, f32, f32, f32, f32),
    "qor_gaussian_plot": (handle_t, f32, f32, f32, f32, f32),
    # ramps and tones
    "qor_vector_slope": (handle_t, f32, f32),
    "qor_vector_tone": (handle_t, f32, f32, f32),
    # spectrum
    "qor_dft_fwd": (handle_t, handle_t),
    "qor_dft_fwdI": (handle_t,),
    # histogram
    "qor_histogram": (handle_t, P(ctypes.c_uint32), int32, f32, f32),
    # fits
    "qor_quadratic_fit": (handle_t, handle_t),
    "qor_gaussian_fit": (handle_t, f32, f32, P(f32), P(f32), P(f32)),
}


def _candidates():
    env = os.environ.get(ENV_VAR)
    if env:
        path = Path(env)
        yield path / LIBRARY_NAME if path.is_dir() else path
        return  # an explicit choice is never second-guessed
    here = Path(__file__).resolve().parent
    yield here / LIBRARY_NAME
    # A source checkout: python/qor_lib/ sits two levels below the project root.
    root = here.parent.parent
    for sub in _BUILD_SUBDIRS:
        yield root / sub / LIBRARY_NAME


def find_library():
    """The library's path: $QOR_LIB_PATH (a file or a folder), next to this module, or the build tree."""
    tried = []
    for path in _candidates():
        if path.is_file():
            return path
        tried.append(str(path))
    raise OSError(f"{LIBRARY_NAME} not found (set {ENV_VAR}); tried: " + ", ".join(tried))


def load(path=None):
    lib = ctypes.CDLL(str(path or find_library()))
    for name, argtypes in SIGNATURES.items():
        fn = getattr(lib, name, None)
        if fn is None:
            continue  # a library older than this binding: the function reports itself missing when called
        fn.argtypes = argtypes
        fn.restype = status_t
    return lib


lib = load()
