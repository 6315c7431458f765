#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "kernels/kernels.hpp"
#include "support/elementwise.hpp"
#include "support/levels.hpp"
#include "support/ramp_model.hpp"
#include "support/ulp.hpp"

using namespace qor::krn;
using qor::test::for_each_supported_level;
using qor::test::ramp_head;
using qor::test::ramp_model;

namespace {

const std::vector<int> ramp_lengths = {1, 2, 3, 4, 5, 7, 15, 16, 17, 19, 20, 31, 32, 33, 47, 48, 49, 63, 64, 65, 1000};

// 16-bit ramp model: the fills of the saturated ends, then the shifted lanes rounded by nearbyint.
std::vector<uint16_t> ramp16_model(int64_t len, int64_t head, float offset, float slope) {
    std::vector<uint16_t> out(len, offset > 0 ? uint16_t(std::min(offset + 0.5f, 65535.0f)) : 0);
    if (slope == 0.0f) return out;
    auto count = [](float t) -> int64_t { return t > 2147483648.0f ? 2147483647 : t < 0 ? 0 : int64_t(t); };
    const float r = 1.0f / slope, t0 = -offset * r + 1.0f, t1 = (65535.0f - offset) * r + 1.0f;
    int64_t end = len, lead;
    if (slope > 0) {
        if (t1 >= 0 && t1 <= 2147483648.0f && int64_t(t1) >= 1 && int64_t(t1) < len) end = int64_t(t1);
        std::fill(out.begin() + end, out.end(), 65535);
        lead = std::min(count(t0), end);
        std::fill(out.begin(), out.begin() + lead, 0);
    } else {
        if (count(t0) >= 1 && count(t0) < len) end = count(t0);
        std::fill(out.begin() + end, out.end(), 0);
        lead = std::min(count(t1), end);
        std::fill(out.begin(), out.begin() + lead, 65535);
    }
    const float b = (offset + float(lead) * slope) - 32768.0f;
    const int64_t mid_head = (head - lead % 8 + 8) % 8;
    const auto mid = ramp_model(end - lead, mid_head, b, slope);
    for (int64_t i = 0; i < end - lead; ++i)
        out[lead + i] = uint16_t(std::clamp(std::nearbyint(mid[i]), -32768.0f, 32767.0f) + 32768.0f);
    return out;
}

}  // namespace

// Every (offset, slope) at every length and destination offset against the model of the lanes,
// whose first block depends on where the destination's 16-byte boundary falls.
template <class T, class Kernel, class Model>
void check_ramp(Kernel ramp, Model model, const std::vector<std::pair<float, float>>& params) {
    std::vector<T> want;
    int first = 0;
    for (auto [b, s] : params) {
        SCOPED_TRACE(::testing::Message() << "offset " << b << " slope " << s);
        qor::test::expect_elementwise<T>([&](int f, int n, T* d) {
            want = model(n, ramp_head(d), b, s), first = f;
            return ramp(d, n, b, s);
        }, [&](size_t i) { return want[i - size_t(first)]; }, ramp_lengths);
    }
    T cell[1];
    EXPECT_TRUE(ramp(nullptr, 3, 0, 1) == krn_err_null && ramp(cell, 0, 0, 1) == krn_err_size &&
                ramp(cell, -1, 0, 1) == krn_err_size);
}

TEST(Ramp, MatchesTheLaneModelAtEveryAlignment) {
    for_each_supported_level([&](int level) {
        check_ramp<float>(krn_vector_slope_32f_variant(level), ramp_model,
                          {{0, 1}, {0, 0.1f}, {1000.5f, -0.3f}, {-7.25f, 3.7f}, {1e6f, 1e-3f}, {5, 0}, {-0.0f, -0.0f}});
        check_ramp<uint16_t>(krn_vector_slope_16u_variant(level), ramp16_model,
                             {{0, 0.5f}, {65000, 100}, {-250, 100}, {70000, 1}, {-10, -1}, {2.5f, 0}, {-7, 0},
                              {70000, 0}, {30000, 7.3f}, {65535, -3.3f}, {100, -0.01f}, {40000, -71.7f},
                              {-1e9f, 1e7f}, {0.49f, 0}, {65534.6f, 0}});
    });
}

namespace {

constexpr double two_pi = 6.283185307179586;

// Double-precision model of the segmented tone (hint 1) or the single recurrence (other hints),
// with the library's cosines replaced by long-double ones rounded to double.
template <class T>
std::vector<T> tone_model(int len, double mag, double f, double phi, int hint) {
    constexpr bool wide = sizeof(T) == 8;
    const int seg = hint != 1 ? len : wide ? 2048 : 1024, head = hint != 1 ? len : wide ? 8 : 16;
    const double w = f * two_pi;
    std::vector<T> out(len);
    for (int n0 = 0; n0 < len; n0 += seg) {
        const int m = std::min(seg, len - n0);
        const double a0 = hint != 1 ? phi : double(n0) * w + phi, a1 = hint != 1 ? phi + w : double(n0 + 1) * w + phi;
        std::vector<double> y(m);
        auto cos = [](double a) { return double(qor::test::reference_cos(a)); };
        y[0] = cos(a0) * mag;
        if (m > 1) y[1] = cos(a1) * mag;
        const double c = cos(w) * 2.0, cc = c * c;
        for (int k = 2; k < std::min(head, m); ++k) y[k] = c * y[k - 1] - y[k - 2];
        const double u = cc * (cc - 4.0) + 2.0;
        if (wide) {
            for (int k = head; k < m; ++k) y[k] = u * y[k - 4] - y[k - 8];
            for (int k = 0; k < m; ++k) out[n0 + k] = T(y[k]);
            continue;
        }
        const float g = float(u * u - 2.0);
        std::vector<float> yf(m);
        for (int k = 0; k < m; ++k) yf[k] = k < head ? float(y[k]) : g * yf[k - 8] - yf[k - 16];
        for (int k = 0; k < m; ++k) {
            if constexpr (sizeof(T) == 2)
                out[n0 + k] = T(std::clamp(k < head ? std::trunc(y[k]) : std::nearbyint(double(yf[k])), -32768.0,
                                           32767.0));
            else
                out[n0 + k] = k < head ? T(y[k]) : T(yf[k]);
        }
    }
    return out;
}

const int tone_lengths[] = {1, 2, 7, 8, 9, 15, 16, 17, 23, 24, 25, 1023, 1024, 1025, 2047, 2049, 5000};
const double tone_params[][3] = {
    {1, 0.25, 0}, {1000, 0.01, 1.0}, {3.5, 0.37, 6.2}, {20000, 0.001, 3.0}, {7, 0.4999, 0.5}};

template <class T, class Kernel, class M, class P>
void expect_tone_matches_model(Kernel kernel, M magn_of, P) {
    for (const auto& [mag, f, phi] : tone_params)
        for (int hint : {1, 0})
            for (int len : tone_lengths) {
                std::vector<T> got(len + 1, T(99));
                P ph = P(phi);
                ASSERT_EQ(kernel(got.data(), len, magn_of(mag), P(f), &ph, hint), krn_ok);
                const auto want = tone_model<T>(len, double(magn_of(mag)), double(P(f)), double(P(phi)), hint);
                for (int i = 0; i < len; ++i)
                    ASSERT_TRUE(qor::test::same_bits(got[i], want[i]))
                        << "mag " << mag << " f " << f << " len " << len << " hint " << hint << " i " << i << ": "
                        << double(got[i]) << " vs " << double(want[i]);
                ASSERT_EQ(got[len], T(99));
            }
}

}  // namespace

TEST(Tone, MatchesTheRecurrenceModelAtEveryLevel) {
    for_each_supported_level([](int level) {
        expect_tone_matches_model<float>(krn_tone_32f_variant(level), [](double m) { return float(m); }, 0.0f);
        expect_tone_matches_model<double>(krn_tone_64f_variant(level), [](double m) { return m; }, 0.0);
        expect_tone_matches_model<int16_t>(krn_tone_16s_variant(level), [](double m) { return int16_t(m); }, 0.0f);
    });
}

TEST(Tone, SegmentStartsAreExactCosines) {
    const int len = 2048 * 40;
    std::vector<double> d(len);
    for (double f : {0.123456789, 0.4999999, 0.0001, 0.3183, 0.0717, 0.25, 0.4}) {
        double phi = 5.5;
        ASSERT_EQ(krn_tone_64f(d.data(), len, 1.0, f, &phi, 1), krn_ok);
        const double w = f * two_pi;
        for (int n0 = 0; n0 < len; n0 += 2048)
            for (int k : {0, 1}) {
                const double a = double(n0 + k) * w + 5.5;
                const long double ref = qor::test::reference_cos(a);
                const double ulp = std::nextafter(std::fabs(double(ref)), INFINITY) - std::fabs(double(ref));
                ASSERT_LE(std::fabs((long double)d[n0 + k] - ref) / ulp, 0.6L) << "f " << f << " at " << n0 + k;
            }
        // Between the starts, the recurrence stays close to the cosine.
        for (int i = 0; i < len; i += 7) ASSERT_NEAR(d[i], std::cos(double(i) * w + 5.5), 1e-7) << i;
    }
}

// The phase pointer, magnitude, frequency, phase range (widened: 2 pi in float is above it),
// destination and length, in that order; a refusal writes nothing.
TEST(Tone, ChecksInOrderAndWritesNothingOnFailure) {
    struct row { bool dst; int len; float mag, f, phase; int status; };
    const row rows[] = {{false, 0, 0, 0.7f, 1, krn_err_tone_magn}, {false, 0, -1, 0.7f, 1, krn_err_tone_magn},
                        {false, 0, 1, 0.5f, 1, krn_err_tone_freq}, {false, 0, 1, -0.1f, 1, krn_err_tone_freq},
                        {false, 0, 1, 0.1f, 6.2831855f, krn_err_tone_phase}, {false, 4, 1, 0.1f, 1, krn_err_null},
                        {true, 4, 1, 0.1f, -0.5f, krn_err_tone_phase}, {true, 0, 1, 0.1f, 1, krn_err_size}};
    for_each_supported_level([&](int level) {
        auto t32 = krn_tone_32f_variant(level);
        float d[4] = {9, 9, 9, 9}, ph = 1.0f, sp = 0;
        EXPECT_EQ(t32(nullptr, 0, 0, 0.7f, nullptr, 1), krn_err_null);
        for (const row& r : rows) {
            ph = r.phase;
            EXPECT_EQ(t32(r.dst ? d : nullptr, r.len, r.mag, r.f, &ph, 1), r.status) << r.len << " " << r.f;
            EXPECT_TRUE(ph == r.phase && d[0] == 9.0f);
        }
        double dp = 6.283185307179586, dd[2];
        int16_t s[2];
        EXPECT_EQ(krn_tone_64f_variant(level)(dd, 2, 1.0, 0.1, &dp, 1), krn_err_tone_phase);
        for (int16_t mag : {0, -5}) EXPECT_EQ(krn_tone_16s_variant(level)(s, 2, mag, 0.1f, &sp, 1), krn_err_tone_magn);
    });
}

TEST(Tone, PhaseUpdateWrapsAndContinuesTheSignal) {
    const int len = 3000, half = 1500;
    std::vector<float> whole(len), parts(len);
    float ph = 2.0f, ph2 = 2.0f;
    ASSERT_EQ(krn_tone_32f(whole.data(), len, 1, 0.3f, &ph, 1), krn_ok);
    EXPECT_TRUE(ph >= 0 && ph < 6.2831855f) << ph;
    ASSERT_EQ(krn_tone_32f(parts.data(), half, 1, 0.3f, &ph2, 1), krn_ok);
    ASSERT_EQ(krn_tone_32f(parts.data() + half, len - half, 1, 0.3f, &ph2, 1), krn_ok);
    for (int i = 0; i < len; ++i) ASSERT_NEAR(parts[i], whole[i], 2e-4f) << i;
    // A constant tone: every element the magnitude, the phase unchanged.
    double dp = 0;
    std::vector<double> flat(100);
    ASSERT_EQ(krn_tone_64f(flat.data(), 100, 2.5, 0.0, &dp, 1), krn_ok);
    for (double v : flat) EXPECT_EQ(v, 2.5);
    EXPECT_EQ(dp, 0.0);
}
