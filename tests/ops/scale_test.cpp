#include "ops/scale.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "kernels/kernels.hpp"
#include "support/bits.hpp"
#include "support/handles.hpp"

using namespace qor::test;
using namespace qor::krn;
using qor::ops::scale_in_place_worker;
using qor::ops::scale_worker;

// NaN and the outside of the 32-bit range give -2147483648, whose low bits are 0.
TEST(ScaleC, SixteenBitConstantsAreTruncatedThenKeepTheLowBits) {
    const std::pair<float, uint16_t> rows[] = {
        {2.9f, 2},           {-1.0f, 65535},     {-0.5f, 0},    {7e4f, 4464}, {-7e4f, 61072}, {2147483520.0f, 65408},
        {-2147483648.0f, 0}, {2147483648.0f, 0}, {INFINITY, 0}, {NAN, 0}};
    for (auto [f, want] : rows) EXPECT_EQ(qor::ops::constant_16u(f), want) << f;
}

namespace {

// The multiply kernel, then the add kernel, each left out when its float constant is neutral.
std::vector<float> two_calls(std::vector<float> x, float f, float o) {
    if (f != 1.0f) krn_mul_const_32f_ip(f, x.data(), int(x.size()));
    if (o != 0.0f) krn_add_const_32f_ip(o, x.data(), int(x.size()));
    return x;
}
std::vector<double> two_calls(std::vector<double> x, float f, float o) {
    if (f != 1.0f) krn_mul_const_64f_ip(f, x.data(), int(x.size()));
    if (o != 0.0f) krn_add_const_64f_ip(o, x.data(), int(x.size()));
    return x;
}
std::vector<uint16_t> two_calls(std::vector<uint16_t> x, float f, float o) {
    if (f != 1.0f) krn_mul_const_scaled_16u_ip(qor::ops::constant_16u(f), x.data(), int(x.size()), 0);
    if (o != 0.0f) krn_add_const_scaled_16u_ip(qor::ops::constant_16u(o), x.data(), int(x.size()), 0);
    return x;
}

template <class T>
std::vector<uint8_t> bytes(const std::vector<T>& v) {
    const auto* p = reinterpret_cast<const uint8_t*>(v.data());
    return std::vector<uint8_t>(p, p + v.size() * sizeof(T));
}

// Every pair of constants: out of place (the source kept), in place, and one handle twice.
template <class T>
void check_scale(qor_data_format fmt, const std::vector<T>& in, const std::vector<float>& factors,
                 const std::vector<float>& offsets) {
    for (float f : factors)
        for (float o : offsets) {
            SCOPED_TRACE(::testing::Message() << "format " << fmt << " factor " << f << " offset " << o);
            const auto want = bytes(two_calls(in, f, o));
            handle_array s(fmt, in), d(fmt, std::vector<T>(in.size(), T(42))), t(fmt, in);
            ASSERT_EQ(qor_scaleC(s, d, f, o), qor_ok);
            EXPECT_EQ(bytes(d.values<T>()), want);
            EXPECT_EQ(bytes(s.values<T>()), bytes(in));
            ASSERT_EQ(qor_scaleCI(s, f, o), qor_ok);
            EXPECT_EQ(bytes(s.values<T>()), want);
            ASSERT_EQ(qor_scaleC(t, t, f, o), qor_ok);
            EXPECT_EQ(bytes(t.values<T>()), want);
        }
}

}  // namespace

TEST(ScaleC, EveryFormatIsTheTwoKernelCallsWithTheirConstants) {
    const std::vector<float> in = {1.0f,   -0.0f,       3.3f,  INFINITY, -INFINITY, from_bits<float>(0x7FC00123u),
                                   1e-40f, 16777217.0f, -2.5f, 1e30f,    7,         8,
                                   9,      10,          11,    12,       13,        14,
                                   15,     16,          17};
    const std::vector<float> factors = {1.0f, 0.0f, -0.0f, 3.0f, NAN, -INFINITY}, offsets = {0.0f, -0.0f, 0.1f, NAN};
    check_scale(qor_fmt_32f, in, factors, offsets);
    check_scale(qor_fmt_64f, std::vector<double>(in.begin(), in.end()), factors, offsets);  // constants widened
    check_scale(qor_fmt_16u, std::vector<uint16_t>{0, 1, 3, 40000, 65535, 32768, 300, 7, 9, 10, 11, 12, 13, 14, 15, 16},
                {1.0f, 2.9f, 0.7f, -1.0f, 70000.0f, NAN}, {0.0f, -0.0f, 3.0f, -0.5f, 0.9f, 70000.0f});
}

// An unsupported format is refused only when there is work to do.
TEST(ScaleC, ChecksInOrder) {
    for (qor_data_format f : {qor_fmt_8u, qor_fmt_16s, qor_fmt_32u, qor_fmt_32s, qor_fmt_64u, qor_fmt_64s}) {
        expect_checks_in_order([](qor_handle a, qor_handle b) { return qor_scaleC(a, b, 2, 1); }, qor_fmt_32f,
                               qor_fmt_64f, f);
        expect_single_checks([](qor_handle h) { return qor_scaleCI(h, 1, 0); }, f);
        handle_array none(f, 0, nullptr);
        EXPECT_EQ(qor_scaleCI(none, 2, 1), qor_ok) << f;
    }
}

// Chunk limits that split the arrays at odd places give the bits of one whole-array pass; a kernel
// failing ends the walk at its chunk with one report line.
TEST(ScaleWorker, ChunksChangeNothingAndAFailureEndsTheWalk) {
    const int n = 103;
    std::vector<float> in(n);
    std::vector<uint16_t> in16(n);
    for (int i = 0; i < n; ++i) in[size_t(i)] = float(i) * 1.37f - 50.0f, in16[size_t(i)] = uint16_t(i * 811);
    handle_array whole(n, qor_fmt_32f), whole16(qor_fmt_16u, in16);
    ASSERT_EQ(scale_worker(handle_array(qor_fmt_32f, in).object(), whole.object(), 3, -0.25f), qor_ok);
    ASSERT_EQ(scale_in_place_worker(whole16.object(), 3.0f, 7.0f), qor_ok);
    for (int64_t limit : {1, 7, 17, 102}) {
        SCOPED_TRACE(::testing::Message() << "limit " << limit);
        handle_array src(qor_fmt_32f, in), dst(n, qor_fmt_32f), buf(qor_fmt_16u, in16);
        ASSERT_EQ(scale_worker(src.object(), dst.object(), 3.0f, -0.25f, limit), qor_ok);
        ASSERT_EQ(scale_in_place_worker(buf.object(), 3.0f, 7.0f, limit), qor_ok);
        EXPECT_EQ(dst.values<float>(), whole.values<float>());
        EXPECT_EQ(buf.values<uint16_t>(), whole16.values<uint16_t>());
    }
    qor_info info = {10, qor_fmt_32f, 32, nullptr};  // no buffer: the kernel refuses it
    ary bad;
    ASSERT_EQ(bad.init_ext(&info), qor_ok);
    expect_outcome([&] { return scale_in_place_worker(bad, 2.0f, 0.0f, 4); }, qor_err_kernel, report_line(-8));
    expect_outcome([&] { return scale_worker(bad, bad, 2.0f, 1.0f, 4); }, qor_err_kernel, report_line(-8));
}
