#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ops/arith_workers.hpp"
#include "support/handles.hpp"

using namespace qor::test;
using namespace qor::krn;

TEST(QorSquare, FormatsChecksAndAFailingSecondChunk) {
    handle_array u(qor_fmt_16u, std::vector<uint16_t>{3, 255, 256, 65535}),
        f(qor_fmt_32f, std::vector<float>{-2, -0.0f, 1e20f}), f2(3, qor_fmt_32f);
    EXPECT_EQ(qor_square(u, u), qor_ok);  // in place, saturated
    EXPECT_EQ(u.values<uint16_t>(), (std::vector<uint16_t>{9, 65025, 65535, 65535}));
    EXPECT_EQ(qor_square(f, f2), qor_ok);
    EXPECT_EQ(f2.values<float>(), (std::vector<float>{4, 0, INFINITY}));
    expect_checks_in_order(qor_square, qor_fmt_32f, qor_fmt_16u, qor_fmt_16s);

    qor::ops::square_kernels k;
    k.sqr_16u = fails_second_time<krn_sqr_scaled_16u, const uint16_t*, uint16_t*, int, int>;
    handle_array a(qor_fmt_16u, std::vector<uint16_t>(7, 3)), b(qor_fmt_16u, std::vector<uint16_t>(7, 1));
    expect_second_chunk_failure([&] { return qor::ops::square_worker(a.object(), b.object(), 3, k); });
    EXPECT_EQ(b.values<uint16_t>(), (std::vector<uint16_t>{9, 9, 9, 1, 1, 1, 1}));
}

TEST(QorSubArray, CopiesARunAndNeverWritesOutsideTheBuffers) {
    handle_array src(qor_fmt_32f, std::vector<float>{0, 1, 2, 3, 4}), dst(qor_fmt_32f, std::vector<float>(4, 9)),
        u(2, qor_fmt_16u), s(qor_fmt_16s, std::vector<int16_t>{-1, -2}), b(2, qor_fmt_8u), blank;
    EXPECT_EQ(qor_sub_array(src, dst, 2, 3), qor_ok);
    EXPECT_EQ(dst.values<float>(), (std::vector<float>{2, 3, 4, 9}));
    const struct {
        int64_t offset, count;
        qor_status status;
    } rows[] = {{6, 0, qor_err_range},
                {3, 3, qor_err_range},
                {INT64_MAX, INT64_MAX, qor_err_range},
                {1, INT64_MAX, qor_err_range},
                {-1, 2, qor_err_range},
                {0, 5, qor_err_length},
                {5, 0, qor_ok},
                {-1, 0, qor_ok}};
    for (auto r : rows) EXPECT_EQ(qor_sub_array(src, dst, r.offset, r.count), r.status) << r.offset << " " << r.count;
    EXPECT_EQ(dst.values<float>(), (std::vector<float>{2, 3, 4, 9}));
    EXPECT_EQ(qor_sub_array(u, s, 0, 2), qor_err_format_mismatch);
    EXPECT_EQ(qor_sub_array(s, s, 1, 1), qor_ok);
    EXPECT_EQ(s.values<int16_t>(), (std::vector<int16_t>{-2, -2}));
    EXPECT_EQ(qor_sub_array(b, b, 0, 1), qor_err_format);
    EXPECT_EQ(qor_sub_array(blank, src, 0, 1), qor_err_invalid);
    EXPECT_EQ(qor_sub_array(src, 4000000, 0, 1), qor_err_handle);
}

namespace {
std::vector<int> copy_calls;
int record_copy(const int16_t*, int16_t*, int n) { return copy_calls.push_back(n), 0; }
}  // namespace

// One copy call moves less than 2^31 bytes; a kernel failing in the second chunk keeps the first.
TEST(QorSubArray, ChunksStayBelowTwoGigabytesAndAFailingSecondChunk) {
    qor::ops::copy_kernels k;
    k.copy_16s = record_copy;
    ary src, dst;  // descriptions only: the recording kernel never touches the memory
    qor_info info{(int64_t(1) << 31) + 10, qor_fmt_16s, 16, reinterpret_cast<void*>(uintptr_t(1) << 41)};
    src.init_ext(&info);
    dst.init_ext(&info);
    EXPECT_EQ(qor::ops::sub_array_worker(src, dst, 10, int64_t(1) << 31, qor::frame::max_chunk, k), qor_ok);
    EXPECT_EQ(copy_calls, (std::vector<int>{1073741823, 1073741823, 2}));

    std::vector<double> x(30), want(30, -1);
    for (size_t i = 0; i < x.size(); ++i) x[i] = double(i);
    for (size_t i = 0; i < 5; ++i) want[i] = x[4 + i];
    handle_array a(qor_fmt_64f, x), b(qor_fmt_64f, std::vector<double>(30, -1));
    k.copy_64f = fails_second_time<krn_copy_64f, const double*, double*, int>;
    expect_second_chunk_failure([&] { return qor::ops::sub_array_worker(a.object(), b.object(), 4, 23, 5, k); });
    EXPECT_EQ(b.values<double>(), want);
}

// The extremes merge with the values passed in (a NaN held is replaced), chunk by chunk; a kernel
// failing in the second chunk leaves the first chunk's merge.
TEST(QorMinMax, MergesWithTheIncomingValuesAndAcrossChunks) {
    handle_array f(qor_fmt_32f, std::vector<float>{3, -1, 7, -4, 9, 0.5f, 2}),
        u(qor_fmt_16u, std::vector<uint16_t>{500, 2}), d(1, qor_fmt_64f), none(qor_fmt_64f, 0, nullptr), blank,
        nans(qor_fmt_32f, std::vector<float>(3, NAN));
    auto run = [](qor_handle h, float mn, float mx) {
        EXPECT_EQ(qor_min_max(h, &mn, &mx), qor_ok);
        return std::vector<float>{mn, mx};
    };
    EXPECT_EQ(run(f, INFINITY, -INFINITY), (std::vector<float>{-4, 9}));
    EXPECT_EQ(run(f, -5, 0), (std::vector<float>{-5, 9}));
    EXPECT_EQ(run(f, NAN, NAN), (std::vector<float>{-4, 9}));
    EXPECT_EQ(run(u, INFINITY, -INFINITY), (std::vector<float>{2, 500}));
    EXPECT_TRUE(std::isnan(run(nans, 0, 0)[0]));  // an all-NaN array merges its NaN
    float mn = 11, mx = 12;
    EXPECT_EQ(qor::ops::min_max_worker(f.object(), &mn, &mx, 2), qor_ok);
    EXPECT_EQ(std::vector<float>({mn, mx}), (std::vector<float>{-4, 12}));
    mn = 11, mx = 12;
    EXPECT_EQ(qor_min_max(d, &mn, &mx), qor_err_format);
    EXPECT_EQ(qor_min_max(none, &mn, &mx), qor_ok);
    EXPECT_EQ(qor_min_max(blank, &mn, &mx), qor_err_invalid);
    EXPECT_EQ(qor_min_max(-1, &mn, &mx), qor_err_handle);
    EXPECT_EQ(std::vector<float>({mn, mx}), (std::vector<float>{11, 12}));

    qor::ops::min_max_kernels k;
    k.min_max_32f = fails_second_time<krn_min_max_32f, const float*, int, float*, float*>;
    mn = INFINITY, mx = -INFINITY;
    expect_second_chunk_failure([&] { return qor::ops::min_max_worker(f.object(), &mn, &mx, 2, k); });
    EXPECT_EQ(std::vector<float>({mn, mx}), (std::vector<float>{-1, 3}));
}
