#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "qor_lib.h"
#include "support/capture.hpp"
#include "support/handles.hpp"

using qor::test::handle_array;
using qor::test::report_line;
using qor::test::expect_outcome;
using qor::test::stdout_of;

TEST(VectorSlope, FillsFloatAndSixteenBitArrays) {
    handle_array f(40, qor_fmt_32f);
    ASSERT_EQ(qor_vector_slope(f, 0, 1), qor_ok);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(f.data<float>()[i], float(i));
    ASSERT_EQ(qor_vector_slope(f, 5, 0), qor_ok);
    EXPECT_EQ(f.values<float>(), std::vector<float>(40, 5.0f));
    // Worked 16-bit rows: rounding, both saturated ends, constant fills.
    using u = std::vector<uint16_t>;
    const std::tuple<float, float, u> rows[] = {
        {2.5f, 0, u(10, 3)}, {-7, 0, u(10, 0)}, {70000, 0, u(10, 65535)}, {70000, 1, u(10, 65535)},
        {-10, -1, u(10, 0)}, {0, 0.5f, {0, 0, 1, 2, 2, 2, 3, 4, 4, 4}},
        {65000, 100, {65000, 65100, 65200, 65300, 65400, 65500, 65535, 65535, 65535, 65535}},
        {-250, 100, {0, 0, 0, 50, 150, 250, 350, 450, 550, 650}}};
    handle_array h(10, qor_fmt_16u);
    for (const auto& [b, s, want] : rows) {
        ASSERT_EQ(qor_vector_slope(h, b, s), qor_ok);
        EXPECT_EQ(h.values<uint16_t>(), want) << b << " " << s;
    }
}

TEST(VectorSlope, ChecksHandleDataLengthAndFormat) {
    for (qor_data_format f : {qor_fmt_64f, qor_fmt_16s})
        qor::test::expect_single_checks([](qor_handle h) { return qor_vector_slope(h, 0, 1); }, f);
    qor::test::expect_single_checks([](qor_handle h) { return qor_vector_tone(h, 1, 0.1f, 0); }, qor_fmt_16u);
    // A borrowed description of 2^31 - 1 elements: refused before any element is touched.
    float cell = 7;
    handle_array big(qor_fmt_32f, 2147483647, &cell);
    EXPECT_EQ(qor_vector_slope(big, 0, 1), qor_err_length);
    EXPECT_EQ(qor_vector_tone(big, 1, 0.1f, 0), qor_err_length);
    EXPECT_EQ(cell, 7.0f);
}

TEST(VectorTone, ParameterErrorsAreReportedKernelFailures) {
    handle_array f(16, qor_fmt_32f), s(16, qor_fmt_16s);
    const struct {
        qor_handle h;
        float magnitude, rfreq, phase;
        int code;
    } cases[] = {{f, 0, 0.1f, 0, -46}, {f, -1, 0.1f, 0, -46}, {f, 1, 0.5f, 0, -45}, {f, 1, 0.1f, 6.2831855f, -44},
                 {s, 0.9f, 0.1f, 0, -46},
                 {s, 40000.0f, 0.1f, 0, -46}};  // 40000 keeps its low 16 bits: -25536
    for (auto c : cases) {
        expect_outcome([&] { return qor_vector_tone(c.h, c.magnitude, c.rfreq, c.phase); }, qor_err_kernel,
                       report_line(c.code));
    }
}

TEST(VectorTone, FillsEachFormat) {
    handle_array f(2000, qor_fmt_32f);
    ASSERT_EQ(qor_vector_tone(f, 1, 0.25f, 0), qor_ok);
    const float quarter[] = {1, 0, -1, 0};
    for (int i = 0; i < 2000; ++i) ASSERT_NEAR(f.data<float>()[i], quarter[i % 4], 1e-5f) << i;
    ASSERT_EQ(qor_vector_tone(f, 2.5f, 0, 0), qor_ok);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(f.data<float>()[i], 2.5f);

    handle_array d(5000, qor_fmt_64f);
    ASSERT_EQ(qor_vector_tone(d, 3, 0.1f, 1.5f), qor_ok);
    const double w = double(0.1f) * 6.283185307179586;
    for (int i = 0; i < 5000; ++i) ASSERT_NEAR(d.data<double>()[i], 3 * std::cos(i * w + double(1.5f)), 1e-12) << i;

    handle_array s(100, qor_fmt_16s);
    ASSERT_EQ(qor_vector_tone(s, 70000.7f, 0, 0), qor_ok);  // magnitude 70000 keeps 4464
    for (int i = 0; i < 100; ++i) ASSERT_EQ(s.data<int16_t>()[i], 4464);
}
