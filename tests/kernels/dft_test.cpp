#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "kernels/dft_spec.hpp"
#include "kernels/kernels.hpp"
#include "support/dft_reference.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using qor::test::dft_reference;
using qor::test::for_each_supported_level;
using qor::test::packed_im;
using qor::test::packed_re;

namespace {

template <class T>
auto transform_at(int level) {
    if constexpr (sizeof(T) == 8) return krn_dft_real_fwd_64f_variant(level);
    else return krn_dft_real_fwd_32f_variant(level);
}

// The three areas of one plan (spec, init, work), each 8 bytes past a 64-byte boundary.
template <class T>
struct plan {
    int status, sizes[3] = {};
    std::vector<uint8_t> areas[3];
    uint8_t* at(int k) {
        const auto p = reinterpret_cast<uintptr_t>(areas[k].data());
        return k == 0 || sizes[k] ? areas[k].data() + (64 - p % 64) % 64 + 8 : nullptr;
    }
    explicit plan(int n, int flag = 8) {
        constexpr bool wide = sizeof(T) == 8;
        status = (wide ? krn_dft_real_get_size_64f : krn_dft_real_get_size_32f)(n, flag, 0, sizes, sizes + 1, sizes + 2);
        if (status) return;
        for (int k = 0; k < 3; ++k) areas[k].assign(size_t(sizes[k]) + 72, 0xA5);
        status = (wide ? krn_dft_real_init_64f : krn_dft_real_init_32f)(n, flag, 0, at(0), at(1));
    }
    uint8_t* spec_area() { return at(0); }
    uint8_t* work_area() { return at(2); }
    // The header sits at the first 64-byte boundary of the area the plan was given.
    const dft::header& head() {
        return *reinterpret_cast<const dft::header*>((reinterpret_cast<uintptr_t>(at(0)) + 63) & ~uintptr_t(63));
    }
};

template <class T>
std::vector<T> random_signal(int64_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<T> x(static_cast<size_t>(n));
    for (auto& v : x) v = T(u(gen));
    return x;
}

// Every length against the long-double reference, and at every level the same bits from the same
// plan (vector and scalar stages compute lane for lane the same operations). log2(N) stages of
// rounding (three transforms of about 4N points for chirp-z) give an error of about
// eps * stages * ||x||_2 per bin, and in RMS over the bins a few times less. Beyond 300 points a
// sample of bins keeps the reference linear in N.
template <class T>
void check_lengths(const std::vector<int>& lengths) {
    for (int n : lengths) {
        SCOPED_TRACE(::testing::Message() << "N = " << n);
        plan<T> p(n);
        ASSERT_EQ(p.status, 0);
        const auto x = random_signal<T>(n, uint32_t(n));
        std::vector<int64_t> bins;
        std::mt19937 g{static_cast<uint32_t>(n)};
        for (int j = 0; j < (n > 300 ? 16 : n / 2 + 1); ++j) bins.push_back(n > 300 ? g() % uint32_t(n / 2 + 1) : j);
        if (n > 300) bins.insert(bins.end(), {0, n / 2});
        const dft_reference ref(n);
        std::vector<long double> re(bins.size()), im(bins.size());
        for (size_t b = 0; b < bins.size(); ++b) ref.bin(x.data(), bins[b], re[b], im[b]);
        long double norm = 0;
        for (T v : x) norm += (long double)v * v;
        const long double bound = std::numeric_limits<T>::epsilon() * (3 * std::log2(double(4 * n)) + 4) * sqrtl(norm);
        std::vector<T> first;
        for_each_supported_level([&](int level) {
            std::vector<T> y(static_cast<size_t>(n), T(-7));
            ASSERT_EQ(transform_at<T>(level)(x.data(), y.data(), p.spec_area(), p.work_area()), 0);
            long double worst = 0, sum2 = 0;
            for (size_t b = 0; b < bins.size(); ++b) {
                const int64_t k = bins[b];
                long double e = fabsl(re[b] - (long double)y[size_t(packed_re(n, k))]);
                if (packed_im(n, k) >= 0) e = std::max(e, fabsl(im[b] - (long double)y[size_t(packed_im(n, k))]));
                worst = std::max(worst, e);
                sum2 += e * e;
            }
            EXPECT_LE(worst, bound);
            EXPECT_LE(sqrtl(sum2 / (long double)bins.size()), bound / 2);
            if (level == 0) first = y;
            else EXPECT_EQ(std::memcmp(first.data(), y.data(), y.size() * sizeof(T)), 0);
        });
    }
}

}  // namespace

// Every plan path: straight-line (1..16), powers of two, odd factor lists, even lengths whose
// half is small / factored / direct / chirp-z, odd direct and chirp-z.
TEST(DftEngine, EveryPlanPathAllLevels) {
    const std::vector<int> lengths = {
        1,    2,  3,   4,   5,   6,    7,    8,    9,    10,   11,   12,  13,  14,   15,  16,  // straight-line
        32,   64, 128, 256, 512, 1024, 4096,                                                   // powers of two
        21,   25, 27,  45,  75,  105,  225,  343,  1001, 3465, 4199,                           // odd factor lists
        18,   20, 24,  26,  30,  36,   100,  1000, 6000, 94,   588,  148, 106, 194,  178, 604,
        2018, 17, 19,  23,  29,  31,   47,   53,   89,   97,   1009, 159, 291, 2809, 4099,   // direct, chirp-z
        8191, 24578, 32771};  // chirp-z with blocked convolutions (radix-4 and radix-2 top stages)
    check_lengths<float>(lengths);
    check_lengths<double>(lengths);
}

// The planner transforms its chirp-z kernel through the running level's complex stages, so
// every level's stages must give the same bits on a plan's convolution record, plain or blocked.
template <class T, class C, class Fn>
void check_complex_passes(Fn variant) {
    for (int n : {97, 4099, 8191}) {  // plain stages, and a blocked convolution
        SCOPED_TRACE(::testing::Message() << "N = " << n);
        plan<T> p(n);
        ASSERT_EQ(p.status, 0);
        const auto* spec = reinterpret_cast<const uint8_t*>(&p.head());
        const auto& conv = p.head().conv;
        const auto x = random_signal<T>(2 * int64_t(conv.len), uint32_t(n));
        std::vector<C> first;
        for_each_supported_level([&](int level) {
            std::vector<C> a(size_t(conv.len)), b(a.size());
            std::memcpy(a.data(), x.data(), x.size() * sizeof(T));
            const C* res = variant(level)(spec, reinterpret_cast<const uint8_t*>(&conv), a.data(), b.data(), a.data());
            std::vector<C> got(res, res + conv.len);
            if (level == 0) first = got;
            else EXPECT_EQ(std::memcmp(first.data(), got.data(), got.size() * sizeof(C)), 0);
        });
    }
}

TEST(DftEngine, ComplexStagesAllLevels) {
    check_complex_passes<float, krn_32fc>(krn_dft_complex_passes_32f_variant);
    check_complex_passes<double, krn_64fc>(krn_dft_complex_passes_64f_variant);
}

TEST(DftEngine, LongLengthsLarge) {
    const std::vector<int> lengths = {1 << 16, 1 << 20, 65537, 1000000, 3 * 5 * 7 * 11 * 13 * 17, 2 * 65537};
    check_lengths<float>(lengths);
    check_lengths<double>(lengths);
}

// Size queries and plans check pointers, lengths, flags, orders, then what the length allows
// (chirp-z up to a prime below 2^26 in 32-bit, 2^25 in 64-bit); the initialisation area is
// refused null exactly for lengths above 16 that are not powers of two.
TEST(DftPlan, StatusesAndCheckOrder) {
    struct row { bool wide; int n, flag, null_at, size_status, init_status; };  // init_status 1: not planned here
    const int null = krn_err_null, size = krn_err_size, flag = krn_err_flag, order = krn_err_order;
    const row rows[] = {{false, 0, 8, 0, null, null},          {false, 8, 8, 1, null, 0},
                        {true, 8, 8, 2, null, 0},              {false, 0, 3, -1, size, size},
                        {false, -4, 8, -1, size, size},        {false, 8, 3, -1, flag, flag},
                        {true, 1 << 30, 0, -1, flag, flag},    {false, 1 << 30, 8, -1, order, order},
                        {true, 1 << 29, 8, -1, order, order},  {false, (1 << 27) + 1, 8, -1, size, size},
                        {false, 1 << 27 | 2, 8, -1, size, size}, {true, (1 << 26) + 2, 8, -1, size, size},
                        {false, 67108879, 8, -1, size, null},  {true, 33554467, 8, -1, size, null},
                        {false, 1000003, 8, -1, 0, null},      {false, 1 << 26, 8, -1, 0, 1},
                        {false, 24, 8, -1, 0, null},           {true, 17, 8, -1, 0, null},
                        {false, 16, 8, -1, 0, 0},              {true, 32, 1, -1, 0, 1},
                        {true, 32, 2, -1, 0, 1},               {true, 32, 4, -1, 0, 1}};
    std::vector<uint8_t> spec(4096);
    for (const row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.n << " flag " << r.flag << (r.wide ? " 64-bit" : ""));
        int sizes[3];
        int* p[3] = {sizes, sizes + 1, sizes + 2};
        if (r.null_at >= 0) p[r.null_at] = nullptr;
        EXPECT_EQ((r.wide ? krn_dft_real_get_size_64f : krn_dft_real_get_size_32f)(r.n, r.flag, 0, p[0], p[1], p[2]),
                  r.size_status);
        if (r.init_status == 1) continue;  // a plan that needs a larger area
        uint8_t* area = r.null_at == 0 ? nullptr : spec.data();
        EXPECT_EQ((r.wide ? krn_dft_real_init_64f : krn_dft_real_init_32f)(r.n, r.flag, 0, area, nullptr), r.init_status);
    }
    for_each_supported_level([&](int level) {
        float x[32] = {}, y[32];
        plan<float> p32(32);
        plan<double> p64(32);
        plan<float> small(8);
        auto fwd = transform_at<float>(level);
        EXPECT_EQ(fwd(nullptr, nullptr, nullptr, nullptr), krn_err_null);
        EXPECT_EQ(fwd(nullptr, y, p64.spec_area(), p64.work_area()), krn_err_context);
        std::vector<uint8_t> blank(1024, 0);
        EXPECT_EQ(fwd(x, y, blank.data(), p32.work_area()), krn_err_context);
        EXPECT_EQ(fwd(x, nullptr, p32.spec_area(), p32.work_area()), krn_err_null);
        EXPECT_EQ(fwd(x, y, p32.spec_area(), nullptr), krn_err_null);
        EXPECT_EQ(fwd(x, y, small.spec_area(), nullptr), 0);
        double xd[32] = {}, yd[32];
        EXPECT_EQ(transform_at<double>(level)(xd, yd, p32.spec_area(), p32.work_area()), krn_err_context);
        EXPECT_EQ(transform_at<double>(level)(xd, yd, p64.spec_area(), p64.work_area()), 0);
    });
}

// Flags 1 and 4 give the flag-8 output times the factor, in the precision's own arithmetic;
// flag 2 and a transform in place give the same bits as flag 8 out of place.
template <class T>
void check_scaling_and_in_place(int n) {
    SCOPED_TRACE(n);
    plan<T> p8(n, 8), p1(n, 1), p4(n, 4), p2(n, 2);
    const auto x = random_signal<T>(n, 3);
    const T f1 = T(1) / T(n), f4 = T(1.0 / std::sqrt(double(n)));
    for_each_supported_level([&](int level) {
        std::vector<T> y8(static_cast<size_t>(n)), y(y8.size()), z = x;
        auto fwd = transform_at<T>(level);
        ASSERT_EQ(fwd(x.data(), y8.data(), p8.spec_area(), p8.work_area()), 0);
        ASSERT_EQ(fwd(x.data(), y.data(), p1.spec_area(), p1.work_area()), 0);
        for (int j = 0; j < n; ++j) ASSERT_EQ(y[size_t(j)], y8[size_t(j)] * f1);
        ASSERT_EQ(fwd(x.data(), y.data(), p4.spec_area(), p4.work_area()), 0);
        for (int j = 0; j < n; ++j) ASSERT_EQ(y[size_t(j)], y8[size_t(j)] * f4);
        ASSERT_EQ(fwd(x.data(), y.data(), p2.spec_area(), p2.work_area()), 0);
        EXPECT_EQ(y, y8);
        ASSERT_EQ(fwd(z.data(), z.data(), p8.spec_area(), p8.work_area()), 0);
        EXPECT_EQ(z, y8);
        // A NaN sample reaches every bin whose value depends on it: all real parts for one at 0.
        z.assign(x.size(), T(0));
        z[0] = std::numeric_limits<T>::quiet_NaN();
        ASSERT_EQ(fwd(z.data(), y.data(), p8.spec_area(), p8.work_area()), 0);
        for (int k = 0; k <= n / 2; ++k) EXPECT_TRUE(std::isnan(y[size_t(packed_re(n, k))])) << k;
    });
}

TEST(DftEngine, ScalingFlagsInPlaceAndNaN) {
    for (int n : {5, 8, 9, 12, 16, 34, 45, 47, 64, 97, 100, 106, 256}) {
        check_scaling_and_in_place<float>(n);
        check_scaling_and_in_place<double>(n);
    }
}
