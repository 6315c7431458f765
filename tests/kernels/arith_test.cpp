#include <gtest/gtest.h>

#include <vector>

#include "kernels/kernels.hpp"
#include "support/arith_models.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using namespace qor::test;

namespace {

// Every pairing of special values, then mixed values beyond 32 KiB (the top level's half-width
// walk), out of place and in place; a zero divisor anywhere, the ragged end included, warns.
template <class T, class Div, class DivIp>
void check_division(Div div, DivIp div_ip) {
    const std::vector<T> sp = arith_special_values<T>();
    std::vector<T> d = mixed_values<T>(5000, 1), x = mixed_values<T>(5000, 2);
    for (T a : sp)
        for (T b : sp) d.push_back(a), x.push_back(b);
    std::vector<T> out(d.size()), inplace = x;
    ASSERT_EQ(div(d.data(), x.data(), out.data(), int(d.size())), krn_warn_div_zero);
    ASSERT_EQ(div_ip(d.data(), inplace.data(), int(d.size())), krn_warn_div_zero);
    for (size_t i = 0; i < d.size(); ++i) {
        ASSERT_EQ(bits_of(out[i]), bits_of(div_model(d[i], x[i]))) << d[i] << " " << x[i];
        ASSERT_EQ(bits_of(inplace[i]), bits_of(out[i]));
    }
    for (int len = 1; len <= 40; ++len) {
        std::vector<T> dd(size_t(len), T(3)), o(dd.size());
        dd[0] = std::numeric_limits<T>::quiet_NaN();  // neither a NaN nor an infinity warns
        dd[size_t(len) / 2] = std::numeric_limits<T>::infinity();
        EXPECT_EQ(div(dd.data(), dd.data(), o.data(), len), krn_ok);
        dd[size_t(len) - 1] = -T(0);
        EXPECT_EQ(div(dd.data(), dd.data(), o.data(), len), krn_warn_div_zero);
    }
    T buf[1] = {1};
    EXPECT_EQ(div(nullptr, buf, buf, 0), krn_err_null);
    EXPECT_EQ(div(buf, buf, nullptr, 1), krn_err_null);
    EXPECT_EQ(div_ip(buf, nullptr, 1), krn_err_null);
    EXPECT_EQ(div(buf, buf, buf, 0), krn_err_size);
    EXPECT_EQ(div_ip(buf, buf, -1), krn_err_size);
}

template <class T, class Sq>
void check_square(Sq sq) {
    std::vector<T> v = mixed_values<T>(5000, 5), sp = arith_special_values<T>();
    v.insert(v.end(), sp.begin(), sp.end());
    std::vector<T> out(v.size());
    ASSERT_EQ(sq(v.data(), out.data(), int(v.size())), krn_ok);
    for (size_t i = 0; i < v.size(); ++i) {
        if (std::isnan(v[i])) {
            ASSERT_TRUE(std::isnan(out[i]));
            continue;
        }
        const T want = sizeof(T) == 4 ? T(double(v[i]) * double(v[i])) : v[i] * v[i];  // exact, then rounded once
        ASSERT_EQ(bits_of(out[i]), bits_of(want)) << v[i];
    }
    EXPECT_EQ(sq(nullptr, out.data(), 1), krn_err_null);
    EXPECT_EQ(sq(v.data(), out.data(), 0), krn_err_size);
}

}  // namespace

TEST(Division, CorrectlyRoundedWithOneZeroAndNaNRuleAtEveryLevel) {
    for_each_supported_level([](int level) {
        check_division<float>(krn_div_32f_variant(level), krn_div_32f_ip_variant(level));
        check_division<double>(krn_div_64f_variant(level), krn_div_64f_ip_variant(level));
        const float d[] = {0, 0, 0, -0.0f}, x[] = {3, -3, 0, 3};
        float q[4];
        EXPECT_EQ(krn_div_32f_variant(level)(d, x, q, 4), krn_warn_div_zero);
        EXPECT_EQ(bits_of(q[0]), 0x7F800000u);
        EXPECT_EQ(bits_of(q[1]), 0xFF800000u);
        EXPECT_EQ(bits_of(q[2]), 0x7FC00000u);  // not the processor's negative default NaN
        EXPECT_EQ(bits_of(q[3]), 0xFF800000u);  // the IEEE sign for a -0 divisor
    });
}

TEST(Square, FloatsAreIeeeProductsAndSixteenBitSaturatesAtEveryLevel) {
    std::vector<uint16_t> all(65536), out(65536);
    for (int i = 0; i < 65536; ++i) all[size_t(i)] = uint16_t(i);
    for_each_supported_level([&](int level) {
        check_square<float>(krn_sqr_32f_variant(level));
        check_square<double>(krn_sqr_64f_variant(level));
        auto sq = krn_sqr_scaled_16u_variant(level);
        for (int sf : {0, 1, 2, 16, 32, 33, -1, -15, -16}) {
            ASSERT_EQ(sq(all.data(), out.data(), 65536, sf), krn_ok);
            for (int i = 0; i < 65536; ++i)
                ASSERT_EQ(out[size_t(i)], scaled_square_model(uint32_t(i), sf)) << i << " " << sf;
        }
        EXPECT_EQ(sq(nullptr, out.data(), 2, 0), krn_err_null);
        EXPECT_EQ(sq(all.data(), out.data(), 0, 0), krn_err_size);
    });
}

// Lent buffers start anywhere: every length up to 200 at every byte offset within 64, and the
// bytes around the destination stay as they were.
TEST(Copy, EveryLengthAndByteOffsetMovesExactlyItsBytes) {
    std::vector<uint8_t> src(1800), dst(1800), guard(64, 0xEE);
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 37 + 11);
    for_each_supported_level([&](int level) {
        auto c16 = krn_copy_16s_variant(level);
        auto c32 = krn_copy_32f_variant(level);
        auto c64 = krn_copy_64f_variant(level);
        for (size_t elem : {2, 4, 8})
            for (int len = 0; len <= 200; ++len)
                for (size_t off = 0; off < 64; ++off) {
                    uint8_t* d = dst.data() + 64 + off;
                    const uint8_t* s = src.data() + 63 - off;
                    const size_t bytes = size_t(len) * elem;
                    std::memset(dst.data(), 0xEE, 128 + off + bytes);
                    const int st =
                        elem == 2   ? c16(reinterpret_cast<const int16_t*>(s), reinterpret_cast<int16_t*>(d), len)
                        : elem == 4 ? c32(reinterpret_cast<const float*>(s), reinterpret_cast<float*>(d), len)
                                    : c64(reinterpret_cast<const double*>(s), reinterpret_cast<double*>(d), len);
                    ASSERT_EQ(st, len == 0 ? krn_err_size : krn_ok);
                    ASSERT_EQ(std::memcmp(d, s, bytes), 0) << len << " " << off;
                    ASSERT_EQ(std::memcmp(d - 64, guard.data(), 64), 0);
                    ASSERT_EQ(std::memcmp(d + bytes, guard.data(), 64), 0);
                }
        EXPECT_EQ(c32(nullptr, nullptr, 0), krn_err_null);
    });
}

// The extremes wherever they stand; NaNs ignored and -0 below +0 wherever they stand.
TEST(Extrema, EveryPositionAndTheNaNAndZeroRules) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for_each_supported_level([&](int level) {
        auto m16 = krn_min_max_16u_variant(level);
        auto m32 = krn_min_max_32f_variant(level);
        for (int len : {1, 2, 7, 16, 17, 33, 64, 100})
            for (int pos = 0; pos < len; ++pos) {
                std::vector<uint16_t> u(size_t(len), 1000);
                uint16_t lo, hi;
                u[size_t(pos)] = 3;
                ASSERT_EQ(m16(u.data(), len, &lo, &hi), krn_ok);
                EXPECT_EQ(lo, 3);
                EXPECT_EQ(hi, len == 1 ? 3 : 1000);
                u[size_t(pos)] = 65535;
                ASSERT_EQ(m16(u.data(), len, &lo, &hi), krn_ok);
                EXPECT_EQ(lo, len == 1 ? 65535 : 1000);
                EXPECT_EQ(hi, 65535);
                std::vector<std::vector<float>> cases = {
                    std::vector<float>(size_t(len), 0.0f), std::vector<float>(size_t(len), -0.0f),
                    std::vector<float>(size_t(len), 2.5f), std::vector<float>(size_t(len), nan)};
                cases[0][size_t(pos)] = -0.0f;
                cases[1][size_t(pos)] = 0.0f;
                cases[2][size_t(pos)] = pos % 2 ? nan : from_bits(0xFF812345u);
                cases[2][size_t(len - 1 - pos)] = -1e30f;
                for (const auto& v : cases) {
                    float mn, mx, wmn, wmx;
                    ASSERT_EQ(m32(v.data(), len, &mn, &mx), krn_ok);
                    min_max_model(v.data(), len, &wmn, &wmx);
                    EXPECT_EQ(bits_of(mn), bits_of(wmn));
                    EXPECT_EQ(bits_of(mx), bits_of(wmx));
                }
            }
        for (uint32_t seed = 1; seed <= 20; ++seed) {
            const std::vector<float> v = mixed_values<float>(seed * 13, seed);
            float mn, mx, wmn, wmx;
            ASSERT_EQ(m32(v.data(), int(v.size()), &mn, &mx), krn_ok);
            min_max_model(v.data(), int(v.size()), &wmn, &wmx);
            EXPECT_EQ(bits_of(mn), bits_of(wmn));
            EXPECT_EQ(bits_of(mx), bits_of(wmx));
        }
        float f;
        uint16_t u;
        EXPECT_EQ(m32(nullptr, 3, &f, &f), krn_err_null);
        EXPECT_EQ(m16(&u, 1, &u, nullptr), krn_err_null);
        EXPECT_EQ(m32(&f, 0, &f, &f), krn_err_size);
    });
}
