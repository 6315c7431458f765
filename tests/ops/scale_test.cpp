#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "ops/scale.hpp"
#include "qor_lib.h"
#include "support/capture.hpp"
#include "support/arith_models.hpp"
#include "support/handles.hpp"

using namespace qor::test;
using qor::ops::scale_in_place_worker;
using qor::ops::scale_worker;

namespace {

const float inf = std::numeric_limits<float>::infinity();
const float qnan = std::numeric_limits<float>::quiet_NaN();

// The whole operation on one element, in the order of its kernel calls.
template <class T>
T scaled(T x, float factor, float offset) {
    if (factor != 1.0f) x = model_mul(x, T(factor));
    if (offset != 0.0f) x = model_add(x, T(offset));
    return x;
}
uint16_t scaled_16u(uint16_t x, float factor, float offset) {
    uint64_t r = x;
    if (factor != 1.0f) r = model_scale_16u(r * qor::ops::constant_16u(factor), 0);
    if (offset != 0.0f) r = model_scale_16u(r + qor::ops::constant_16u(offset), 0);
    return uint16_t(r);
}

template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

}  // namespace

TEST(ScaleConstant16u, TruncatesThenKeepsTheLowBits) {
    // NaN and the outside of the 32-bit range give -2147483648, whose low bits are 0.
    const std::pair<float, uint16_t> rows[] = {
        {2.9f, 2},   {0.7f, 0},       {1.5f, 1},           {-1.0f, 65535},         {-0.5f, 0},
        {7e4f, 4464}, {-7e4f, 61072}, {2147483520.0f, 65408}, {-2147483648.0f, 0}, {2147483648.0f, 0},
        {-3e9f, 0},  {inf, 0},        {qnan, 0}};
    for (auto [f, want] : rows) EXPECT_EQ(qor::ops::constant_16u(f), want) << f;
}

// Every pair of table constants: out of place (the source kept), in place, and one handle twice.
template <class T, class Model>
void check_scale(qor_data_format fmt, const std::vector<T>& in, const std::vector<float>& factors,
                 const std::vector<float>& offsets, Model model) {
    for (float f : factors)
        for (float o : offsets) {
            SCOPED_TRACE(::testing::Message() << "format " << fmt << " factor " << f << " offset " << o);
            std::vector<T> want(in.size());
            for (size_t i = 0; i < in.size(); ++i) want[i] = model(in[i], f, o);
            handle_array s(fmt, in), d(fmt, std::vector<T>(in.size(), T(42))), t(fmt, in);
            ASSERT_EQ(qor_scaleC(s, d, f, o), qor_ok);
            EXPECT_TRUE(same_bits(d.values<T>(), want));
            EXPECT_TRUE(same_bits(s.values<T>(), in));
            ASSERT_EQ(qor_scaleCI(s, f, o), qor_ok);
            EXPECT_TRUE(same_bits(s.values<T>(), want));
            ASSERT_EQ(qor_scaleC(t, t, f, o), qor_ok);
            EXPECT_TRUE(same_bits(t.values<T>(), want));
        }
}

TEST(ScaleC, EveryTableRowForEachFormat) {
    const std::vector<float> in = {1.0f, -0.0f, 3.3f, inf, -inf, from_bits<float>(0x7FC00123u), 1e-40f,
                                   16777217.0f, -2.5f, 1e30f, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17};
    const std::vector<float> factors = {1.0f, 0.0f, -0.0f, 0.1f, 3.0f, qnan, -inf},
                             offsets = {0.0f, -0.0f, 0.1f, -5.0f, 1e-45f, qnan};
    check_scale(qor_fmt_32f, in, factors, offsets, scaled<float>);
    check_scale(qor_fmt_64f, std::vector<double>(in.begin(), in.end()), factors, offsets,
                scaled<double>);  // constants widened
    check_scale(qor_fmt_16u,
                std::vector<uint16_t>{0, 1, 3, 2, 40000, 65535, 32768, 300, 7, 9, 10, 11, 12, 13, 14, 15, 16, 17},
                {1.0f, 2.0f, 2.9f, 0.7f, 1.5f, -1.0f, 70000.0f, qnan, 0.0f},
                {0.0f, -0.0f, 3.0f, -1.0f, -0.5f, 0.9f, 70000.0f, qnan}, scaled_16u);
}

// An unsupported format is refused only when there is work to do.
TEST(ScaleC, ChecksInOrder) {
    for (qor_data_format f : {qor_fmt_8u, qor_fmt_16s, qor_fmt_32u, qor_fmt_32s, qor_fmt_64u, qor_fmt_64s}) {
        expect_checks_in_order([](qor_handle a, qor_handle b) { return qor_scaleC(a, b, 2, 1); }, qor_fmt_32f,
                               qor_fmt_64f, f);
        handle_array x(1, f), none(f, 0, nullptr), blank;
        EXPECT_EQ(qor_scaleCI(x, 1, 0), qor_err_format) << f;
        EXPECT_EQ(qor_scaleCI(none, 2, 1), qor_ok) << f;
        EXPECT_EQ(qor_scaleCI(blank, 2, 1), qor_err_invalid);
        EXPECT_EQ(qor_scaleCI(-1, 2, 0), qor_err_handle);
    }
}

TEST(ScaleWorker, ChunkBoundariesChangeNothing) {
    // Chunk limits that split the arrays at odd places, against a single whole-array pass.
    const int n = 103;
    std::vector<float> in(n);
    for (int i = 0; i < n; ++i) in[size_t(i)] = float(i) * 1.37f - 50.0f;
    std::vector<uint16_t> in16(n);
    for (int i = 0; i < n; ++i) in16[size_t(i)] = uint16_t(i * 811);
    for (int64_t limit : {1, 2, 7, 16, 17, 64, 102, 103}) {
        SCOPED_TRACE(::testing::Message() << "limit " << limit);
        ary src, dst, buf;
        ASSERT_EQ(src.init(n, qor_fmt_32f), qor_ok);
        ASSERT_EQ(dst.init(n, qor_fmt_32f), qor_ok);
        ASSERT_EQ(buf.init(n, qor_fmt_16u), qor_ok);
        std::memcpy(src.frame_buf, in.data(), n * sizeof(float));
        std::memcpy(buf.frame_buf, in16.data(), n * sizeof(uint16_t));
        ASSERT_EQ(scale_worker(src, dst, 3.0f, -0.25f, limit), qor_ok);
        ASSERT_EQ(scale_in_place_worker(src, 1.0f, 0.5f, limit), qor_ok);
        ASSERT_EQ(scale_in_place_worker(buf, 3.0f, 7.0f, limit), qor_ok);
        for (int i = 0; i < n; ++i) {
            ASSERT_EQ(static_cast<float*>(dst.frame_buf)[i], scaled(in[size_t(i)], 3.0f, -0.25f)) << i;
            ASSERT_EQ(static_cast<float*>(src.frame_buf)[i], in[size_t(i)] + 0.5f) << i;
            ASSERT_EQ(static_cast<uint16_t*>(buf.frame_buf)[i], scaled_16u(in16[size_t(i)], 3.0f, 7.0f)) << i;
        }
    }
}

TEST(ScaleWorker, KernelFailureIsReportedAndEndsTheWalk) {
    // A borrowed description without a buffer makes the kernel refuse it.
    qor_info info = {10, qor_fmt_32f, 32, nullptr};
    ary bad;
    ASSERT_EQ(bad.init_ext(&info), qor_ok);
    expect_outcome([&] { return scale_in_place_worker(bad, 2.0f, 0.0f, 4); }, qor_err_kernel, report_line(-8));
    // Multiply and add: one report line, and the walk ends at the first chunk.
    expect_outcome([&] { return scale_worker(bad, bad, 2.0f, 1.0f, 4); }, qor_err_kernel, report_line(-8));
}
