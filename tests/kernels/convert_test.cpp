#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <vector>

#include "kernels/kernels.hpp"
#include "kernels/runtime/cpu.hpp"
#include "support/arith_models.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using namespace qor::test;

namespace {

std::vector<uint16_t> every_16u() {
    std::vector<uint16_t> v(65536);
    for (int i = 0; i < 65536; ++i) v[size_t(i)] = uint16_t(i);
    return v;
}

uint8_t narrow_16u_model(uint16_t x) { return uint8_t(x > 255 ? 255 : x); }
uint8_t narrow_16s_model(int16_t x) { return uint8_t(x < 0 ? 0 : x > 255 ? 255 : x); }

// A region of rows inside larger buffers: converted rows match the model, the bytes between
// rows stay as they were, and the contiguous layout gives the same bytes as one row per call.
template <class S, class D, class Kernel, class Model>
void check_rows(Kernel k, Model model, bool widening) {
    const int width = 37, height = 5;
    const int src_step = width * int(sizeof(S)) + 13, dst_step = width * int(sizeof(D)) + 7;
    std::vector<uint8_t> src(size_t(src_step * height)), dst(size_t(dst_step * height), 0xA5);
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 131 + 7);
    ASSERT_EQ(k(reinterpret_cast<const S*>(src.data()), src_step, reinterpret_cast<D*>(dst.data()), dst_step,
                krn_size{width, height}),
              krn_ok);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            S s;
            D d;
            std::memcpy(&s, src.data() + r * src_step + c * int(sizeof(S)), sizeof s);
            std::memcpy(&d, dst.data() + r * dst_step + c * int(sizeof(D)), sizeof d);
            ASSERT_EQ(d, model(s)) << "row " << r << " column " << c;
        }
        for (int b = width * int(sizeof(D)); b < dst_step; ++b) ASSERT_EQ(dst[size_t(r * dst_step + b)], 0xA5);
    }
    // Contiguous rows: one long row inside the kernel, the same bytes as row by row.
    const int cs = width * int(sizeof(S)), cd = width * int(sizeof(D));
    std::vector<uint8_t> whole(size_t(cd * height)), by_row(size_t(cd * height));
    ASSERT_EQ((widening ? cd == 2 * cs : cs == 2 * cd), true);
    ASSERT_EQ(k(reinterpret_cast<const S*>(src.data()), cs, reinterpret_cast<D*>(whole.data()), cd,
                krn_size{width, height}),
              krn_ok);
    for (int r = 0; r < height; ++r)
        ASSERT_EQ(k(reinterpret_cast<const S*>(src.data() + r * cs), cs, reinterpret_cast<D*>(by_row.data() + r * cd),
                    cd, krn_size{width, 1}),
                  krn_ok);
    EXPECT_EQ(whole, by_row);

    S s[2] = {};
    D d[2] = {};
    EXPECT_EQ(k(nullptr, 0, d, 0, krn_size{0, 0}), krn_err_null);
    EXPECT_EQ(k(s, 1, nullptr, 1, krn_size{2, 1}), krn_err_null);
    EXPECT_EQ(k(s, 0, d, 0, krn_size{0, 1}), krn_err_size);
    EXPECT_EQ(k(s, 0, d, 0, krn_size{1, -1}), krn_err_size);
    EXPECT_EQ(k(s, 0, d, 4, krn_size{2, 1}), krn_err_step);
    EXPECT_EQ(k(s, 4, d, -1, krn_size{2, 1}), krn_err_step);
}

}  // namespace

TEST(ConvertRows, EverySixteenBitValueNarrowsWithSaturation) {
    const std::vector<uint16_t> all = every_16u();
    std::vector<uint8_t> out(65536);
    for_each_supported_level([&](int level) {
        ASSERT_EQ(krn_convert_rows_16u8u_variant(level)(all.data(), 131072, out.data(), 65536, krn_size{65536, 1}),
                  krn_ok);
        for (int i = 0; i < 65536; ++i) ASSERT_EQ(out[size_t(i)], narrow_16u_model(uint16_t(i))) << i;
        ASSERT_EQ(krn_convert_rows_16s8u_variant(level)(reinterpret_cast<const int16_t*>(all.data()), 512,
                                                        out.data(), 256, krn_size{256, 256}),
                  krn_ok);
        for (int i = 0; i < 65536; ++i) ASSERT_EQ(out[size_t(i)], narrow_16s_model(int16_t(i))) << i;
    });
}

TEST(ConvertRows, WideningIsExactAndRegionsKeepTheirGaps) {
    for_each_supported_level([](int level) {
        std::vector<uint8_t> bytes(256);
        std::vector<uint16_t> out(256);
        for (int i = 0; i < 256; ++i) bytes[size_t(i)] = uint8_t(i);
        ASSERT_EQ(krn_convert_rows_8u16u_variant(level)(bytes.data(), 16, out.data(), 32, krn_size{16, 16}), krn_ok);
        for (int i = 0; i < 256; ++i) ASSERT_EQ(out[size_t(i)], i);
        check_rows<uint8_t, uint16_t>(krn_convert_rows_8u16u_variant(level), [](uint8_t x) { return uint16_t(x); },
                                      true);
        check_rows<uint16_t, uint8_t>(krn_convert_rows_16u8u_variant(level), narrow_16u_model, false);
        check_rows<int16_t, uint8_t>(krn_convert_rows_16s8u_variant(level), narrow_16s_model, false);
    });
}

namespace qor::krn {
namespace l0 { void widen_streaming(const uint8_t*, uint16_t*, int64_t); }
namespace l1 { void widen_streaming(const uint8_t*, uint16_t*, int64_t); }
namespace l2 { void widen_streaming(const uint8_t*, uint16_t*, int64_t); }
namespace l3 { void widen_streaming(const uint8_t*, uint16_t*, int64_t); }
namespace l4 { void widen_streaming(const uint8_t*, uint16_t*, int64_t); }
namespace l5 { void widen_streaming(const uint8_t*, uint16_t*, int64_t); }
}  // namespace qor::krn

// Huge widenings write around the cache; the bytes are those of the ordinary path, whatever the
// destination's alignment (an odd address cannot be aligned and takes the ordinary path).
TEST(ConvertRows, StreamingWideningGivesTheSameBytes) {
    using widen_fn = void (*)(const uint8_t*, uint16_t*, int64_t);
    const widen_fn streaming[] = {l0::widen_streaming, l1::widen_streaming, l2::widen_streaming,
                                  l3::widen_streaming, l4::widen_streaming, l5::widen_streaming};
    std::vector<uint8_t> src(700);
    for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 7 + i / 251);
    std::vector<uint8_t> out(2 * 700 + 256);
    for_each_supported_level([&](int level) {
        for (int offset = 0; offset < 70; offset += 1) {
            for (int len : {1, 15, 31, 32, 33, 64, 100, 650}) {
                std::fill(out.begin(), out.end(), uint8_t{0xEE});
                uint16_t* d = reinterpret_cast<uint16_t*>(out.data() + offset);
                streaming[level](src.data() + 3, d, len);
                for (int i = 0; i < len; ++i) {
                    uint16_t v;
                    std::memcpy(&v, out.data() + offset + 2 * i, 2);
                    ASSERT_EQ(v, src[size_t(i) + 3]) << offset << " " << len;
                }
                ASSERT_EQ(out[size_t(offset + 2 * len)], 0xEE);
                if (offset) {
                    ASSERT_EQ(out[size_t(offset - 1)], 0xEE);
                }
            }
        }
    });
}

TEST(ConvertToFloat, EverySixteenBitValueIsExact) {
    const std::vector<uint16_t> all = every_16u();
    std::vector<float> out(65536);
    for_each_supported_level([&](int level) {
        ASSERT_EQ(krn_convert_16u32f_variant(level)(all.data(), out.data(), 65536), krn_ok);
        for (int i = 0; i < 65536; ++i) ASSERT_EQ(out[size_t(i)], float(i));
        ASSERT_EQ(krn_convert_16s32f_variant(level)(reinterpret_cast<const int16_t*>(all.data()), out.data(), 65535),
                  krn_ok);
        for (int i = 0; i < 65535; ++i) ASSERT_EQ(out[size_t(i)], float(int16_t(i)));
        EXPECT_EQ(out[32768], -32768.0f);
        EXPECT_EQ(krn_convert_16u32f_variant(level)(nullptr, out.data(), 1), krn_err_null);
        EXPECT_EQ(krn_convert_16s32f_variant(level)(nullptr, nullptr, 0), krn_err_null);
        EXPECT_EQ(krn_convert_16s32f_variant(level)(reinterpret_cast<const int16_t*>(all.data()), out.data(), 0),
                  krn_err_size);
    });
}

namespace {

// Floats on both sides of every integer up to 65536, and the special ones.
std::vector<float> float_inputs() {
    std::vector<float> v;
    for (int k = 0; k <= 65536; ++k) {
        const float f = float(k);
        v.insert(v.end(), {f, std::nextafter(f, -1.0f), std::nextafter(f, 1e9f), f + 0.5f, -f});
    }
    const std::vector<float> sp = special_values<float>();
    v.insert(v.end(), sp.begin(), sp.end());
    v.insert(v.end(), {65535.0f, 65534.9f, 65535.5f, 70000.0f, 2147483648.0f, 2147483520.0f, 4294967296.0f,
                       -2147483648.0f, 1e10f, 0.49999997f, 0.5f, 1.5f, 2.5f, -3.7f, 0.99f, float_of(0xFF812345u)});
    return v;
}

constexpr unsigned control_bits = 0xFFC0;  // everything but the sticky exception flags

::testing::AssertionResult same_outputs(const std::vector<uint16_t>& got, const std::vector<uint16_t>& want,
                                        const std::vector<float>& in) {
    if (got == want) return ::testing::AssertionSuccess();
    size_t i = 0;
    while (got[i] == want[i]) ++i;
    return ::testing::AssertionFailure() << "x " << in[i] << " (0x" << std::hex << bits_of(in[i]) << std::dec
                                         << "): got " << got[i] << ", want " << want[i];
}

// Every rounding mode under every caller rounding control gives the model's value, and the
// caller's control state is exactly what it was.
void check_rounding_modes(const std::vector<float>& in) {
    const int n = int(in.size());
    std::vector<uint16_t> out(in.size());
    const unsigned original = _mm_getcsr();
    for_each_supported_level([&](int level) {
        auto cv = krn_convert_32f16u_variant(level);
        for (int mode : {0, 1, 2, -5}) {
            std::vector<uint16_t> want(in.size());
            for (size_t i = 0; i < in.size(); ++i) want[i] = float_to_16u_model(in[i], mode, 0);
            // Rounding control 0..3, with and without flush-to-zero and denormals-are-zero.
            for (unsigned rc = 0; rc < 4; ++rc)
                for (unsigned extra : {0u, 0x8040u}) {
                    const unsigned caller = (original & ~(0x6000u | 0x8040u | 0x3Fu)) | (rc << 13) | extra;
                    _mm_setcsr(caller);
                    const int st = cv(in.data(), out.data(), n, mode, 0);
                    const unsigned after = _mm_getcsr();
                    _mm_setcsr(original);
                    ASSERT_EQ(st, krn_ok);
                    EXPECT_EQ(after & control_bits, caller & control_bits) << "mode " << mode << " rc " << rc;
                    if (mode != 0 && !(mode == 1 && rc == 0)) {
                        EXPECT_EQ(after, caller) << "mode " << mode;
                    }
                    ASSERT_TRUE(same_outputs(out, want, in)) << "mode " << mode << " rc " << rc;
                }
        }
    });
}

}  // namespace

TEST(ConvertFloatTo16u, RoundingModesIgnoreAndRestoreTheCallersControl) {
    const std::vector<float> all = float_inputs();
    std::vector<float> in;
    for (size_t i = 0; i < all.size(); i += 37) in.push_back(all[i]);
    in.insert(in.end(), all.end() - 40, all.end());
    check_rounding_modes(in);
}

// Both sides of every integer boundary, in every mode and under every control state.
TEST(ConvertFloatTo16u, ExhaustiveIntegerBoundaries) { check_rounding_modes(float_inputs()); }

TEST(ConvertFloatTo16u, ScaleFactorsAreExactPowersOfTwo) {
    const std::vector<float> all = float_inputs();
    std::vector<float> in;  // a sample of the inputs, enough for every path
    for (size_t i = 0; i < all.size(); i += 53) in.push_back(all[i]);
    in.insert(in.end(), all.end() - 40, all.end());
    std::vector<uint16_t> out(in.size());
    const int factors[] = {1, 3, 16, -2, -8, -20, 126, 149, 150, 200, -127, -128, -300};
    std::vector<std::vector<uint16_t>> want;
    for (int sf : factors)
        for (int mode : {0, 1, 2}) {
            want.emplace_back(in.size());
            for (size_t i = 0; i < in.size(); ++i) want.back()[i] = float_to_16u_model(in[i], mode, sf);
        }
    for_each_supported_level([&](int level) {
        auto cv = krn_convert_32f16u_variant(level);
        size_t w = 0;
        for (int sf : factors)
            for (int mode : {0, 1, 2}) {
                ASSERT_EQ(cv(in.data(), out.data(), int(in.size()), mode, sf), krn_ok);
                ASSERT_TRUE(same_outputs(out, want[w++], in)) << "sf " << sf << " mode " << mode;
            }
        const float edge[] = {-3.7f, 0.99f, 1.5f, 2.5f, 65534.9f, 65535.0f, 70000.0f,
                              std::numeric_limits<float>::infinity(), std::numeric_limits<float>::quiet_NaN()};
        uint16_t o[9];
        ASSERT_EQ(cv(edge, o, 9, krn_round_truncate, 0), krn_ok);
        EXPECT_EQ(std::vector<uint16_t>(o, o + 9), (std::vector<uint16_t>{0, 0, 1, 2, 65534, 65535, 65535, 65535, 0}));
        ASSERT_EQ(cv(edge, o, 9, krn_round_nearest, 0), krn_ok);
        EXPECT_EQ(o[2], 2);
        EXPECT_EQ(o[3], 2);
        ASSERT_EQ(cv(edge, o, 9, 2, 0), krn_ok);
        EXPECT_EQ(o[3], 3);
        EXPECT_EQ(cv(nullptr, o, 9, 0, 0), krn_err_null);
        EXPECT_EQ(cv(edge, nullptr, 0, 0, 0), krn_err_null);
        EXPECT_EQ(cv(edge, o, 0, 0, 0), krn_err_size);
    });
}
