#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "kernels/kernels.hpp"
#include "kernels/random_state.hpp"
#include "qor_lib.h"
#include "support/capture.hpp"
#include "support/handles.hpp"

using qor::test::handle_array;
using qor::test::expect_outcome;
using qor::test::stdout_of;

namespace {

std::vector<int16_t> kernel_16s(int16_t mean, int16_t sd, uint32_t seed, int n) {
    qor::krn::krn_rand_gauss_state_16s st;
    qor::krn::krn_rand_gauss_init_16s(&st, mean, sd, seed);
    std::vector<int16_t> v(n);
    qor::krn::krn_rand_gauss_16s(v.data(), n, &st);
    return v;
}

}  // namespace

TEST(GaussianRand, SameSeedSameArrayForEveryFormat) {
    handle_array f(1001, qor_fmt_32f), g(1001, qor_fmt_32f), d(64, qor_fmt_64f), s(64, qor_fmt_16s);
    ASSERT_EQ(qor_gaussian_rand(f, 0.0f, 1.0f, 0), qor_ok);
    ASSERT_EQ(qor_gaussian_rand(g, 0.0f, 1.0f, 0), qor_ok);
    EXPECT_EQ(f.values<float>(), g.values<float>());
    EXPECT_NEAR(f.data<float>()[0], -0.448984, 1e-6);
    EXPECT_NEAR(f.data<float>()[1], -1.336852, 1e-6);
    ASSERT_EQ(qor_gaussian_rand(g, 0.0f, 1.0f, 1), qor_ok);
    EXPECT_NE(f.values<float>(), g.values<float>());

    // 64-bit arrays take the parameters widened; the first elements agree with single precision.
    ASSERT_EQ(qor_gaussian_rand(d, 0.0f, 1.0f, 0), qor_ok);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(float(d.data<double>()[i]), f.data<float>()[i]);
    ASSERT_EQ(qor_gaussian_rand(d, 0.1f, 0.3f, 9), qor_ok);
    qor::krn::krn_rand_gauss_state_64f st;
    qor::krn::krn_rand_gauss_init_64f(&st, double(0.1f), double(0.3f), 9);
    std::vector<double> want(64);
    qor::krn::krn_rand_gauss_64f(want.data(), 64, &st);
    EXPECT_EQ(d.values<double>(), want);
}

// The parameters are truncated to 32-bit integers (0 beyond their range and for NaN) and keep
// their low 16 bits; a large deviation saturates the samples instead of wrapping.
TEST(GaussianRand, SixteenBitParametersAreTruncatedAndWrapped) {
    handle_array s(257, qor_fmt_16s);
    const struct {
        float mean, sd;
        int16_t m, d;
    } rows[] = {{1.9f, 2.7f, 1, 2}, {-1.9f, -2.7f, -1, -2},        {40000, 0, -25536, 0},
                {3e9f, 0, 0, 0},    {7, __builtin_nanf(""), 7, 0}, {0, 30000, 0, 30000}};
    for (auto r : rows) {
        ASSERT_EQ(qor_gaussian_rand(s, r.mean, r.sd, 5), qor_ok);
        EXPECT_EQ(s.values<int16_t>(), kernel_16s(r.m, r.d, 5, 257)) << r.mean << " " << r.sd;
    }
    const std::vector<int16_t> big = s.values<int16_t>();
    EXPECT_TRUE(std::count(big.begin(), big.end(), 32767) && std::count(big.begin(), big.end(), -32768));
}

TEST(GaussianRand, DeviationZeroAndNegative) {
    handle_array f(99, qor_fmt_32f), g(99, qor_fmt_32f);
    ASSERT_EQ(qor_gaussian_rand(f, 2.5f, 0.0f, 8), qor_ok);
    for (float v : f.values<float>()) ASSERT_EQ(v, 2.5f);
    ASSERT_EQ(qor_gaussian_rand(f, 0.0f, 1.5f, 8), qor_ok);
    ASSERT_EQ(qor_gaussian_rand(g, 0.0f, -1.5f, 8), qor_ok);
    for (int i = 0; i < 99; ++i) ASSERT_EQ(f.data<float>()[i], -g.data<float>()[i]);
}

TEST(GaussianRand, Refusals) {
    for (qor_data_format fmt : {qor_fmt_8u, qor_fmt_16u, qor_fmt_32s, qor_fmt_64s})
        qor::test::expect_single_checks([](qor_handle h) { return qor_gaussian_rand(h, 0, 1, 0); }, fmt);
    // A lent description of length 0 reaches the generator, which refuses it.
    float host[2] = {3, 3};
    handle_array lent(qor_fmt_32f, 0, host);
    expect_outcome([&] { return qor_gaussian_rand(lent, 0, 1, 0); }, qor_err_kernel,
                   "KRN function failed,return value -6.\n");
    EXPECT_EQ(host[0], 3.0f);
}
