#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "ops/gaussian_fit.hpp"
#include "support/capture.hpp"
#include "support/handles.hpp"
#include "support/log_models.hpp"

using qor::test::handle_array;
using qor::test::stdout_of;

namespace {

struct fit {
    qor_status status = 99;
    float centre = -1, sigma = -1, amplitude = -1;
    std::string printed;
};

template <class T>
fit run_fit(const std::vector<T>& y, qor_data_format fmt, float x0, float dx) {
    const handle_array h(fmt, y);
    fit f;
    f.printed = stdout_of([&] { f.status = qor_gaussian_fit(h, x0, dx, &f.centre, &f.sigma, &f.amplitude); });
    EXPECT_EQ(h.values<T>(), y) << "the source is never written";
    return f;
}

// 1 + y is a Gaussian of centre mu, sigma s and peak 100 on the grid x0 + dx*i.
std::vector<float> bell(int n, float x0, float dx, double mu, double s) {
    std::vector<float> y;
    for (int i = 0; i < n; ++i) {
        const double x = x0 + dx * i;
        y.push_back(float(100 * std::exp(-(x - mu) * (x - mu) / (2 * s * s)) - 1));
    }
    return y;
}

}  // namespace

TEST(GaussianFit, WorkedValues) {
    fit f = run_fit(bell(21, 0, 1, 10, 5), qor_fmt_32f, 0, 1);
    EXPECT_EQ(f.status, qor_ok);
    EXPECT_EQ(f.printed, "");
    EXPECT_LE(qor::test::ulp_error(f.centre, 10.0L), 4);
    EXPECT_LE(qor::test::ulp_error(f.sigma, 5.0L), 4);
    EXPECT_LE(qor::test::ulp_error(f.amplitude, 100.0L), 4);

    f = run_fit(bell(21, -5, 0.5f, 0, 5), qor_fmt_32f, -5, 0.5f);
    EXPECT_EQ(f.status, qor_ok);
    EXPECT_NEAR(f.centre, 0.0f, 1e-6f);
    EXPECT_LE(qor::test::ulp_error(f.sigma, 5.0L), 4);
    EXPECT_LE(qor::test::ulp_error(f.amplitude, 100.0L), 4);
}

// Integer samples go through the signed conversion: both formats fit as their float values do.
TEST(GaussianFit, IntegerSourcesMatchTheirFloatValues) {
    std::vector<int32_t> y;
    std::vector<float> yf;
    for (int i = 0; i < 31; ++i) {
        y.push_back(int32_t(std::lround(5000 * std::exp(-(i - 14.5) * (i - 14.5) / 60.0))));
        yf.push_back(float(y.back()));
    }
    const fit want = run_fit(yf, qor_fmt_32f, 2, 0.25f);
    for (qor_data_format fmt : {qor_fmt_32s, qor_fmt_32u}) {
        const fit got = run_fit(y, fmt, 2, 0.25f);
        EXPECT_EQ(got.status, qor_ok);
        EXPECT_EQ(got.centre, want.centre);
        EXPECT_EQ(got.sigma, want.sigma);
        EXPECT_EQ(got.amplitude, want.amplitude);
    }
    EXPECT_NEAR(want.centre, 2 + 0.25f * 14.5f, 1e-3f);
}

// Failures deliver zeros; handle failures write nothing.
TEST(GaussianFit, FailuresDeliverZeros) {
    fit f = run_fit(std::vector<uint16_t>(21, 3), qor_fmt_16u, 0, 1);
    EXPECT_EQ(f.status, qor_err_format);
    EXPECT_EQ(f.centre, 0.0f);
    EXPECT_EQ(f.sigma, 0.0f);
    EXPECT_EQ(f.amplitude, 0.0f);

    f = run_fit(std::vector<float>{1.0f, 2.0f}, qor_fmt_32f, 0, 1);
    EXPECT_EQ(f.status, qor_err_kernel);
    EXPECT_EQ(f.printed, "KRN function failed,return value -6.\n");
    EXPECT_EQ(f.centre + f.sigma + f.amplitude, 0.0f);

    f = run_fit(bell(21, 0, 1, 10, 5), qor_fmt_32f, 0, 0);
    EXPECT_EQ(f.status, qor_err_kernel);
    EXPECT_EQ(f.printed, "KRN function failed,return value -10.\n");
    EXPECT_EQ(f.centre + f.sigma + f.amplitude, 0.0f);

    float c = 7, s = 7, a = 7;
    EXPECT_EQ(qor_gaussian_fit(-1, 0, 1, &c, &s, &a), qor_err_handle);
    qor_handle h;
    ASSERT_EQ(qor_create_array(&h), qor_ok);
    EXPECT_EQ(qor_gaussian_fit(h, 0, 1, &c, &s, &a), qor_err_invalid);  // no data: the worker's -32
    EXPECT_EQ(c, 0.0f);
    qor_destroy_array(h);
    c = 7;
    EXPECT_EQ(qor_gaussian_fit(h, 0, 1, &c, &s, &a), qor_err_invalid);  // freed handle: nothing written
    EXPECT_EQ(c, 7.0f);
}

// A parabola opening upward: NaN sigma with status 0; a sample of -1 warns and goes on.
TEST(GaussianFit, NonFiniteResultsAreNotFailures) {
    std::vector<float> y;
    for (int i = 0; i < 15; ++i) y.push_back(float(std::exp(i * i / 100.0) - 1));
    fit f = run_fit(y, qor_fmt_32f, 0, 1);
    EXPECT_EQ(f.status, qor_ok);
    EXPECT_TRUE(std::isnan(f.sigma));
    EXPECT_TRUE(std::isfinite(f.centre));

    y[3] = -1;
    f = run_fit(y, qor_fmt_32f, 0, 1);
    EXPECT_EQ(f.status, qor_ok);
    EXPECT_EQ(f.printed.rfind("KRN function failed,return value 18.\n", 0), 0u);
}

// The worker checks its 4-element single-precision destination.
TEST(GaussianFit, WorkerChecksTheDestination) {
    ary src, small, wrong;
    ASSERT_EQ(src.init(21, qor_fmt_32f), qor_ok);
    ASSERT_EQ(small.init(3, qor_fmt_32f), qor_ok);
    ASSERT_EQ(wrong.init(4, qor_fmt_64f), qor_ok);
    EXPECT_EQ(qor::ops::gaussian_fit_worker(src, small, 0, 1), qor_err_length);
    EXPECT_EQ(qor::ops::gaussian_fit_worker(src, wrong, 0, 1), qor_err_format);
}
