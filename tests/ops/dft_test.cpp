#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "kernels/kernels.hpp"
#include "qor_lib.h"
#include "support/bits.hpp"
#include "support/capture.hpp"
#include "support/dft_reference.hpp"
#include "support/handles.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using qor::test::for_each_supported_level;
using qor::test::handle_array;
using qor::test::stdout_of;

namespace {

template <class T>
constexpr qor_data_format format_of = sizeof(T) == 4 ? qor_fmt_32f : qor_fmt_64f;

// Amplitudes of x from the long-double reference.
template <class T>
std::vector<long double> reference_amplitudes(const std::vector<T>& x) {
    const int64_t n = int64_t(x.size());
    qor::test::dft_reference ref(n);
    std::vector<long double> a(static_cast<size_t>(n));
    for (int64_t k = 0; k < n; ++k) {
        long double re, im;
        ref.bin(x.data(), k, re, im);
        a[size_t(k)] = sqrtl(re * re + im * im) * (k ? 2.0L : 1.0L) / (long double)n;
    }
    return a;
}

template <class T>
void check_spectrum(const std::vector<T>& x, bool in_place) {
    const int n = int(x.size());
    SCOPED_TRACE(::testing::Message() << "N = " << n << (in_place ? " in place" : ""));
    handle_array src(n, format_of<T>), dst(n, format_of<T>);
    std::memcpy(src.data<T>(), x.data(), x.size() * sizeof(T));
    ASSERT_EQ(in_place ? qor_dft_fwdI(src) : qor_dft_fwd(src, dst), qor_ok);
    const T* y = in_place ? src.data<T>() : dst.data<T>();
    if (!in_place) {
        EXPECT_EQ(std::memcmp(src.data<T>(), x.data(), x.size() * sizeof(T)), 0);
    }
    const auto want = reference_amplitudes(x);
    long double norm = 0;
    for (T v : x) norm += (long double)v * v;
    const long double bound =
        std::numeric_limits<T>::epsilon() * (3 * std::log2(4.0 * n) + 8) * 2 * sqrtl(norm) / n;
    for (int k = 0; k < n; ++k) EXPECT_NEAR((double)want[size_t(k)], (double)y[k], (double)bound) << k;
}

template <class T>
std::vector<T> noise(int n, uint32_t seed) {
    std::mt19937 g{seed};
    std::uniform_real_distribution<double> u(-2.0, 2.0);
    std::vector<T> x(static_cast<size_t>(n));
    for (auto& v : x) v = T(u(g));
    return x;
}

}  // namespace

TEST(DftSpectrum, MatchesReferenceOnEveryPlanPath) {
    for (int n : {1, 2, 3, 8, 15, 16, 17, 64, 97, 100, 200, 256, 45, 94}) {
        check_spectrum(noise<float>(n, 1), false);
        check_spectrum(noise<double>(n, 2), false);
        check_spectrum(noise<float>(n, 3), true);
        check_spectrum(noise<double>(n, 4), true);
    }
}

// Exact spectra: one sample, two samples, constants, and cosines at a bin and at Nyquist.
TEST(DftSpectrum, ShortConstantAndCosineSignals) {
    handle_array a(qor_fmt_64f, std::vector<double>{-3.25}), b(qor_fmt_32f, std::vector<float>{1, 4}),
        c(2, qor_fmt_32f);
    ASSERT_EQ(qor_dft_fwdI(a), qor_ok);
    EXPECT_EQ(a.values<double>(), std::vector<double>{3.25});
    ASSERT_EQ(qor_dft_fwd(b, c), qor_ok);
    EXPECT_EQ(c.values<float>(), (std::vector<float>{2.5f, 3.0f}));  // |x0 + x1| / 2, |x0 - x1|
    for (int n : {5, 12, 100, 97}) {
        handle_array s(qor_fmt_64f, std::vector<double>(size_t(n), -1.5));
        ASSERT_EQ(qor_dft_fwdI(s), qor_ok);
        for (int k = 0; k < n; ++k) EXPECT_NEAR(s.data<double>()[k], k ? 0.0 : 1.5, 1e-14);
    }
    for (int n : {16, 18, 64, 100, 96})
        for (int m : {1, 3, n / 2}) {
            handle_array s(n, qor_fmt_32f);
            for (int k = 0; k < n; ++k) s.data<float>()[k] = float(std::cos(6.283185307179586 * m * k / n));
            ASSERT_EQ(qor_dft_fwdI(s), qor_ok);
            for (int k = 0; k < n; ++k)
                EXPECT_NEAR(s.data<float>()[k], k == m || k == n - m ? (2 * m == n ? 2.0f : 1.0f) : 0.0f, 2e-6)
                    << n << " " << m << " " << k;
        }
}

TEST(DftSpectrum, StatusesInOrder) {
    qor::test::expect_checks_in_order(qor_dft_fwd, qor_fmt_32f, qor_fmt_64f, qor_fmt_16s, qor_err_format);
    handle_array s16(8, qor_fmt_16s);
    EXPECT_EQ(qor_dft_fwdI(s16), qor_err_format);
}

// A length the engine cannot plan ends with -5 after the kernel's status is printed.
TEST(DftSpectrum, EngineRefusalIsReportedLarge) {
    handle_array big(67108879, qor_fmt_32f), dst(67108879, qor_fmt_32f);  // a prime above the chirp-z bound
    std::string out = stdout_of([&] { EXPECT_EQ(qor_dft_fwd(big, dst), qor_err_kernel); });
    EXPECT_EQ(out, "KRN function failed,return value -6.\n");
}

// The packed spectrum R0 R1 I1 R2 I2 ... expands to N complex bins, the upper half mirrored with
// the imaginary sign toggled (NaN payloads and zeros keep their bits apart from the sign), in
// place as well, at every length around the vector widths.
TEST(SpectrumKernels, ExpansionMirrorsWithToggledSign) {
    for_each_supported_level([&](int level) {
        for (int len : {1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 17, 37, 38}) {
            std::vector<double> pk(static_cast<size_t>(len));
            for (int j = 0; j < len; ++j) pk[size_t(j)] = j % 3 ? 1.5 * j : -0.0;
            if (len > 4)
                pk[4] = 0.0, pk[2] = qor::test::from_bits<double>(0x7ff8024680000000u);  // 0x7fc01234 as a float
            std::vector<krn_64fc> want(pk.size()), got(pk.size());
            want[0] = {pk[0], 0.0};
            for (int k = 1; 2 * k < len; ++k) {
                want[size_t(k)] = {pk[size_t(2 * k - 1)], pk[size_t(2 * k)]};
                want[size_t(len - k)] = {pk[size_t(2 * k - 1)], -pk[size_t(2 * k)]};
            }
            if (len % 2 == 0) want[size_t(len / 2)] = {pk[size_t(len - 1)], 0.0};
            ASSERT_EQ(krn_pack_to_complex_64f_variant(level)(pk.data(), got.data(), len), 0);
            EXPECT_EQ(std::memcmp(got.data(), want.data(), got.size() * sizeof(krn_64fc)), 0) << len;
            std::vector<double> area(2 * pk.size());
            std::copy(pk.begin(), pk.end(), area.begin());
            ASSERT_EQ(
                krn_pack_to_complex_64f_variant(level)(area.data(), reinterpret_cast<krn_64fc*>(area.data()), len), 0);
            EXPECT_EQ(std::memcmp(area.data(), want.data(), got.size() * sizeof(krn_64fc)), 0) << len;
            const std::vector<float> pf(pk.begin(), pk.end());
            std::vector<krn_32fc> gotf(pk.size());
            ASSERT_EQ(krn_pack_to_complex_32f_variant(level)(pf.data(), gotf.data(), len), 0);
            for (int k = 0; k < len; ++k) {
                const krn_32fc w = {float(want[size_t(k)].re), float(want[size_t(k)].im)};
                EXPECT_EQ(std::memcmp(&gotf[size_t(k)], &w, sizeof w), 0) << len << " " << k;
            }
        }
        double p[2];
        krn_64fc f[2];
        EXPECT_EQ(krn_pack_to_complex_64f_variant(level)(nullptr, f, 0), krn_err_null);
        EXPECT_EQ(krn_pack_to_complex_64f_variant(level)(p, f, 0), krn_err_size);
    });
}

TEST(SpectrumKernels, MagnitudeWithinAFewUlps) {
    std::vector<krn_32fc> z;
    std::mt19937 g{5};
    std::uniform_real_distribution<float> u(-1, 1);
    for (int k = 0; k < 37; ++k) z.push_back({u(g), u(g)});
    z.push_back({0.0f, -0.0f});
    z.push_back({3.0f, 4.0f});
    z.push_back({0x1p-70f, 0x1p-70f});  // sum of squares below 2^-126: exact root
    z.push_back({0x1p-149f, 0.0f});
    z.push_back({std::numeric_limits<float>::infinity(), 1.0f});
    z.push_back({0x1p64f, 0x1p64f});       // sum above the largest float: infinity
    z.push_back({std::nanf(""), 1.0f});
    z.push_back({1e-18f, 2e-18f});
    const int n = int(z.size());
    std::vector<float> first;  // every level gives the bits of the first one
    for_each_supported_level([&](int level) {
        std::vector<float> m(static_cast<size_t>(n));
        ASSERT_EQ(krn_magnitude_32fc_variant(level)(z.data(), m.data(), n), 0);
        if (first.empty()) first = m;
        EXPECT_EQ(std::memcmp(first.data(), m.data(), m.size() * sizeof(float)), 0);
        for (int k = 0; k < n; ++k) {
            const float s = z[size_t(k)].re * z[size_t(k)].re + z[size_t(k)].im * z[size_t(k)].im;
            const float want = std::sqrt(s);
            if (std::isnan(want)) {
                EXPECT_TRUE(std::isnan(m[size_t(k)]));
            } else if (s < 0x1p-126f || std::isinf(s)) {
                EXPECT_EQ(m[size_t(k)], want) << k;
            } else {
                EXPECT_NEAR(m[size_t(k)], want, 4 * std::numeric_limits<float>::epsilon() * want) << k;
            }
        }
        std::vector<krn_64fc> zd = {{3, 4}, {0, 0}, {1e-300, 1e-300}, {-5, 12}};
        double md[4];
        ASSERT_EQ(krn_magnitude_64fc_variant(level)(zd.data(), md, 4), 0);
        EXPECT_EQ(md[0], 5.0);
        EXPECT_EQ(md[1], 0.0);
        EXPECT_EQ(md[2], std::sqrt(1e-300 * 1e-300 + 1e-300 * 1e-300));
        EXPECT_EQ(md[3], 13.0);
        EXPECT_EQ(krn_magnitude_32fc_variant(level)(z.data(), nullptr, 3), krn_err_null);
        EXPECT_EQ(krn_magnitude_64fc_variant(level)(zd.data(), md, 0), krn_err_size);
    });
}
