#include "ops/histogram.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#include "support/capture.hpp"
#include "support/handles.hpp"
#include "support/histogram_model.hpp"

using qor::ops::histogram_worker;
using qor::test::handle_array;
using qor::test::report_line;
using qor::test::expect_outcome;
using qor::test::stdout_of;

namespace {

// A registered array lending the given samples.
template <class T>
struct lent {
    std::vector<T> samples;
    handle_array handle;
    lent(std::vector<T> s, qor_data_format format)
        : samples(std::move(s)), handle(format, int64_t(samples.size()), samples.data()) {}
};

}  // namespace

// The kernel counts (see its tests); the operation passes the level-step warning on and counts.
TEST(QorHistogram, WorkedExamples) {
    std::vector<uint32_t> counts(5, 99);
    lent<float> five({0, 1, 2, 3, 4}, qor_fmt_32f);
    EXPECT_EQ(qor_histogram(five.handle, counts.data(), 4, 0, 4.5f), qor_ok);
    EXPECT_EQ(counts, (std::vector<uint32_t>{2, 1, 1, 1, 99}));
    lent<int16_t> ints({-3, -2, 0, 5}, qor_fmt_16s);
    EXPECT_EQ(qor_histogram(ints.handle, counts.data(), 2, -3.7f, 6.2f), qor_ok);
    EXPECT_EQ(counts[0], 3u);
    EXPECT_EQ(counts[1], 1u);
    // Integer levels closer than 1: reported, and still counted.
    std::vector<uint32_t> many(30, 99);
    expect_outcome([&] { return qor_histogram(ints.handle, many.data(), 30, -3, 6); }, qor_ok, report_line(48));
    EXPECT_EQ(many, qor::test::model_counts_16s(qor::test::model_int_levels(-3, 6, 30), ints.samples));
}

TEST(QorHistogram, StatusesInOrder) {
    uint32_t counts[16] = {};
    qor::test::expect_single_checks([&](qor_handle h) { return qor_histogram(h, counts, 16, 0, 256); }, qor_fmt_8u);
    EXPECT_EQ(histogram_worker(nullptr, counts, 4, 0, 1), qor_err_invalid);

    lent<float> f({1, 2}, qor_fmt_32f);
    for (auto [bins, lower, into, kernel] : {std::tuple{0, 0.0f, counts, -107},
                                             {-5, 0.0f, counts, -107},
                                             {std::numeric_limits<int>::max(), 0.0f, counts, -107},
                                             {4, 1.0f, counts, -7},
                                             {4, 2.0f, counts, -7},
                                             {4, 0.0f, (uint32_t*)nullptr, -8}}) {
        expect_outcome([&] { return qor_histogram(f.handle, into, bins, lower, 1); }, qor_err_kernel,
                       report_line(kernel));
    }
    // The format is looked at only after the size query and the initialisation.
    for (qor_data_format fmt : {qor_fmt_8u, qor_fmt_16u}) {
        handle_array h(8, fmt);
        expect_outcome([&] { return qor_histogram(h, counts, 16, 0, 256); }, qor_err_format, "");
        expect_outcome([&] { return qor_histogram(h, counts, 1000, 0, 256); }, qor_err_format, report_line(48));
    }
    for (qor_data_format fmt : {qor_fmt_32u, qor_fmt_32s, qor_fmt_64f, qor_fmt_64u, qor_fmt_64s}) {
        handle_array h(8, fmt);
        expect_outcome([&] { return qor_histogram(h, counts, 4, 0, 1); }, qor_err_kernel, report_line(-59));
    }
    // No shortcut for an empty array: the size query refuses a region of height 0.
    lent<float> none({}, qor_fmt_32f);
    expect_outcome([&] { return qor_histogram(none.handle, counts, 4, 0, 1); }, qor_err_kernel, report_line(-6));
}

TEST(QorHistogram, ArrayUnchangedAndCountsCleared) {
    std::mt19937 rng(1);
    std::normal_distribution<float> dist(0, 1);
    std::vector<float> samples(10007);
    for (auto& s : samples) s = dist(rng);
    lent<float> f(samples, qor_fmt_32f);
    std::vector<uint32_t> counts(1000, 12345);
    ASSERT_EQ(qor_histogram(f.handle, counts.data(), 1000, -3, 3), qor_ok);
    EXPECT_EQ(f.samples, samples);
    EXPECT_EQ(counts, qor::test::model_counts(qor::test::model_float_levels(-3, 3, 1000), samples));
}

// The region view with a small limit in place of 2^31 - 1: every sample is counted once, those the
// region leaves over included. A long 16-bit region is counted by the table, and so must its short
// tail be, even where equal bins from L[0] disagree with the levels (-1.9 .. 3 over 2 bins: levels
// -1, 0, 3; equal bins split at 1).
TEST(QorHistogram, RegionViewCountsEverySample) {
    for (int64_t n : {7, 8, 20, 23, 29, 100}) {
        std::vector<float> samples(static_cast<size_t>(n));
        for (int64_t i = 0; i < n; ++i) samples[size_t(i)] = float(i % 10) + 0.5f;
        ary a;
        qor_info info{n, qor_fmt_32f, 32, samples.data()};
        a.init_ext(&info);
        std::vector<uint32_t> counts(10);
        ASSERT_EQ(histogram_worker(&a, counts.data(), 10, 0, 10, 7), qor_ok);
        EXPECT_EQ(counts, qor::test::model_counts(qor::test::model_float_levels(0, 10, 10), samples)) << n;
    }
    const int64_t n = 3 * 65536 + 5;  // limit 100000: W = 2, H = 98306, one sample left over
    std::vector<int16_t> samples(static_cast<size_t>(n));
    for (int64_t i = 0; i < n; ++i) samples[size_t(i)] = int16_t(i % 5);
    samples.back() = 0;
    ary a;
    qor_info info{n, qor_fmt_16s, 16, samples.data()};
    a.init_ext(&info);
    std::vector<uint32_t> counts(2);
    ASSERT_EQ(histogram_worker(&a, counts.data(), 2, -1.9f, 3.0f, 100000), qor_ok);
    EXPECT_EQ(counts, qor::test::model_counts(qor::test::model_int_levels(-1.9f, 3.0f, 2), samples));
}
