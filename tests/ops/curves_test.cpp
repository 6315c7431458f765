#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/bits.hpp"
#include "support/handles.hpp"

using namespace qor::test;

// (a x + b) x + c, one rounding per kernel of the chain, over the ramp the ramp kernel writes;
// with a = 0 the multiply-by-0 gives exact zeros even for infinite abscissae.
TEST(QuadraticPlot, FollowsTheKernelChainBitForBit) {
    const int n = 1037;
    const float a = 0.37f, b = -1.3f, c = 2.1f, x0 = -3.7f, dx = 0.013f;
    handle_array dst(n, qor_fmt_32f), x(n, qor_fmt_32f);
    ASSERT_EQ(qor_quadratic_plot(dst, a, b, c, x0, dx), qor_ok);
    ASSERT_EQ(qor_vector_slope(x, x0, dx), qor_ok);
    for (int i = 0; i < n; ++i) {
        const float xi = x.data<float>()[i], ax = a * xi, axb = ax + b, axbx = axb * xi;
        ASSERT_EQ(bits_of(dst.data<float>()[i]), bits_of(axbx + c)) << i;
    }
    ASSERT_EQ(qor_quadratic_plot(x, 0, 2, 1, -INFINITY, 1), qor_ok);
    EXPECT_EQ(x.data<float>()[5], -INFINITY);
    ASSERT_EQ(qor_quadratic_plot(x, 0, 2, 1, 0, 1), qor_ok);
    EXPECT_EQ(std::vector<float>(x.data<float>(), x.data<float>() + 4), (std::vector<float>{1, 3, 5, 7}));
}

TEST(Curves, CheckHandleDataAndFormat) {
    expect_single_checks([](qor_handle h) { return qor_quadratic_plot(h, 1, 0, 0, 0, 1); }, qor_fmt_64f);
    expect_single_checks([](qor_handle h) { return qor_gaussian_plot(h, 0, 1, 1, 0, 1); }, qor_fmt_16u);
    expect_single_checks([](qor_handle h) { return qor_sin_plot(h, 0.1f, 1, 0, 0); }, qor_fmt_64f);
}

TEST(GaussianPlot, UnderflowWarnsAndDegenerateWidths) {
    handle_array dst(101, qor_fmt_32f);
    expect_outcome([&] { return qor_gaussian_plot(dst, 0, 1, 2, -1, 1); }, qor_ok, report_line(17));  // far tail
    const float e = std::exp(-0.5f);
    EXPECT_EQ(std::vector<float>(dst.data<float>(), dst.data<float>() + 3), (std::vector<float>{2 * e, 2, 2 * e}));
    ASSERT_EQ(qor_gaussian_plot(dst, 2, 0, 1, 0, 1), qor_ok);  // width 0: NaN at the centre, 0 elsewhere
    EXPECT_EQ(dst.data<float>()[1], 0.0f);
    EXPECT_TRUE(std::isnan(dst.data<float>()[2]));
    ASSERT_EQ(qor_gaussian_plot(dst, 2, 0, 0, 0, 1), qor_ok);  // height 0: zeros, even at the NaN
    EXPECT_EQ(dst.values<uint32_t>(), std::vector<uint32_t>(101, 0));
}

// Quarter cycles and the phase in degrees; phases below 1e-7 rad and offsets up to 1e-7 are left
// out of the chain; an infinite frequency warns and gives NaN.
TEST(SinPlot, QuarterCyclesPhaseAndThresholds) {
    handle_array dst(50, qor_fmt_32f);
    const auto first = [&](int n) { return std::vector<float>(dst.data<float>(), dst.data<float>() + n); };
    ASSERT_EQ(qor_sin_plot(dst, 0.25f, 2, 0, 90), qor_ok);
    const float shifted[] = {2, 0, -2, 0};
    for (int i = 0; i < 4; ++i) EXPECT_NEAR(dst.data<float>()[i], shifted[i], 2e-6f) << i;
    ASSERT_EQ(qor_sin_plot(dst, 0.1f, 1, 0, 0), qor_ok);
    const auto plain = first(50);
    ASSERT_EQ(qor_sin_plot(dst, 0.1f, 1, 0, 5e-6f), qor_ok);
    EXPECT_EQ(first(50), plain);
    ASSERT_EQ(qor_sin_plot(dst, 0.1f, 1, 1e-7f, 0), qor_ok);
    EXPECT_EQ(first(50), plain);
    ASSERT_EQ(qor_sin_plot(dst, 0.1f, 1, 2e-7f, 0), qor_ok);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(dst.data<float>()[i], plain[size_t(i)] + 2e-7f);
    expect_outcome([&] { return qor_sin_plot(dst, INFINITY, 1, 0, 0); }, qor_ok, report_line(19));
    EXPECT_TRUE(std::isnan(dst.data<float>()[49]));
}
