#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "kernels/kernels.hpp"
#include "support/arith_models.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using namespace qor::test;

namespace {

template <class T>
::testing::AssertionResult same_bits(const T* got, const T* want, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (bits_of(got[i]) != bits_of(want[i]))
            return ::testing::AssertionFailure() << "element " << i << ": got " << got[i] << " (0x" << std::hex
                                                 << bits_of(got[i]) << "), want " << want[i] << " (0x"
                                                 << bits_of(want[i]) << ")";
    return ::testing::AssertionSuccess();
}

// Every pairing of special divisors and dividends, then mixed values, at lengths that end
// inside and on vector boundaries.
template <class T, class Div, class DivIp>
void check_division(Div div, DivIp div_ip) {
    const std::vector<T> sp = special_values<T>();
    std::vector<T> d, x;
    for (T a : sp)
        for (T b : sp) d.push_back(a), x.push_back(b);
    const std::vector<T> md = mixed_values<T>(5000, 1), mx = mixed_values<T>(5000, 2);  // beyond 32 KiB
    d.insert(d.end(), md.begin(), md.end());
    x.insert(x.end(), mx.begin(), mx.end());
    std::vector<T> want(d.size());
    for (size_t i = 0; i < d.size(); ++i) want[i] = div_model(d[i], x[i]);

    std::vector<T> out(d.size());
    ASSERT_EQ(div(d.data(), x.data(), out.data(), int(d.size())), krn_warn_div_zero);
    EXPECT_TRUE(same_bits(out.data(), want.data(), d.size()));
    std::vector<T> inplace = x;
    ASSERT_EQ(div_ip(d.data(), inplace.data(), int(d.size())), krn_warn_div_zero);
    EXPECT_TRUE(same_bits(inplace.data(), want.data(), d.size()));

    // The warning comes from a zero divisor anywhere, the ragged end included, and from nothing else.
    for (int len = 1; len <= 70; ++len) {
        std::vector<T> dd(size_t(len), T(3)), xx(size_t(len), T(1)), o(static_cast<size_t>(len));
        dd[0] = std::numeric_limits<T>::quiet_NaN();
        dd[size_t(len) / 2] = std::numeric_limits<T>::infinity();
        EXPECT_EQ(div(dd.data(), xx.data(), o.data(), len), krn_ok) << len;
        EXPECT_EQ(o[size_t(len) - 1], div_model(dd[size_t(len) - 1], T(1)));
        dd[size_t(len) - 1] = -T(0);
        EXPECT_EQ(div(dd.data(), xx.data(), o.data(), len), krn_warn_div_zero) << len;
        EXPECT_EQ(o[size_t(len) - 1], -std::numeric_limits<T>::infinity());
    }

    T buf[2] = {1, 2};
    EXPECT_EQ(div(nullptr, buf, buf, 0), krn_err_null);
    EXPECT_EQ(div(buf, nullptr, buf, 2), krn_err_null);
    EXPECT_EQ(div(buf, buf, nullptr, 2), krn_err_null);
    EXPECT_EQ(div_ip(nullptr, buf, 2), krn_err_null);
    EXPECT_EQ(div_ip(buf, nullptr, 2), krn_err_null);
    EXPECT_EQ(div(buf, buf, buf, 0), krn_err_size);
    EXPECT_EQ(div_ip(buf, buf, -1), krn_err_size);
    EXPECT_EQ(buf[0], T(1));
}

}  // namespace

TEST(Division, CorrectlyRoundedWithOneZeroDivisorRuleAtEveryLevel) {
    for_each_supported_level([](int level) {
        check_division<float>(krn_div_32f_variant(level), krn_div_32f_ip_variant(level));
        check_division<double>(krn_div_64f_variant(level), krn_div_64f_ip_variant(level));
    });
}

TEST(Division, ZeroDivisorsGiveSignedInfinitiesAndThePositiveQuietNaN) {
    for_each_supported_level([](int level) {
        const float d[] = {0, 0, 0, -0.0f, -0.0f, 0};
        const float x[] = {3, -3, 0, 3, -0.0f, float_of(0xFF812345u)};
        float out[6];
        EXPECT_EQ(krn_div_32f_variant(level)(d, x, out, 6), krn_warn_div_zero);
        const uint32_t want[] = {0x7F800000u, 0xFF800000u, 0x7FC00000u, 0xFF800000u, 0x7FC00000u, 0x7FC00000u};
        for (int i = 0; i < 6; ++i) EXPECT_EQ(bits_of(out[i]), want[i]) << i;
    });
}

template <class T>
void check_square(krn_sqr_32f_fn sq32, krn_sqr_64f_fn sq64) {
    std::vector<T> v = special_values<T>(), m = mixed_values<T>(5000, 5);  // beyond 32 KiB
    v.insert(v.end(), m.begin(), m.end());
    std::vector<T> want(v.size()), out(v.size());
    for (size_t i = 0; i < v.size(); ++i) {
        if (std::isnan(v[i]))
            want[i] = quieted(v[i]);
        else if constexpr (sizeof(T) == 4)
            want[i] = float(double(v[i]) * double(v[i]));  // exact in double, then one rounding
        else
            want[i] = v[i] * v[i];
    }
    for (int len : {int(v.size()), 1, 3, 17}) {
        std::fill(out.begin(), out.end(), T(5));
        if constexpr (sizeof(T) == 4)
            ASSERT_EQ(sq32(v.data(), out.data(), len), krn_ok);
        else
            ASSERT_EQ(sq64(v.data(), out.data(), len), krn_ok);
        EXPECT_TRUE(same_bits(out.data(), want.data(), size_t(len)));
        if (size_t(len) < out.size()) {
            EXPECT_EQ(out[size_t(len)], T(5));
        }
    }
}

TEST(Square, FloatsAreIeeeProductsAtEveryLevel) {
    for_each_supported_level([](int level) {
        check_square<float>(krn_sqr_32f_variant(level), krn_sqr_64f_variant(level));
        check_square<double>(krn_sqr_32f_variant(level), krn_sqr_64f_variant(level));
        const float f[] = {-2, -0.0f, 1e20f, 1e-30f, 1e-20f};
        float o[5];
        ASSERT_EQ(krn_sqr_32f_variant(level)(f, o, 5), krn_ok);
        EXPECT_EQ(bits_of(o[1]), 0u);  // -0 squared is +0
        EXPECT_EQ(o[2], std::numeric_limits<float>::infinity());
        EXPECT_EQ(bits_of(o[3]), 0u);  // underflows to +0
        EXPECT_GT(o[4], 0.0f);         // a subnormal square
        EXPECT_LT(o[4], std::numeric_limits<float>::min());
        EXPECT_EQ(krn_sqr_32f_variant(level)(nullptr, o, 5), krn_err_null);
        EXPECT_EQ(krn_sqr_64f_variant(level)(nullptr, nullptr, 0), krn_err_null);
        EXPECT_EQ(krn_sqr_32f_variant(level)(f, o, 0), krn_err_size);
    });
}

TEST(Square, SixteenBitSaturatesAndScalesWithTiesToEven) {
    std::vector<uint16_t> all(65536), out(65536);
    for (int i = 0; i < 65536; ++i) all[size_t(i)] = uint16_t(i);
    for_each_supported_level([&](int level) {
        auto sq = krn_sqr_scaled_16u_variant(level);
        for (int sf : {0, 1, 2, 7, 16, 31, 32, 33, 40, -1, -8, -15, -16, -17}) {
            ASSERT_EQ(sq(all.data(), out.data(), 65536, sf), krn_ok);
            for (int i = 0; i < 65536; ++i)
                ASSERT_EQ(out[size_t(i)], scaled_square_model(uint32_t(i), sf)) << "x " << i << " sf " << sf;
        }
        const uint16_t edge[] = {3, 255, 256, 65535};
        uint16_t o[4];
        ASSERT_EQ(sq(edge, o, 4, 0), krn_ok);
        EXPECT_EQ(std::vector<uint16_t>(o, o + 4), (std::vector<uint16_t>{9, 65025, 65535, 65535}));
        const uint16_t odd[] = {5, 7};  // 25/8 = 3.125 -> 3; 49/8 = 6.125 -> 6; with sf 1: 12.5 -> 12, 24.5 -> 24
        ASSERT_EQ(sq(odd, o, 2, 1), krn_ok);
        EXPECT_EQ(o[0], 12);
        EXPECT_EQ(o[1], 24);
        EXPECT_EQ(sq(nullptr, o, 2, 0), krn_err_null);
        EXPECT_EQ(sq(odd, o, 0, 0), krn_err_size);
    });
}

// Lent buffers start anywhere: every length up to 200 at every byte offset within 64, with the
// bytes around the destination left alone.
TEST(Copy, EveryLengthAndByteOffsetMovesExactlyItsBytes) {
    std::vector<uint8_t> src(1800), dst(1800), guard(64, 0xEE);
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 37 + 11);
    for_each_supported_level([&](int level) {
        auto run = [&](auto copy, size_t elem) {
            for (int len = 0; len <= 200; ++len) {
                const size_t bytes = size_t(len) * elem;
                for (size_t off = 0; off < 64; ++off) {
                    uint8_t* d = dst.data() + 64 + off;
                    std::memset(dst.data(), 0xEE, 128 + off + bytes);
                    ASSERT_EQ(copy(src.data() + 63 - off, d, len), len == 0 ? krn_err_size : krn_ok);
                    ASSERT_EQ(std::memcmp(d, src.data() + 63 - off, bytes), 0) << len << " " << off;
                    ASSERT_EQ(std::memcmp(d - 64, guard.data(), 64), 0);
                    ASSERT_EQ(std::memcmp(d + bytes, guard.data(), 64), 0);
                }
            }
        };
        auto c16 = krn_copy_16s_variant(level);
        auto c32 = krn_copy_32f_variant(level);
        auto c64 = krn_copy_64f_variant(level);
        run([&](const uint8_t* s, uint8_t* d, int n) {
            return c16(reinterpret_cast<const int16_t*>(s), reinterpret_cast<int16_t*>(d), n); }, 2);
        run([&](const uint8_t* s, uint8_t* d, int n) {
            return c32(reinterpret_cast<const float*>(s), reinterpret_cast<float*>(d), n); }, 4);
        run([&](const uint8_t* s, uint8_t* d, int n) {
            return c64(reinterpret_cast<const double*>(s), reinterpret_cast<double*>(d), n); }, 8);
        EXPECT_EQ(c32(nullptr, nullptr, 0), krn_err_null);
        EXPECT_EQ(c64(reinterpret_cast<const double*>(src.data()), nullptr, 5), krn_err_null);
    });
}

TEST(Extrema, SixteenBitFindsEveryPosition) {
    for_each_supported_level([](int level) {
        auto mm = krn_min_max_16u_variant(level);
        for (int len : {1, 2, 7, 8, 9, 31, 32, 33, 64, 100}) {
            for (int pos = 0; pos < len; ++pos) {
                std::vector<uint16_t> v(size_t(len), 1000);
                v[size_t(pos)] = 3;
                uint16_t lo = 1, hi = 1;
                ASSERT_EQ(mm(v.data(), len, &lo, &hi), krn_ok);
                EXPECT_EQ(lo, 3);
                EXPECT_EQ(hi, len == 1 ? 3 : 1000);
                v[size_t(pos)] = 65535;
                ASSERT_EQ(mm(v.data(), len, &lo, &hi), krn_ok);
                EXPECT_EQ(lo, len == 1 ? 65535 : 1000);
                EXPECT_EQ(hi, 65535);
            }
        }
        const uint16_t pair[] = {500, 2};
        uint16_t lo, hi;
        ASSERT_EQ(mm(pair, 2, &lo, &hi), krn_ok);
        EXPECT_EQ(lo, 2);
        EXPECT_EQ(hi, 500);
        EXPECT_EQ(mm(nullptr, 2, &lo, &hi), krn_err_null);
        EXPECT_EQ(mm(pair, 2, nullptr, &hi), krn_err_null);
        EXPECT_EQ(mm(pair, 2, &lo, nullptr), krn_err_null);
        EXPECT_EQ(mm(pair, 0, &lo, &hi), krn_err_size);
    });
}

TEST(Extrema, FloatsIgnoreNaNsAndOrderNegativeZeroFirstWherever) {
    for_each_supported_level([](int level) {
        auto mm = krn_min_max_32f_variant(level);
        const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
        auto check = [&](const std::vector<float>& v) {
            float lo = 7, hi = 7, wlo = 0, whi = 0;
            ASSERT_EQ(mm(v.data(), int(v.size()), &lo, &hi), krn_ok);
            min_max_model(v.data(), int(v.size()), &wlo, &whi);
            EXPECT_EQ(bits_of(lo), bits_of(wlo));
            EXPECT_EQ(bits_of(hi), bits_of(whi));
        };
        // A NaN, a -0 and a +0 at every position of short and vector-sized arrays.
        for (int len : {1, 2, 5, 16, 17, 40}) {
            for (int pos = 0; pos < len; ++pos) {
                std::vector<float> v(size_t(len), 0.0f);
                v[size_t(pos)] = -0.0f;
                check(v);
                std::vector<float> w(size_t(len), -0.0f);
                w[size_t(pos)] = 0.0f;
                check(w);
                std::vector<float> x(size_t(len), 2.5f);
                x[size_t(pos)] = pos % 2 ? nan : float_of(0xFF812345u);
                x[size_t(len - 1 - pos)] = -inf;
                check(x);
                check(std::vector<float>(size_t(len), nan));
            }
        }
        for (uint32_t seed = 1; seed <= 20; ++seed) check(mixed_values<float>(seed * 13, seed));
        std::vector<float> all_nan = {nan, float_of(0xFFC00001u)};
        float lo, hi;
        ASSERT_EQ(mm(all_nan.data(), 2, &lo, &hi), krn_ok);
        EXPECT_EQ(bits_of(lo), 0x7FC00000u);
        EXPECT_EQ(bits_of(hi), 0x7FC00000u);
        const float three[] = {3, -1, 7};
        ASSERT_EQ(mm(three, 3, &lo, &hi), krn_ok);
        EXPECT_EQ(lo, -1);
        EXPECT_EQ(hi, 7);
        EXPECT_EQ(mm(nullptr, 3, &lo, &hi), krn_err_null);
        EXPECT_EQ(mm(three, -2, &lo, &hi), krn_err_size);
    });
}
