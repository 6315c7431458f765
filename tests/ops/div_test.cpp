#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "ops/arith_workers.hpp"
#include "support/arith_handles.hpp"
#include "support/arith_models.hpp"
#include "support/capture.hpp"
#include "support/levels.hpp"

using namespace qor::test;
using qor::ops::div_kernels;

namespace {

const std::string warned = "KRN function failed,return value 2.\n";

div_kernels div_at(int level) {
    return {qor::krn::krn_div_32f_variant(level), qor::krn::krn_div_64f_variant(level),
            qor::krn::krn_div_32f_ip_variant(level), qor::krn::krn_div_64f_ip_variant(level)};
}

}  // namespace

TEST(QorDiv, FirstHandleIsTheDivisor) {
    handle_array a(qor_fmt_32f, std::vector<float>{2, 4}), b(qor_fmt_32f, std::vector<float>{1, 2}),
        c(qor_fmt_32f, std::vector<float>{9, 9});
    EXPECT_EQ(qor_div(a, b, c), qor_ok);
    EXPECT_EQ(c.values<float>(), (std::vector<float>{0.5f, 0.5f}));
    EXPECT_EQ(b.values<float>(), (std::vector<float>{1, 2}));
    EXPECT_EQ(qor_divI(a, b), qor_ok);
    EXPECT_EQ(b.values<float>(), (std::vector<float>{0.5f, 0.5f}));
    EXPECT_EQ(a.values<float>(), (std::vector<float>{2, 4}));
}

TEST(QorDiv, ZeroDivisorsWarnOnceAndSucceed) {
    handle_array a(qor_fmt_32f, std::vector<float>{0, 0, 0}), b(qor_fmt_32f, std::vector<float>{3, -3, 0}),
        c(qor_fmt_32f, std::vector<float>(3));
    qor_status st = 1;
    EXPECT_EQ(stdout_of([&] { st = qor_div(a, b, c); }), warned);
    EXPECT_EQ(st, qor_ok);
    const std::vector<float> q = c.values<float>();
    EXPECT_EQ(q[0], std::numeric_limits<float>::infinity());
    EXPECT_EQ(q[1], -std::numeric_limits<float>::infinity());
    EXPECT_EQ(bits_of(q[2]), 0x7FC00000u);
    EXPECT_EQ(stdout_of([&] { st = qor_divI(a, b); }), warned);
    EXPECT_EQ(st, qor_ok);
}

// Handles, data, formats, sizes, then an empty array succeeds and only then the format counts.
TEST(QorDiv, ChecksInTheLibrarysOrder) {
    handle_array f32(qor_fmt_32f, std::vector<float>{1, 2, 3}), f64(qor_fmt_64f, std::vector<double>{1, 2}),
        f32b(qor_fmt_32f, std::vector<float>{1, 2}), empty, freed;
    qor_handle gone = freed;
    qor_destroy_array(gone);
    EXPECT_EQ(qor_div(-1, gone, f32), qor_err_handle);
    EXPECT_EQ(qor_div(f32, gone, 100000), qor_err_invalid);
    EXPECT_EQ(qor_divI(f32, 1 << 30), qor_err_handle);
    EXPECT_EQ(qor_div(f32, f32, empty), qor_err_invalid);
    EXPECT_EQ(qor_div(empty, f64, f32), qor_err_invalid);
    EXPECT_EQ(qor_divI(f32, empty), qor_err_invalid);
    EXPECT_EQ(qor_div(f32, f64, f64), qor_err_format_mismatch);  // before the sizes
    EXPECT_EQ(qor_divI(f64, f32), qor_err_format_mismatch);
    EXPECT_EQ(qor_div(f32, f32, f32b), qor_err_length);
    EXPECT_EQ(qor_divI(f32b, f32), qor_err_length);

    handle_array none_a(qor_fmt_16u, 0, nullptr), none_b(qor_fmt_16u, 0, nullptr);
    EXPECT_EQ(qor_div(none_a, none_b, none_a), qor_ok);
    handle_array u16(qor_fmt_16u, std::vector<uint16_t>{1, 2, 3, 4, 5}), u16b(qor_fmt_16u, std::vector<uint16_t>(5, 7));
    EXPECT_EQ(qor_div(u16, u16, u16b), qor_err_format);
    EXPECT_EQ(qor_divI(u16, u16b), qor_err_format);
    EXPECT_EQ(u16b.values<uint16_t>(), std::vector<uint16_t>(5, 7));
}

TEST(QorDiv, DestinationMayBeTheDividend) {
    const std::vector<double> d = mixed_values<double>(77, 3), x = mixed_values<double>(77, 4);
    handle_array a(qor_fmt_64f, d), b1(qor_fmt_64f, x), b2(qor_fmt_64f, x);
    stdout_of([&] {
        EXPECT_EQ(qor_div(a, b1, b1), qor_ok);
        EXPECT_EQ(qor_divI(a, b2), qor_ok);
    });
    const std::vector<double> r1 = b1.values<double>(), r2 = b2.values<double>();
    for (size_t i = 0; i < r1.size(); ++i) EXPECT_EQ(bits_of(r1[i]), bits_of(r2[i])) << i;
}

// Small chunks give the whole array's results at every level; each chunk reports its own warning.
TEST(QorDiv, ChunksCoverTheArrayAtEveryLevel) {
    const std::vector<float> d = mixed_values<float>(40, 7), x = mixed_values<float>(40, 8);
    for_each_supported_level([&](int level) {
        std::vector<float> dz = d;
        for (float& v : dz) v = v == 0 ? 1.5f : v;
        dz[3] = 0;    // first chunk
        dz[30] = -0.0f;  // fifth chunk
        handle_array a(qor_fmt_32f, dz), b(qor_fmt_32f, x), c(qor_fmt_32f, std::vector<float>(40)),
            bi(qor_fmt_32f, x);
        qor_status st = 1, sti = 1;
        EXPECT_EQ(stdout_of([&] { st = qor::ops::div_worker(a.object(), b.object(), c.object(), 7, div_at(level)); }),
                  warned + warned);
        EXPECT_EQ(stdout_of([&] { sti = qor::ops::div_inplace_worker(a.object(), bi.object(), 7, div_at(level)); }),
                  warned + warned);
        EXPECT_EQ(st, qor_ok);
        EXPECT_EQ(sti, qor_ok);
        const std::vector<float> q = c.values<float>(), qi = bi.values<float>();
        for (size_t i = 0; i < 40; ++i) {
            EXPECT_EQ(bits_of(q[i]), bits_of(div_model(dz[i], x[i]))) << i;
            EXPECT_EQ(bits_of(qi[i]), bits_of(q[i])) << i;
        }
    });
    const std::vector<double> dd = mixed_values<double>(40, 9), xd = mixed_values<double>(40, 10);
    handle_array a(qor_fmt_64f, dd), b(qor_fmt_64f, xd), c(qor_fmt_64f, std::vector<double>(40));
    stdout_of([&] { EXPECT_EQ(qor::ops::div_worker(a.object(), b.object(), c.object(), 3), qor_ok); });
    const std::vector<double> q = c.values<double>();
    for (size_t i = 0; i < 40; ++i) EXPECT_EQ(bits_of(q[i]), bits_of(div_model(dd[i], xd[i]))) << i;
}

TEST(QorDiv, KernelErrorInTheSecondChunkKeepsTheFirst) {
    using namespace qor::krn;
    div_kernels k;
    k.div_32f = fails_second_time<krn_div_32f, const float*, const float*, float*, int>;
    k.div_64f_ip = fails_second_time<krn_div_64f_ip, const double*, double*, int>;
    handle_array a(qor_fmt_32f, std::vector<float>(10, 2)), b(qor_fmt_32f, std::vector<float>(10, 1)),
        c(qor_fmt_32f, std::vector<float>(10, 9));
    failing_calls = 0;
    qor_status st = 0;
    EXPECT_EQ(stdout_of([&] { st = qor::ops::div_worker(a.object(), b.object(), c.object(), 4, k); }),
              "KRN function failed,return value -13.\n");
    EXPECT_EQ(st, qor_err_kernel);
    EXPECT_EQ(c.values<float>(), (std::vector<float>{0.5f, 0.5f, 0.5f, 0.5f, 9, 9, 9, 9, 9, 9}));

    handle_array ad(qor_fmt_64f, std::vector<double>(5, 4)), bd(qor_fmt_64f, std::vector<double>(5, 1));
    failing_calls = 0;
    EXPECT_EQ(stdout_of([&] { st = qor::ops::div_inplace_worker(ad.object(), bd.object(), 2, k); }),
              "KRN function failed,return value -13.\n");
    EXPECT_EQ(st, qor_err_kernel);
    EXPECT_EQ(bd.values<double>(), (std::vector<double>{0.25, 0.25, 1, 1, 1}));
}
