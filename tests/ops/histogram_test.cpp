#include "ops/histogram.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>
#include <vector>

#include "support/handles.hpp"

using namespace qor::test;
using qor::ops::histogram_worker;

// The kernel counts (see its tests); the operation clears the bins it was given and no other,
// leaves the array alone and passes the level-step warning on.
TEST(QorHistogram, WorkedExamples) {
    std::vector<uint32_t> counts(5, 99);
    std::vector<float> five{0, 1, 2, 3, 4};
    handle_array f(qor_fmt_32f, 5, five.data());
    EXPECT_EQ(qor_histogram(f, counts.data(), 4, 0, 4.5f), qor_ok);
    EXPECT_EQ(counts, (std::vector<uint32_t>{2, 1, 1, 1, 99}));
    EXPECT_EQ(five, (std::vector<float>{0, 1, 2, 3, 4}));
    handle_array ints(qor_fmt_16s, std::vector<int16_t>{-3, -2, 0, 5});
    EXPECT_EQ(qor_histogram(ints, counts.data(), 2, -3.7f, 6.2f), qor_ok);
    EXPECT_EQ(counts, (std::vector<uint32_t>{3, 1, 1, 1, 99}));
    std::vector<uint32_t> many(30, 99);  // integer levels closer than 1: reported, and still counted
    expect_outcome([&] { return qor_histogram(ints, many.data(), 30, -3, 6); }, qor_ok, report_line(48));
    uint32_t total = 0;
    for (uint32_t c : many) total += c;
    EXPECT_EQ(total, 4u);
}

TEST(QorHistogram, StatusesInOrder) {
    uint32_t counts[16] = {};
    expect_single_checks([&](qor_handle h) { return qor_histogram(h, counts, 16, 0, 256); }, qor_fmt_8u);
    EXPECT_EQ(histogram_worker(nullptr, counts, 4, 0, 1), qor_err_invalid);
    handle_array f(qor_fmt_32f, std::vector<float>{1, 2});
    for (auto [bins, lower, into, kernel] : {std::tuple{0, 0.0f, counts, -107},
                                             {-5, 0.0f, counts, -107},
                                             {std::numeric_limits<int>::max(), 0.0f, counts, -107},
                                             {4, 1.0f, counts, -7},
                                             {4, 0.0f, (uint32_t*)nullptr, -8}})
        expect_outcome([&] { return qor_histogram(f, into, bins, lower, 1); }, qor_err_kernel, report_line(kernel));
    // The format is looked at only after the size query and the initialisation.
    for (qor_data_format fmt : {qor_fmt_8u, qor_fmt_16u}) {
        handle_array h(8, fmt);
        expect_outcome([&] { return qor_histogram(h, counts, 1000, 0, 256); }, qor_err_format, report_line(48));
    }
    for (qor_data_format fmt : {qor_fmt_32u, qor_fmt_32s, qor_fmt_64f, qor_fmt_64u, qor_fmt_64s}) {
        handle_array h(8, fmt);
        expect_outcome([&] { return qor_histogram(h, counts, 4, 0, 1); }, qor_err_kernel, report_line(-59));
    }
    // No shortcut for an empty array: the size query refuses a region of height 0.
    handle_array none(qor_fmt_32f, 0, nullptr);
    expect_outcome([&] { return qor_histogram(none, counts, 4, 0, 1); }, qor_err_kernel, report_line(-6));
}

// The region view with a small limit in place of 2^31 - 1 counts every sample once, those the region
// leaves over included. A long 16-bit region is counted by the table, and so must its short tail
// be, even where equal bins from L[0] disagree with the levels (-1.9 .. 3 over 2 bins: levels
// -1, 0, 3; equal bins split at 1).
TEST(QorHistogram, RegionViewCountsEverySample) {
    for (int64_t n : {7, 8, 20, 23, 29, 100}) {
        std::vector<float> samples(static_cast<size_t>(n));
        std::vector<uint32_t> counts(10), want(10);
        for (int64_t i = 0; i < n; ++i) samples[size_t(i)] = float(i % 10) + 0.5f, ++want[size_t(i % 10)];
        handle_array a(qor_fmt_32f, n, samples.data());
        ASSERT_EQ(histogram_worker(&a.object(), counts.data(), 10, 0, 10, 7), qor_ok);
        EXPECT_EQ(counts, want) << n;
    }
    const int64_t n = 3 * 65536 + 5;  // limit 100000: W = 2, H = 98306, one sample left over
    std::vector<int16_t> samples(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) samples[size_t(i)] = int16_t(i % 5);
    samples.back() = 0;
    handle_array a(qor_fmt_16s, n, samples.data());
    std::vector<uint32_t> counts(2), whole(2);
    ASSERT_EQ(histogram_worker(&a.object(), counts.data(), 2, -1.9f, 3.0f, 100000), qor_ok);
    ASSERT_EQ(qor_histogram(a, whole.data(), 2, -1.9f, 3.0f), qor_ok);
    EXPECT_EQ(counts, whole);
    EXPECT_EQ(counts, (std::vector<uint32_t>{0, uint32_t(n - 2 * (n / 5))}));  // 0, 1 and 2 in [0, 3)
}
