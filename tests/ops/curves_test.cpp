#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "ops/curves.hpp"
#include "qor_lib.h"
#include "support/capture.hpp"
#include "support/handles.hpp"
#include "support/ramp_model.hpp"
#include "support/ulp.hpp"

using qor::test::handle_array;
using qor::test::ramp_model;
using qor::test::stdout_of;

namespace {

const float inf = std::numeric_limits<float>::infinity();

std::vector<float> values(const handle_array& a, int n) {
    return std::vector<float>(a.data<float>(), a.data<float>() + n);
}

}  // namespace

TEST(QuadraticPlot, FollowsTheKernelChainBitForBitAndTheZeroShortcut) {
    const int n = 1037;
    handle_array dst(n, qor_fmt_32f);
    const float a = 0.37f, b = -1.3f, c = 2.1f, x0 = -3.7f, dx = 0.013f;
    ASSERT_EQ(qor_quadratic_plot(dst, a, b, c, x0, dx), qor_ok);
    const auto x = ramp_model(n, 0, x0, dx);
    const float* y = dst.data<float>();
    for (int i = 0; i < n; ++i) {
        const float ax = a * x[i], axb = ax + b, axbx = axb * x[i];
        ASSERT_EQ(std::bit_cast<uint32_t>(y[i]), std::bit_cast<uint32_t>(axbx + c)) << i;
    }
    // a = 0: the multiply-by-0 shortcut gives exact zeros even for infinite abscissae.
    ASSERT_EQ(qor_quadratic_plot(dst, 0, 2, 1, -inf, 1), qor_ok);
    for (float v : values(dst, 6)) EXPECT_EQ(v, -inf);
    ASSERT_EQ(qor_quadratic_plot(dst, 0, 2, 1, 0, 1), qor_ok);
    EXPECT_EQ(values(dst, 6), (std::vector<float>{1, 3, 5, 7, 9, 11}));
}

TEST(Plots, CheckHandleDataAndFormat) {
    qor::test::expect_single_checks([](qor_handle h) { return qor_quadratic_plot(h, 1, 0, 0, 0, 1); }, qor_fmt_64f);
    qor::test::expect_single_checks([](qor_handle h) { return qor_gaussian_plot(h, 0, 1, 1, 0, 1); }, qor_fmt_16u);
    qor::test::expect_single_checks([](qor_handle h) { return qor_sin_plot(h, 0.1f, 1, 0, 0); }, qor_fmt_64f);
}

TEST(CurveWorkers, CheckDestinationThenCoefficients) {
    ary dst, coef, shortcoef, widecoef, none;
    dst.init(8, qor_fmt_32f);
    qor::ops::make_coefficients(coef, 1, 2, 3);
    ASSERT_EQ(coef.size, 4);
    EXPECT_EQ(static_cast<float*>(coef.frame_buf)[3], 0.0f);
    shortcoef.init(3, qor_fmt_32f);
    widecoef.init(4, qor_fmt_64f);
    for (auto worker : {qor::ops::quadratic_curve, qor::ops::gaussian_curve}) {
        EXPECT_EQ(worker(none, none, 0, 1), qor_err_invalid);
        EXPECT_EQ(worker(dst, none, 0, 1), qor_err_invalid);
        EXPECT_EQ(worker(dst, shortcoef, 0, 1), qor_err_length);
        EXPECT_EQ(worker(dst, widecoef, 0, 1), qor_err_format);
        EXPECT_EQ(worker(dst, coef, 0, 1), qor_ok);
    }
    // The quadratic worker reads only the first three coefficients.
    static_cast<float*>(coef.frame_buf)[3] = 99;
    ASSERT_EQ(qor::ops::quadratic_curve(dst, coef, 1, 1), qor_ok);
    EXPECT_EQ(static_cast<float*>(dst.frame_buf)[1], (2 + 2) * 2 + 3.0f);
}

TEST(GaussianPlot, WorkedExamplesUnderflowAndDegenerateWidths) {
    handle_array dst(101, qor_fmt_32f);
    qor_status st;
    std::string out = stdout_of([&] { st = qor_gaussian_plot(dst, 0, 1, 2, -1, 1); });
    EXPECT_EQ(st, qor_ok);
    EXPECT_EQ(out, "KRN function failed,return value 17.\n");  // the far tail underflows
    const float e = std::exp(-0.5f);
    EXPECT_EQ(values(dst, 3), (std::vector<float>{2 * e, 2, 2 * e}));

    out = stdout_of([&] { st = qor_gaussian_plot(dst, 0, 0.1f, 1, -5, 0.1f); });
    EXPECT_EQ(st, qor_ok);
    EXPECT_EQ(out, "KRN function failed,return value 17.\n");
    EXPECT_EQ(dst.data<float>()[0], 0.0f);
    EXPECT_NEAR(dst.data<float>()[50], 1.0f, 1e-5f);

    ASSERT_EQ(qor_gaussian_plot(dst, 2, 0, 1, 0, 1), qor_ok);
    for (int i = 0; i < 6; ++i) {
        if (i == 2)
            EXPECT_TRUE(std::isnan(dst.data<float>()[i]));
        else
            EXPECT_EQ(dst.data<float>()[i], 0.0f) << i;
    }
    ASSERT_EQ(qor_gaussian_plot(dst, 2, 0, 0, 0, 1), qor_ok);  // height 0: zeros, even at the NaN
    for (float v : values(dst, 101)) EXPECT_EQ(std::bit_cast<uint32_t>(v), 0u);

}

TEST(SinPlot, QuarterCyclesPhaseAndThresholds) {
    handle_array dst(2000, qor_fmt_32f);
    ASSERT_EQ(qor_sin_plot(dst, 0.25f, 1, 0, 0), qor_ok);
    const float want[] = {0, 1, 0, -1, 0, 1};
    for (int i = 0; i < 6; ++i) EXPECT_NEAR(dst.data<float>()[i], want[i], 1e-6f) << i;
    // Element by element: sin of the single-precision angle i w + phi, within the kernel's 0.61 ulp.
    const float w = 0.013f * 6.2831855f, phi = (33.0f / 180.0f) * 3.1415927f;
    ASSERT_EQ(qor_sin_plot(dst, 0.013f, 1, 0, 33), qor_ok);
    for (int i = 0; i < 2000; ++i) {
        const float angle = float(i) * w + phi;
        ASSERT_LE(qor::test::ulp_error(dst.data<float>()[i], double(qor::test::reference_sin(angle))), 0.61) << i;
    }
    ASSERT_EQ(qor_sin_plot(dst, 0.25f, 1, 0, 90), qor_ok);
    const float shifted[] = {1, 0, -1, 0};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(dst.data<float>()[i], shifted[i], 1e-6f) << i;

    ASSERT_EQ(qor_sin_plot(dst, 0.1f, 1, 0, 5e-6f), qor_ok);  // phase below 1e-7 rad
    const auto plain = values(dst, 50);
    ASSERT_EQ(qor_sin_plot(dst, 0.1f, 1, 0, 0), qor_ok);
    EXPECT_EQ(values(dst, 50), plain);
    ASSERT_EQ(qor_sin_plot(dst, 0.1f, 1, 5e-8f, 0), qor_ok);
    EXPECT_EQ(values(dst, 50), plain);
    ASSERT_EQ(qor_sin_plot(dst, 0.1f, 1, 2e-7f, 0), qor_ok);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(dst.data<float>()[i], plain[i] + 2e-7f);
}

TEST(SinPlot, InfiniteFrequencyWarns) {
    handle_array dst(20, qor_fmt_32f);
    qor_status st;
    const std::string out = stdout_of([&] { st = qor_sin_plot(dst, inf, 1, 0, 0); });
    EXPECT_EQ(st, qor_ok);
    EXPECT_EQ(out, "KRN function failed,return value 19.\n");
    for (float v : values(dst, 20)) EXPECT_TRUE(std::isnan(v));
}
