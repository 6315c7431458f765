#include <gtest/gtest.h>

#include <vector>

#include "kernels/kernels.hpp"
#include "kernels/random_state.hpp"
#include "support/handles.hpp"

using namespace qor::test;
using namespace qor::krn;

namespace {

// What one generator of the kernels gives from the given parameters.
template <class State, class T, class P>
std::vector<T> kernel_run(int (*init)(State*, P, P, uint32_t), int (*gen)(T*, int, State*), P mean, P sd, uint32_t seed,
                          int n) {
    State st;
    init(&st, mean, sd, seed);
    std::vector<T> v(static_cast<size_t>(n));
    gen(v.data(), n, &st);
    return v;
}

}  // namespace

// Each format is one generator over the whole array from the seed: 64-bit arrays take the
// parameters widened; 16-bit ones truncated to 32-bit integers (0 beyond their range and for
// NaN) whose low 16 bits are kept.
TEST(GaussianRand, EachFormatIsOneKernelRunFromTheSeed) {
    handle_array f(1001, qor_fmt_32f), d(64, qor_fmt_64f), s(257, qor_fmt_16s);
    ASSERT_EQ(qor_gaussian_rand(f, 0.5f, 1.5f, 7), qor_ok);
    EXPECT_EQ(f.values<float>(), kernel_run(krn_rand_gauss_init_32f, krn_rand_gauss_32f, 0.5f, 1.5f, 7, 1001));
    ASSERT_EQ(qor_gaussian_rand(d, 0.1f, 0.3f, 9), qor_ok);
    EXPECT_EQ(d.values<double>(),
              kernel_run(krn_rand_gauss_init_64f, krn_rand_gauss_64f, double(0.1f), double(0.3f), 9, 64));
    const struct {
        float mean, sd;
        int16_t m, d;
    } rows[] = {{1.9f, 2.7f, 1, 2},
                {-1.9f, -2.7f, -1, -2},
                {40000, 0, -25536, 0},
                {3e9f, 0, 0, 0},
                {7, __builtin_nanf(""), 7, 0}};
    for (auto r : rows) {
        ASSERT_EQ(qor_gaussian_rand(s, r.mean, r.sd, 5), qor_ok);
        EXPECT_EQ(s.values<int16_t>(), kernel_run(krn_rand_gauss_init_16s, krn_rand_gauss_16s, r.m, r.d, 5u, 257))
            << r.mean << " " << r.sd;
    }
}

// Uniform noise on [-5, 5] from the fixed seed, plus the quadratic over 0, 1, 2, ...
TEST(TestRand, NoiseFromTheFixedSeedPlusTheCurve) {
    handle_array t(1000, qor_fmt_32f);
    const auto noise = kernel_run(krn_rand_uniform_init_32f, krn_rand_uniform_32f, -5.0f, 5.0f, 60138, 1000);
    ASSERT_EQ(qor_test_rand(t, 0, 0, 0), qor_ok);
    EXPECT_EQ(t.values<float>(), noise);
    ASSERT_EQ(qor_test_rand(t, 0, 1, 3), qor_ok);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(t.data<float>()[i], noise[size_t(i)] + (float(i) + 3)) << i;
    expect_single_checks([](qor_handle h) { return qor_test_rand(h, 1, 2, 3); }, qor_fmt_64f);
}

TEST(GaussianRand, Refusals) {
    for (qor_data_format fmt : {qor_fmt_8u, qor_fmt_16u, qor_fmt_32s, qor_fmt_64s})
        expect_single_checks([](qor_handle h) { return qor_gaussian_rand(h, 0, 1, 0); }, fmt);
    // A lent description of length 0 reaches the generator, which refuses it.
    float host[2] = {3, 3};
    handle_array lent(qor_fmt_32f, 0, host);
    expect_outcome([&] { return qor_gaussian_rand(lent, 0, 1, 0); }, qor_err_kernel, report_line(-6));
    EXPECT_EQ(host[0], 3.0f);
}
