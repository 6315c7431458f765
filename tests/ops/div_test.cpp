#include <gtest/gtest.h>

#include <vector>

#include "ops/arith_workers.hpp"
#include "support/handles.hpp"
#include "support/arith_models.hpp"
#include "support/elementwise.hpp"
#include "support/capture.hpp"

using namespace qor::test;
using namespace qor::krn;

TEST(QorDiv, FirstHandleIsTheDivisorAndZeroDivisorsOnlyWarn) {
    handle_array a(qor_fmt_32f, std::vector<float>{2, 4, 0}), b(qor_fmt_32f, std::vector<float>{1, 2, -3}),
        c(qor_fmt_32f, std::vector<float>(3));
    expect_outcome([&] { return qor_div(a, b, c); }, qor_ok, "KRN function failed,return value 2.\n");
    EXPECT_EQ(c.values<float>(), (std::vector<float>{0.5f, 0.5f, -std::numeric_limits<float>::infinity()}));
    stdout_of([&] { EXPECT_EQ(qor_div(a, b, b), qor_ok); });  // the destination may be the dividend
    EXPECT_EQ(b.values<float>(), c.values<float>());
    EXPECT_EQ(a.values<float>(), (std::vector<float>{2, 4, 0}));
}

TEST(QorDiv, ChecksInTheLibrarysOrder) {
    expect_checks_in_order(qor_divI, qor_fmt_32f, qor_fmt_64f, qor_fmt_16u);
    expect_checks_in_order([](qor_handle a, qor_handle b) { return qor_div(a, a, b); }, qor_fmt_64f, qor_fmt_32f,
                           qor_fmt_8u);
}

// Small chunks give the whole array's bits, each chunk reporting its own zero;
// a kernel failing in the second chunk leaves the first chunk's results and one report line.
TEST(QorDiv, ChunksAndAFailingSecondChunk) {
    std::vector<float> d = mixed_values<float>(40, 7), x = mixed_values<float>(40, 8);
    for (float& v : d) v = v == 0 ? 1.5f : v;
    d[3] = d[30] = 0;
    const std::vector<double> dd(d.begin(), d.end()), xd(x.begin(), x.end());
    handle_array a(qor_fmt_32f, d), b(qor_fmt_32f, x), c(qor_fmt_32f, x), ad(qor_fmt_64f, dd), bd(qor_fmt_64f, xd);
    const std::string warned = "KRN function failed,return value 2.\n";
    EXPECT_EQ(stdout_of([&] { qor::ops::div_worker(a.object(), b.object(), c.object(), 7); }), warned + warned);
    stdout_of([&] { EXPECT_EQ(qor::ops::div_inplace_worker(a.object(), b.object(), 9), qor_ok); });
    stdout_of([&] { EXPECT_EQ(qor::ops::div_inplace_worker(ad.object(), bd.object(), 3), qor_ok); });
    for (size_t i = 0; i < 40; ++i) {
        EXPECT_EQ(bits_of(c.values<float>()[i]), bits_of(div_model(d[i], x[i])));
        EXPECT_EQ(bits_of(b.values<float>()[i]), bits_of(c.values<float>()[i]));
        EXPECT_EQ(bits_of(bd.values<double>()[i]), bits_of(div_model(dd[i], xd[i])));
    }
    qor::ops::div_kernels k;
    k.div_32f = fails_second_time<krn_div_32f, const float*, const float*, float*, int>;
    handle_array p(qor_fmt_32f, std::vector<float>(10, 2)), q(qor_fmt_32f, std::vector<float>(10, 1)),
        r(qor_fmt_32f, std::vector<float>(10, 9));
    failing_calls = 0;
    expect_outcome([&] { return qor::ops::div_worker(p.object(), q.object(), r.object(), 4, k); }, qor_err_kernel,
                   second_chunk_failed);
    EXPECT_EQ(r.values<float>(), (std::vector<float>{0.5f, 0.5f, 0.5f, 0.5f, 9, 9, 9, 9, 9, 9}));
}
