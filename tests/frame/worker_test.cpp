#include <gtest/gtest.h>

#include <vector>

#include "frame/worker.hpp"
#include "support/capture.hpp"

using namespace qor::frame;

TEST(ChunkWalk, CoversTheRangeWithoutGapOrOverlap) {
    for (int64_t count : {1, 6, 7, 8, 20, 21}) {
        std::vector<int> hits(size_t(count), 0);
        int calls = 0;
        EXPECT_EQ(for_each_chunk(count, 7,
                                 [&](int64_t offset, int n) {
                                     ++calls;
                                     EXPECT_LE(n, 7);
                                     for (int i = 0; i < n; ++i) ++hits[size_t(offset + i)];
                                     return qor_ok;
                                 }),
                  qor_ok);
        EXPECT_EQ(calls, (count + 6) / 7);
        for (int h : hits) EXPECT_EQ(h, 1);
    }
    int calls = 0;
    for_each_chunk(0, max_chunk, [&](int64_t, int) { return ++calls, qor_ok; });
    EXPECT_EQ(calls, 0);
}

TEST(ChunkWalk, StopsAtTheFirstFailureKeepingEarlierChunks) {
    std::vector<int64_t> offsets;
    const qor_status st = for_each_chunk(
        10, 4, [&](int64_t offset, int) { offsets.push_back(offset); return offset == 4 ? qor_err_kernel : qor_ok; });
    EXPECT_EQ(st, qor_err_kernel);
    EXPECT_EQ(offsets, (std::vector<int64_t>{0, 4}));
}

TEST(ChunkWalk, ChunksOfTheLargestKernelLengthStayInRange) {
    std::vector<std::pair<int64_t, int>> chunks;
    for_each_chunk(max_chunk * 2 + 5, max_chunk, [&](int64_t offset, int n) { chunks.emplace_back(offset, n); return qor_ok; });
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[1], std::make_pair(max_chunk, int(max_chunk)));
    EXPECT_EQ(chunks[2], std::make_pair(2 * max_chunk, 5));
}

TEST(KernelReport, PrintsEveryNonZeroStatus) {
    qor::test::expect_outcome([&] { return report_kernel(0); }, qor_ok, "");
    qor::test::expect_outcome([&] { return report_kernel(2); }, qor_ok, "KRN function failed,return value 2.\n");
    qor::test::expect_outcome([&] { return report_kernel(-6); }, qor_err_kernel,
                              "KRN function failed,return value -6.\n");
}

TEST(OperandChecks, DataThenFormatThenLength) {
    ary a, b, empty;
    ASSERT_EQ(a.init(4, qor_fmt_32f), qor_ok);
    ASSERT_EQ(b.init(5, qor_fmt_64f), qor_ok);
    EXPECT_EQ(check_operands(a, empty), qor_err_invalid);
    EXPECT_EQ(check_operands(empty, b), qor_err_invalid);
    EXPECT_EQ(check_operands(a, b), qor_err_format_mismatch);  // before the length mismatch
    ASSERT_EQ(b.init(5, qor_fmt_32f), qor_ok);
    EXPECT_EQ(check_operands(a, b), qor_err_length);
    ASSERT_EQ(b.init(4, qor_fmt_32f), qor_ok);
    EXPECT_EQ(check_operands(a, b, a), qor_ok);
    EXPECT_EQ(check_operands(empty), qor_err_invalid);
}
