#include <gtest/gtest.h>

#include <vector>

#include "frame/worker.hpp"
#include "support/capture.hpp"

using namespace qor::frame;

// Chunks of at most the limit, without gap or overlap, up to the largest kernel length; the walk
// stops at the first failure, keeping earlier chunks.
TEST(ChunkWalk, CoversTheRangeAndStopsAtTheFirstFailure) {
    for (int64_t count : {0, 1, 6, 7, 8, 20, 21}) {
        std::vector<int> hits(size_t(count), 0);
        const auto visit = [&](int64_t offset, int n) {
            EXPECT_LE(n, 7);
            for (int i = 0; i < n; ++i) ++hits[size_t(offset + i)];
            return qor_ok;
        };
        EXPECT_EQ(for_each_chunk(count, 7, visit), qor_ok);
        EXPECT_EQ(hits, std::vector<int>(size_t(count), 1));
    }
    std::vector<std::pair<int64_t, int>> chunks;
    EXPECT_EQ(for_each_chunk(max_chunk * 2 + 5, max_chunk,
                             [&](int64_t offset, int n) {
                                 chunks.emplace_back(offset, n);
                                 return chunks.size() == 3 ? qor_err_kernel : qor_ok;
                             }),
              qor_err_kernel);
    EXPECT_EQ(chunks, (std::vector<std::pair<int64_t, int>>{{0, int(max_chunk)}, {max_chunk, int(max_chunk)},
                                                             {2 * max_chunk, 5}}));
    chunks.clear();
    EXPECT_EQ(for_each_chunk(10, 4, [&](int64_t offset, int n) {
                  chunks.emplace_back(offset, n);
                  return offset == 4 ? qor_err_kernel : qor_ok;
              }),
              qor_err_kernel);
    EXPECT_EQ(chunks, (std::vector<std::pair<int64_t, int>>{{0, 4}, {4, 4}}));
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
