#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "kernels/kernels.hpp"
#include "support/bits.hpp"
#include "support/dft_reference.hpp"
#include "support/handles.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using namespace qor::test;

namespace {

// The amplitudes |X[k]| 2/N (1/N for the mean) against the long-double reference, out of place
// (the source kept) or in place.
template <class T>
void check_spectrum(int n, uint32_t seed, bool in_place) {
    SCOPED_TRACE(::testing::Message() << "N = " << n << (in_place ? " in place" : ""));
    std::mt19937 g{seed};
    std::uniform_real_distribution<double> u(-2.0, 2.0);
    std::vector<T> x(static_cast<size_t>(n));
    for (auto& v : x) v = T(u(g));
    const qor_data_format fmt = sizeof(T) == 4 ? qor_fmt_32f : qor_fmt_64f;
    handle_array src(fmt, x), dst(n, fmt);
    ASSERT_EQ(in_place ? qor_dft_fwdI(src) : qor_dft_fwd(src, dst), qor_ok);
    if (!in_place) {
        EXPECT_EQ(src.values<T>(), x);
    }
    const T* y = in_place ? src.data<T>() : dst.data<T>();
    dft_reference ref(n);
    long double norm = 0;
    for (T v : x) norm += (long double)v * v;
    const double bound =
        std::numeric_limits<T>::epsilon() * (3 * std::log2(4.0 * n) + 8) * 2 * std::sqrt(double(norm)) / n;
    for (int k = 0; k < n; ++k) {
        long double re, im;
        ref.bin(x.data(), k, re, im);
        EXPECT_NEAR(double(sqrtl(re * re + im * im) * (k ? 2.0L : 1.0L) / n), double(y[k]), bound) << k;
    }
}

}  // namespace

TEST(DftSpectrum, MatchesTheReference) {
    for (int n : {1, 2, 15, 16, 97, 100}) {
        check_spectrum<float>(n, 1, false);
        check_spectrum<double>(n, 2, false);
        check_spectrum<float>(n, 3, true);
        check_spectrum<double>(n, 4, true);
    }
}

TEST(DftSpectrum, StatusesInOrder) {
    expect_checks_in_order(qor_dft_fwd, qor_fmt_32f, qor_fmt_64f, qor_fmt_16s, qor_err_format);
    expect_single_checks(qor_dft_fwdI, qor_fmt_16s);
}

// A length the engine cannot plan ends with the kernel's status printed.
TEST(DftSpectrum, EngineRefusalIsReportedLarge) {
    handle_array big(67108879, qor_fmt_32f), dst(67108879, qor_fmt_32f);  // a prime above the chirp-z bound
    expect_outcome([&] { return qor_dft_fwd(big, dst); }, qor_err_kernel, report_line(-6));
}

// The packed spectrum R0 R1 I1 R2 I2 ... expands to N complex bins, the upper half mirrored with
// the imaginary sign toggled (NaN payloads and zeros keep their bits apart from the sign), in
// place as well, at every length around the vector widths.
TEST(SpectrumKernels, ExpansionMirrorsWithToggledSign) {
    for_each_supported_level([&](int level) {
        for (int len : {1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 17, 37, 38}) {
            std::vector<double> pk(static_cast<size_t>(len));
            for (int j = 0; j < len; ++j) pk[size_t(j)] = j % 3 ? 1.5 * j : -0.0;
            if (len > 4) pk[4] = 0.0, pk[2] = from_bits<double>(0x7ff8024680000000u);  // 0x7fc01234 as a float
            std::vector<krn_64fc> want(pk.size());
            want[0] = {pk[0], 0.0};
            for (int k = 1; 2 * k < len; ++k) {
                want[size_t(k)] = {pk[size_t(2 * k - 1)], pk[size_t(2 * k)]};
                want[size_t(len - k)] = {pk[size_t(2 * k - 1)], -pk[size_t(2 * k)]};
            }
            if (len % 2 == 0) want[size_t(len / 2)] = {pk[size_t(len - 1)], 0.0};
            std::vector<double> area(2 * pk.size());  // in place: the packed input at the start of the output
            std::copy(pk.begin(), pk.end(), area.begin());
            ASSERT_EQ(
                krn_pack_to_complex_64f_variant(level)(area.data(), reinterpret_cast<krn_64fc*>(area.data()), len), 0);
            EXPECT_EQ(std::memcmp(area.data(), want.data(), want.size() * sizeof(krn_64fc)), 0) << len;
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

// Every level gives the same bits, within a few ulps of the root of the sum of squares (exact
// below 2^-126 and for infinite sums).
TEST(SpectrumKernels, MagnitudeWithinAFewUlps) {
    std::vector<krn_32fc> z = {{0.0f, -0.0f}, {3.0f, 4.0f},       {0x1p-70f, 0x1p-70f}, {0x1p-149f, 0.0f},
                               {INFINITY, 1}, {0x1p64f, 0x1p64f}, {NAN, 1.0f},          {1e-18f, 2e-18f}};
    std::mt19937 g{5};
    std::uniform_real_distribution<float> u(-1, 1);
    for (int k = 0; k < 37; ++k) z.push_back({u(g), u(g)});
    const int n = int(z.size());
    std::vector<float> first;
    for_each_supported_level([&](int level) {
        std::vector<float> m(static_cast<size_t>(n));
        ASSERT_EQ(krn_magnitude_32fc_variant(level)(z.data(), m.data(), n), 0);
        if (first.empty()) first = m;
        EXPECT_EQ(std::memcmp(first.data(), m.data(), m.size() * sizeof(float)), 0);
        for (int k = 0; k < n; ++k) {
            const float s = z[size_t(k)].re * z[size_t(k)].re + z[size_t(k)].im * z[size_t(k)].im, want = std::sqrt(s);
            if (std::isnan(want)) {
                EXPECT_TRUE(std::isnan(m[size_t(k)]));
            } else if (s < 0x1p-126f || std::isinf(s)) {
                EXPECT_EQ(m[size_t(k)], want) << k;
            } else {
                EXPECT_NEAR(m[size_t(k)], want, 4 * std::numeric_limits<float>::epsilon() * want) << k;
            }
        }
        krn_64fc zd[] = {{3, 4}, {0, 0}, {1e-300, 1e-300}, {-5, 12}};
        double md[4];
        ASSERT_EQ(krn_magnitude_64fc_variant(level)(zd, md, 4), 0);
        EXPECT_EQ(std::vector<double>(md, md + 4),
                  (std::vector<double>{5, 0, std::sqrt(1e-300 * 1e-300 + 1e-300 * 1e-300), 13}));
        EXPECT_EQ(krn_magnitude_32fc_variant(level)(z.data(), nullptr, 3), krn_err_null);
        EXPECT_EQ(krn_magnitude_64fc_variant(level)(zd, md, 0), krn_err_size);
    });
}
