"""Each wrapper's plumbing: operands lent, results written into `out` or a new array of the right
dtype, in-place forms returning their operand, statuses raised. The values are the C++ suite's."""
import numpy as np
import pytest

import qor_lib


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_element_wise(dtype):
    a, b = np.array([2, 4, 8], dtype), np.array([1, 2, 4], dtype)
    out = np.empty_like(b)
    assert qor_lib.div(a, b, out=out) is out and out.tolist() == [0.5, 0.5, 0.5]  # the first is the divisor
    addr = b.ctypes.data
    assert qor_lib.divI(a, b) is b and b.ctypes.data == addr and b.tolist() == [0.5, 0.5, 0.5]
    got = qor_lib.square(a)
    assert got.dtype == dtype and got.tolist() == [4, 16, 64]
    assert qor_lib.scaleC(a, 3, 1).tolist() == [7, 13, 25]
    assert qor_lib.scaleCI(a, 3, 1) is a and a.tolist() == [7, 13, 25]
    for op in (qor_lib.ln, qor_lib.log10, qor_lib.log1p, qor_lib.dft_fwd):
        got = op(b)
        assert got.dtype == dtype and got.shape == b.shape and not np.array_equal(got, b)
    y = np.array([1, 1, 1, 1], dtype)
    assert qor_lib.lnI(y) is y and y.tolist() == [0, 0, 0, 0]
    assert qor_lib.dft_fwdI(b) is b
    with pytest.raises(qor_lib.FormatMismatchError):
        qor_lib.dft_fwd(b, out=np.zeros(3, np.float32 if dtype == np.float64 else np.float64))


def test_copy_extrema_and_conversion():
    src = np.arange(50, dtype=np.int16)
    dst = np.full(20, 3, np.int16)
    assert qor_lib.sub_array(src, 45, 5, out=dst) is dst
    assert dst[:6].tolist() == [45, 46, 47, 48, 49, 3]
    assert qor_lib.sub_array(src, 7, 2).tolist() == [7, 8]
    with pytest.raises(qor_lib.RangeError):
        qor_lib.sub_array(src, 46, 5)
    assert qor_lib.min_max(np.array([3, 500, 2], np.uint16)) == (2, 500)
    assert qor_lib.min_max(np.array([3, 5], np.float32), 1, 4) == (1, 5)  # merged with what the caller passes
    with pytest.raises(qor_lib.FormatError):
        qor_lib.min_max(np.zeros(4, np.float64))
    got = qor_lib.convert(np.array([1, 300], np.uint16), np.uint8)
    assert got.dtype == np.uint8 and got.tolist() == [1, 255]
    with pytest.raises(qor_lib.FormatError):
        qor_lib.convert(np.zeros(2, np.float32), np.float64)
    with pytest.raises(qor_lib.LengthError):
        qor_lib.convert(np.zeros(2, np.uint8), out=np.zeros(3, np.uint16))


def test_generators():
    # A length gives a new array of the dtype; an array is filled in place and returned.
    assert qor_lib.vector_slope(4, 1, 0.5).tolist() == [1, 1.5, 2, 2.5]
    assert qor_lib.vector_slope(3, 65534, 1, np.uint16).tolist() == [65534, 65535, 65535]
    for dtype in (np.int16, np.float32, np.float64):
        assert qor_lib.vector_tone(8, 100, 0.25, 0.0, dtype).dtype == dtype
        r = qor_lib.gaussian_rand(64, 5.0, 2.0, seed=42, dtype=dtype)
        assert r.dtype == dtype and np.array_equal(qor_lib.gaussian_rand(64, 5.0, 2.0, seed=42, dtype=dtype), r)
    out = np.zeros(10, np.float32)
    for fill in (lambda o: qor_lib.sin_plot(o, 0.1), lambda o: qor_lib.quadratic_plot(o, 1, 2, 3),
                 lambda o: qor_lib.gaussian_plot(o, 5, 2), lambda o: qor_lib.test_rand(o, 0, 0, 0)):
        out[:] = 0
        assert fill(out) is out and out.any()
    assert qor_lib.quadratic_plot(3, 1, 2, 3, x0=1, dx=2).tolist() == [6, 18, 38]
    for bad in (lambda: qor_lib.gaussian_rand(4, dtype=np.uint16), lambda: qor_lib.gaussian_plot(np.zeros(5), 1, 1),
                lambda: qor_lib.test_rand(10, 1, 1, 1, dtype=np.float64)):
        with pytest.raises(qor_lib.FormatError):
            bad()


def test_histogram_and_fits():
    x = np.array([0.5, 1.5, 1.5, 9.5, -3], np.float32)
    got = qor_lib.histogram(x, 10, 0, 10)
    assert got.dtype == np.uint32 and got.tolist() == [1, 2, 0, 0, 0, 0, 0, 0, 0, 1]
    counts = np.zeros(2, np.uint32)
    assert qor_lib.histogram(np.array([-1, 1], np.int16), 2, -2, 2, counts=counts) is counts  # written in place
    assert counts.tolist() == [1, 1]
    with pytest.raises(ValueError):
        qor_lib.histogram(x, 2, 0, 1, counts=np.zeros(2, np.int32))

    exact = qor_lib.quadratic_plot(300, 0.5, -3.0, 40.0)
    np.testing.assert_allclose(qor_lib.quadratic_fit(exact), (0.5, -3.0, 40.0), rtol=1e-3)
    out = np.full(5, 9, np.float32)
    qor_lib.quadratic_fit(exact, out=out)  # written into the caller's array
    np.testing.assert_allclose(out, (0.5, -3.0, 40.0, 9, 9), rtol=1e-3)
    with pytest.raises(qor_lib.LengthError):
        qor_lib.quadratic_fit(exact, out=np.zeros(3, np.float32))
    bell = qor_lib.gaussian_plot(61, 1.25, 0.7, 3.0, -1.0, 0.05) - np.float32(1)
    np.testing.assert_allclose(qor_lib.gaussian_fit(bell, -1.0, 0.05), (1.25, 0.7, 3.0), rtol=2e-3)
    counts = np.rint(1000 * np.exp(-((np.arange(100) - 40.0) ** 2) / 1800)).astype(np.uint32)
    assert abs(qor_lib.gaussian_fit(counts)[0] - 40) < 0.5
    with pytest.raises(qor_lib.FormatError):
        qor_lib.gaussian_fit(np.ones(50, np.float64))
