#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "qor_lib.h"
#include "support/capture.hpp"
#include "support/handles.hpp"
#include "support/random_model.hpp"

using qor::test::handle_array;
using qor::test::expect_outcome;
using qor::test::stdout_of;

namespace {

// Samples of a parabola in a fresh array, and the fit of them into a 4-element destination
// whose element 3 holds a marker.
struct fit_result {
    qor_status status;
    float a, b, c, marker;
};
fit_result fit(const std::vector<float>& y) {
    handle_array src(qor_fmt_32f, y), dst(qor_fmt_32f, std::vector<float>{0, 0, 0, 77});
    const qor_status st = qor_quadratic_fit(src, dst);
    const float* r = dst.data<float>();
    return {st, r[0], r[1], r[2], r[3]};
}

std::vector<float> parabola(int n, float a, float b, float c) {
    std::vector<float> y(n);
    for (int i = 0; i < n; ++i) y[i] = float(a * double(i) * i + b * double(i) + c);
    return y;
}

}  // namespace

TEST(QuadraticFit, ExactParabolas) {
    auto expect_fit = [](const fit_result& r, float a, float b, float c) {
        EXPECT_EQ(r.status, qor_ok);
        EXPECT_EQ(r.marker, 77.0f);
        EXPECT_EQ(std::vector<float>({r.a, r.b, r.c}), std::vector<float>({a, b, c}));
    };
    expect_fit(fit({1, 4, 9}), 1, 2, 1);
    const fit_result r = fit(parabola(300, 2, -3, 5));
    EXPECT_FLOAT_EQ(r.a, 2.0f);
    EXPECT_FLOAT_EQ(r.b, -3.0f);
    EXPECT_NEAR(r.c, 5.0f, 1e-4);
    // n = 7: blocks of two, and the last sample enters only the mean residual.
    std::vector<float> y = parabola(7, 0.5f, 1.0f, -2.0f);
    expect_fit(fit(y), 0.5f, 1, -2);
    y[6] += 7.0f;
    expect_fit(fit(y), 0.5f, 1, -1);
    expect_fit(fit(std::vector<float>(1000, -3.25f)), 0, 0, -3.25f);
}

TEST(QuadraticFit, RefusalsInOrder) {
    handle_array src(10, qor_fmt_32f), dst(4, qor_fmt_32f), short_dst(3, qor_fmt_32f), wide_dst(4, qor_fmt_64f),
        src16(10, qor_fmt_16s), empty;
    EXPECT_EQ(qor_quadratic_fit(-1, dst), qor_err_handle);
    EXPECT_EQ(qor_quadratic_fit(src, 1 << 30), qor_err_handle);
    EXPECT_EQ(qor_quadratic_fit(empty, dst), qor_err_invalid);
    EXPECT_EQ(qor_quadratic_fit(src, empty), qor_err_invalid);
    EXPECT_EQ(qor_quadratic_fit(src, short_dst), qor_err_length);
    EXPECT_EQ(qor_quadratic_fit(src16, short_dst), qor_err_length);
    EXPECT_EQ(qor_quadratic_fit(src, wide_dst), qor_err_format);
    EXPECT_EQ(qor_quadratic_fit(src16, dst), qor_err_format);

    // Two samples make empty blocks: the first kernel refuses the length, the rest is untouched.
    handle_array two(2, qor_fmt_32f);
    dst.fill(std::vector<float>(4, 9.0f));
    expect_outcome([&] { return qor_quadratic_fit(two, dst); }, qor_err_kernel,
                   "KRN function failed,return value -6.\n");
    EXPECT_EQ(dst.values<float>(), std::vector<float>(4, 9.0f));
}

TEST(TestRand, NoiseFromTheFixedSeedPlusTheCurve) {
    handle_array t(1000, qor_fmt_32f), u(1000, qor_fmt_32f);
    ASSERT_EQ(qor_test_rand(t, 0, 0, 0), qor_ok);
    const std::vector<float> noise = qor::test::model_uniform(60138, -5.0f, 5.0f, 1000);
    EXPECT_EQ(t.values<float>(), noise);
    ASSERT_EQ(qor_test_rand(u, 0, 1, 0), qor_ok);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(u.data<float>()[i], noise[i] + float(i));
    ASSERT_EQ(qor_test_rand(t, 0, 1, 0), qor_ok);
    EXPECT_EQ(t.values<float>(), u.values<float>());
    qor::test::expect_single_checks([](qor_handle h) { return qor_test_rand(h, 1, 2, 3); }, qor_fmt_64f);
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
            handle_array t(n, qor_fmt_32f), dst(4, qor_fmt_32f);
            ASSERT_EQ(qor_test_rand(t, k.a, k.b, k.c), qor_ok);
            ASSERT_EQ(qor_quadratic_fit(t, dst), qor_ok);
            const double m = n / 3, sigma2 = 25.0 / 3.0;
            const double peak = std::fabs(k.a) * double(n) * n + std::fabs(k.b) * n + std::fabs(k.c) + 5;
            const double rounding = peak * 0x1p-23;
            const double sa = std::sqrt(6 * sigma2 / m) / (2 * m * m) + 4 * rounding / (m * m);
            const double sb = std::sqrt(2 * sigma2 / m) / (2 * m) + sa * 4 * m + 2 * rounding / m;
            const double sc = std::sqrt(sigma2 / n) + sa * double(n) * n / 3 + sb * n / 2 + rounding;
            EXPECT_NEAR(dst.data<float>()[0], k.a, 6 * sa) << n;
            EXPECT_NEAR(dst.data<float>()[1], k.b, 6 * sb) << n;
            EXPECT_NEAR(dst.data<float>()[2], k.c, 6 * sc) << n;
        }
    }
}
