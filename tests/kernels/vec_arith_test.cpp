#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "kernels/kernels.hpp"
#include "support/elementwise.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using namespace qor::test;

namespace {

const std::vector<float> a = mixed_values<float>(300, 1), b = mixed_values<float>(300, 2);

// Equal bits, or both NaN when both operands were NaN (which payload survives then depends on
// the operand order the compiler picked).
bool same(float got, float want) { return bits_of(got) == bits_of(want) || (std::isnan(got) && std::isnan(want)); }

// dst = op(a, b) out of place, or the buffer holding b combined with a in place.
template <class Kernel, class Op>
void check_binary(Kernel kernel, Op op) {
    expect_elementwise<float>([&](int f, int n, float* d) {
        if constexpr (std::is_invocable_v<Kernel, const float*, float*, int>) {
            std::copy(b.begin() + f, b.begin() + f + n, d);
            return kernel(a.data() + f, d, n);
        } else {
            return kernel(a.data() + f, b.data() + f, d, n);
        }
    }, [&](size_t i) { return op(a[i], b[i]); }, block_lengths, same);
    expect_refusals(kernel);
}

}  // namespace

TEST(VecArith, ElementWiseMatchesOneIeeeOperationAtEveryLevel) {
    for_each_supported_level([](int level) {
        check_binary(krn_sub_32f_variant(level), [](float x, float y) { return y - x; });  // src2 - src1
        check_binary(krn_add_32f_variant(level), [](float x, float y) { return x + y; });
        check_binary(krn_add_32f_ip_variant(level), [](float x, float y) { return y + x; });
        check_binary(krn_sub_32f_ip_variant(level), [](float x, float y) { return y - x; });
        check_binary(krn_mul_32f_ip_variant(level), [](float x, float y) { return y * x; });
    });
}

// A multiplication by the rounded reciprocal; a reciprocal of 1 leaves the buffer alone, NaN
// payloads included; an infinite divisor gives the reciprocal 0, which clears everything to +0;
// a zero divisor is refused after the pointer and length.
TEST(VecArith, DivisionByAConstantMultipliesByItsRoundedReciprocal) {
    for_each_supported_level([](int level) {
        for (float val : {3.0f, -7.0f, 0.1f, 4.0f, 1e-39f, 1.0f, -std::numeric_limits<float>::infinity()})
            expect_elementwise<float>([&](int f, int n, float* d) {
                std::copy(a.begin() + f, a.begin() + f + n, d);
                return krn_div_const_32f_ip_variant(level)(val, d, n);
            }, [&](size_t i) { return val == 1 ? a[i] : std::isinf(val) ? 0.0f : a[i] * (1.0f / val); },
                                      block_lengths, val == 1 || std::isinf(val) ? &same_bits<float> : &same);
        float y[4] = {5, 6, 7, 8};
        EXPECT_EQ(krn_div_const_32f_ip_variant(level)(0.0f, nullptr, 0), krn_err_null);
        EXPECT_EQ(krn_div_const_32f_ip_variant(level)(0.0f, y, 0), krn_err_size);
        EXPECT_EQ(krn_div_const_32f_ip_variant(level)(-0.0f, y, 4), krn_err_zero_divisor);
        EXPECT_EQ(y[0], 5.0f);
    });
}

TEST(VecArith, MeanAddsInDoubleInOneOrderAtEveryLevel) {
    // Terms that cancel at very different magnitudes make the order visible in the last bit.
    std::mt19937 gen(3);
    for (int len : {1, 2, 15, 16, 17, 31, 32, 33, 100, 1000, 4099}) {
        std::vector<float> v(len);
        for (auto& x : v) x = std::ldexp(float(int32_t(gen())) * 0x1p-31f, int(gen() % 60) - 30);
        long double exact = 0;
        for (float x : v) exact += x;
        float first = 0;
        for_each_supported_level([&](int level) {
            float m = 0;
            ASSERT_EQ(krn_mean_32f_variant(level)(v.data(), len, &m, 1), krn_ok);
            if (level == 0) first = m;
            EXPECT_EQ(bits_of(m), bits_of(first)) << len;
            // The double sum is within a few units of 2^-53 of the exact one; two float roundings.
            const double want = double(float(double(exact))) / len;
            EXPECT_NEAR(m, want, std::fabs(want) * 2e-7 + 1e-30) << len;
        });
    }
    // A NaN passes; pointers are refused before the length.
    const float nan = from_bits(0x7FC00001);
    float m = 0;
    ASSERT_EQ(krn_mean_32f(&nan, 1, &m, 1), krn_ok);
    EXPECT_TRUE(std::isnan(m));
    EXPECT_EQ(krn_mean_32f(nullptr, 0, &m, 1), krn_err_null);
    EXPECT_EQ(krn_mean_32f(&nan, 4, nullptr, 1), krn_err_null);
    EXPECT_EQ(krn_mean_32f(&nan, 0, &m, 1), krn_err_size);
}

// The fused means of the quadratic fit against the chains of kernels they stand for, at each level
// and for ramps at each alignment: same bits (NaN only as NaN: two NaN operands may leave either
// payload), same statuses.
TEST(VecArith, FusedFitMeansEqualTheirKernelChains) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float constants[][2] = {{1.5f, -0.25f}, {1.0f, 0.0f}, {0.0f, -0.0f}, {-3e-5f, 7.0f}, {nan, 1.0f}};
    std::vector<float> ramp_buffer(3 * 1100 + 16);
    for_each_supported_level([&](int level) {
        for (int m : {1, 2, 7, 31, 33, 95, 1100}) {
            for (bool specials : {false, true}) {
                std::vector<float> y = mixed_values<float>(size_t(3 * m + 2), uint32_t(m));
                for (auto& v : y) v = specials || std::isfinite(v) ? v : 0.5f;
                std::vector<float> t(3 * m), u(3 * m);
                const int n = 3 * m, shift = m % 4;  // the ramp's start: 0 to 3 floats past 64 bytes
                float* at = reinterpret_cast<float*>((uintptr_t(ramp_buffer.data()) + 63) & ~uintptr_t{63}) + shift;
                for (auto [a, b] : constants) {
                    float want = 0, got = 0;
                    const auto expect_fused = [&](int st) {
                        ASSERT_EQ(st, krn_ok);
                        EXPECT_TRUE(same(got, want)) << got << " vs " << want;
                    };
                    // ((Y2 - Y1) - (Y1 - Y0))
                    krn_sub_32f_variant(level)(y.data(), y.data() + m, t.data(), m);
                    krn_sub_32f_variant(level)(y.data() + m, y.data() + 2 * m, t.data() + m, m);
                    krn_sub_32f_variant(level)(t.data(), t.data() + m, u.data(), m);
                    krn_mean_32f_variant(level)(u.data(), m, &want, 1);
                    expect_fused(krn_mean_second_difference_32f_variant(level)(y.data(), m, &got));
                    // ((D1 + D2) * a) - ramp * b, the ramp from 3.25 by 0.1
                    krn_vector_slope_32f_variant(level)(at, m, 3.25f, 0.1f);
                    krn_add_32f_variant(level)(t.data(), t.data() + m, u.data(), m);
                    krn_mul_const_32f_ip_variant(level)(a, u.data(), m);
                    krn_mul_const_32f_ip_variant(level)(b, at, m);
                    krn_sub_32f_ip_variant(level)(at, u.data(), m);
                    krn_mean_32f_variant(level)(u.data(), m, &want, 1);
                    expect_fused(
                        krn_mean_outer_difference_32f_variant(level)(y.data(), m, a, b, 3.25f, 0.1f, at, &got));
                    // y - ((x a) + b) x, x the ramp from -7 by 1/3
                    krn_vector_slope_32f_variant(level)(at, n, -7.0f, 1.0f / 3.0f);
                    krn_mul_const_32f_variant(level)(at, a, t.data(), n);
                    krn_add_const_32f_ip_variant(level)(b, t.data(), n);
                    krn_mul_32f_ip_variant(level)(at, t.data(), n);
                    krn_sub_32f_variant(level)(t.data(), y.data(), u.data(), n);
                    krn_mean_32f_variant(level)(u.data(), n, &want, 1);
                    expect_fused(krn_mean_quadratic_residual_32f_variant(level)(y.data(), n, a, b, -7.0f, 1.0f / 3.0f,
                                                                                at, &got));
                }
            }
        }
        float r;
        EXPECT_EQ(krn_mean_second_difference_32f_variant(level)(nullptr, 1, &r), krn_err_null);
        EXPECT_EQ(krn_mean_outer_difference_32f_variant(level)(&r, 1, 1, 1, 0, 1, nullptr, &r), krn_err_null);
        EXPECT_EQ(krn_mean_quadratic_residual_32f_variant(level)(&r, 0, 1, 1, 0, 1, &r, &r), krn_err_size);
    });
}
