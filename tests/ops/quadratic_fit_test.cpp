#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "qor_lib.h"
#include "support/capture.hpp"
#include "support/random_model.hpp"

using qor::test::stdout_of;

namespace {

struct array_guard {
    qor_handle h = -1;
    array_guard() { EXPECT_EQ(qor_create_array(&h), qor_ok); }
    array_guard(int64_t n, qor_data_format f) : array_guard() { EXPECT_EQ(qor_init_array(h, n, f), qor_ok); }
    ~array_guard() {
        if (h >= 0) qor_destroy_array(h);
    }
    float* f() const {
        void* p = nullptr;
        qor_get_buf(h, &p);
        return static_cast<float*>(p);
    }
};

// Samples of a parabola in a fresh array, and the fit of them into a 4-element destination
// whose element 3 holds a marker.
struct fit_result {
    qor_status status;
    float a, b, c, marker;
};
fit_result fit(const std::vector<float>& y) {
    array_guard src(int64_t(y.size()), qor_fmt_32f), dst(4, qor_fmt_32f);
    std::copy(y.begin(), y.end(), src.f());
    dst.f()[3] = 77.0f;
    const qor_status st = qor_quadratic_fit(src.h, dst.h);
    return {st, dst.f()[0], dst.f()[1], dst.f()[2], dst.f()[3]};
}

std::vector<float> parabola(int n, float a, float b, float c) {
    std::vector<float> y(n);
    for (int i = 0; i < n; ++i) y[i] = float(a * double(i) * i + b * double(i) + c);
    return y;
}

}  // namespace

TEST(QuadraticFit, ExactParabolas) {
    fit_result r = fit({1, 4, 9});
    EXPECT_EQ(r.status, qor_ok);
    EXPECT_EQ(r.a, 1.0f);
    EXPECT_EQ(r.b, 2.0f);
    EXPECT_EQ(r.c, 1.0f);
    EXPECT_EQ(r.marker, 77.0f);

    r = fit(parabola(300, 2, -3, 5));
    EXPECT_EQ(r.status, qor_ok);
    EXPECT_FLOAT_EQ(r.a, 2.0f);
    EXPECT_FLOAT_EQ(r.b, -3.0f);
    EXPECT_NEAR(r.c, 5.0f, 1e-4);

    // n = 7: blocks of two, and the last sample enters only the mean residual.
    std::vector<float> y = parabola(7, 0.5f, 1.0f, -2.0f);
    r = fit(y);
    EXPECT_EQ(r.a, 0.5f);
    EXPECT_EQ(r.b, 1.0f);
    EXPECT_EQ(r.c, -2.0f);
    y[6] += 7.0f;
    const fit_result moved = fit(y);
    EXPECT_EQ(moved.a, 0.5f);
    EXPECT_EQ(moved.b, 1.0f);
    EXPECT_EQ(moved.c, -1.0f);

    r = fit(std::vector<float>(1000, -3.25f));
    EXPECT_EQ(r.a, 0.0f);
    EXPECT_EQ(r.b, 0.0f);
    EXPECT_EQ(r.c, -3.25f);
}

TEST(QuadraticFit, RefusalsInOrder) {
    array_guard src(10, qor_fmt_32f), dst(4, qor_fmt_32f), short_dst(3, qor_fmt_32f), wide_dst(4, qor_fmt_64f),
        src16(10, qor_fmt_16s), empty;
    EXPECT_EQ(qor_quadratic_fit(-1, dst.h), qor_err_handle);
    EXPECT_EQ(qor_quadratic_fit(src.h, 1 << 30), qor_err_handle);
    EXPECT_EQ(qor_quadratic_fit(empty.h, dst.h), qor_err_invalid);
    EXPECT_EQ(qor_quadratic_fit(src.h, empty.h), qor_err_invalid);
    EXPECT_EQ(qor_quadratic_fit(src.h, short_dst.h), qor_err_length);
    EXPECT_EQ(qor_quadratic_fit(src16.h, short_dst.h), qor_err_length);
    EXPECT_EQ(qor_quadratic_fit(src.h, wide_dst.h), qor_err_format);
    EXPECT_EQ(qor_quadratic_fit(src16.h, dst.h), qor_err_format);

    // Two samples make empty blocks: the first kernel refuses the length, the rest is untouched.
    array_guard two(2, qor_fmt_32f);
    for (int i = 0; i < 4; ++i) dst.f()[i] = 9.0f;
    qor_status st = 0;
    EXPECT_EQ(stdout_of([&] { st = qor_quadratic_fit(two.h, dst.h); }), "KRN function failed,return value -6.\n");
    EXPECT_EQ(st, qor_err_kernel);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(dst.f()[i], 9.0f);
}

TEST(TestRand, NoiseFromTheFixedSeedPlusTheCurve) {
    array_guard t(1000, qor_fmt_32f), u(1000, qor_fmt_32f);
    ASSERT_EQ(qor_test_rand(t.h, 0, 0, 0), qor_ok);
    EXPECT_EQ(t.f()[0], -3.00946307f);
    EXPECT_EQ(t.f()[1], -3.36928678f);
    EXPECT_EQ(t.f()[2], -0.902102768f);
    EXPECT_EQ(t.f()[3], -2.62009454f);
    const std::vector<float> noise = qor::test::model_uniform(60138, -5.0f, 5.0f, 1000);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(t.f()[i], noise[i]);
    ASSERT_EQ(qor_test_rand(u.h, 0, 1, 0), qor_ok);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(u.f()[i], noise[i] + float(i));
    ASSERT_EQ(qor_test_rand(t.h, 0, 1, 0), qor_ok);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(t.f()[i], u.f()[i]);

    array_guard wrong(8, qor_fmt_64f), empty;
    EXPECT_EQ(qor_test_rand(wrong.h, 1, 2, 3), qor_err_format);
    EXPECT_EQ(qor_test_rand(empty.h, 1, 2, 3), qor_err_invalid);
    EXPECT_EQ(qor_test_rand(-2, 1, 2, 3), qor_err_handle);
}

TEST(TestRand, FitRecoversCoefficientsWithinTheNoise) {
    // Uniform noise on [-5, 5] has variance 25/3. With m = n/3 samples per block, the mean second
    // difference has variance 6 (25/3) / m, so a = s / (2 m^2) scatters by sqrt(50 / m) / (2 m^2);
    // b scatters by about sqrt(2 (25/3) / m) / (2m) plus a's share; c by about sqrt(25/3 / n) plus
    // the shares of a and b. Allow six standard deviations, and the single-precision rounding of
    // samples that grow to a n^2.
    struct coefs {
        float a, b, c;
    };
    for (coefs k : {coefs{0.001f, 0.5f, 10.0f}, coefs{-0.0003f, 2.0f, -40.0f}, coefs{0.0f, 0.0f, 1.0f}}) {
        for (int n : {300, 3000, 30000}) {
            array_guard t(n, qor_fmt_32f), dst(4, qor_fmt_32f);
            ASSERT_EQ(qor_test_rand(t.h, k.a, k.b, k.c), qor_ok);
            ASSERT_EQ(qor_quadratic_fit(t.h, dst.h), qor_ok);
            const double m = n / 3, sigma2 = 25.0 / 3.0;
            const double peak = std::fabs(k.a) * double(n) * n + std::fabs(k.b) * n + std::fabs(k.c) + 5;
            const double rounding = peak * 0x1p-23;
            const double sa = std::sqrt(6 * sigma2 / m) / (2 * m * m) + 4 * rounding / (m * m);
            const double sb = std::sqrt(2 * sigma2 / m) / (2 * m) + sa * 4 * m + 2 * rounding / m;
            const double sc = std::sqrt(sigma2 / n) + sa * double(n) * n / 3 + sb * n / 2 + rounding;
            EXPECT_NEAR(dst.f()[0], k.a, 6 * sa) << n;
            EXPECT_NEAR(dst.f()[1], k.b, 6 * sb) << n;
            EXPECT_NEAR(dst.f()[2], k.c, 6 * sc) << n;
        }
    }
}
