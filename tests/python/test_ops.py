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


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_logarithms(dtype, capfd):
    # The wrappers' plumbing; the kernels' accuracy is measured by the C++ suite.
    x = np.array([0.0, -0.0, -1.0, np.inf, np.nan, 1.0, 1e-30, 0.5, 7.0, 1e6], dtype)
    with np.errstate(all="ignore"):
        for op, ref in ((qor_lib.ln, np.log), (qor_lib.log10, np.log10), (qor_lib.log1p, np.log1p)):
            got = op(x)
            assert got.dtype == dtype
            np.testing.assert_allclose(got, ref(x.astype(np.float64)), rtol=1e-6, atol=1e-5)
    assert "KRN function failed" in capfd.readouterr().out  # the domain warnings, printed, not raised
    y = x.copy()
    assert qor_lib.lnI(y) is y
    np.testing.assert_array_equal(y, qor_lib.ln(x))


def test_scaling():
    x = floats(np.float32)
    with np.errstate(all="ignore"):
        np.testing.assert_array_equal(qor_lib.scaleC(x, 1.5, -2.25), x * np.float32(1.5) + np.float32(-2.25))
        d = floats(np.float64)
        want = d * np.float64(np.float32(0.1)) + np.float64(np.float32(3.3))  # the float constants, widened
        np.testing.assert_array_equal(qor_lib.scaleC(d, 0.1, 3.3), want)
        assert qor_lib.scaleCI(d, 0.1, 3.3) is d
        np.testing.assert_array_equal(d, want)
    u = np.arange(0, 65536, 61, dtype=np.uint16)
    model = np.minimum(np.minimum(u.astype(np.int64) * 3, 65535) + 100, 65535)
    np.testing.assert_array_equal(qor_lib.scaleC(u, 3, 100), model)


def test_gaussian_rand():
    x = qor_lib.gaussian_rand(20000, 5.0, 2.0, seed=42)
    assert x.dtype == np.float32
    assert abs(x.mean() - 5) < 0.1 and abs(x.std() - 2) < 0.1
    np.testing.assert_array_equal(qor_lib.gaussian_rand(20000, 5.0, 2.0, seed=42), x)  # fixed by the seed
    assert not np.array_equal(qor_lib.gaussian_rand(20000, 5.0, 2.0, seed=43), x)
    d = qor_lib.gaussian_rand(np.zeros(20000), -1.0, 0.5, seed=1)
    assert d.dtype == np.float64 and abs(d.mean() + 1) < 0.05
    s = qor_lib.gaussian_rand(20000, 100.7, 10.9, seed=3, dtype=np.int16)  # constants truncated: 100, 10
    assert abs(s.mean() - 100) < 0.5 and abs(s.std() - 10) < 0.5
    with pytest.raises(qor_lib.FormatError):
        qor_lib.gaussian_rand(4, dtype=np.uint16)


def test_curves():
    i = np.arange(300, dtype=np.float64)
    x = 0.5 + 0.25 * i
    np.testing.assert_allclose(qor_lib.sin_plot(300, 0.01, 3.0, 1.0, 30.0),
                               3 * np.sin(2 * np.pi * 0.01 * i + np.pi / 6) + 1, atol=3e-6 * 4)
    np.testing.assert_allclose(qor_lib.quadratic_plot(300, 0.5, -3, 2, 0.5, 0.25), (0.5 * x - 3) * x + 2,
                               rtol=1e-6, atol=1e-5)
    np.testing.assert_allclose(qor_lib.gaussian_plot(300, 40, 8, 2.5, 0.5, 0.25),
                               2.5 * np.exp(-((x - 40) ** 2) / (2 * 64)), rtol=1e-5, atol=1e-7)
    out = np.zeros(10, np.float32)
    assert qor_lib.sin_plot(out, 0.1) is out
    with pytest.raises(qor_lib.FormatError):
        qor_lib.gaussian_plot(np.zeros(5), 1, 1)


def test_ramps_and_tones():
    i = np.arange(1000)
    np.testing.assert_allclose(qor_lib.vector_slope(1000, -3.5, 0.125), -3.5 + 0.125 * i, rtol=1e-7)
    np.testing.assert_array_equal(qor_lib.vector_slope(1000, 65000, 2, np.uint16), np.minimum(65000 + 2 * i, 65535))
    rf = float(np.float32(0.07))  # the frequency reaches the library as a float
    model = np.cos(2 * np.pi * rf * i + 1.0)
    for dtype, tol in ((np.float32, 2e-5), (np.float64, 1e-9)):
        t = qor_lib.vector_tone(1000, 2.0, 0.07, 1.0, dtype)
        assert t.dtype == dtype
        np.testing.assert_allclose(t, 2 * model, atol=tol)
    s = qor_lib.vector_tone(1000, 1000, 0.07, 1.0, np.int16)
    assert np.abs(s - 1000 * model).max() <= 1


@pytest.mark.parametrize("dtype", [np.float32, np.float64])
def test_amplitude_spectrum(dtype):
    n = 240  # not a power of two
    x = (rng.standard_normal(n) + 0.5).astype(dtype)
    spectrum = np.abs(np.fft.fft(x.astype(np.float64))) / n
    spectrum[1:] *= 2
    got = qor_lib.dft_fwd(x)
    assert got.dtype == dtype
    np.testing.assert_allclose(got, spectrum, atol=1e-5 if dtype == np.float32 else 1e-12)
    assert qor_lib.dft_fwdI(x) is x
    np.testing.assert_array_equal(x, got)
    with pytest.raises(qor_lib.FormatMismatchError):
        qor_lib.dft_fwd(x, out=np.zeros(n, np.float32 if dtype == np.float64 else np.float64))


def test_histogram():
    # Samples that sit on no bin edge, so float rounding of the edges cannot move them.
    x = (np.floor(rng.uniform(-12, 12, 5000)) + 0.5).astype(np.float32)
    x[:3] = [np.nan, -100, 100]
    want, _ = np.histogram(x[3:], bins=10, range=(-10, 10))
    got = qor_lib.histogram(x, 10, -10, 10)
    assert got.dtype == np.uint32
    np.testing.assert_array_equal(got, want)
    s = rng.integers(-300, 300, 4000).astype(np.int16)
    counts = np.zeros(6, np.uint32)
    assert qor_lib.histogram(s, 6, -300, 300, counts=counts) is counts  # written in place
    np.testing.assert_array_equal(counts, np.histogram(s, bins=6, range=(-300, 300))[0])
    with pytest.raises(ValueError):
        qor_lib.histogram(s, 6, -300, 300, counts=np.zeros(6, np.int32))


def test_test_signal():
    noise = qor_lib.test_rand(1000, 0, 0, 0)
    assert noise.dtype == np.float32 and noise.min() >= -5 and noise.max() <= 5 and noise.std() > 2.5
    np.testing.assert_allclose(noise[:4], [-3.00946307, -3.36928678, -0.902102768, -2.62009454], rtol=1e-6)
    i = np.arange(1000, dtype=np.float64)
    signal = qor_lib.test_rand(1000, 0.01, -2, 30)
    np.testing.assert_allclose(signal - noise, 0.01 * i * i - 2 * i + 30, rtol=1e-5, atol=1e-3)
    np.testing.assert_array_equal(qor_lib.test_rand(1000, 0.01, -2, 30), signal)  # the seed is fixed
    with pytest.raises(qor_lib.FormatError):
        qor_lib.test_rand(10, 1, 1, 1, dtype=np.float64)


def test_quadratic_fit():
    exact = qor_lib.quadratic_plot(300, 0.02, -3.0, 40.0)
    np.testing.assert_allclose(qor_lib.quadratic_fit(exact), (0.02, -3.0, 40.0), rtol=1e-3)
    noisy = qor_lib.test_rand(3000, 0.001, 0.5, -20)
    a, b, c = qor_lib.quadratic_fit(noisy)
    assert abs(a - 0.001) < 1e-5 and abs(b - 0.5) < 0.02 and abs(c + 20) < 1
    out = np.full(5, 9, np.float32)
    qor_lib.quadratic_fit(exact, out=out)  # written into the caller's array
    np.testing.assert_allclose(out[:3], (0.02, -3.0, 40.0), rtol=1e-3)
    with pytest.raises(qor_lib.LengthError):
        qor_lib.quadratic_fit(exact, out=np.zeros(3, np.float32))


def test_gaussian_fit():
    # 1 + y exactly Gaussian: the fit gives back its parameters.
    x0, dx, n = -1.0, 0.025, 200
    x = x0 + dx * np.arange(n)
    y = (3.0 * np.exp(-((x - 1.25) ** 2) / (2 * 0.7**2)) - 1).astype(np.float32)
    np.testing.assert_allclose(qor_lib.gaussian_fit(y, x0, dx), (1.25, 0.7, 3.0), rtol=2e-3)
    for dtype in (np.int32, np.uint32):  # counts: 1 + y is within 1% of the bell where it matters
        counts = np.rint(1000 * np.exp(-((np.arange(100) - 40.0) ** 2) / (2 * 30.0**2))).astype(dtype)
        c, s, a = qor_lib.gaussian_fit(counts)
        assert abs(c - 40) < 0.5 and abs(s - 30) < 0.5 and abs(a - 1000) < 10, (c, s, a)
    upward = (np.exp(0.01 * (np.arange(50) - 25.0) ** 2) - 1).astype(np.float32)  # ln(1 + y) opens upward
    c, s, a = qor_lib.gaussian_fit(upward)
    assert np.isnan(s)
    with pytest.raises(qor_lib.FormatError):
        qor_lib.gaussian_fit(np.ones(50, np.float64))
