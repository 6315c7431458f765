#include <gtest/gtest.h>
#include <xmmintrin.h>

#include <algorithm>
#include <climits>
#include <vector>

#include "kernels/kernels.hpp"
#include "support/arith_models.hpp"
#include "support/elementwise.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using namespace qor::test;

QOR_TEST_PER_LEVEL(streaming, void, widen_streaming, (const uint8_t*, uint16_t*, int64_t));

namespace {

uint8_t narrow_16u_model(uint16_t x) { return uint8_t(x > 255 ? 255 : x); }
uint8_t narrow_16s_model(int16_t x) { return uint8_t(x < 0 ? 0 : x > 255 ? 255 : x); }

// Every source value through a region of rows inside larger buffers: the gaps between rows stay
// as they were, and the contiguous layout gives the bytes of one call per row.
template <class S, class D, class Kernel, class Model>
void check_rows(Kernel k, Model model) {
    const int width = 256, height = 256, ss = width * int(sizeof(S)) + 13, ds = width * int(sizeof(D)) + 7;
    const auto run = [&](const uint8_t* s, int sstep, uint8_t* d, int dstep, krn_size roi) {
        return k(reinterpret_cast<const S*>(s), sstep, reinterpret_cast<D*>(d), dstep, roi);
    };
    std::vector<uint8_t> src(size_t(ss * height)), dst(size_t(ds * height), 0xA5), want = dst;
    for (int v = 0; v < width * height; ++v) {
        const S s = S(sizeof(S) == 1 ? v / 256 : v);
        const D d = model(s);
        std::memcpy(src.data() + (v / width) * ss + (v % width) * int(sizeof(S)), &s, sizeof s);
        std::memcpy(want.data() + (v / width) * ds + (v % width) * int(sizeof(D)), &d, sizeof d);
    }
    ASSERT_EQ(run(src.data(), ss, dst.data(), ds, krn_size{width, height}), krn_ok);
    EXPECT_TRUE(dst == want) << "first wrong byte at "
                             << std::mismatch(dst.begin(), dst.end(), want.begin()).first - dst.begin();
    const int cs = 37 * int(sizeof(S)), cd = 37 * int(sizeof(D));
    std::vector<uint8_t> whole(size_t(cd * 5)), by_row(size_t(cd * 5));
    ASSERT_EQ(run(src.data(), cs, whole.data(), cd, krn_size{37, 5}), krn_ok);
    for (int r = 0; r < 5; ++r) run(src.data() + r * cs, cs, by_row.data() + r * cd, cd, krn_size{37, 1});
    EXPECT_EQ(whole, by_row);
    S s[2] = {};
    D d[2] = {};
    EXPECT_EQ(k(nullptr, 0, d, 0, krn_size{0, 0}), krn_err_null);
    EXPECT_EQ(k(s, 0, d, 0, krn_size{1, 0}), krn_err_size);
    EXPECT_EQ(k(s, 4, d, 0, krn_size{2, 1}), krn_err_step);
}

}  // namespace

TEST(ConvertRows, EveryValueInRegionsOfRowsAtEveryLevel) {
    for_each_supported_level([](int level) {
        check_rows<uint8_t, uint16_t>(krn_convert_rows_8u16u_variant(level), [](uint8_t x) { return uint16_t(x); });
        check_rows<uint16_t, uint8_t>(krn_convert_rows_16u8u_variant(level), narrow_16u_model);
        check_rows<int16_t, uint8_t>(krn_convert_rows_16s8u_variant(level), narrow_16s_model);
    });
}

// Huge widenings write around the cache: the same bytes at every destination alignment.
TEST(ConvertRows, StreamingWideningGivesTheSameBytes) {
    std::vector<uint8_t> src(700), out(2 * 700 + 256);
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 7 + i / 251);
    for_each_supported_level([&](int level) {
        for (int offset = 0; offset < 70; ++offset)
            for (int len : {1, 31, 33, 100, 650}) {
                std::fill(out.begin(), out.end(), uint8_t{0xEE});
                streaming[level](src.data(), reinterpret_cast<uint16_t*>(out.data() + offset), len);
                for (int i = 0; i < len; ++i)
                    ASSERT_EQ(out[size_t(offset + 2 * i)] | out[size_t(offset + 2 * i + 1)] << 8, src[size_t(i)]);
                ASSERT_EQ(out[size_t(offset + 2 * len)], 0xEE);
            }
    });
}

// Every 16-bit value, and 32-bit values that must round (beyond 2^24) and the extremes: the
// nearest float, as a plain cast under the default rounding.
TEST(ConvertToFloat, EveryValueExactOrNearest) {
    std::vector<uint16_t> all(65540);
    for (size_t i = 0; i < all.size(); ++i) all[i] = uint16_t(i - 3);
    const auto* as_signed = reinterpret_cast<const int16_t*>(all.data());
    std::vector<int32_t> wide = {0,        1,        -1,      16777216, 16777217,  -16777219,
                                 16777219, 33554435, INT_MAX, INT_MIN,  123456789, -7};
    for (uint32_t i = 0; wide.size() < 200; ++i) wide.push_back(int32_t(i * 2654435761u));
    for_each_supported_level([&](int level) {
        const auto check = [](auto k, const auto* in, std::vector<int> lengths, int offsets) {
            expect_elementwise<float>([&](int f, int n, float* d) { return k(in + f, d, n); },
                                      [&](size_t i) { return float(in[i]); }, lengths, same_bits<float>, offsets);
            expect_refusals(k);
        };
        check(krn_convert_16u32f_variant(level), all.data(), {1, 7, 8, 9, 17, 33, 65536}, 2);
        check(krn_convert_16s32f_variant(level), as_signed, {1, 7, 8, 9, 17, 33, 65536}, 2);
        check(krn_convert_32s_32f_variant(level), wide.data(), block_lengths, 4);
    });
}

namespace {

// Both sides of every integer boundary up to 65536 (or every stride-th of them), and the specials.
std::vector<float> float_inputs(int stride) {
    std::vector<float> v = special_values<float>();
    v.insert(v.end(), {65535.5f, 70000.0f, 2147483648.0f, 4294967296.0f, -2147483648.0f, 0.49999997f, 2.5f});
    for (int k = 0; k <= 65536; k += stride) {
        const float f = float(k);
        v.insert(v.end(), {f, std::nextafter(f, -1.0f), std::nextafter(f, 1e9f), f + 0.5f, -f});
    }
    return v;
}

// Every mode and scale factor (exact powers of two) under every caller rounding control (unscaled
// also with flush-to-zero and denormals-are-zero) gives the model's values; the caller's control
// bits come back unchanged, and the whole register exactly whenever the kernel had to change it.
void check_rounding(const std::vector<float>& in, std::initializer_list<int> factors) {
    std::vector<uint16_t> out(in.size()), want(in.size());
    const unsigned original = _mm_getcsr();
    for_each_supported_level([&](int level) {
        for (int sf : factors)
            for (int mode : {0, 1, 2, -5}) {
                for (size_t i = 0; i < in.size(); ++i) want[i] = float_to_16u_model(in[i], mode, sf);
                for (unsigned rc = 0; rc < 4; ++rc)
                    for (unsigned extra : {0u, sf ? 0u : 0x8040u}) {
                        const unsigned caller = (original & ~0xE07Fu) | (rc << 13) | extra;
                        _mm_setcsr(caller);
                        const int st = krn_convert_32f16u_variant(level)(in.data(), out.data(), int(in.size()), mode, sf);
                        const unsigned after = _mm_getcsr();
                        _mm_setcsr(original);
                        ASSERT_EQ(st, krn_ok);
                        EXPECT_EQ(after & 0xFFC0u, caller & 0xFFC0u);
                        EXPECT_TRUE(mode == 0 || (mode == 1 && rc == 0) || after == caller) << after << " " << caller;
                        ASSERT_TRUE(out == want) << "mode " << mode << " sf " << sf << " rounding control " << rc;
                    }
                }
        EXPECT_EQ(krn_convert_32f16u_variant(level)(nullptr, out.data(), 9, 0, 0), krn_err_null);
        EXPECT_EQ(krn_convert_32f16u_variant(level)(in.data(), out.data(), 0, 0, 0), krn_err_size);
    });
}

}  // namespace

TEST(ConvertFloatTo16u, RoundingModesAndScaleFactorsIgnoreAndRestoreTheCallersControl) {
    check_rounding(float_inputs(37), {0, 1, 16, -8, -20, 126, 149, 150, 200, -127, -128, -300});
}
TEST(ConvertFloatTo16u, ExhaustiveIntegerBoundaries) { check_rounding(float_inputs(1), {0}); }
