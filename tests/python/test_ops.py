"""Every operation of the binding against numpy on the same data, results written in place."""
import numpy as np
import pytest

import qor_lib

rng = np.random.default_rng(12)
SPECIALS = [0.0, -0.0, np.inf, -np.inf, np.nan, 1e-40, -3.5, 7.0]


def floats(dtype, n=203):
    x = rng.standard_normal(n).astype(dtype) * 100
    x[: len(SPECIALS)] = SPECIALS
    return x


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_div_and_divI(dtype):
    a, b = floats(dtype), np.roll(floats(dtype), 3)
    with np.errstate(all="ignore"):
        want = b / a
    out = np.empty_like(b)
    assert qor_lib.div(a, b, out=out) is out and out.dtype == dtype
    # The library's NaN is the positive quiet one; numpy's sign differs by platform, so compare as values.
    np.testing.assert_array_equal(out, want)
    assert qor_lib.div(a, b).dtype == dtype
    addr = b.ctypes.data
    assert qor_lib.divI(a, b) is b and b.ctypes.data == addr
    np.testing.assert_array_equal(b, want)


def test_square():
    u = np.arange(0, 65536, 97, dtype=np.uint16)
    np.testing.assert_array_equal(qor_lib.square(u), np.minimum(u.astype(np.uint64) ** 2, 65535))
    for dtype in (np.float32, np.float64):
        x = floats(dtype)
        with np.errstate(all="ignore"):
            want = x * x
        got = qor_lib.square(x)
        assert got.dtype == dtype
        np.testing.assert_array_equal(got, want)
        qor_lib.square(x, out=x)  # in place
        np.testing.assert_array_equal(x, want)


@pytest.mark.parametrize("dtype", [np.uint16, np.int16, np.float32, np.float64])
def test_sub_array(dtype):
    src = np.arange(50).astype(dtype)
    np.testing.assert_array_equal(qor_lib.sub_array(src, 7, 10), src[7:17])
    dst = np.full(20, 3, dtype)
    qor_lib.sub_array(src, 45, 5, out=dst)  # later elements are left alone
    np.testing.assert_array_equal(dst, np.concatenate([src[45:], np.full(15, 3, dtype)]))
    with pytest.raises(qor_lib.RangeError):
        qor_lib.sub_array(src, 46, 5)
    with pytest.raises(qor_lib.RangeError):
        qor_lib.sub_array(src, -1, 5)
    with pytest.raises(qor_lib.LengthError):
        qor_lib.sub_array(src, 0, 30, out=np.zeros(20, dtype))


def test_min_max():
    x = floats(np.float32)
    assert qor_lib.min_max(x) == (-np.inf, np.inf)
    finite = x[np.isfinite(x)]
    assert qor_lib.min_max(finite) == (finite.min(), finite.max())
    u = rng.integers(10, 60000, 1000).astype(np.uint16)
    assert qor_lib.min_max(u) == (u.min(), u.max())
    assert qor_lib.min_max(u, 3, 5) == (3, u.max())  # merged with what the caller passes
    assert qor_lib.min_max(np.zeros(0, np.float32)) == (np.inf, -np.inf)
    with pytest.raises(qor_lib.FormatError):
        qor_lib.min_max(np.zeros(4, np.float64))


def test_convert():
    u8 = np.arange(256, dtype=np.uint8)
    u16 = np.array([0, 1, 254, 255, 256, 65535], np.uint16)
    s16 = np.array([-32768, -1, 0, 1, 255, 256, 32767], np.int16)
    f32 = np.array([-0.0, 0.99, 1.0, 2.5, 65534.9, 65535.0, 1e9, -7.0, np.inf, -np.inf, np.nan], np.float32)

    got = qor_lib.convert(u8, np.uint16)
    assert got.dtype == np.uint16
    np.testing.assert_array_equal(got, u8)
    np.testing.assert_array_equal(qor_lib.convert(u16, np.uint8), np.minimum(u16, 255))
    np.testing.assert_array_equal(qor_lib.convert(s16, np.uint8), np.clip(s16, 0, 255))
    np.testing.assert_array_equal(qor_lib.convert(u16, np.float32), u16.astype(np.float32))
    np.testing.assert_array_equal(qor_lib.convert(s16, np.float32), s16.astype(np.float32))
    model = np.nan_to_num(np.trunc(np.clip(f32, 0, 65535)), nan=0).astype(np.uint16)
    np.testing.assert_array_equal(qor_lib.convert(f32, np.uint16), model)
    with pytest.raises(qor_lib.FormatError):
        qor_lib.convert(f32, np.float64)
    with pytest.raises(qor_lib.LengthError):
        qor_lib.convert(u8, out=np.zeros(3, np.uint16))
