#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "kernels/kernels.hpp"
#include "support/level_sweep.hpp"
#include "support/ulp.hpp"

using namespace qor::krn;
using qor::test::bits_of;
using qor::test::for_each_supported_level;
using qor::test::from_bits;
using qor::test::ulp_error;

namespace {

const float inf = std::numeric_limits<float>::infinity();

// Every stride-th bit pattern (both signs, all exponents), and the neighbourhoods of the thresholds.
std::vector<float> sweep_inputs(uint64_t stride) {
    std::vector<float> v;
    for (uint64_t b = 0; b < (uint64_t{1} << 32); b += stride) v.push_back(from_bits(uint32_t(b)));
    for (float t : {88.72283f, -87.33654f, -103.97207f, 1048576.0f, -1048576.0f, 3.14159265f, 0.0f}) {
        uint32_t c = bits_of(t);
        for (int d = -300; d <= 300; ++d) v.push_back(from_bits(c + d));
    }
    return v;
}

// A transcendental kernel over the inputs: the same bits at every level, within `limit` ulp of the
// double reference; with `caller`, under that control word.
template <class Ref>
void accuracy_sweep(int (*(*variant)(int))(const float*, float*, int), Ref ref,
                                           uint64_t stride, double limit, unsigned caller = 0) {
    const std::vector<float> in = sweep_inputs(stride);
    const std::vector<float> out = qor::test::same_bits_at_every_level(variant, in, {}, caller);
    for (size_t i = 0; i < in.size(); ++i) {
        if (std::isnan(ref(double(in[i]))) && !std::isnan(in[i])) continue;  // no reference here
        ASSERT_LE(ulp_error(out[i], ref(double(in[i]))), limit) << std::hexfloat << in[i] << " gives " << out[i];
    }
}

}  // namespace

// One rounded operation per element; subtracting either zero copies the bits (a signalling NaN
// would be quieted by arithmetic).
TEST(CurveArithmetic, OneRoundedOperationPerElementAndZeroCopies) {
    const std::vector<float> a = qor::test::mixed_values<float>(300, 1), b = qor::test::mixed_values<float>(300, 2);
    const auto same = [](float x, float y) { return bits_of(x) == bits_of(y) || (std::isnan(x) && std::isnan(y)); };
    for_each_supported_level([&](int level) {
        const auto mul = krn_mul_32f_variant(level);
        const auto sub = krn_sub_const_32f_variant(level);
        qor::test::expect_elementwise<float>(
            [&](int f, int n, float* d) { return mul(a.data() + f, b.data() + f, d, n); },
            [&](size_t i) { return a[i] * b[i]; }, qor::test::block_lengths, same);
        for (float val : {0.3f, 0.0f, -0.0f, inf})
            qor::test::expect_elementwise<float>([&](int f, int n, float* d) { return sub(a.data() + f, val, d, n); },
                                                 [&](size_t i) { return val == 0 ? a[i] : a[i] - val; });
        qor::test::expect_refusals(mul);
        float x[2] = {1, 2}, d[2] = {9, 9};
        EXPECT_TRUE(sub(nullptr, 1, d, 0) == krn_err_null && sub(x, 1, nullptr, 2) == krn_err_null &&
                    sub(x, 1, d, -1) == krn_err_size && d[0] == 9.0f);
    });
}

auto exp_ref = [](double x) { return std::exp(x); };
// Huge arguments: the C library's sine where its reduction is known to be exact, else none.
auto sin_ref = [](double x) -> double {
    if (qor::test::has_reference(x)) return double(qor::test::reference_sin(x));
#if defined(__GLIBC__)
    return std::sin(x);
#else
    return std::nan("");
#endif
};

TEST(Exp32f, WithinAnUlpAndTheSameAtEveryLevel) { accuracy_sweep(krn_exp_32f_variant, exp_ref, 100003, 1.0); }
TEST(Exp32f, DenseSweepLarge) { accuracy_sweep(krn_exp_32f_variant, exp_ref, 4099, 1.0); }

// Distance in ulp from a reference that lies in the normal float range (cheaper than ulp_error).
double ulp_distance(float got, double ref) {
    const int e = int((std::bit_cast<uint64_t>(ref) >> 52) & 0x7FF) - 1023;
    const double inverse_ulp = std::bit_cast<double>(uint64_t(1023 + 23 - std::max(e, -126)) << 52);
    return std::fabs(double(got) - ref) * inverse_ulp;
}

// Every float whose bits lie in [first, last] through the kernel at the host's level: where `want`
// gives a float the result has its bits; where it gives a double reference, the worst distance grows.
template <class Want>
void over_bit_range(int (*kernel)(const float*, float*, int), uint32_t first, uint32_t last, Want want,
                    double* worst = nullptr) {
    constexpr int chunk = 1 << 16;
    std::vector<float> in(chunk), out(chunk);
    for (uint64_t b = first; b <= last; b += chunk) {
        const int n = int(std::min<uint64_t>(chunk, uint64_t(last) + 1 - b));
        for (int k = 0; k < n; ++k) in[k] = from_bits(uint32_t(b + k));
        kernel(in.data(), out.data(), n);
        bool exact = true;
        for (int k = 0; k < n; ++k)
            if constexpr (std::is_same_v<decltype(want(in[k])), float>) exact &= bits_of(out[k]) == bits_of(want(in[k]));
            else *worst = std::max(*worst, ulp_distance(out[k], want(in[k])));
        ASSERT_TRUE(exact) << std::hexfloat << in[0] << " onwards";
    }
}

// Every float up to 256 in magnitude (beyond, the results are 0 or infinite like those nearer):
// those whose results round to 1, 0 or infinity checked as such, the rest against the double
// reference.
TEST(Exp32f, EveryFloatWithinAnUlpExhaustive) {
    const uint32_t one_below = bits_of(0x1p-25f) - 1, zero_from = bits_of(-104.0f), inf_from = bits_of(88.72284f),
                   minus = 0x80000000u;
    const auto ref = [](float x) { return std::exp(double(x)); };
    double worst = 0;
    for (uint32_t sign : {0u, minus}) over_bit_range(krn_exp_32f, sign, sign + one_below, [](float) { return 1.0f; });
    over_bit_range(krn_exp_32f, one_below + 1, inf_from - 1, ref, &worst);
    over_bit_range(krn_exp_32f, minus + one_below + 1, zero_from - 1, ref, &worst);
    over_bit_range(krn_exp_32f, inf_from, bits_of(256.0f), [](float) { return inf; });
    over_bit_range(krn_exp_32f, zero_from, bits_of(-256.0f), [](float) { return 0.0f; });
    EXPECT_LE(worst, 1.0);
}

// Sine runs under the default rounding whatever the caller's: here toward zero with FTZ+DAZ.
constexpr unsigned caller = 0x7F80 | 0x8040;
TEST(Sin32f, WithinAnUlpAndTheSameAtEveryLevel) { accuracy_sweep(krn_sin_32f_variant, sin_ref, 100003, 0.61, caller); }
TEST(Sin32f, DenseSweepLarge) { accuracy_sweep(krn_sin_32f_variant, sin_ref, 4099, 0.61, caller); }

// Every float the vector path takes (up to 2^20 in magnitude; beyond, the exact reduction runs
// one element at a time), of both signs: tiny arguments are their own sine, the rest within 0.61
// ulp of the reference.
TEST(Sin32f, EveryVectorPathFloatExhaustive) {
    const uint32_t tiny = bits_of(0x1p-12f), last = bits_of(0x1p20f);
    double worst = 0;
    for (uint32_t sign : {0u, 0x80000000u}) {
        over_bit_range(krn_sin_32f, sign, sign + tiny - 1, [](float x) { return x; });
        over_bit_range(krn_sin_32f, sign + tiny, sign + last, [](float x) {
#if defined(__GLIBC__)
            return std::sin(double(x));  // accurate for every double here
#else
            return double(qor::test::reference_sin(x));
#endif
        }, &worst);
    }
    EXPECT_LE(worst, 0.61);  // 0.6013 at 0x1.271108p+13
}

// Special values; overflow and underflow report the last such element's code, wherever it falls
// in a block; results below half the smallest subnormal are 0.
TEST(Exp32f, SpecialValuesAndWarnings) {
    const float in[] = {inf, -inf, from_bits(0x7FC01234), 0.0f, -0.0f, 1.0f, -103.9721f, -103.97208f};
    const uint32_t want[] = {0x7F800000, 0, 0x7FC01234, 0x3F800000, 0x3F800000, bits_of(2.71828183f), 0, 1};
    for_each_supported_level([&](int level) {
        auto f = krn_exp_32f_variant(level);
        float d[40];
        EXPECT_EQ(f(nullptr, d, 0), krn_err_null);
        EXPECT_EQ(f(in, d, 0), krn_err_size);
        EXPECT_EQ(f(in, d, 6), krn_ok);
        EXPECT_EQ(f(in, d, 8), krn_math_underflow);
        for (int i = 0; i < 8; ++i) EXPECT_TRUE(bits_of(d[i]) == want[i] || (i == 2 && std::isnan(d[i]))) << i;
        for (int n : {2, 7, 16, 17, 20, 40})
            for (int at = 0; at + 1 < n; at += 3) {
                std::vector<float> v(n, 0.5f);
                v[at] = 89.0f;
                EXPECT_EQ(f(v.data(), d, n), krn_math_overflow);
                v[at + 1] = -90.0f;
                EXPECT_EQ(f(v.data(), d, n), krn_math_underflow);
                EXPECT_EQ(d[at + 1], float(std::exp(-90.0)));  // subnormal
                v[n - 1] = 100.0f;
                EXPECT_EQ(f(v.data(), d, n), krn_math_overflow);
                EXPECT_EQ(d[n - 1], inf);
            }
    });
}

// The length is checked first; -0, NaN and subnormals come through; huge arguments reduce exactly;
// an infinity gives NaN and the domain code.
TEST(Sin32f, SpecialValuesChecksAndLargeArguments) {
    const float in[] = {-0.0f, from_bits(0xFFC05678), from_bits(1), 1e30f, -3.0e38f, 1048577.0f, 0x1.921fb6p+0f,
                        inf, -inf};
    for_each_supported_level([&](int level) {
        auto f = krn_sin_32f_variant(level);
        float d[9] = {};
        EXPECT_EQ(f(nullptr, nullptr, 0), krn_err_size);
        EXPECT_EQ(f(nullptr, d, 1), krn_err_null);
        EXPECT_EQ(f(in, nullptr, 1), krn_err_null);
        EXPECT_EQ(f(in, d, 7), krn_ok);
        EXPECT_EQ(f(in, d, 9), krn_math_domain);
        EXPECT_EQ(bits_of(d[0]), 0x80000000u);
        EXPECT_EQ(d[2], from_bits(1));
        for (int i : {1, 7, 8}) EXPECT_TRUE(std::isnan(d[i])) << i;
        for (int i = 3; i < 7; ++i) EXPECT_TRUE(std::isnan(sin_ref(in[i])) || d[i] == float(sin_ref(in[i]))) << i;
    });
}
