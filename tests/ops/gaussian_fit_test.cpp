#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/handles.hpp"
#include "support/ulp.hpp"

using namespace qor::test;

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

// A bell gives its parameters back; integer samples go through the signed conversion, so both
// integer formats fit as their float values do.
TEST(GaussianFit, WorkedValuesAndIntegerSources) {
    fit f = run_fit(bell(21, -5, 0.5f, 0, 5), qor_fmt_32f, -5, 0.5f);
    EXPECT_EQ(f.status, qor_ok);
    EXPECT_EQ(f.printed, "");
    EXPECT_NEAR(f.centre, 0.0f, 1e-6f);
    EXPECT_LE(ulp_error(f.sigma, 5.0), 4);
    EXPECT_LE(ulp_error(f.amplitude, 100.0), 4);

    std::vector<int32_t> y;
    for (int i = 0; i < 31; ++i) y.push_back(int32_t(std::lround(5000 * std::exp(-(i - 14.5) * (i - 14.5) / 60.0))));
    const fit want = run_fit(std::vector<float>(y.begin(), y.end()), qor_fmt_32f, 2, 0.25f);
    for (qor_data_format fmt : {qor_fmt_32s, qor_fmt_32u}) {
        const fit got = run_fit(y, fmt, 2, 0.25f);
        EXPECT_EQ(got.status, qor_ok);
        EXPECT_EQ(std::vector<float>({got.centre, got.sigma, got.amplitude}),
                  std::vector<float>({want.centre, want.sigma, want.amplitude}));
    }
}

// Failures deliver zeros, handle failures write nothing; a NaN sigma (a parabola opening upward)
// and a warning of the logarithm are not failures.
TEST(GaussianFit, FailuresDeliverZerosNonFiniteResultsDoNot) {
    const struct {
        fit f;
        qor_status status;
        std::string printed;
    } failures[] = {{run_fit(std::vector<uint16_t>(21, 3), qor_fmt_16u, 0, 1), qor_err_format, ""},
                    {run_fit(std::vector<float>{1.0f, 2.0f}, qor_fmt_32f, 0, 1), qor_err_kernel, report_line(-6)},
                    {run_fit(bell(21, 0, 1, 10, 5), qor_fmt_32f, 0, 0), qor_err_kernel, report_line(-10)}};
    for (const auto& r : failures) {
        EXPECT_EQ(r.f.status, r.status);
        EXPECT_EQ(r.f.printed, r.printed);
        EXPECT_EQ(std::vector<float>({r.f.centre, r.f.sigma, r.f.amplitude}), std::vector<float>(3, 0.0f));
    }
    float c = 7, s = 7, a = 7;
    EXPECT_EQ(qor_gaussian_fit(-1, 0, 1, &c, &s, &a), qor_err_handle);
    qor_handle h;
    ASSERT_EQ(qor_create_array(&h), qor_ok);
    EXPECT_EQ(qor_gaussian_fit(h, 0, 1, &c, &s, &a), qor_err_invalid);  // no data: the worker's refusal
    EXPECT_EQ(c, 0.0f);
    qor_destroy_array(h);
    c = 7;
    EXPECT_EQ(qor_gaussian_fit(h, 0, 1, &c, &s, &a), qor_err_invalid);  // freed handle: nothing written
    EXPECT_EQ(c, 7.0f);

    std::vector<float> y;
    for (int i = 0; i < 15; ++i) y.push_back(float(std::exp(i * i / 100.0) - 1));
    fit f = run_fit(y, qor_fmt_32f, 0, 1);
    EXPECT_EQ(f.status, qor_ok);
    EXPECT_TRUE(std::isnan(f.sigma) && std::isfinite(f.centre));
    y[3] = -1;
    f = run_fit(y, qor_fmt_32f, 0, 1);
    EXPECT_EQ(f.status, qor_ok);
    EXPECT_EQ(f.printed.rfind(report_line(18), 0), 0u);
}
