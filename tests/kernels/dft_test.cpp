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
struct engine;
template <>
struct engine<float> {
    static int size(int n, int f, int h, int* a, int* b, int* c) { return krn_dft_real_get_size_32f(n, f, h, a, b, c); }
    static int init(int n, int f, int h, uint8_t* s, uint8_t* i) { return krn_dft_real_init_32f(n, f, h, s, i); }
    static krn_dft_real_fwd_32f_fn fwd(int level) { return krn_dft_real_fwd_32f_variant(level); }
};
template <>
struct engine<double> {
    static int size(int n, int f, int h, int* a, int* b, int* c) { return krn_dft_real_get_size_64f(n, f, h, a, b, c); }
    static int init(int n, int f, int h, uint8_t* s, uint8_t* i) { return krn_dft_real_init_64f(n, f, h, s, i); }
    static krn_dft_real_fwd_64f_fn fwd(int level) { return krn_dft_real_fwd_64f_variant(level); }
};

// The three areas of one plan, deliberately off a 64-byte boundary by `skew` bytes.
template <class T>
struct plan {
    int spec_size = 0, init_size = 0, work_size = 0;
    std::vector<uint8_t> spec, init, work;
    int status;
    plan(int n, int flag = 8, int skew = 8) {
        status = engine<T>::size(n, flag, 0, &spec_size, &init_size, &work_size);
        if (status) return;
        spec.assign(size_t(spec_size) + 64, 0xA5);
        init.assign(size_t(init_size) + 64, 0xA5);
        work.assign(size_t(work_size) + 64, 0xA5);
        status = engine<T>::init(n, flag, 0, spec_ptr(skew), init_size ? skewed(init, skew) : nullptr);
        work_skew = skew;
    }
    int work_skew = 8;
    static uint8_t* skewed(std::vector<uint8_t>& v, int skew) {
        auto p = reinterpret_cast<uintptr_t>(v.data());
        return v.data() + ((64 - p % 64) % 64) + size_t(skew);
    }
    uint8_t* spec_ptr(int skew) { return skewed(spec, skew); }
    uint8_t* spec_area() { return spec_ptr(work_skew); }
    uint8_t* work_area() { return work_size ? skewed(work, work_skew) : nullptr; }
};

template <class T>
std::vector<T> random_signal(int64_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::vector<T> x(static_cast<size_t>(n));
    for (auto& v : x) v = T(u(gen));
    return x;
}

// The reference bins of one signal, and the bound a transform must meet on them: log2(N) stages
// of rounding (three transforms of about 4N points for chirp-z) give an error of about
// eps * stages * ||x||_2 per bin, and in RMS over the bins a few times less.
template <class T>
struct expected {
    int64_t n;
    std::vector<int64_t> bins;
    std::vector<long double> re, im;
    long double bound;
    expected(const std::vector<T>& x, std::vector<int64_t> which) : n(int64_t(x.size())), bins(std::move(which)) {
        dft_reference ref(n);
        if (bins.empty())
            for (int64_t k = 0; k <= n / 2; ++k) bins.push_back(k);
        for (int64_t k : bins) {
            long double r, i;
            ref.bin(x.data(), k, r, i);
            re.push_back(r);
            im.push_back(i);
        }
        long double norm = 0;
        for (T v : x) norm += (long double)v * v;
        bound = std::numeric_limits<T>::epsilon() * (3 * std::log2(double(4 * n)) + 4) * sqrtl(norm);
    }
    void check(const std::vector<T>& y) const {
        long double worst = 0, sum2 = 0;
        for (size_t b = 0; b < bins.size(); ++b) {
            const int64_t k = bins[b];
            long double e = fabsl(re[b] - (long double)y[size_t(packed_re(n, k))]);
            if (packed_im(n, k) >= 0) e = std::max(e, fabsl(im[b] - (long double)y[size_t(packed_im(n, k))]));
            worst = std::max(worst, e);
            sum2 += e * e;
        }
        EXPECT_LE(worst, bound) << "N = " << n;
        EXPECT_LE(sqrtl(sum2 / (long double)bins.size()), bound / 2) << "N = " << n;
    }
};

template <class T>
void check_lengths(const std::vector<int>& lengths) {
    for (int n : lengths) {
        SCOPED_TRACE(::testing::Message() << "N = " << n);
        plan<T> p(n);
        ASSERT_EQ(p.status, 0);
        const auto x = random_signal<T>(n, uint32_t(n));
        std::vector<int64_t> bins;
        if (n > 300) {  // a sample of bins keeps the reference linear in N
            std::mt19937 g{static_cast<uint32_t>(n)};
            for (int j = 0; j < 16; ++j) bins.push_back(int64_t(g() % uint32_t(n / 2 + 1)));
            bins.push_back(0);
            bins.push_back(n / 2);
        }
        const expected<T> want(x, bins);
        // Vector and scalar stages compute lane for lane the same operations: every level gives
        // the same bits from the same plan.
        std::vector<T> first;
        for_each_supported_level([&](int level) {
            std::vector<T> y(static_cast<size_t>(n), T(-7));
            ASSERT_EQ(engine<T>::fwd(level)(x.data(), y.data(), p.spec_area(), p.work_area()), 0);
            want.check(y);
            if (level == 0) {
                first = y;
            } else {
                EXPECT_EQ(std::memcmp(first.data(), y.data(), y.size() * sizeof(T)), 0);
            }
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
        2018, 17, 19,  23,  29,  31,   47,   53,   89,   97,   1009, 159, 291, 2809, 4099};  // direct, chirp-z
    check_lengths<float>(lengths);
    check_lengths<double>(lengths);
}

// The planner transforms its chirp-z kernel through the running level's complex stages, so
// every level's stages must give the same bits on a plan's convolution record.
template <class T, class C, class Fn>
void check_complex_passes(Fn variant) {
    for (int n : {97, 4099}) {
        SCOPED_TRACE(::testing::Message() << "N = " << n);
        plan<T> p(n);
        ASSERT_EQ(p.status, 0);
        const uint8_t* spec = p.spec_area() + (64 - reinterpret_cast<uintptr_t>(p.spec_area()) % 64) % 64;
        const auto& conv = reinterpret_cast<const dft::header*>(spec)->conv;
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

namespace {

// The header sits at the first 64-byte boundary of the area the plan was given.
template <class T>
const dft::header& head(plan<T>& p) {
    uint8_t* a = p.spec_area();
    return *reinterpret_cast<const dft::header*>((reinterpret_cast<uintptr_t>(a) + 63) & ~uintptr_t(63));
}

template <class T>
std::vector<int> factors(int n) {
    plan<T> p(n);
    EXPECT_EQ(p.status, 0);
    const dft::header& h = head(p);
    if (h.main.kind != dft::complex_passes) return {-h.main.kind, h.main.conv_len};
    return std::vector<int>(h.main.factor, h.main.factor + h.main.stages);
}

}  // namespace

TEST(DftPlan, FactorListsAndFallbacks) {
    using V = std::vector<int>;
    // Even lengths plan their half; the 2 goes first; a 3 merges into it as a 6.
    EXPECT_EQ(factors<float>(1000), (V{4, 5, 5, 5}));
    EXPECT_EQ(factors<float>(100), (V{2, 5, 5}));
    EXPECT_EQ(factors<float>(60), (V{6, 5}));
    EXPECT_EQ(factors<double>(60), (V{6, 5}));
    EXPECT_EQ(factors<float>(48), (V{2, 4, 3}));  // 32-bit: no merge across a 4
    EXPECT_EQ(factors<double>(48), (V{6, 4}));    // 64-bit: always
    EXPECT_EQ(factors<float>(3 * 3 * 5 * 7), (V{3, 3, 5, 7}));
    // Last factor limits: 50 / 90 for lengths not a multiple of 4, 150 when they are.
    EXPECT_EQ(factors<double>(3 * 53), (V{3, 53}));
    EXPECT_EQ(factors<float>(3 * 53), (V{-dft::complex_chirp, 320}));
    EXPECT_EQ(factors<float>(2 * 4 * 149), (V{4, 149}));
    EXPECT_EQ(factors<float>(2 * 4 * 151), (V{-dft::complex_chirp, 1280}));
    // Trial divisors stop above 49 / 89.
    EXPECT_EQ(factors<double>(53 * 53), (V{53, 53}));
    EXPECT_EQ(factors<float>(53 * 53), (V{-dft::complex_chirp, 6144}));
    EXPECT_EQ(factors<double>(97 * 97), (V{-dft::complex_chirp, 1 << 15}));
    // Direct below 51 / 91, chirp-z beyond with K from the table or the next power of two.
    EXPECT_EQ(factors<float>(47), (V{-dft::complex_direct, 0}));
    EXPECT_EQ(factors<float>(53), (V{-dft::complex_chirp, 128}));
    EXPECT_EQ(factors<double>(89), (V{-dft::complex_direct, 0}));
    EXPECT_EQ(factors<double>(97), (V{-dft::complex_chirp, 200}));
    EXPECT_EQ(factors<float>(2 * 67), (V{-dft::complex_chirp, 144}));
    EXPECT_EQ(factors<float>(4099), (V{-dft::complex_chirp, 16384}));
}

// The identifier, length and hint sit at the first 64-byte boundary of the area.
TEST(DftPlan, HeaderRecordsIdentifierLengthAndHint) {
    std::vector<uint8_t> area(1024);
    const auto* h =
        reinterpret_cast<const dft::header*>((reinterpret_cast<uintptr_t>(area.data() + 1) + 63) & ~uintptr_t(63));
    ASSERT_EQ(krn_dft_real_init_32f(8, 2, 5, area.data() + 1, nullptr), 0);
    EXPECT_EQ(h->id, 17);
    EXPECT_EQ(h->n, 8);
    EXPECT_EQ(h->hint, 5);
    EXPECT_EQ(h->inverse_scaled, 1);
    ASSERT_EQ(krn_dft_real_init_64f(12, 8, 0, area.data() + 1, nullptr), 0);
    EXPECT_EQ(h->id, 20);
}

// Straight-line plans need their plan area alone; other lengths get 64-byte multiples, a work
// area and, unless a power of two, an initialisation area holding at least the N roots.
TEST(DftPlan, AreaSizes) {
    int s, i, w, s2, i2, w2;
    for (int n : {1, 7, 16, 17, 32, 100, 97, 1024, 1001, 4099, 1 << 20}) {
        SCOPED_TRACE(n);
        ASSERT_EQ(krn_dft_real_get_size_32f(n, 8, 0, &s, &i, &w), 0);
        ASSERT_EQ(krn_dft_real_get_size_64f(n, 8, 0, &s2, &i2, &w2), 0);
        if (n <= 16) {
            EXPECT_EQ(std::vector<int>({s, i, w, s2, i2, w2}), std::vector<int>({768 + 64, 0, 0, 832 + 64, 0, 0}));
            continue;
        }
        EXPECT_TRUE(s % 64 == 0 && i % 64 == 0 && w % 64 == 0 && w > 0 && s2 > s);
        if ((n & (n - 1)) == 0) EXPECT_EQ(i, 0);
        else EXPECT_TRUE(i >= n * 8 + 64 && i2 >= n * 16 + 64);
    }
}

TEST(DftPlan, StatusesAndCheckOrder) {
    int s, i, w;
    EXPECT_EQ(krn_dft_real_get_size_32f(0, 8, 0, nullptr, &i, &w), krn_err_null);
    EXPECT_EQ(krn_dft_real_get_size_32f(8, 8, 0, &s, nullptr, &w), krn_err_null);
    EXPECT_EQ(krn_dft_real_get_size_64f(8, 8, 0, &s, &i, nullptr), krn_err_null);
    EXPECT_EQ(krn_dft_real_get_size_32f(0, 3, 0, &s, &i, &w), krn_err_size);
    EXPECT_EQ(krn_dft_real_get_size_32f(-4, 8, 0, &s, &i, &w), krn_err_size);
    EXPECT_EQ(krn_dft_real_get_size_32f(8, 3, 0, &s, &i, &w), krn_err_flag);
    EXPECT_EQ(krn_dft_real_get_size_64f(1 << 30, 0, 0, &s, &i, &w), krn_err_flag);
    for (int f : {1, 2, 4, 8}) EXPECT_EQ(krn_dft_real_get_size_64f(8, f, 0, &s, &i, &w), 0);
    EXPECT_EQ(krn_dft_real_get_size_32f(1 << 30, 8, 0, &s, &i, &w), krn_err_order);
    EXPECT_EQ(krn_dft_real_get_size_64f(1 << 29, 8, 0, &s, &i, &w), krn_err_order);
    EXPECT_EQ(krn_dft_real_get_size_32f((1 << 27) + 1, 8, 0, &s, &i, &w), krn_err_size);
    EXPECT_EQ(krn_dft_real_get_size_32f(1 << 27 | 2, 8, 0, &s, &i, &w), krn_err_size);
    EXPECT_EQ(krn_dft_real_get_size_64f((1 << 26) + 2, 8, 0, &s, &i, &w), krn_err_size);
    // Chirp-z bound: a prime at 2^26 (32-bit) or 2^25 (64-bit) and above cannot be planned.
    EXPECT_EQ(krn_dft_real_get_size_32f(67108879, 8, 0, &s, &i, &w), krn_err_size);
    EXPECT_EQ(krn_dft_real_get_size_64f(33554467, 8, 0, &s, &i, &w), krn_err_size);
    EXPECT_EQ(krn_dft_real_get_size_32f(1000003, 8, 0, &s, &i, &w), 0);
    EXPECT_EQ(krn_dft_real_get_size_32f(1 << 26, 8, 0, &s, &i, &w), 0);

    std::vector<uint8_t> spec(4096), init(4096);
    EXPECT_EQ(krn_dft_real_init_32f(0, 3, 0, nullptr, nullptr), krn_err_null);
    EXPECT_EQ(krn_dft_real_init_32f(0, 3, 0, spec.data(), nullptr), krn_err_size);
    EXPECT_EQ(krn_dft_real_init_32f(24, 3, 0, spec.data(), nullptr), krn_err_flag);
    EXPECT_EQ(krn_dft_real_init_32f((1 << 27) + 1, 8, 0, spec.data(), nullptr), krn_err_size);
    EXPECT_EQ(krn_dft_real_init_32f(1 << 30, 8, 0, spec.data(), nullptr), krn_err_order);
    // The initialisation area is refused null exactly for lengths above 16 that are not powers of two.
    EXPECT_EQ(krn_dft_real_init_32f(24, 8, 0, spec.data(), nullptr), krn_err_null);
    EXPECT_EQ(krn_dft_real_init_64f(17, 8, 0, spec.data(), nullptr), krn_err_null);
    EXPECT_EQ(krn_dft_real_init_32f(16, 8, 0, spec.data(), nullptr), 0);
    EXPECT_EQ(krn_dft_real_init_32f(32, 8, 0, spec.data(), nullptr), 0);

    for_each_supported_level([&](int level) {
        float x[32] = {}, y[32];
        plan<float> p32(32);
        plan<double> p64(32);
        plan<float> small(8);
        auto fwd = engine<float>::fwd(level);
        EXPECT_EQ(fwd(nullptr, nullptr, nullptr, nullptr), krn_err_null);
        EXPECT_EQ(fwd(nullptr, y, p64.spec_area(), p64.work_area()), krn_err_context);
        std::vector<uint8_t> blank(1024, 0);
        EXPECT_EQ(fwd(x, y, blank.data(), p32.work_area()), krn_err_context);
        EXPECT_EQ(fwd(x, nullptr, p32.spec_area(), p32.work_area()), krn_err_null);
        EXPECT_EQ(fwd(x, y, p32.spec_area(), nullptr), krn_err_null);
        EXPECT_EQ(fwd(x, y, small.spec_area(), nullptr), 0);
        double xd[32] = {}, yd[32];
        EXPECT_EQ(engine<double>::fwd(level)(xd, yd, p32.spec_area(), p32.work_area()), krn_err_context);
        EXPECT_EQ(engine<double>::fwd(level)(xd, yd, p64.spec_area(), p64.work_area()), 0);
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
        auto fwd = engine<T>::fwd(level);
        ASSERT_EQ(fwd(x.data(), y8.data(), p8.spec_area(), p8.work_area()), 0);
        ASSERT_EQ(fwd(x.data(), y.data(), p1.spec_area(), p1.work_area()), 0);
        for (int j = 0; j < n; ++j) ASSERT_EQ(y[size_t(j)], y8[size_t(j)] * f1);
        ASSERT_EQ(fwd(x.data(), y.data(), p4.spec_area(), p4.work_area()), 0);
        for (int j = 0; j < n; ++j) ASSERT_EQ(y[size_t(j)], y8[size_t(j)] * f4);
        ASSERT_EQ(fwd(x.data(), y.data(), p2.spec_area(), p2.work_area()), 0);
        EXPECT_EQ(y, y8);
        ASSERT_EQ(fwd(z.data(), z.data(), p8.spec_area(), p8.work_area()), 0);
        EXPECT_EQ(z, y8);
    });
}

TEST(DftEngine, ScalingFlagsAndInPlace) {
    for (int n : {5, 9, 12, 16, 34, 45, 47, 64, 97, 100, 106, 256}) {
        check_scaling_and_in_place<float>(n);
        check_scaling_and_in_place<double>(n);
    }
}

// A NaN sample reaches every bin whose value depends on it: all real parts for a NaN at n = 0.
TEST(DftEngine, SpecialValuesPropagate) {
    for (int n : {8, 64, 100, 97}) {
        SCOPED_TRACE(n);
        plan<double> p(n);
        std::vector<double> x(size_t(n), 0.0), y(static_cast<size_t>(n));
        x[0] = std::numeric_limits<double>::quiet_NaN();
        for_each_supported_level([&](int level) {
            ASSERT_EQ(engine<double>::fwd(level)(x.data(), y.data(), p.spec_area(), p.work_area()), 0);
            for (int k = 0; k <= n / 2; ++k) EXPECT_TRUE(std::isnan(y[size_t(packed_re(n, k))])) << k;
        });
    }
}
