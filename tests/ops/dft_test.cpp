#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "kernels/kernels.hpp"
#include "qor_lib.h"
#include "support/capture.hpp"
#include "support/dft_reference.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using qor::test::for_each_supported_level;
using qor::test::stdout_of;

namespace {

// An array of the registry, destroyed with the test.
struct array {
    qor_handle h = -1;
    array(int64_t n, qor_data_format f) {
        EXPECT_EQ(qor_create_array(&h), qor_ok);
        if (n > 0) {
            EXPECT_EQ(qor_init_array(h, n, f), qor_ok);
        }
    }
    ~array() { qor_destroy_array(h); }
    template <class T>
    T* data() {
        void* p = nullptr;
        qor_get_buf(h, &p);
        return static_cast<T*>(p);
    }
};

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
    array src(n, format_of<T>), dst(n, format_of<T>);
    std::memcpy(src.data<T>(), x.data(), x.size() * sizeof(T));
    ASSERT_EQ(in_place ? qor_dft_fwdI(src.h) : qor_dft_fwd(src.h, dst.h), qor_ok);
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

TEST(DftSpectrum, ShortAndConstantSignals) {
    array a(1, qor_fmt_64f);
    a.data<double>()[0] = -3.25;
    ASSERT_EQ(qor_dft_fwdI(a.h), qor_ok);
    EXPECT_EQ(a.data<double>()[0], 3.25);

    array b(2, qor_fmt_32f), c(2, qor_fmt_32f);
    b.data<float>()[0] = 1.0f;
    b.data<float>()[1] = 4.0f;
    ASSERT_EQ(qor_dft_fwd(b.h, c.h), qor_ok);
    EXPECT_EQ(c.data<float>()[0], 2.5f);  // |x0 + x1| / 2
    EXPECT_EQ(c.data<float>()[1], 3.0f);  // |x0 - x1|

    for (int n : {5, 12, 100, 97}) {
        array s(n, qor_fmt_64f);
        for (int k = 0; k < n; ++k) s.data<double>()[k] = -1.5;
        ASSERT_EQ(qor_dft_fwdI(s.h), qor_ok);
        EXPECT_NEAR(s.data<double>()[0], 1.5, 1e-14);
        for (int k = 1; k < n; ++k) EXPECT_NEAR(s.data<double>()[k], 0.0, 1e-14);
    }
}

TEST(DftSpectrum, CosinesAtABinAndAtNyquist) {
    for (int n : {16, 18, 64, 100, 96}) {
        for (int m : {1, 3, n / 2}) {
            array s(n, qor_fmt_32f);
            for (int k = 0; k < n; ++k) s.data<float>()[k] = float(std::cos(6.283185307179586 * m * k / n));
            ASSERT_EQ(qor_dft_fwdI(s.h), qor_ok);
            const float peak = (2 * m == n) ? 2.0f : 1.0f;
            for (int k = 0; k < n; ++k) {
                const bool at = k == m || k == n - m;
                EXPECT_NEAR(s.data<float>()[k], at ? peak : 0.0f, 2e-6) << n << " " << m << " " << k;
            }
        }
    }
}

TEST(DftSpectrum, StatusesInOrder) {
    array f32(8, qor_fmt_32f), f64(8, qor_fmt_64f), s16(8, qor_fmt_16s), s16b(8, qor_fmt_16s), empty(0, qor_fmt_32f);
    EXPECT_EQ(qor_dft_fwd(-1, f32.h), qor_err_handle);
    EXPECT_EQ(qor_dft_fwd(f32.h, 100000), qor_err_handle);
    EXPECT_EQ(qor_dft_fwd(empty.h, f32.h), qor_err_invalid);
    EXPECT_EQ(qor_dft_fwd(f32.h, empty.h), qor_err_invalid);
    EXPECT_EQ(qor_dft_fwd(f32.h, f64.h), qor_err_format_mismatch);
    std::string out = stdout_of([&] { EXPECT_EQ(qor_dft_fwd(s16.h, s16b.h), qor_err_format); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(s16b.data<int16_t>()[0], 0);
    EXPECT_EQ(qor_dft_fwdI(s16.h), qor_err_format);
    array shorter(4, qor_fmt_32f);
    EXPECT_EQ(qor_dft_fwd(f32.h, shorter.h), qor_err_length);
}

// A length the engine cannot plan ends with -5 after the kernel's status is printed.
TEST(DftSpectrum, EngineRefusalIsReportedLarge) {
    array big(67108879, qor_fmt_32f);  // a prime above the chirp-z bound
    array dst(67108879, qor_fmt_32f);
    std::string out = stdout_of([&] { EXPECT_EQ(qor_dft_fwd(big.h, dst.h), qor_err_kernel); });
    EXPECT_EQ(out, "KRN function failed,return value -6.\n");
}

TEST(SpectrumKernels, ExpansionMirrorsWithToggledSign) {
    const float nan_payload = [] {
        uint32_t b = 0x7fc01234u;
        float f;
        std::memcpy(&f, &b, 4);
        return f;
    }();
    for_each_supported_level([&](int level) {
        const float packed[5] = {1.0f, 2.0f, nan_payload, 4.0f, 0.0f};  // N = 5: R0 R1 I1 R2 I2
        krn_32fc full[5];
        ASSERT_EQ(krn_pack_to_complex_32f_variant(level)(packed, full, 5), 0);
        EXPECT_EQ(full[0].re, 1.0f);
        EXPECT_EQ(full[0].im, 0.0f);
        EXPECT_EQ(full[1].re, 2.0f);
        EXPECT_EQ(full[2].re, 4.0f);
        EXPECT_EQ(full[3].re, 4.0f);
        EXPECT_TRUE(std::signbit(full[3].im));  // -(+0)
        uint32_t b;
        std::memcpy(&b, &full[4].im, 4);
        EXPECT_EQ(b, 0xffc01234u);  // the NaN keeps its payload, sign toggled
        const double p6[6] = {1, 2, 3, 4, 5, 6};  // N = 6: R0 R1 I1 R2 I2 R3
        krn_64fc f6[6];
        ASSERT_EQ(krn_pack_to_complex_64f_variant(level)(p6, f6, 6), 0);
        EXPECT_EQ(f6[3].re, 6.0);
        EXPECT_EQ(f6[3].im, 0.0);
        EXPECT_EQ(f6[4].re, 4.0);
        EXPECT_EQ(f6[4].im, -5.0);
        EXPECT_EQ(f6[5].im, -3.0);
        // In place inside an area of N complex values.
        double area[12] = {1, 2, 3, 4, 5, 6};
        ASSERT_EQ(krn_pack_to_complex_64f_variant(level)(area, reinterpret_cast<krn_64fc*>(area), 6), 0);
        EXPECT_EQ(std::memcmp(area, f6, sizeof f6), 0);
        // Lengths that fill whole vectors at every width, against the rule itself.
        for (int len : {37, 38}) {
            std::vector<double> pk(size_t(len), 0.0);
            for (int j = 0; j < len; ++j) pk[size_t(j)] = j % 3 ? 1.5 * j : -0.0;
            std::vector<krn_64fc> got(pk.size()), want(pk.size());
            want[0] = {pk[0], 0.0};
            for (int k = 1; 2 * k < len; ++k) {
                want[size_t(k)] = {pk[size_t(2 * k - 1)], pk[size_t(2 * k)]};
                want[size_t(len - k)] = {pk[size_t(2 * k - 1)], -pk[size_t(2 * k)]};
            }
            if (len % 2 == 0) want[size_t(len / 2)] = {pk[size_t(len - 1)], 0.0};
            ASSERT_EQ(krn_pack_to_complex_64f_variant(level)(pk.data(), got.data(), len), 0);
            EXPECT_EQ(std::memcmp(got.data(), want.data(), got.size() * sizeof(krn_64fc)), 0) << len;
            std::vector<float> pf(pk.begin(), pk.end());
            std::vector<krn_32fc> gotf(pk.size());
            ASSERT_EQ(krn_pack_to_complex_32f_variant(level)(pf.data(), gotf.data(), len), 0);
            for (int k = 0; k < len; ++k) {
                EXPECT_EQ(double(gotf[size_t(k)].re), want[size_t(k)].re) << k;
                EXPECT_EQ(std::signbit(gotf[size_t(k)].im), std::signbit(want[size_t(k)].im)) << k;
                EXPECT_EQ(double(gotf[size_t(k)].im), want[size_t(k)].im) << k;
            }
        }
        EXPECT_EQ(krn_pack_to_complex_64f_variant(level)(nullptr, f6, 0), krn_err_null);
        EXPECT_EQ(krn_pack_to_complex_64f_variant(level)(p6, f6, 0), krn_err_size);
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
