#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "qor_lib.h"
#include "support/capture.hpp"
#include "support/host_array.hpp"

using qor::test::host_array;
using qor::test::stdout_of;

TEST(VectorSlope, FillsFloatAndSixteenBitArrays) {
    host_array f(40, qor_fmt_32f);
    ASSERT_EQ(qor_vector_slope(f.handle, 0, 1), qor_ok);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(f.data<float>()[i], float(i));
    ASSERT_EQ(qor_vector_slope(f.handle, 5, 0), qor_ok);
    for (int i = 0; i < 40; ++i) ASSERT_EQ(f.data<float>()[i], 5.0f);

    host_array u(8, qor_fmt_16u);
    ASSERT_EQ(qor_vector_slope(u.handle, 0, 0.5f), qor_ok);
    const uint16_t want[] = {0, 0, 1, 2, 2, 2, 3, 4};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(u.data<uint16_t>()[i], want[i]) << i;
    ASSERT_EQ(qor_vector_slope(u.handle, 65000, 100), qor_ok);
    EXPECT_EQ(u.data<uint16_t>()[5], 65500);
    EXPECT_EQ(u.data<uint16_t>()[6], 65535);
}

TEST(VectorSlope, ChecksHandleDataLengthAndFormat) {
    EXPECT_EQ(qor_vector_slope(-1, 0, 1), qor_err_handle);
    qor_handle empty;
    ASSERT_EQ(qor_create_array(&empty), qor_ok);
    EXPECT_EQ(qor_vector_slope(empty, 0, 1), qor_err_invalid);
    EXPECT_EQ(qor_vector_tone(empty, 1, 0.1f, 0), qor_err_invalid);
    // A borrowed description of 2^31 - 1 elements: refused before any element is touched.
    float cell = 7;
    qor_info info{2147483647, qor_fmt_32f, 32, &cell};
    ASSERT_EQ(qor_init_array_ex(empty, &info), qor_ok);
    EXPECT_EQ(qor_vector_slope(empty, 0, 1), qor_err_length);
    EXPECT_EQ(qor_vector_tone(empty, 1, 0.1f, 0), qor_err_length);
    EXPECT_EQ(cell, 7.0f);
    qor_destroy_array(empty);

    host_array d(4, qor_fmt_64f), s(4, qor_fmt_16s);
    EXPECT_EQ(qor_vector_slope(d.handle, 0, 1), qor_err_format);
    EXPECT_EQ(qor_vector_slope(s.handle, 0, 1), qor_err_format);
    host_array u(4, qor_fmt_16u);
    EXPECT_EQ(qor_vector_tone(u.handle, 1, 0.1f, 0), qor_err_format);
}

TEST(VectorTone, ParameterErrorsAreReportedKernelFailures) {
    host_array f(16, qor_fmt_32f);
    struct {
        float magnitude, rfreq, phase;
        const char* code;
    } cases[] = {{0, 0.1f, 0, "-46"}, {-1, 0.1f, 0, "-46"}, {1, 0.5f, 0, "-45"}, {1, 0.1f, 6.2831855f, "-44"}};
    for (auto c : cases) {
        qor_status st;
        const std::string out = stdout_of([&] { st = qor_vector_tone(f.handle, c.magnitude, c.rfreq, c.phase); });
        EXPECT_EQ(st, qor_err_kernel);
        EXPECT_EQ(out, std::string("KRN function failed,return value ") + c.code + ".\n");
    }
    host_array s(16, qor_fmt_16s);
    qor_status st;
    EXPECT_EQ(stdout_of([&] { st = qor_vector_tone(s.handle, 0.9f, 0.1f, 0); }), "KRN function failed,return value -46.\n");
    EXPECT_EQ(st, qor_err_kernel);
    // 40000 keeps its low 16 bits: -25536, not a positive magnitude.
    EXPECT_EQ(stdout_of([&] { st = qor_vector_tone(s.handle, 40000.0f, 0.1f, 0); }), "KRN function failed,return value -46.\n");
}

TEST(VectorTone, FillsEachFormat) {
    host_array f(2000, qor_fmt_32f);
    ASSERT_EQ(qor_vector_tone(f.handle, 1, 0.25f, 0), qor_ok);
    const float quarter[] = {1, 0, -1, 0};
    for (int i = 0; i < 2000; ++i) ASSERT_NEAR(f.data<float>()[i], quarter[i % 4], 1e-5f) << i;
    ASSERT_EQ(qor_vector_tone(f.handle, 2.5f, 0, 0), qor_ok);
    for (int i = 0; i < 2000; ++i) ASSERT_EQ(f.data<float>()[i], 2.5f);

    host_array d(5000, qor_fmt_64f);
    ASSERT_EQ(qor_vector_tone(d.handle, 3, 0.1f, 1.5f), qor_ok);
    const double w = double(0.1f) * 6.283185307179586;
    for (int i = 0; i < 5000; ++i) ASSERT_NEAR(d.data<double>()[i], 3 * std::cos(i * w + double(1.5f)), 1e-12) << i;

    host_array s(100, qor_fmt_16s);
    ASSERT_EQ(qor_vector_tone(s.handle, 70000.7f, 0, 0), qor_ok);  // magnitude 70000 keeps 4464
    for (int i = 0; i < 100; ++i) ASSERT_EQ(s.data<int16_t>()[i], 4464);
}
