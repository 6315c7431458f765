#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <immintrin.h>
#include <limits>
#include <random>
#include <vector>

#include "kernels/kernels.hpp"
#include "support/levels.hpp"
#include "support/log_models.hpp"

using namespace qor::krn;
using qor::test::for_each_supported_level;
using qor::test::ulp_error;

namespace {

constexpr float finf = std::numeric_limits<float>::infinity();
constexpr double dinf = std::numeric_limits<double>::infinity();
const uint32_t default_nan32 = 0xFFC00000u;
const uint64_t default_nan64 = 0xFFF8000000000000ull;

// Every exponent, each at the reduction's boundaries (2/3 and 4/3 of the binade) and a few
// other mantissas; then a strided walk over all positive normal patterns.
std::vector<float> dense_sweep(uint32_t stride) {
    std::vector<float> v;
    for (uint32_t ex = 1; ex < 255; ++ex)
        for (uint32_t m : {0u, 1u, 0x2AAAA9u, 0x2AAAAAu, 0x2AAAABu, 0x2AAAACu, 0x555555u, 0x7FFFFEu, 0x7FFFFFu})
            v.push_back(std::bit_cast<float>((ex << 23) | m));
    for (uint32_t b = 0x00800000u; b <= 0x7F7FFFFFu && b >= 0x00800000u; b += stride) v.push_back(std::bit_cast<float>(b));
    return v;
}

template <class Fn>
void expect_bits_match(const char* name, int level, Fn kernel, float (*model)(float), uint32_t stride) {
    const std::vector<float> in = dense_sweep(stride);
    std::vector<float> out(in.size());
    ASSERT_EQ(kernel(in.data(), out.data(), int(in.size())), krn_ok);
    int bad = 0;
    for (size_t i = 0; i < in.size() && bad < 5; ++i) {
        if (std::bit_cast<uint32_t>(out[i]) != std::bit_cast<uint32_t>(model(in[i]))) {
            ADD_FAILURE() << name << " level " << level << " x=" << in[i] << " got " << out[i] << " want " << model(in[i]);
            ++bad;
        }
    }
}

void sweep_32(uint32_t stride) {
    for_each_supported_level([&](int level) {
        expect_bits_match("ln", level, krn_ln_32f_variant(level), qor::test::ln32_model, stride);
        expect_bits_match("log10", level, krn_log10_32f_variant(level), qor::test::log10_32_model, stride);
        auto in_place = [&](const float* s, float* d, int n) {
            std::memcpy(d, s, sizeof(float) * size_t(n));
            return krn_ln_32f_ip_variant(level)(d, n);
        };
        expect_bits_match("ln in place", level, in_place, qor::test::ln32_model, stride);
    });
}

}  // namespace

TEST(Log32, EveryLevelGivesTheReferenceBits) { sweep_32(4099); }
TEST(Log32, LargeSweepGivesTheReferenceBits) { sweep_32(127); }

// Lengths around every level's vector and tail sizes, buffers 4, 8 and 12 bytes past alignment;
// nothing outside the range may be written.
template <class T, class Kernel, class Model>
void check_lengths(Kernel kernel, Model model) {
    for (int offset : {0, 1, 2, 3})
        for (int len = 1; len <= 100; ++len) {  // up to four blocks, a pair, one and a tail
            alignas(64) T in[112], out[112];
            for (int i = 0; i < 112; ++i) {
                in[i] = T(0.37) + T(0.731) * T(i);
                out[i] = T(-7);
            }
            ASSERT_EQ(kernel(in + offset, out + offset, len), krn_ok);
            for (int i = 0; i < 112; ++i) {
                const bool inside = i >= offset && i < offset + len;
                ASSERT_EQ(out[i], inside ? model(in[i]) : T(-7)) << offset << " " << len << " " << i;
            }
        }
}

TEST(Log32, LengthsAndOffsetsAroundBlocks) {
    for_each_supported_level([](int level) {
        check_lengths<float>(krn_ln_32f_variant(level), qor::test::ln32_model);
        check_lengths<float>(krn_log10_32f_variant(level), qor::test::log10_32_model);
        // The wider kernels: every length against the baseline variant's element-by-element result.
        auto one_by_one = [](auto kernel) {
            return [kernel](auto x) {
                decltype(x) y;
                kernel(&x, &y, 1);
                return y;
            };
        };
        check_lengths<float>(krn_log1p_32f_variant(level), one_by_one(krn_log1p_32f_variant(0)));
        check_lengths<double>(krn_ln_64f_variant(level), one_by_one(krn_ln_64f_variant(0)));
        check_lengths<double>(krn_log10_64f_variant(level), one_by_one(krn_log10_64f_variant(0)));
        check_lengths<double>(krn_log1p_64f_variant(level), one_by_one(krn_log1p_64f_variant(0)));
    });
}

TEST(Log32, WorkedValues) {
    for_each_supported_level([](int level) {
        float in[] = {1.0f, 2.0f, 100.0f, 10.0f, 1000.0f}, out[5];
        ASSERT_EQ(krn_ln_32f_variant(level)(in, out, 2), krn_ok);
        EXPECT_EQ(std::bit_cast<uint32_t>(out[0]), 0u);
        EXPECT_EQ(out[1], 0.693147182f);
        ASSERT_EQ(krn_log10_32f_variant(level)(in + 2, out + 2, 3), krn_ok);
        EXPECT_EQ(out[2], 1.9999993f);
        EXPECT_EQ(out[3], 0.9999947f);
        EXPECT_EQ(out[4], 3.0000002f);
    });
}

// Worst errors against long double, measured over a strided sweep of all positive normal floats
// (ln: 3.0 ulp measured; log10: 7.2e-6 absolute; log1p: 0.5 ulp after the one rounding).
TEST(Log32, ErrorsStayWithinTheirBounds) {
    const std::vector<float> in = dense_sweep(9973);
    std::vector<float> ln(in.size()), lg(in.size()), l1p(in.size());
    for_each_supported_level([&](int level) {
        ASSERT_EQ(krn_ln_32f_variant(level)(in.data(), ln.data(), int(in.size())), krn_ok);
        ASSERT_EQ(krn_log10_32f_variant(level)(in.data(), lg.data(), int(in.size())), krn_ok);
        ASSERT_EQ(krn_log1p_32f_variant(level)(in.data(), l1p.data(), int(in.size())), krn_ok);
        double worst_ln = 0, worst_lg = 0, worst_lg_mid = 0, worst_l1p = 0;
        for (size_t i = 0; i < in.size(); ++i) {
            const long double x = in[i];
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
        if (level == qor::test::supported_level())
            std::printf("[ measured ] float ln %.3f ulp in [2/3, 4/3), log10 %.2g absolute (%.2g in [1e-6, 1e6]), "
                        "log1p %.4f ulp\n", worst_ln, worst_lg, worst_lg_mid, worst_l1p);
    });
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
        for (int j = -1; j <= 16; ++j) in.push_back(std::nextafter(float(j) / 16.0f + 1.0f / 32.0f, 2.0f) + float(i) * 0x1p-23f);
    std::vector<float> want(in.size()), got(in.size());
    const unsigned csr = _mm_getcsr();
    for (unsigned mode : {0x1F80u, 0x1F80u | 0x6000u | 0x8040u}) {
        _mm_setcsr(mode);
        krn_log1p_32f_variant(0)(in.data(), want.data(), int(in.size()));
        for_each_supported_level([&](int level) {
            krn_log1p_32f_variant(level)(in.data(), got.data(), int(in.size()));
            int bad = 0;
            for (size_t i = 0; i < in.size() && bad < 5; ++i)
                if (std::bit_cast<uint32_t>(got[i]) != std::bit_cast<uint32_t>(want[i])) {
                    ADD_FAILURE() << "mode " << mode << " x=" << in[i] << " got " << got[i] << " want " << want[i];
                    ++bad;
                }
        });
    }
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
    std::vector<double> ln(in.size()), lg(in.size()), l1p(in.size()), l1n(in.size()), neg(in.size());
    for (size_t i = 0; i < in.size(); ++i) neg[i] = -in[i] / (in[i] > 0.5 ? in[i] * 4 : 2);  // inside (-1, 0)
    for_each_supported_level([&](int level) {
        ASSERT_EQ(krn_ln_64f_variant(level)(in.data(), ln.data(), int(in.size())), krn_ok);
        ASSERT_EQ(krn_log10_64f_variant(level)(in.data(), lg.data(), int(in.size())), krn_ok);
        ASSERT_EQ(krn_log1p_64f_variant(level)(in.data(), l1p.data(), int(in.size())), krn_ok);
        ASSERT_EQ(krn_log1p_64f_variant(level)(neg.data(), l1n.data(), int(in.size())), krn_ok);
        double worst[4] = {};
        for (size_t i = 0; i < in.size(); ++i) {
            const long double x = in[i];
            worst[0] = std::max(worst[0], x == 1 ? std::fabs(ln[i]) : ulp_error(ln[i], std::log(x)));
            worst[1] = std::max(worst[1], x == 1 ? std::fabs(lg[i]) : ulp_error(lg[i], std::log10(x)));
            worst[2] = std::max(worst[2], ulp_error(l1p[i], std::log1p(x)));
            worst[3] = std::max(worst[3], ulp_error(l1n[i], std::log1p((long double)neg[i])));
        }
        for (double w : worst) EXPECT_LE(w, 0.8);
        if (level == qor::test::supported_level())
            std::printf("[ measured ] double ln %.3f, log10 %.3f, log1p %.3f / %.3f ulp over %zu inputs\n", worst[0],
                        worst[1], worst[2], worst[3], in.size());
        // The result of every level is the same.
        std::vector<double> base(in.size());
        krn_ln_64f_variant(0)(in.data(), base.data(), int(in.size()));
        EXPECT_EQ(std::memcmp(base.data(), ln.data(), base.size() * sizeof(double)), 0);
    });
}

TEST(Log64, ErrorsBelowOneUlp) { errors_64(20000); }
TEST(Log64, LargeErrorsBelowOneUlp) { errors_64(500000); }

// The special-value table, for both precisions and every level.
TEST(LogSpecials, TableValuesAndPayloads) {
    const float snan32 = std::bit_cast<float>(0x7F800123u), qnan32 = std::bit_cast<float>(0xFFC00456u);
    const double snan64 = std::bit_cast<double>(0x7FF0000000000123ull);
    for_each_supported_level([&](int level) {
        const float in[] = {0.0f, -0.0f, -1.0f, -2.5f, -finf, finf, snan32, qnan32, -0x1p-140f};
        float ln[9], lg[9], lp[9];
        krn_ln_32f_variant(level)(in, ln, 9);
        krn_log10_32f_variant(level)(in, lg, 9);
        krn_log1p_32f_variant(level)(in, lp, 9);
        for (const float* r : {ln, lg}) {
            EXPECT_EQ(r[0], -finf);
            EXPECT_EQ(r[1], -finf);
            for (int i : {2, 3, 4, 8}) EXPECT_EQ(std::bit_cast<uint32_t>(r[i]), default_nan32) << i;
            EXPECT_EQ(r[5], finf);
            EXPECT_EQ(std::bit_cast<uint32_t>(r[6]), 0x7FC00123u);
            EXPECT_EQ(std::bit_cast<uint32_t>(r[7]), 0xFFC00456u);
        }
        EXPECT_EQ(std::bit_cast<uint32_t>(lp[0]), 0u);
        EXPECT_EQ(std::bit_cast<uint32_t>(lp[1]), 0x80000000u);
        EXPECT_EQ(lp[2], -finf);
        for (int i : {3, 4}) EXPECT_EQ(std::bit_cast<uint32_t>(lp[i]), default_nan32);
        EXPECT_EQ(lp[5], finf);
        EXPECT_EQ(std::bit_cast<uint32_t>(lp[6]), 0x7FC00123u);
        EXPECT_EQ(lp[8], -0x1p-140f);

        const double din[] = {0.0, -0.0, -1.0, -1e300, -dinf, dinf, snan64, 0x1p-1060};
        double dln[8], dlp[8], dlg[8];
        krn_ln_64f_variant(level)(din, dln, 8);
        krn_log10_64f_variant(level)(din, dlg, 8);
        krn_log1p_64f_variant(level)(din, dlp, 8);
        for (const double* r : {dln, dlg}) {
            EXPECT_EQ(r[0], -dinf);
            EXPECT_EQ(r[1], -dinf);
            for (int i : {2, 3, 4}) EXPECT_EQ(std::bit_cast<uint64_t>(r[i]), default_nan64);
            EXPECT_EQ(r[5], dinf);
            EXPECT_EQ(std::bit_cast<uint64_t>(r[6]), 0x7FF8000000000123ull);
        }
        EXPECT_LE(ulp_error(dln[7], -1060 * std::log(2.0L)), 0.6);
        EXPECT_LE(ulp_error(dlg[7], -1060 * std::log10(2.0L)), 0.6);
        EXPECT_EQ(std::bit_cast<uint64_t>(dlp[1]), 0x8000000000000000ull);
        EXPECT_EQ(dlp[2], -dinf);
        EXPECT_EQ(dlp[7], 0x1p-1060);
    });
}

// Positive subnormal floats leave the reduction and are computed in double, then rounded once.
TEST(LogSpecials, SubnormalFloatsAreCorrectToSinglePrecision) {
    std::vector<float> in;
    for (uint32_t b = 1; b < 0x00800000u; b = b * 3 + 1) in.push_back(std::bit_cast<float>(b));
    in.push_back(std::bit_cast<float>(0x007FFFFFu));
    std::vector<float> ln(in.size()), lg(in.size());
    for_each_supported_level([&](int level) {
        ASSERT_EQ(krn_ln_32f_variant(level)(in.data(), ln.data(), int(in.size())), krn_ok);
        ASSERT_EQ(krn_log10_32f_variant(level)(in.data(), lg.data(), int(in.size())), krn_ok);
        for (size_t i = 0; i < in.size(); ++i) {
            EXPECT_LE(ulp_error(ln[i], std::log((long double)in[i])), 0.501) << in[i];
            EXPECT_LE(ulp_error(lg[i], std::log10((long double)in[i])), 0.501) << in[i];
        }
    });
}

// The last out-of-domain element in index order decides, wherever it falls among the blocks.
TEST(LogWarnings, LastReportInIndexOrder) {
    struct row {
        std::vector<int> where;
        std::vector<float> what;
        int ln, pole_kind;  // expected natural-log status, log10 status
    };
    const row rows[] = {
        {{0, 1, 2}, {1.0f, 0.0f, -1.0f}, krn_warn_domain, krn_math_domain},
        {{0, 1}, {-1.0f, 0.0f}, krn_warn_singularity, krn_math_singularity},
        {{0}, {-0.0f}, krn_warn_singularity, krn_math_singularity},
        {{3, 40}, {-5.0f, 0.0f}, krn_warn_singularity, krn_math_singularity},
        {{3, 40}, {0.0f, -finf}, krn_warn_domain, krn_math_domain},
        {{5, 17}, {-0.0f, std::numeric_limits<float>::quiet_NaN()}, krn_warn_singularity, krn_math_singularity},
        {{2, 33}, {-0x1p-140f, 1.0f}, krn_warn_domain, krn_math_domain},
        {{7}, {std::numeric_limits<float>::quiet_NaN()}, krn_ok, krn_ok},
    };
    for_each_supported_level([&](int level) {
        for (const row& r : rows) {
            std::vector<float> in(45, 3.0f), out(45);
            std::vector<double> din(45, 3.0), dout(45);
            for (size_t i = 0; i < r.where.size(); ++i) {
                in[size_t(r.where[i])] = r.what[i];
                din[size_t(r.where[i])] = r.what[i];
            }
            EXPECT_EQ(krn_ln_32f_variant(level)(in.data(), out.data(), 45), r.ln);
            EXPECT_EQ(krn_ln_64f_variant(level)(din.data(), dout.data(), 45), r.ln);
            EXPECT_EQ(krn_log10_32f_variant(level)(in.data(), out.data(), 45), r.pole_kind);
            EXPECT_EQ(krn_log10_64f_variant(level)(din.data(), dout.data(), 45), r.pole_kind);
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

TEST(LogArguments, PointersOrLengthFirst) {
    float f = 1;
    double d = 1;
    for_each_supported_level([&](int level) {
        EXPECT_EQ(krn_ln_32f_variant(level)(nullptr, &f, 0), krn_err_null);
        EXPECT_EQ(krn_ln_64f_variant(level)(&d, nullptr, 0), krn_err_null);
        EXPECT_EQ(krn_ln_32f_ip_variant(level)(nullptr, 0), krn_err_null);
        EXPECT_EQ(krn_ln_64f_ip_variant(level)(&d, 0), krn_err_size);
        EXPECT_EQ(krn_ln_32f_variant(level)(&f, &f, -1), krn_err_size);
        EXPECT_EQ(krn_log1p_32f_variant(level)(nullptr, nullptr, 0), krn_err_size);
        EXPECT_EQ(krn_log10_64f_variant(level)(nullptr, nullptr, 0), krn_err_size);
        EXPECT_EQ(krn_log10_32f_variant(level)(nullptr, &f, 1), krn_err_null);
        EXPECT_EQ(krn_log1p_64f_variant(level)(&d, nullptr, 1), krn_err_null);
    });
}

// A caller with FTZ+DAZ, rounding toward zero and traps on invalid and divide-by-zero gets its
// control words back exactly; ln and log10 compute as under the default state.
TEST(LogFloatingPointState, CallerStateComesBackExactly) {
    auto x87 = [] {
        uint16_t cw;
        __asm__ volatile("fnstcw %0" : "=m"(cw));
        return cw;
    };
    auto set_x87 = [](uint16_t cw) { __asm__ volatile("fldcw %0" : : "m"(cw)); };
    const unsigned sentinel = 0x8000u | 0x6000u | 0x0040u | (0x1F80u & ~0x0280u) | 0x0001u;
    const uint16_t x87_sentinel = 0x037A;
    const unsigned csr0 = _mm_getcsr();
    const uint16_t cw0 = x87();
    const float in[] = {0.0f, -1.0f, std::bit_cast<float>(0x7F800001u), 0x1p-140f, 3.0f, 1e-3f, 7.0f, 0.1f, 5.5f};
    const double din[] = {0.0, -1.0, 0x1p-1060, 3.0, 0.1};
    for_each_supported_level([&](int level) {
        float want[4][9], got[4][9];
        double dwant[3][5], dgot[3][5];
        auto run = [&](float (*out)[9], double (*dout)[5]) {
            krn_ln_32f_variant(level)(in, out[0], 9);
            krn_log10_32f_variant(level)(in, out[1], 9);
            krn_log1p_32f_variant(level)(in, out[2], 9);
            std::memcpy(out[3], in, sizeof in);
            krn_ln_32f_ip_variant(level)(out[3], 9);
            krn_ln_64f_variant(level)(din, dout[0], 5);
            krn_log10_64f_variant(level)(din, dout[1], 5);
            krn_log1p_64f_variant(level)(din, dout[2], 5);
        };
        // ln and log10 clear the error flags they raise for a caller in the default state.
        _mm_setcsr(0x1F80);
        krn_ln_32f_variant(level)(in, want[0], 9);
        krn_log10_64f_variant(level)(din, dwant[1], 5);
        EXPECT_EQ(_mm_getcsr() & 0x1Fu, 0u);
        run(want, dwant);
        _mm_setcsr(sentinel);
        set_x87(x87_sentinel);
        run(got, dgot);
        const unsigned csr = _mm_getcsr();
        const uint16_t cw = x87();
        _mm_setcsr(csr0);
        set_x87(cw0);
        EXPECT_EQ(csr, sentinel);
        EXPECT_EQ(cw, x87_sentinel);
        for (int k : {0, 1, 3}) EXPECT_EQ(std::memcmp(want[k], got[k], sizeof want[k]), 0) << k;
        for (int k : {0, 1}) EXPECT_EQ(std::memcmp(dwant[k], dgot[k], sizeof dwant[k]), 0) << k;
    });
}
