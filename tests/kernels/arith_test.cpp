#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>
#include <vector>

#include "kernels/kernels.hpp"
#include "kernels/runtime/cpu.hpp"
#include "support/arith_models.hpp"
#include "support/elementwise.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using namespace qor::test;

namespace {

// Every pairing of special values, then mixed values beyond 32 KiB (the top level's half-width
// walk), out of place and in place; a zero divisor anywhere, the ragged end included, warns.
template <class T, class Div, class DivIp>
void check_division(Div div, DivIp div_ip) {
    std::vector<T> d, x;
    for (T a : special_values<T>())
        for (T b : special_values<T>()) d.push_back(a), x.push_back(b);
    const std::vector<T> md = mixed_values<T>(5000, 1), mx = mixed_values<T>(5000, 2);
    d.insert(d.end(), md.begin(), md.end());
    x.insert(x.end(), mx.begin(), mx.end());
    const auto warns = [&](int f, int n) {
        return std::count(d.begin() + f, d.begin() + f + n, T(0)) ? krn_warn_div_zero : krn_ok;
    };
    const auto want = [&](size_t i) { return div_model(d[i], x[i]); };
    const std::vector<int> all = {int(d.size()) - 3};
    for (const auto& lengths : {block_lengths, all}) {
        expect_elementwise<T>(
            [&](int f, int n, T* o) { EXPECT_EQ(div(d.data() + f, x.data() + f, o, n), warns(f, n)); }, want, lengths);
        expect_elementwise<T>([&](int f, int n, T* o) {
            std::copy(x.begin() + f, x.begin() + f + n, o);
            EXPECT_EQ(div_ip(d.data() + f, o, n), warns(f, n));
        }, want, lengths);
    }
    for (int len = 1; len <= 40; ++len) {
        std::vector<T> dd(size_t(len), T(3)), o(dd.size());
        dd[0] = std::numeric_limits<T>::quiet_NaN();  // neither a NaN nor an infinity warns
        dd[size_t(len) / 2] = std::numeric_limits<T>::infinity();
        EXPECT_EQ(div(dd.data(), dd.data(), o.data(), len), krn_ok);
        dd[size_t(len) - 1] = -T(0);
        EXPECT_EQ(div(dd.data(), dd.data(), o.data(), len), krn_warn_div_zero);
    }
    expect_refusals(div);
    expect_refusals(div_ip);
}

// The exact square rounded once; NaNs as any NaN.
template <class T>
void check_square(int (*sq)(const T*, T*, int)) {
    std::vector<T> v = special_values<T>(), m = mixed_values<T>(5000, 5);
    v.insert(v.end(), m.begin(), m.end());
    const auto want = [&](size_t i) { return sizeof(T) == 4 ? T(double(v[i]) * double(v[i])) : v[i] * v[i]; };
    const auto same = [](T a, T b) { return same_bits(a, b) || (std::isnan(a) && std::isnan(b)); };
    for (const auto& lengths : {block_lengths, std::vector<int>{int(v.size()) - 3}})
        expect_elementwise<T>([&](int f, int n, T* o) { return sq(v.data() + f, o, n); }, want, lengths, same);
    expect_refusals(sq);
}

}  // namespace

TEST(Division, CorrectlyRoundedWithOneZeroAndNaNRuleAtEveryLevel) {
    for_each_supported_level([](int level) {
        check_division<float>(krn_div_32f_variant(level), krn_div_32f_ip_variant(level));
        check_division<double>(krn_div_64f_variant(level), krn_div_64f_ip_variant(level));
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
                ASSERT_EQ(out[size_t(i)], model_scale_16u(uint64_t(i) * uint64_t(i), sf)) << i << " " << sf;
        }
        EXPECT_EQ(sq(nullptr, out.data(), 2, 0), krn_err_null);
        EXPECT_EQ(sq(all.data(), out.data(), 0, 0), krn_err_size);
    });
}

// Beyond the largest cache (16 MiB when it is unknown) out-of-place maps write with non-temporal
// stores after a head that aligns the destination: the same bits, the ends included.
TEST(MapsLarge, StreamedMapsGiveTheSameBits) {
    const int n = int(std::max<int64_t>(qor::krn::cpu::largest_cache_size(), 16 << 20) / 8 + 37);
    const std::vector<float> in = mixed_values<float>(size_t(n), 7), divisors = mixed_values<float>(size_t(n), 8);
    for_each_supported_level([&](int level) {
        expect_elementwise<float>(
            [&](int f, int len, float* d) { return krn_sqr_32f_variant(level)(in.data() + f, d, len); },
            [&](size_t i) { return in[i] * in[i]; }, {n - 4}, same_bits<float>, 2);
        expect_elementwise<float>([&](int f, int len, float* d) {
            EXPECT_EQ(krn_div_32f_variant(level)(divisors.data() + f, in.data() + f, d, len), krn_warn_div_zero);
        }, [&](size_t i) { return div_model(divisors[i], in[i]); }, {n - 4}, same_bits<float>, 2);
    });
}

// Lent buffers start anywhere: every length up to 200 at every byte offset within 64, and the
// bytes around the destination stay as they were.
TEST(Copy, EveryLengthAndByteOffsetMovesExactlyItsBytes) {
    std::vector<uint8_t> src(1800), dst(1800), guard(64, 0xEE);
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 37 + 11);
    const auto sweep = [&](auto copy, auto sample) {
        using T = decltype(sample);
        for (int len = 0; len <= 200; ++len)
            for (size_t off = 0; off < 64; ++off) {
                uint8_t* d = dst.data() + 64 + off;
                const uint8_t* s = src.data() + 63 - off;
                const size_t bytes = size_t(len) * sizeof(T);
                std::memset(dst.data(), 0xEE, 128 + off + bytes);
                ASSERT_EQ(copy(reinterpret_cast<const T*>(s), reinterpret_cast<T*>(d), len),
                          len == 0 ? krn_err_size : krn_ok);
                ASSERT_EQ(std::memcmp(d, s, bytes), 0) << len << " " << off;
                ASSERT_EQ(std::memcmp(d - 64, guard.data(), 64), 0);
                ASSERT_EQ(std::memcmp(d + bytes, guard.data(), 64), 0);
            }
    };
    for_each_supported_level([&](int level) {
        sweep(krn_copy_16s_variant(level), int16_t{});
        sweep(krn_copy_32f_variant(level), 0.0f);
        sweep(krn_copy_64f_variant(level), 0.0);
        EXPECT_EQ(krn_copy_32f_variant(level)(nullptr, nullptr, 0), krn_err_null);
    });
}

// The extremes wherever they stand; NaNs ignored and -0 below +0 wherever they stand.
TEST(Extrema, EveryPositionAndTheNaNAndZeroRules) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for_each_supported_level([&](int level) {
        auto m16 = krn_min_max_16u_variant(level);
        auto m32 = krn_min_max_32f_variant(level);
        auto expect_model = [&](const std::vector<float>& v) {
            float mn, mx, wmn, wmx;
            ASSERT_EQ(m32(v.data(), int(v.size()), &mn, &mx), krn_ok);
            min_max_model(v.data(), int(v.size()), &wmn, &wmx);
            EXPECT_EQ(bits_of(mn), bits_of(wmn));
            EXPECT_EQ(bits_of(mx), bits_of(wmx));
        };
        for (int len : {1, 2, 7, 16, 17, 33, 64, 100})
            for (int pos = 0; pos < len; ++pos) {
                for (uint16_t at : {3, 65535}) {
                    std::vector<uint16_t> u(size_t(len), 1000);
                    uint16_t lo, hi;
                    u[size_t(pos)] = at;
                    ASSERT_EQ(m16(u.data(), len, &lo, &hi), krn_ok);
                    const uint16_t rest = len == 1 ? at : 1000;
                    EXPECT_TRUE(lo == std::min(at, rest) && hi == std::max(at, rest)) << lo << " " << hi;
                }
                for (auto [fill, at, other] : {std::tuple{0.0f, -0.0f, 0.0f},
                                               {-0.0f, 0.0f, -0.0f},
                                               {2.5f, pos % 2 ? nan : from_bits(0xFF812345u), -1e30f},
                                               {nan, nan, nan}}) {
                    std::vector<float> v(size_t(len), fill);
                    v[size_t(pos)] = at;
                    if (fill == 2.5f) v[size_t(len - 1 - pos)] = other;
                    expect_model(v);
                }
            }
        for (uint32_t seed = 1; seed <= 20; ++seed) expect_model(mixed_values<float>(seed * 13, seed));
        // Several blocks of a first pass that skips the NaN test: a NaN in one block, extremes in others.
        for (int nan_at : {-1, 5, 3000, 6190}) {
            std::vector<float> v(6200);
            for (size_t i = 0; i < v.size(); ++i) v[i] = float(int(i % 997) - 400);
            v[100] = 9e3f;
            v[4100] = -7e3f;
            if (nan_at >= 0) v[size_t(nan_at)] = nan;
            expect_model(v);
        }
        float f;
        uint16_t u;
        EXPECT_EQ(m32(nullptr, 3, &f, &f), krn_err_null);
        EXPECT_EQ(m16(&u, 1, &u, nullptr), krn_err_null);
        EXPECT_EQ(m32(&f, 0, &f, &f), krn_err_size);
    });
}
