#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <limits>
#include <numeric>
#include <random>
#include <vector>

#include "kernels/kernels.hpp"
#include "support/level_sweep.hpp"
#include "support/log_models.hpp"

using namespace qor::krn;
using qor::test::for_each_supported_level;
using qor::test::same_bits;
using qor::test::same_bits_at_every_level;
using qor::test::ulp_error;

namespace {

// Every exponent, each at the reduction's boundaries (2/3 and 4/3 of the binade) and a few
// other mantissas; then a strided walk over all positive normal patterns.
std::vector<float> dense_sweep(uint32_t stride) {
    std::vector<float> v;
    for (uint32_t ex = 1; ex < 255; ++ex)
        for (uint32_t m : {0u, 1u, 0x2AAAA9u, 0x2AAAAAu, 0x2AAAABu, 0x2AAAACu, 0x555555u, 0x7FFFFEu, 0x7FFFFFu})
            v.push_back(std::bit_cast<float>((ex << 23) | m));
    for (uint32_t b = 0x00800000u; b <= 0x7F7FFFFFu && b >= 0x00800000u; b += stride)
        v.push_back(std::bit_cast<float>(b));
    return v;
}

// The reduction kernels, out of place and in place, give their models' bits on every input.
void sweep_32(uint32_t stride) {
    const std::vector<float> in = dense_sweep(stride);
    const auto ln = same_bits_at_every_level(krn_ln_32f_variant, in, krn_ok),
               lg = same_bits_at_every_level(krn_log10_32f_variant, in, krn_ok);
    for (size_t i = 0; i < in.size(); ++i)
        ASSERT_TRUE(same_bits(ln[i], qor::test::ln32_model(in[i])) &&
                    same_bits(lg[i], qor::test::log10_32_model(in[i]))) << std::hexfloat << in[i];
    for_each_supported_level([&](int level) {
        qor::test::expect_elementwise<float>([&](int f, int n, float* d) {
            std::copy(in.begin() + f, in.begin() + f + n, d);
            return krn_ln_32f_ip_variant(level)(d, n);
        }, [&](size_t i) { return ln[i]; }, {int(in.size()) - 1}, same_bits<float>, 1);
    });
}

}  // namespace

TEST(Log32, EveryLevelGivesTheReferenceBits) { sweep_32(4099); }
TEST(Log32, LargeSweepGivesTheReferenceBits) { sweep_32(127); }

// Every length to 100 (four blocks, a pair, one and a tail at the widest level) at every offset,
// nothing around the destination written: the reduction
// kernels against their models, the others against the baseline variant element by element;
// and the refusals (log1p and log10 look at the length first).
TEST(Log32, LengthsOffsetsAndRefusals) {
    std::vector<float> in(112);
    std::vector<double> din(112);
    for (size_t i = 0; i < in.size(); ++i) in[i] = 0.37f + 0.731f * float(i), din[i] = 0.37 + 0.731 * double(i);
    std::vector<int> lengths(100);
    std::iota(lengths.begin(), lengths.end(), 1);
    const auto check = [&](auto kernel, const auto& v, auto model, bool length_first) {
        using T = std::decay_t<decltype(v[0])>;
        qor::test::expect_elementwise<T>([&](int f, int n, T* d) { return kernel(v.data() + f, d, n); },
                                         [&](size_t i) { return model(v[i]); }, lengths);
        qor::test::expect_refusals(kernel, length_first);
    };
    const auto one_by_one = [](auto k) { return [k](auto x) { decltype(x) y; return k(&x, &y, 1), y; }; };
    for_each_supported_level([&](int level) {
        check(krn_ln_32f_variant(level), in, qor::test::ln32_model, false);
        check(krn_log10_32f_variant(level), in, qor::test::log10_32_model, true);
        check(krn_log1p_32f_variant(level), in, one_by_one(krn_log1p_32f_variant(0)), true);
        check(krn_ln_64f_variant(level), din, one_by_one(krn_ln_64f_variant(0)), false);
        check(krn_log10_64f_variant(level), din, one_by_one(krn_log10_64f_variant(0)), true);
        check(krn_log1p_64f_variant(level), din, one_by_one(krn_log1p_64f_variant(0)), true);
        float f = 1;
        double d = 1;
        EXPECT_EQ(krn_ln_32f_ip_variant(level)(nullptr, 0), krn_err_null);
        EXPECT_EQ(krn_ln_64f_ip_variant(level)(&d, 0), krn_err_size);
        EXPECT_EQ(krn_ln_32f_ip_variant(level)(&f, -1), krn_err_size);
    });
}

// Worst errors against long double over a strided sweep of all positive normal floats (ln: 3.0
// ulp measured; log10: 7.2e-6 absolute; log1p: 0.5 ulp after the one rounding); positive
// subnormals leave the reduction and are computed in double, then rounded once.
TEST(Log32, ErrorsStayWithinTheirBounds) {
    std::vector<float> in = dense_sweep(9973);
    for (uint32_t b = 1; b < 0x00800000u; b = b * 3 + 1) in.push_back(std::bit_cast<float>(b));  // subnormals
    in.push_back(std::bit_cast<float>(0x007FFFFFu));
    const auto ln = same_bits_at_every_level(krn_ln_32f_variant, in, krn_ok),
               lg = same_bits_at_every_level(krn_log10_32f_variant, in, krn_ok),
               l1p = same_bits_at_every_level(krn_log1p_32f_variant, in, krn_ok);
    double worst_ln = 0, worst_lg = 0, worst_lg_mid = 0, worst_l1p = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        const long double x = in[i];
        if (x < 0x1p-126L) {
            EXPECT_LE(ulp_error(ln[i], std::log(x)), 0.501) << in[i];
            EXPECT_LE(ulp_error(lg[i], std::log10(x)), 0.501) << in[i];
            continue;
        }
        if (x >= 2.0L / 3 && x < 4.0L / 3) worst_ln = std::max(worst_ln, ulp_error(ln[i], std::log(x)));
        const double lg_err = double(std::fabs(lg[i] - std::log10(x)));
        worst_lg = std::max(worst_lg, lg_err);
        if (x >= 1e-6L && x <= 1e6L) worst_lg_mid = std::max(worst_lg_mid, lg_err);
        worst_l1p = std::max(worst_l1p, ulp_error(l1p[i], std::log1p(x)));
    }
    EXPECT_LE(worst_ln, 4.0);
    EXPECT_LE(worst_lg_mid, 8.5e-6);
    EXPECT_LE(worst_lg, 1.3e-5);  // the single-precision e * log10(2) near the largest exponents
    EXPECT_LE(worst_l1p, 0.5005);
}

// The wider levels approximate ln(1 + x) and take the exact path only where the float rounding is
// in doubt: over a strided walk of the whole domain (including the lanes redone and the row
// edges of the approximation) and under directed rounding with FTZ/DAZ, every level gives the
// baseline's bits.
void log1p32_matches_baseline(uint32_t stride) {
    std::vector<float> in;
    for (uint64_t b = 0; b <= 0xBF800000u; b += stride)
        if (b < 0x7F800000u || b > 0x80000000u) in.push_back(std::bit_cast<float>(uint32_t(b)));
    for (int i = -8; i <= 8; ++i)  // 1 + x at the row edges, 1 +- 2^-6 and 2^-5 and 1 + j/16 +- 1/32
        for (int j = -1; j <= 16; ++j)
            in.push_back(std::nextafter(float(j) / 16.0f + 1.0f / 32.0f, 2.0f) + float(i) * 0x1p-23f);
    const unsigned csr = _mm_getcsr();
    for (unsigned mode : {0x1F80u, 0x1F80u | 0x6000u | 0x8040u})
        _mm_setcsr(mode), same_bits_at_every_level(krn_log1p_32f_variant, in);
    _mm_setcsr(csr);
}

TEST(Log1p32, EveryLevelGivesTheBaselineBits) { log1p32_matches_baseline(65521); }
TEST(Log1p32, LargeSweepGivesTheBaselineBits) { log1p32_matches_baseline(509); }

// Samples of every binade, subnormals and the neighbourhood of 1, where cancellation would show.
std::vector<double> samples_64(int count) {
    std::mt19937_64 gen(42);
    std::vector<double> v;
    for (int i = 0; i < count; ++i) {
        const uint64_t b = gen() >> 1;
        if (b >= 0x7FF0000000000000ull) continue;
        v.push_back(std::bit_cast<double>(b));
        v.push_back(1.0 + std::ldexp(double(int64_t(gen() >> 12) - (int64_t(1) << 51)), -52 - int(gen() % 40)));
    }
    for (double x : {0x1p-1074, 0x1p-1030, 0x1.fffffffffffffp-1023, 0x1p-1022, 1.0, 2.0, 0x1.fffffffffffffp-1,
                     0x1.0000000000001p0, 0x1.fffffffffffffp1023, 10.0, 1e22, 0.1})
        v.push_back(x);
    return v;
}

void errors_64(int count) {
    const std::vector<double> in = samples_64(count);
    std::vector<double> neg(in.size());
    for (size_t i = 0; i < in.size(); ++i) neg[i] = -in[i] / (in[i] > 0.5 ? in[i] * 4 : 2);  // inside (-1, 0)
    const auto ln = same_bits_at_every_level(krn_ln_64f_variant, in, krn_ok),
               lg = same_bits_at_every_level(krn_log10_64f_variant, in, krn_ok),
               l1p = same_bits_at_every_level(krn_log1p_64f_variant, in, krn_ok),
               l1n = same_bits_at_every_level(krn_log1p_64f_variant, neg, krn_ok);
    double worst[4] = {};
    for (size_t i = 0; i < in.size(); ++i) {
        const long double x = in[i];
        worst[0] = std::max(worst[0], x == 1 ? std::fabs(ln[i]) : ulp_error(ln[i], std::log(x)));
        worst[1] = std::max(worst[1], x == 1 ? std::fabs(lg[i]) : ulp_error(lg[i], std::log10(x)));
        worst[2] = std::max(worst[2], ulp_error(l1p[i], std::log1p(x)));
        worst[3] = std::max(worst[3], ulp_error(l1n[i], std::log1p((long double)neg[i])));
    }
    for (double w : worst) EXPECT_LE(w, 0.8);
}

TEST(Log64, ErrorsBelowOneUlp) { errors_64(20000); }
TEST(Log64, LargeErrorsBelowOneUlp) { errors_64(500000); }

// The special-value table, for both precisions and every level: each input with the bits of its
// ln and log10, and of its log1p (NaN payloads kept, quieted; the default NaN for the domain).
template <class T, class K>
void check_specials(const std::vector<std::array<qor::test::bits_t<T>, 3>>& rows, K ln, K log10, K log1p) {
    using qor::test::bits_of;
    using qor::test::from_bits;
    for (const auto& [x, log_bits, log1p_bits] : rows) {
        const T in = from_bits<T>(x);
        T a, b, c;
        ln(&in, &a, 1), log10(&in, &b, 1), log1p(&in, &c, 1);
        EXPECT_TRUE(bits_of(a) == log_bits && bits_of(b) == log_bits && bits_of(c) == log1p_bits) << std::hex << x;
    }
}

TEST(LogSpecials, TableValuesAndPayloads) {
    const uint32_t n32 = 0xFFC00000u, minus_tiny = std::bit_cast<uint32_t>(-0x1p-140f);  // n: the default NaNs
    const uint64_t n64 = 0xFFF8000000000000ull;
    for_each_supported_level([&](int level) {
        // +0, -0: the pole, log1p keeps them; -1: the pole of log1p; a signalling NaN quieted, its payload kept.
        check_specials<float>({{0x00000000, 0xFF800000, 0x00000000}, {0x80000000, 0xFF800000, 0x80000000},
                               {0xBF800000, n32, 0xFF800000}, {0xC0200000, n32, n32}, {0xFF800000, n32, n32},
                               {0x7F800000, 0x7F800000, 0x7F800000}, {0x7F800123, 0x7FC00123, 0x7FC00123},
                               {0xFFC00456, 0xFFC00456, 0xFFC00456}, {minus_tiny, n32, minus_tiny}},
                              krn_ln_32f_variant(level), krn_log10_32f_variant(level), krn_log1p_32f_variant(level));
        check_specials<double>({{0x0000000000000000, 0xFFF0000000000000, 0x0000000000000000},
                                {0x8000000000000000, 0xFFF0000000000000, 0x8000000000000000},
                                {0xBFF0000000000000, n64, 0xFFF0000000000000}, {std::bit_cast<uint64_t>(-1e300), n64, n64},
                                {0xFFF0000000000000, n64, n64}, {0x7FF0000000000000, 0x7FF0000000000000, 0x7FF0000000000000},
                                {0x7FF0000000000123, 0x7FF8000000000123, 0x7FF8000000000123}},
                               krn_ln_64f_variant(level), krn_log10_64f_variant(level), krn_log1p_64f_variant(level));
        const double tiny = 0x1p-1060;
        double ln, lg, lp;
        krn_ln_64f_variant(level)(&tiny, &ln, 1), krn_log10_64f_variant(level)(&tiny, &lg, 1),
            krn_log1p_64f_variant(level)(&tiny, &lp, 1);
        EXPECT_LE(ulp_error(ln, -1060 * std::log(2.0L)), 0.6);
        EXPECT_LE(ulp_error(lg, -1060 * std::log10(2.0L)), 0.6);
        EXPECT_EQ(lp, tiny);
    });
}

// The last out-of-domain element in index order decides, wherever it falls among the blocks.
TEST(LogWarnings, LastReportInIndexOrder) {
    // Each row: (index, value) pairs put into a run of threes; the expected ln and log10 statuses.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct row { std::vector<std::pair<int, float>> put; int ln, log10; };
    const int dom[2] = {krn_warn_domain, krn_math_domain}, sing[2] = {krn_warn_singularity, krn_math_singularity};
    const row rows[] = {{{{0, 1.0f}, {1, 0.0f}, {2, -1.0f}}, dom[0], dom[1]},
                        {{{0, -1.0f}, {1, 0.0f}}, sing[0], sing[1]}, {{{0, -0.0f}}, sing[0], sing[1]},
                        {{{3, -5.0f}, {40, 0.0f}}, sing[0], sing[1]}, {{{3, 0.0f}, {40, -INFINITY}}, dom[0], dom[1]},
                        {{{5, -0.0f}, {17, nan}}, sing[0], sing[1]}, {{{2, -0x1p-140f}, {33, 1.0f}}, dom[0], dom[1]},
                        {{{7, nan}}, krn_ok, krn_ok}};
    for_each_supported_level([&](int level) {
        for (const row& r : rows) {
            std::vector<float> in(45, 3.0f), out(45);
            std::vector<double> din(45, 3.0), dout(45);
            for (auto [i, v] : r.put) in[size_t(i)] = v, din[size_t(i)] = v;
            EXPECT_EQ(krn_ln_32f_variant(level)(in.data(), out.data(), 45), r.ln);
            EXPECT_EQ(krn_ln_64f_variant(level)(din.data(), dout.data(), 45), r.ln);
            EXPECT_EQ(krn_log10_32f_variant(level)(in.data(), out.data(), 45), r.log10);
            EXPECT_EQ(krn_log10_64f_variant(level)(din.data(), dout.data(), 45), r.log10);
            EXPECT_EQ(krn_ln_32f_ip_variant(level)(in.data(), 45), r.ln);
            EXPECT_EQ(krn_ln_64f_ip_variant(level)(din.data(), 45), r.ln);
        }
        float p[] = {-1.0f, -2.0f}, q[2];
        double dp[] = {-2.0, 0.0, -1.0}, dq[3];
        EXPECT_EQ(krn_log1p_32f_variant(level)(p, q, 2), krn_math_domain);
        EXPECT_EQ(krn_log1p_32f_variant(level)(p + 1, q, 1), krn_math_domain);
        EXPECT_EQ(krn_log1p_64f_variant(level)(dp, dq, 3), krn_math_singularity);
        EXPECT_EQ(krn_log1p_64f_variant(level)(dp, dq, 2), krn_math_domain);
    });
}

// A caller with FTZ+DAZ, rounding toward zero and traps on invalid and divide-by-zero gets its
// control words back exactly; ln and log10 compute as under the default state, and clear the
// error flags they raise for a caller in the default state.
TEST(LogFloatingPointState, CallerStateComesBackExactly) {
    auto x87 = [] { uint16_t cw; __asm__ volatile("fnstcw %0" : "=m"(cw)); return cw; };
    auto set_x87 = [](uint16_t cw) { __asm__ volatile("fldcw %0" : : "m"(cw)); };
    const unsigned sentinel = 0x8000u | 0x6000u | 0x0040u | (0x1F80u & ~0x0280u) | 0x0001u, csr0 = _mm_getcsr();
    const uint16_t x87_sentinel = 0x037A, cw0 = x87();
    const float in[] = {0.0f, -1.0f, std::bit_cast<float>(0x7F800001u), 0x1p-140f, 3.0f, 1e-3f, 7.0f, 0.1f, 5.5f};
    const double din[] = {0.0, -1.0, 0x1p-1060, 3.0, 0.1};
    for_each_supported_level([&](int level) {
        float want[3][9], got[3][9], l1p[9];
        double dwant[2][5], dgot[2][5], dl1p[5];
        auto run = [&](float (*out)[9], double (*dout)[5]) {
            krn_ln_32f_variant(level)(in, out[0], 9), krn_log10_32f_variant(level)(in, out[1], 9);
            std::memcpy(out[2], in, sizeof in);
            krn_ln_32f_ip_variant(level)(out[2], 9);
            krn_ln_64f_variant(level)(din, dout[0], 5), krn_log10_64f_variant(level)(din, dout[1], 5);
        };
        _mm_setcsr(0x1F80);
        run(want, dwant);
        EXPECT_EQ(_mm_getcsr() & 0x1Fu, 0u);
        _mm_setcsr(sentinel), set_x87(x87_sentinel);
        run(got, dgot);
        krn_log1p_32f_variant(level)(in, l1p, 9), krn_log1p_64f_variant(level)(din, dl1p, 5);
        const unsigned csr = _mm_getcsr();
        const uint16_t cw = x87();
        _mm_setcsr(csr0), set_x87(cw0);
        EXPECT_TRUE(csr == sentinel && cw == x87_sentinel) << std::hex << csr << " " << cw;
        EXPECT_EQ(std::memcmp(want, got, sizeof want), 0);
        EXPECT_EQ(std::memcmp(dwant, dgot, sizeof dwant), 0);
    });
}
