#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
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

// Compares a packed spectrum with the reference over `bins` (all bins when empty). The bound:
// a transform of log2(N) (or, for chirp-z, three transforms of log2(K)) stages of rounding gives
// an error of about eps * stages * ||x||_2 per bin, in RMS over bins a few times smaller.
template <class T>
void expect_close(const std::vector<T>& x, const std::vector<T>& y, std::vector<int64_t> bins = {}) {
    const int64_t n = int64_t(x.size());
    dft_reference ref(n);
    if (bins.empty())
        for (int64_t k = 0; k <= n / 2; ++k) bins.push_back(k);
    long double norm = 0;
    for (T v : x) norm += (long double)v * v;
    norm = sqrtl(norm);
    const long double eps = std::numeric_limits<T>::epsilon();
    const long double stages = 3 * std::log2(double(4 * n)) + 4;
    long double worst = 0, sum2 = 0;
    for (int64_t k : bins) {
        long double re, im;
        ref.bin(x.data(), k, re, im);
        long double e = fabsl(re - (long double)y[size_t(packed_re(n, k))]);
        if (packed_im(n, k) >= 0) e = std::max(e, fabsl(im - (long double)y[size_t(packed_im(n, k))]));
        worst = std::max(worst, e);
        sum2 += e * e;
    }
    const long double rms = sqrtl(sum2 / (long double)bins.size());
    EXPECT_LE(worst, eps * stages * norm) << "N = " << n;
    EXPECT_LE(rms, eps * stages * norm / 2) << "N = " << n;
}

template <class T>
void check_lengths(const std::vector<int>& lengths, bool sampled = false) {
    for (int n : lengths) {
        SCOPED_TRACE(::testing::Message() << "N = " << n);
        plan<T> p(n);
        ASSERT_EQ(p.status, 0);
        const auto x = random_signal<T>(n, uint32_t(n));
        std::vector<int64_t> bins;
        if (sampled) {
            std::mt19937 g{static_cast<uint32_t>(n)};
            for (int j = 0; j < 24; ++j) bins.push_back(int64_t(g() % uint32_t(n / 2 + 1)));
            bins.push_back(0);
            bins.push_back(n / 2);
        }
        for_each_supported_level([&](int level) {
            std::vector<T> y(size_t(n), T(-7));
            ASSERT_EQ(engine<T>::fwd(level)(x.data(), y.data(), p.spec_area(), p.work_area()), 0);
            expect_close(x, y, bins);
        });
    }
}

// Every plan path: straight-line (1..16), powers of two, odd factor lists, even lengths whose
// half is small / factored / direct / chirp-z, odd direct and chirp-z.
const std::vector<int> small_lengths = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const std::vector<int> pow2_lengths = {32, 64, 128, 256, 512, 1024, 4096};
const std::vector<int> odd_factored = {21, 25, 27, 45, 75, 105, 225, 343, 1001, 3 * 3 * 5 * 7 * 11, 13 * 17 * 19};
const std::vector<int> even_lengths = {18, 20, 24, 26, 30, 32 + 4, 100, 1000, 6000, 2 * 47, 4 * 49 * 3, 4 * 37,
                                       2 * 53, 2 * 97, 2 * 89, 4 * 151, 2 * 1009};
const std::vector<int> odd_fallback = {17, 19, 23, 29, 31, 47, 53, 89, 97, 1009, 3 * 53, 3 * 97, 53 * 53, 4099};

}  // namespace

TEST(DftEngine, SmallLengthsAllLevels) {
    check_lengths<float>(small_lengths);
    check_lengths<double>(small_lengths);
}

TEST(DftEngine, PowersOfTwoAllLevels) {
    check_lengths<float>(pow2_lengths);
    check_lengths<double>(pow2_lengths);
}

TEST(DftEngine, OddFactorListsAllLevels) {
    check_lengths<float>(odd_factored);
    check_lengths<double>(odd_factored);
}

TEST(DftEngine, EvenLengthsAllLevels) {
    check_lengths<float>(even_lengths);
    check_lengths<double>(even_lengths);
}

TEST(DftEngine, DirectAndChirpFallbacksAllLevels) {
    check_lengths<float>(odd_fallback);
    check_lengths<double>(odd_fallback);
}

TEST(DftEngine, LongLengthsLarge) {
    const std::vector<int> lengths = {1 << 14, 1 << 16, 1 << 20, 65537, 1000000, 3 * 5 * 7 * 11 * 13 * 17,
                                      2 * 8209, 2 * 65537, 100003};
    check_lengths<float>(lengths, true);
    check_lengths<double>(lengths, true);
}
