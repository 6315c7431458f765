#include <gtest/gtest.h>

#include <vector>

#include "support/handles.hpp"

using namespace qor::test;

namespace {

// The fit of y into a 4-element destination whose element 3 holds a marker the fit leaves alone.
std::vector<float> fit(const std::vector<float>& y) {
    handle_array src(qor_fmt_32f, y), dst(qor_fmt_32f, std::vector<float>{0, 0, 0, 77});
    EXPECT_EQ(qor_quadratic_fit(src, dst), qor_ok);
    return dst.values<float>();
}

std::vector<float> parabola(int n, float a, float b, float c) {
    std::vector<float> y(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) y[size_t(i)] = float(a * double(i) * i + b * double(i) + c);
    return y;
}

}  // namespace

TEST(QuadraticFit, ExactParabolas) {
    EXPECT_EQ(fit({1, 4, 9}), (std::vector<float>{1, 2, 1, 77}));
    const std::vector<float> r = fit(parabola(300, 2, -3, 5));
    EXPECT_FLOAT_EQ(r[0], 2.0f);
    EXPECT_FLOAT_EQ(r[1], -3.0f);
    EXPECT_NEAR(r[2], 5.0f, 1e-4);
    // n = 7: blocks of two, and the last sample enters only the mean residual.
    std::vector<float> y = parabola(7, 0.5f, 1.0f, -2.0f);
    EXPECT_EQ(fit(y), (std::vector<float>{0.5f, 1, -2, 77}));
    y[6] += 7.0f;
    EXPECT_EQ(fit(y), (std::vector<float>{0.5f, 1, -1, 77}));
    EXPECT_EQ(fit(std::vector<float>(1000, -3.25f)), (std::vector<float>{0, 0, -3.25f, 77}));
}

TEST(QuadraticFit, RefusalsInOrder) {
    handle_array src(10, qor_fmt_32f), dst(4, qor_fmt_32f), short_dst(3, qor_fmt_32f), wide_dst(4, qor_fmt_64f),
        src16(10, qor_fmt_16s), blank;
    const struct {
        qor_handle s, d;
        qor_status status;
    } rows[] = {{-1, dst, qor_err_handle},       {src, 1 << 30, qor_err_handle},   {blank, dst, qor_err_invalid},
                {src, blank, qor_err_invalid},   {src, short_dst, qor_err_length}, {src16, short_dst, qor_err_length},
                {src, wide_dst, qor_err_format}, {src16, dst, qor_err_format}};
    for (auto r : rows) expect_outcome([&] { return qor_quadratic_fit(r.s, r.d); }, r.status, "");
    // Two samples make empty blocks: the first kernel refuses the length, the rest is untouched.
    handle_array two(2, qor_fmt_32f);
    dst.fill(std::vector<float>(4, 9.0f));
    expect_outcome([&] { return qor_quadratic_fit(two, dst); }, qor_err_kernel, report_line(-6));
    EXPECT_EQ(dst.values<float>(), std::vector<float>(4, 9.0f));
}
