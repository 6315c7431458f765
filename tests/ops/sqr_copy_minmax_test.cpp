#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "ops/arith_workers.hpp"
#include "support/handles.hpp"
#include "support/arith_models.hpp"
#include "support/elementwise.hpp"
#include "support/capture.hpp"

using namespace qor::test;
using namespace qor::krn;

namespace {
constexpr float inf = std::numeric_limits<float>::infinity();
}

TEST(QorSquare, FormatsChecksAndAFailingSecondChunk) {
    handle_array u(qor_fmt_16u, std::vector<uint16_t>{3, 255, 256, 65535}),
        f(qor_fmt_32f, std::vector<float>{-2, -0.0f, 1e20f}), f2(qor_fmt_32f, std::vector<float>(3));
    EXPECT_EQ(qor_square(u, u), qor_ok);  // in place
    EXPECT_EQ(u.values<uint16_t>(), (std::vector<uint16_t>{9, 65025, 65535, 65535}));
    EXPECT_EQ(qor_square(f, f2), qor_ok);
    EXPECT_EQ(f2.values<float>(), (std::vector<float>{4, 0, inf}));
    EXPECT_EQ(bits_of(f2.values<float>()[1]), 0u);
    expect_checks_in_order(qor_square, qor_fmt_32f, qor_fmt_16u, qor_fmt_16s);

    qor::ops::square_kernels k;
    k.sqr_16u = fails_second_time<krn_sqr_scaled_16u, const uint16_t*, uint16_t*, int, int>;
    handle_array a(qor_fmt_16u, std::vector<uint16_t>(7, 3)), b(qor_fmt_16u, std::vector<uint16_t>(7, 1));
    failing_calls = 0;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(qor::ops::square_worker(a.object(), b.object(), 3, k), qor_err_kernel); }),
              second_chunk_failed);
    EXPECT_EQ(b.values<uint16_t>(), (std::vector<uint16_t>{9, 9, 9, 1, 1, 1, 1}));
}

TEST(QorSubArray, CopiesARunAndNeverWritesOutsideTheBuffers) {
    handle_array src(qor_fmt_32f, std::vector<float>{0, 1, 2, 3, 4}), dst(qor_fmt_32f, std::vector<float>(4, 9)),
        u(qor_fmt_16u, std::vector<uint16_t>{1, 2}), s(qor_fmt_16s, std::vector<int16_t>{-1, -2}),
        b(qor_fmt_8u, std::vector<uint8_t>{1, 2}), b2(qor_fmt_8u, std::vector<uint8_t>{0}), empty;
    EXPECT_EQ(qor_sub_array(src, dst, 2, 3), qor_ok);
    EXPECT_EQ(dst.values<float>(), (std::vector<float>{2, 3, 4, 9}));
    for (auto [offset, count] :
         {std::pair<int64_t, int64_t>{6, 0}, {3, 3}, {INT64_MAX, INT64_MAX}, {1, INT64_MAX}, {-1, 2}})
        EXPECT_EQ(qor_sub_array(src, dst, offset, count), qor_err_range) << offset << " " << count;
    EXPECT_EQ(qor_sub_array(src, dst, 0, 5), qor_err_length);  // longer than the destination
    EXPECT_EQ(dst.values<float>(), (std::vector<float>{2, 3, 4, 9}));
    EXPECT_EQ(qor_sub_array(src, dst, 5, 0), qor_ok);
    EXPECT_EQ(qor_sub_array(src, dst, -1, 0), qor_ok);
    EXPECT_EQ(qor_sub_array(u, s, 0, 2), qor_err_format_mismatch);
    EXPECT_EQ(qor_sub_array(s, s, 1, 1), qor_ok);
    EXPECT_EQ(s.values<int16_t>(), (std::vector<int16_t>{-2, -2}));
    EXPECT_EQ(qor_sub_array(b, b2, 0, 1), qor_err_format);
    EXPECT_EQ(qor_sub_array(empty, src, 0, 1), qor_err_invalid);
    EXPECT_EQ(qor_sub_array(src, 4000000, 0, 1), qor_err_handle);
}

namespace {
const uintptr_t fake = uintptr_t(1) << 41;  // descriptions only: never dereferenced
std::vector<int> copy_calls;
int record_copy(const int16_t*, int16_t*, int n) { return copy_calls.push_back(n), 0; }
}  // namespace

// One copy call moves less than 2^31 bytes; a kernel failing in the second chunk keeps the first.
TEST(QorSubArray, ChunksStayBelowTwoGigabytesAndAFailingSecondChunk) {
    qor::ops::copy_kernels k;
    k.copy_16s = record_copy;
    ary src, dst;
    qor_info si{(int64_t(1) << 31) + 10, qor_fmt_16s, 16, reinterpret_cast<void*>(fake)}, di = si;
    src.init_ext(&si);
    dst.init_ext(&di);
    EXPECT_EQ(qor::ops::sub_array_worker(src, dst, 10, int64_t(1) << 31, qor::frame::max_chunk, k), qor_ok);
    EXPECT_EQ(copy_calls, (std::vector<int>{1073741823, 1073741823, 2}));

    std::vector<double> x(30);
    for (size_t i = 0; i < x.size(); ++i) x[i] = double(i);
    handle_array a(qor_fmt_64f, x), b(qor_fmt_64f, std::vector<double>(30, -1));
    k.copy_64f = fails_second_time<krn_copy_64f, const double*, double*, int>;
    failing_calls = 0;
    EXPECT_EQ(
        stdout_of([&] { EXPECT_EQ(qor::ops::sub_array_worker(a.object(), b.object(), 4, 23, 5, k), qor_err_kernel); }),
        second_chunk_failed);
    std::vector<double> want(30, -1);
    std::copy(x.begin() + 4, x.begin() + 9, want.begin());
    EXPECT_EQ(b.values<double>(), want);
}

TEST(QorMinMax, MergesWithTheIncomingValues) {
    handle_array f(qor_fmt_32f, std::vector<float>{3, -1, 7}), u(qor_fmt_16u, std::vector<uint16_t>{500, 2}),
        d(qor_fmt_64f, std::vector<double>{1}), none(qor_fmt_64f, 0, nullptr), empty,
        nans(qor_fmt_32f, std::vector<float>(3, std::numeric_limits<float>::quiet_NaN()));
    auto run = [](qor_handle h, float mn, float mx) {
        EXPECT_EQ(qor_min_max(h, &mn, &mx), qor_ok);
        return std::vector<float>{mn, mx};
    };
    EXPECT_EQ(run(f, inf, -inf), (std::vector<float>{-1, 7}));
    EXPECT_EQ(run(f, -5, 0), (std::vector<float>{-5, 7}));
    EXPECT_EQ(run(f, std::nanf(""), std::nanf("")), (std::vector<float>{-1, 7}));  // a NaN held is replaced
    EXPECT_EQ(run(u, inf, -inf), (std::vector<float>{2, 500}));
    EXPECT_TRUE(std::isnan(run(nans, 0, 0)[0]));  // an all-NaN array merges its NaN
    float mn = 11, mx = 12;
    EXPECT_EQ(qor_min_max(d, &mn, &mx), qor_err_format);
    EXPECT_EQ(qor_min_max(none, &mn, &mx), qor_ok);
    EXPECT_EQ(qor_min_max(empty, &mn, &mx), qor_err_invalid);
    EXPECT_EQ(qor_min_max(-1, &mn, &mx), qor_err_handle);
    EXPECT_EQ(std::vector<float>({mn, mx}), (std::vector<float>{11, 12}));
}

TEST(QorMinMax, ChunksMergeAndAFailingSecondChunkKeepsTheFirst) {
    const std::vector<float> x = mixed_values<float>(61, 21);
    float wmn, wmx;
    min_max_model(x.data(), int(x.size()), &wmn, &wmx);
    {
        handle_array a(qor_fmt_32f, x);
        float mn = inf, mx = -inf;
        EXPECT_EQ(qor::ops::min_max_worker(a.object(), &mn, &mx, 6), qor_ok);
        EXPECT_TRUE(bits_of(mn) == bits_of(wmn) && bits_of(mx) == bits_of(wmx));
    }
    qor::ops::min_max_kernels k;
    k.min_max_32f = fails_second_time<krn_min_max_32f, const float*, int, float*, float*>;
    handle_array a(qor_fmt_32f, std::vector<float>{5, 6, -100, 100});
    float mn = inf, mx = -inf;
    failing_calls = 0;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(qor::ops::min_max_worker(a.object(), &mn, &mx, 2, k), qor_err_kernel); }),
              second_chunk_failed);
    EXPECT_EQ(std::vector<float>({mn, mx}), (std::vector<float>{5, 6}));
}
