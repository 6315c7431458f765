#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ops/arith_workers.hpp"
#include "support/handles.hpp"

using namespace qor::test;

TEST(QorDiv, TheFirstHandleIsTheDivisorZeroDivisorsWarnAndChecksComeInOrder) {
    handle_array a(qor_fmt_32f, std::vector<float>{2, 4, 0}), b(qor_fmt_32f, std::vector<float>{1, 2, -3}),
        c(3, qor_fmt_32f);
    expect_outcome([&] { return qor_div(a, b, c); }, qor_ok, report_line(2));
    EXPECT_EQ(c.values<float>(), (std::vector<float>{0.5f, 0.5f, -INFINITY}));
    expect_outcome([&] { return qor_divI(a, b); }, qor_ok, report_line(2));
    EXPECT_EQ(b.values<float>(), c.values<float>());
    expect_checks_in_order(qor_divI, qor_fmt_32f, qor_fmt_64f, qor_fmt_16u);
    expect_checks_in_order([](qor_handle x, qor_handle y) { return qor_div(x, x, y); }, qor_fmt_64f, qor_fmt_32f,
                           qor_fmt_8u);
}

// Small chunks: each chunk reports its own zero divisor and the results are those of one call; a
// kernel failing in the second chunk leaves the first chunk's results.
TEST(QorDiv, ChunksAndAFailingSecondChunk) {
    std::vector<double> d(40), x(40);
    for (int i = 0; i < 40; ++i) d[size_t(i)] = 1.5 + i % 7, x[size_t(i)] = i * 0.37 - 5;
    d[3] = d[30] = 0;
    handle_array a(qor_fmt_64f, d), b(qor_fmt_64f, x), c(40, qor_fmt_64f), whole(40, qor_fmt_64f);
    stdout_of([&] { qor_div(a, b, whole); });
    expect_outcome([&] { return qor::ops::div_worker(a.object(), b.object(), c.object(), 7); }, qor_ok,
                   report_line(2) + report_line(2));
    EXPECT_EQ(c.values<double>(), whole.values<double>());
    stdout_of([&] { EXPECT_EQ(qor::ops::div_inplace_worker(a.object(), b.object(), 9), qor_ok); });
    EXPECT_EQ(b.values<double>(), whole.values<double>());

    qor::ops::div_kernels k;
    k.div_32f = fails_second_time<qor::krn::krn_div_32f, const float*, const float*, float*, int>;
    handle_array p(qor_fmt_32f, std::vector<float>(10, 2)), q(qor_fmt_32f, std::vector<float>(10, 1)),
        r(qor_fmt_32f, std::vector<float>(10, 9));
    expect_second_chunk_failure([&] { return qor::ops::div_worker(p.object(), q.object(), r.object(), 4, k); });
    EXPECT_EQ(r.values<float>(), (std::vector<float>{0.5f, 0.5f, 0.5f, 0.5f, 9, 9, 9, 9, 9, 9}));
}
