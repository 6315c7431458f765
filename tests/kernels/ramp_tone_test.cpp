#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "kernels/kernels.hpp"
#include "support/levels.hpp"
#include "support/ramp_model.hpp"

using namespace qor::krn;
using qor::test::for_each_supported_level;
using qor::test::ramp_head;
using qor::test::ramp_model;

namespace {

const int ramp_lengths[] = {1, 2, 3, 4, 5, 7, 15, 16, 17, 19, 20, 31, 32, 33, 47, 48, 49, 63, 64, 65, 1000};

// 16-bit ramp model: the fills of the saturated ends, then the shifted lanes rounded by nearbyint.
std::vector<uint16_t> ramp16_model(int len, int64_t head, float offset, float slope) {
    std::vector<uint16_t> out(len);
    if (slope == 0.0f) {
        const float t = offset + 0.5f;
        const uint16_t v = offset > 0 ? uint16_t(std::min(t, 65535.0f)) : 0;
        std::fill(out.begin(), out.end(), v);
        return out;
    }
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

TEST(Ramp32f, MatchesTheLaneModelAtEveryAlignment) {
    std::vector<float> buf(1100);
    const float params[][2] = {{0, 1}, {0, 0.1f}, {1000.5f, -0.3f}, {-7.25f, 3.7f}, {1e6f, 1e-3f}, {5, 0}, {-0.0f, -0.0f}};
    for_each_supported_level([&](int level) {
        auto ramp = krn_vector_slope_32f_variant(level);
        for (int shift = 0; shift < 4; ++shift) {  // 0, 4, 8, 12 bytes past a 64-byte boundary
            float* dst = reinterpret_cast<float*>((reinterpret_cast<uintptr_t>(buf.data()) + 63) & ~uintptr_t{63}) + shift;
            for (auto [b, s] : params)
                for (int len : ramp_lengths) {
                    std::fill(dst, dst + len + 1, -1.0f);
                    ASSERT_EQ(ramp(dst, len, b, s), krn_ok);
                    const auto want = ramp_model(len, ramp_head(dst), b, s);
                    for (int i = 0; i < len; ++i)
                        ASSERT_EQ(std::bit_cast<uint32_t>(dst[i]), std::bit_cast<uint32_t>(want[i]))
                            << "shift " << shift << " b " << b << " s " << s << " len " << len << " i " << i;
                    ASSERT_EQ(dst[len], -1.0f);
                }
        }
    });
}

TEST(Ramp32f, IntegersAreExactAndArgumentsChecked) {
    std::vector<float> v(5000);
    for_each_supported_level([&](int level) {
        auto ramp = krn_vector_slope_32f_variant(level);
        EXPECT_EQ(ramp(nullptr, 0, 0, 1), krn_err_null);
        EXPECT_EQ(ramp(v.data(), 0, 0, 1), krn_err_size);
        EXPECT_EQ(ramp(v.data(), -1, 0, 1), krn_err_size);
        ASSERT_EQ(ramp(v.data() + 1, 4999, 0, 1), krn_ok);
        for (int i = 0; i < 4999; ++i) ASSERT_EQ(v[i + 1], float(i));
    });
}

TEST(Ramp16u, MatchesTheModelAtEveryAlignment) {
    std::vector<uint16_t> buf(1200);
    const float params[][2] = {{0, 0.5f},     {65000, 100},   {-250, 100},  {70000, 1},   {-10, -1},
                               {2.5f, 0},     {-7, 0},        {70000, 0},   {30000, 7.3f}, {65535, -3.3f},
                               {100, -0.01f}, {40000, -71.7f}, {-1e9f, 1e7f}, {0.49f, 0},   {65534.6f, 0}};
    for_each_supported_level([&](int level) {
        auto ramp = krn_vector_slope_16u_variant(level);
        EXPECT_EQ(ramp(nullptr, 3, 0, 1), krn_err_null);
        EXPECT_EQ(ramp(buf.data(), 0, 0, 1), krn_err_size);
        for (int shift = 0; shift < 8; shift += 3) {
            uint16_t* dst = reinterpret_cast<uint16_t*>((reinterpret_cast<uintptr_t>(buf.data()) + 63) & ~uintptr_t{63}) + shift;
            for (auto [b, s] : params)
                for (int len : ramp_lengths) {
                    std::fill(dst, dst + len + 1, uint16_t{0x5A5A});
                    ASSERT_EQ(ramp(dst, len, b, s), krn_ok);
                    const auto want = ramp16_model(len, ramp_head(dst), b, s);
                    for (int i = 0; i < len; ++i)
                        ASSERT_EQ(dst[i], want[i]) << "shift " << shift << " b " << b << " s " << s << " len " << len << " i " << i;
                    ASSERT_EQ(dst[len], 0x5A5A);
                }
        }
    });
}

TEST(Ramp16u, WorkedExamples) {
    alignas(16) uint16_t v[40];
    auto run = [&](float b, float s) {
        EXPECT_EQ(krn_vector_slope_16u(v, 40, b, s), krn_ok);
        return std::vector<uint16_t>(v, v + 10);
    };
    using u = std::vector<uint16_t>;
    EXPECT_EQ(run(2.5f, 0), u(10, 3));
    EXPECT_EQ(run(-7, 0), u(10, 0));
    EXPECT_EQ(run(70000, 0), u(10, 65535));
    EXPECT_EQ(run(0, 0.5f), (u{0, 0, 1, 2, 2, 2, 3, 4, 4, 4}));
    EXPECT_EQ(run(65000, 100), (u{65000, 65100, 65200, 65300, 65400, 65500, 65535, 65535, 65535, 65535}));
    EXPECT_EQ(run(-250, 100), (u{0, 0, 0, 50, 150, 250, 350, 450, 550, 650}));
    EXPECT_EQ(run(70000, 1), u(10, 65535));
    EXPECT_EQ(run(-10, -1), u(10, 0));
}
