#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/handles.hpp"

using namespace qor::test;

// Each served format reaches its kernel (values are the kernels' tests).
TEST(VectorSlopeAndTone, FillEachFormat) {
    handle_array f(5, qor_fmt_32f), u(4, qor_fmt_16u), d(3, qor_fmt_64f), s(3, qor_fmt_16s);
    ASSERT_EQ(qor_vector_slope(f, -1, 0.5f), qor_ok);
    EXPECT_EQ(f.values<float>(), (std::vector<float>{-1, -0.5f, 0, 0.5f, 1}));
    ASSERT_EQ(qor_vector_slope(u, 65533, 1), qor_ok);
    EXPECT_EQ(u.values<uint16_t>(), (std::vector<uint16_t>{65533, 65534, 65535, 65535}));
    ASSERT_EQ(qor_vector_tone(f, 2, 0.25f, 0), qor_ok);
    const float quarter[] = {2, 0, -2, 0, 2};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(f.data<float>()[i], quarter[i], 1e-6f);
    ASSERT_EQ(qor_vector_tone(d, 3, 0.1f, 1.5f), qor_ok);  // the phase widened, not rounded to float steps
    for (int i = 0; i < 3; ++i)
        EXPECT_NEAR(d.data<double>()[i], 3 * std::cos(i * double(0.1f) * 6.283185307179586 + 1.5), 1e-12);
    ASSERT_EQ(qor_vector_tone(s, 70000.7f, 0, 0), qor_ok);  // magnitude truncated, its low 16 bits kept
    EXPECT_EQ(s.values<int16_t>(), std::vector<int16_t>(3, 4464));
}

TEST(VectorSlopeAndTone, RefusalsAndParameterErrors) {
    for (qor_data_format f : {qor_fmt_64f, qor_fmt_16s})
        expect_single_checks([](qor_handle h) { return qor_vector_slope(h, 0, 1); }, f);
    expect_single_checks([](qor_handle h) { return qor_vector_tone(h, 1, 0.1f, 0); }, qor_fmt_16u);
    // A borrowed description of 2^31 - 1 elements: refused before any element is touched.
    float cell = 7;
    handle_array big(qor_fmt_32f, 2147483647, &cell);
    EXPECT_EQ(qor_vector_slope(big, 0, 1), qor_err_length);
    EXPECT_EQ(qor_vector_tone(big, 1, 0.1f, 0), qor_err_length);
    EXPECT_EQ(cell, 7.0f);
    // The kernel's refusals of the parameters are reported kernel failures.
    handle_array f(16, qor_fmt_32f), s(16, qor_fmt_16s);
    const struct {
        qor_handle h;
        float magnitude, rfreq, phase;
        int code;
    } cases[] = {{f, 0, 0.1f, 0, -46},
                 {f, 1, 0.5f, 0, -45},
                 {f, 1, 0.1f, 6.2831855f, -44},
                 {s, 0.9f, 0.1f, 0, -46},
                 {s, 40000.0f, 0.1f, 0, -46}};  // 40000 keeps its low 16 bits: -25536
    for (auto c : cases)
        expect_outcome([&] { return qor_vector_tone(c.h, c.magnitude, c.rfreq, c.phase); }, qor_err_kernel,
                       report_line(c.code));
}
