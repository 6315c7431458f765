#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "ops/arith_workers.hpp"
#include "support/arith_handles.hpp"
#include "support/arith_models.hpp"
#include "support/capture.hpp"
#include "support/levels.hpp"

using namespace qor::test;
using namespace qor::krn;

namespace {

const std::string failed = "KRN function failed,return value -13.\n";
constexpr float inf = std::numeric_limits<float>::infinity();

}  // namespace

TEST(QorSquare, FormatsAndTheirRules) {
    handle_array u(qor_fmt_16u, std::vector<uint16_t>{3, 255, 256, 65535}), u2(qor_fmt_16u, std::vector<uint16_t>(4));
    EXPECT_EQ(qor_square(u, u2), qor_ok);
    EXPECT_EQ(u2.values<uint16_t>(), (std::vector<uint16_t>{9, 65025, 65535, 65535}));
    handle_array f(qor_fmt_32f, std::vector<float>{-2, -0.0f, 1e20f}), f2(qor_fmt_32f, std::vector<float>(3));
    EXPECT_EQ(qor_square(f, f2), qor_ok);
    EXPECT_EQ(f2.values<float>(), (std::vector<float>{4, 0, inf}));
    EXPECT_EQ(bits_of(f2.values<float>()[1]), 0u);
    EXPECT_EQ(qor_square(f, f), qor_ok);  // in place
    EXPECT_EQ(f.values<float>(), f2.values<float>());
    handle_array d(qor_fmt_64f, std::vector<double>{-3, 1e200}), d2(qor_fmt_64f, std::vector<double>(2));
    EXPECT_EQ(qor_square(d, d2), qor_ok);
    EXPECT_EQ(d2.values<double>(), (std::vector<double>{9, std::numeric_limits<double>::infinity()}));

    handle_array s(qor_fmt_16s, std::vector<int16_t>{1, 2}), s2(qor_fmt_16s, std::vector<int16_t>{5, 5});
    EXPECT_EQ(qor_square(s, s2), qor_err_format);
    EXPECT_EQ(s2.values<int16_t>(), (std::vector<int16_t>{5, 5}));
    handle_array e1(qor_fmt_16s, 0, nullptr), e2(qor_fmt_16s, 0, nullptr), empty;
    EXPECT_EQ(qor_square(e1, e2), qor_ok);
    EXPECT_EQ(qor_square(u, f), qor_err_format_mismatch);
    EXPECT_EQ(qor_square(f, d), qor_err_format_mismatch);
    handle_array f5(qor_fmt_32f, std::vector<float>(5));
    EXPECT_EQ(qor_square(f, f5), qor_err_length);
    EXPECT_EQ(qor_square(empty, f), qor_err_invalid);
    EXPECT_EQ(qor_square(f, empty), qor_err_invalid);
    EXPECT_EQ(qor_square(f, -3), qor_err_handle);
}

TEST(QorSquare, ChunksAtEveryLevelAndAFailingSecondChunk) {
    const std::vector<float> x = mixed_values<float>(50, 11);
    for_each_supported_level([&](int level) {
        qor::ops::square_kernels k{krn_sqr_32f_variant(level), krn_sqr_64f_variant(level),
                                   krn_sqr_scaled_16u_variant(level)};
        handle_array a(qor_fmt_32f, x), b(qor_fmt_32f, std::vector<float>(50)), whole(qor_fmt_32f, std::vector<float>(50));
        EXPECT_EQ(qor::ops::square_worker(a.object(), b.object(), 9, k), qor_ok);
        EXPECT_EQ(qor_square(a, whole), qor_ok);
        const std::vector<float> r = b.values<float>(), w = whole.values<float>();
        for (size_t i = 0; i < r.size(); ++i) EXPECT_EQ(bits_of(r[i]), bits_of(w[i])) << i;
    });
    qor::ops::square_kernels k;
    k.sqr_16u = fails_second_time<krn_sqr_scaled_16u, const uint16_t*, uint16_t*, int, int>;
    handle_array a(qor_fmt_16u, std::vector<uint16_t>(7, 3)), b(qor_fmt_16u, std::vector<uint16_t>(7, 1));
    failing_calls = 0;
    qor_status st = 0;
    EXPECT_EQ(stdout_of([&] { st = qor::ops::square_worker(a.object(), b.object(), 3, k); }), failed);
    EXPECT_EQ(st, qor_err_kernel);
    EXPECT_EQ(b.values<uint16_t>(), (std::vector<uint16_t>{9, 9, 9, 1, 1, 1, 1}));
}

TEST(QorSubArray, CopiesARunOfTheSource) {
    handle_array src(qor_fmt_32f, std::vector<float>{0, 1, 2, 3, 4}), dst(qor_fmt_32f, std::vector<float>(4, 9));
    EXPECT_EQ(qor_sub_array(src, dst, 2, 3), qor_ok);
    EXPECT_EQ(dst.values<float>(), (std::vector<float>{2, 3, 4, 9}));
    EXPECT_EQ(qor_sub_array(src, dst, 6, 0), qor_err_range);
    EXPECT_EQ(qor_sub_array(src, dst, 3, 3), qor_err_range);
    EXPECT_EQ(qor_sub_array(src, dst, 5, 0), qor_ok);
    EXPECT_EQ(qor_sub_array(src, dst, 1, -4), qor_ok);
    EXPECT_EQ(qor_sub_array(src, dst, INT64_MAX, INT64_MAX), qor_err_range);  // the end overflows
    EXPECT_EQ(qor_sub_array(src, dst, 1, INT64_MAX), qor_err_range);
    EXPECT_EQ(dst.values<float>(), (std::vector<float>{2, 3, 4, 9}));

    handle_array u(qor_fmt_16u, std::vector<uint16_t>{1, 2}), s(qor_fmt_16s, std::vector<int16_t>{-1, -2}),
        s2(qor_fmt_16s, std::vector<int16_t>{0, 0});
    EXPECT_EQ(qor_sub_array(u, s, 0, 2), qor_err_format_mismatch);
    EXPECT_EQ(qor_sub_array(s, s2, 0, 2), qor_ok);
    EXPECT_EQ(s2.values<int16_t>(), (std::vector<int16_t>{-1, -2}));
    handle_array u2(qor_fmt_16u, std::vector<uint16_t>{0, 0});
    EXPECT_EQ(qor_sub_array(u, u2, 1, 1), qor_ok);
    EXPECT_EQ(u2.values<uint16_t>(), (std::vector<uint16_t>{2, 0}));
    handle_array d(qor_fmt_64f, std::vector<double>{1.5, -0.0}), d2(qor_fmt_64f, std::vector<double>{7, 7});
    EXPECT_EQ(qor_sub_array(d, d2, 0, 2), qor_ok);
    EXPECT_EQ(bits_of(d2.values<double>()[1]), bits_of(-0.0));
}

// Nothing outside a buffer is touched: a negative offset or a run longer than the destination is
// refused before anything is written; then an unsupported format.
TEST(QorSubArray, ClosesTheDoorsOutsideTheBuffers) {
    handle_array src(qor_fmt_32f, std::vector<float>{0, 1, 2, 3, 4}), dst(qor_fmt_32f, std::vector<float>(2, 9)),
        empty;
    EXPECT_EQ(qor_sub_array(src, dst, -1, 2), qor_err_range);
    EXPECT_EQ(qor_sub_array(src, dst, -1, 0), qor_ok);
    EXPECT_EQ(qor_sub_array(src, dst, 0, 3), qor_err_length);
    EXPECT_EQ(qor_sub_array(src, dst, -1, 3), qor_err_range);
    EXPECT_EQ(dst.values<float>(), (std::vector<float>(2, 9)));
    handle_array b(qor_fmt_8u, std::vector<uint8_t>{1, 2, 3}), b2(qor_fmt_8u, std::vector<uint8_t>{0});
    EXPECT_EQ(qor_sub_array(b, b2, 0, 2), qor_err_length);
    EXPECT_EQ(qor_sub_array(b, b2, 0, 1), qor_err_format);
    EXPECT_EQ(b2.values<uint8_t>(), (std::vector<uint8_t>{0}));
    EXPECT_EQ(qor_sub_array(b, b2, 0, 0), qor_ok);
    EXPECT_EQ(qor_sub_array(empty, src, 0, 1), qor_err_invalid);
    EXPECT_EQ(qor_sub_array(src, empty, 0, 1), qor_err_invalid);
    EXPECT_EQ(qor_sub_array(src, 4000000, 0, 1), qor_err_handle);
}

namespace {

const uintptr_t fake_dst = uintptr_t(1) << 41;  // never dereferenced
std::vector<std::pair<int64_t, int>> copy_calls;
int record_copy(const int16_t*, int16_t* dst, int n) {
    copy_calls.emplace_back(int64_t(reinterpret_cast<uintptr_t>(dst) - fake_dst) / 2, n);
    return 0;
}

}  // namespace

// A chunk of 2^31 - 1 elements is more than one copy may move: the calls stay below 2^31 bytes.
// The arrays are descriptions only; the recording kernel touches no memory.
TEST(QorSubArray, CopyCallsStayBelowTwoGigabytes) {
    qor::ops::copy_kernels k;
    k.copy_16s = record_copy;
    const int64_t count = int64_t(1) << 31;
    ary src, dst;
    qor_info si{count + 10, qor_fmt_16s, 16, reinterpret_cast<void*>(uintptr_t(1) << 40)};
    qor_info di{count, qor_fmt_16s, 16, reinterpret_cast<void*>(fake_dst)};
    src.init_ext(&si);
    dst.init_ext(&di);
    copy_calls.clear();
    EXPECT_EQ(qor::ops::sub_array_worker(src, dst, 10, count, qor::frame::max_chunk, k), qor_ok);
    int64_t done = 0;
    for (auto [at, n] : copy_calls) {
        EXPECT_EQ(at, done);
        EXPECT_LT(int64_t(n) * 2, int64_t(1) << 31);
        done += n;
    }
    EXPECT_EQ(done, count);
    EXPECT_EQ(copy_calls.size(), 3u);
}

TEST(QorSubArray, ChunksAndAFailingSecondChunk) {
    std::vector<double> x(30);
    for (size_t i = 0; i < x.size(); ++i) x[i] = double(i);
    handle_array src(qor_fmt_64f, x), dst(qor_fmt_64f, std::vector<double>(30, -1));
    EXPECT_EQ(qor::ops::sub_array_worker(src.object(), dst.object(), 4, 23, 5), qor_ok);
    std::vector<double> want(x.begin() + 4, x.begin() + 27);
    want.resize(30, -1);
    EXPECT_EQ(dst.values<double>(), want);

    qor::ops::copy_kernels k;
    k.copy_64f = fails_second_time<krn_copy_64f, const double*, double*, int>;
    handle_array dst2(qor_fmt_64f, std::vector<double>(30, -1));
    failing_calls = 0;
    qor_status st = 0;
    EXPECT_EQ(stdout_of([&] { st = qor::ops::sub_array_worker(src.object(), dst2.object(), 4, 23, 5, k); }), failed);
    EXPECT_EQ(st, qor_err_kernel);
    std::vector<double> partial(30, -1);
    for (int i = 0; i < 5; ++i) partial[size_t(i)] = double(i + 4);
    EXPECT_EQ(dst2.values<double>(), partial);
}

TEST(QorMinMax, MergesWithTheIncomingValues) {
    handle_array f(qor_fmt_32f, std::vector<float>{3, -1, 7});
    float mn = inf, mx = -inf;
    EXPECT_EQ(qor_min_max(f, &mn, &mx), qor_ok);
    EXPECT_EQ(mn, -1);
    EXPECT_EQ(mx, 7);
    mn = -5, mx = 0;
    EXPECT_EQ(qor_min_max(f, &mn, &mx), qor_ok);
    EXPECT_EQ(mn, -5);
    EXPECT_EQ(mx, 7);
    mn = mx = std::numeric_limits<float>::quiet_NaN();  // a NaN held is replaced
    EXPECT_EQ(qor_min_max(f, &mn, &mx), qor_ok);
    EXPECT_EQ(mn, -1);
    EXPECT_EQ(mx, 7);

    handle_array u(qor_fmt_16u, std::vector<uint16_t>{500, 2});
    mn = inf, mx = -inf;
    EXPECT_EQ(qor_min_max(u, &mn, &mx), qor_ok);
    EXPECT_EQ(mn, 2.0f);
    EXPECT_EQ(mx, 500.0f);

    handle_array d(qor_fmt_64f, std::vector<double>{1, 2}), s(qor_fmt_16s, std::vector<int16_t>{1}),
        none(qor_fmt_64f, 0, nullptr), empty;
    mn = 11, mx = 12;
    EXPECT_EQ(qor_min_max(d, &mn, &mx), qor_err_format);
    EXPECT_EQ(qor_min_max(s, &mn, &mx), qor_err_format);
    EXPECT_EQ(qor_min_max(none, &mn, &mx), qor_ok);
    EXPECT_EQ(qor_min_max(empty, &mn, &mx), qor_err_invalid);
    EXPECT_EQ(qor_min_max(-1, &mn, &mx), qor_err_handle);
    EXPECT_EQ(mn, 11);
    EXPECT_EQ(mx, 12);

    // NaN elements are ignored; an all-NaN array merges its NaN, which the next array replaces.
    handle_array with_nan(qor_fmt_32f, std::vector<float>{std::numeric_limits<float>::quiet_NaN(), 4, -0.0f}),
        all_nan(qor_fmt_32f, std::vector<float>(3, std::numeric_limits<float>::quiet_NaN()));
    mn = inf, mx = -inf;
    EXPECT_EQ(qor_min_max(with_nan, &mn, &mx), qor_ok);
    EXPECT_EQ(bits_of(mn), bits_of(-0.0f));
    EXPECT_EQ(mx, 4);
    EXPECT_EQ(qor_min_max(all_nan, &mn, &mx), qor_ok);
    EXPECT_TRUE(std::isnan(mn) && std::isnan(mx));
    EXPECT_EQ(qor_min_max(f, &mn, &mx), qor_ok);
    EXPECT_EQ(mn, -1);
    EXPECT_EQ(mx, 7);
}

TEST(QorMinMax, ChunksMergeAtEveryLevelAndAFailingSecondChunkKeepsTheFirst) {
    const std::vector<float> x = mixed_values<float>(61, 21);
    float wmn, wmx;
    min_max_model(x.data(), int(x.size()), &wmn, &wmx);
    std::vector<uint16_t> u(45);
    for (size_t i = 0; i < u.size(); ++i) u[i] = uint16_t(1000 + i * 7919 % 50000);
    for_each_supported_level([&](int level) {
        qor::ops::min_max_kernels k{krn_min_max_16u_variant(level), krn_min_max_32f_variant(level)};
        handle_array a(qor_fmt_32f, x), b(qor_fmt_16u, u);
        float mn = inf, mx = -inf;
        EXPECT_EQ(qor::ops::min_max_worker(a.object(), &mn, &mx, 6, k), qor_ok);
        EXPECT_EQ(mn, wmn);
        EXPECT_EQ(mx, wmx);
        mn = inf, mx = -inf;
        EXPECT_EQ(qor::ops::min_max_worker(b.object(), &mn, &mx, 4, k), qor_ok);
        EXPECT_EQ(mn, float(*std::min_element(u.begin(), u.end())));
        EXPECT_EQ(mx, float(*std::max_element(u.begin(), u.end())));
    });
    qor::ops::min_max_kernels k;
    k.min_max_32f = fails_second_time<krn_min_max_32f, const float*, int, float*, float*>;
    handle_array a(qor_fmt_32f, std::vector<float>{5, 6, -100, 100});
    float mn = inf, mx = -inf;
    failing_calls = 0;
    qor_status st = 0;
    EXPECT_EQ(stdout_of([&] { st = qor::ops::min_max_worker(a.object(), &mn, &mx, 2, k); }), failed);
    EXPECT_EQ(st, qor_err_kernel);
    EXPECT_EQ(mn, 5);
    EXPECT_EQ(mx, 6);
}
