#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "ops/logs.hpp"
#include "support/capture.hpp"
#include "support/handles.hpp"

using qor::test::handle_array;
using qor::test::expect_outcome;
using qor::test::stdout_of;

namespace {

constexpr float inf = std::numeric_limits<float>::infinity();
constexpr float qnan = std::numeric_limits<float>::quiet_NaN();
std::string line(int status) { return qor::test::report_line(status); }

}  // namespace

// Each warning the kernels give is printed and passed over (their values are the kernels' tests).
TEST(LogOps, WarningsArePrintedAndPassedOver) {
    const struct {
        std::vector<float> in;
        qor_status (*op)(qor_handle, qor_handle);
        std::string printed;
    } rows[] = {
        {{1.0f, 0.0f, -1.0f}, qor_ln, line(8)},
        {{-1.0f, 0.0f}, qor_ln, line(7)},
        {{-0.0f}, qor_ln, line(7)},
        {{qnan}, qor_ln, ""},
        {{100.0f, 0.0f}, qor_log10, line(18)},
        {{-1.0f, -2.0f}, qor_log1p, line(19)},
        {{-2.0f, -1.0f}, qor_log1p, line(18)},
    };
    for (const auto& r : rows) {
        handle_array a(qor_fmt_32f, r.in), b(int64_t(r.in.size()), qor_fmt_32f);
        expect_outcome([&] { return r.op(a, b); }, qor_ok, r.printed);
    }
}

TEST(LogOps, ChecksInTheLibraryOrder) {
    for (auto op : {qor_ln, qor_log1p, qor_log10})
        qor::test::expect_checks_in_order(op, qor_fmt_32f, qor_fmt_64f, qor_fmt_16u);
    handle_array blank, u16(1, qor_fmt_16u), none(qor_fmt_16u, 0, nullptr);
    EXPECT_EQ(qor_lnI(-3), qor_err_handle);
    EXPECT_EQ(qor_lnI(blank), qor_err_invalid);
    EXPECT_EQ(qor_lnI(none), qor_ok);
    EXPECT_EQ(qor_lnI(u16), qor_err_format);
}

// With a small chunk limit: one report line per chunk that warned, and the same results as one
// call over the whole array.
TEST(LogOps, OneReportPerWarningChunk) {
    std::vector<double> in(10, 2.5);
    in[1] = 0.0;  // chunk 0: singularity
    in[9] = -4;   // chunk 2: domain
    handle_array src(qor_fmt_64f, in), dst(10, qor_fmt_64f), whole(10, qor_fmt_64f);
    expect_outcome([&] { return qor::ops::log_worker(src.object(), dst.object(), qor::ops::ln_kernels, 4); }, qor_ok,
                   line(7) + line(8));
    stdout_of([&] { qor::ops::log_worker(src.object(), whole.object(), qor::ops::ln_kernels, 100); });
    EXPECT_EQ(std::memcmp(dst.data<double>(), whole.data<double>(), 80), 0);
    EXPECT_EQ(stdout_of([&] { qor::ops::log_worker(src.object(), dst.object(), qor::ops::log10_kernels, 3); }),
              line(18) + line(19));
    dst.fill(in);
    EXPECT_EQ(stdout_of([&] { qor::ops::ln_inplace_worker(dst.object(), 5); }), line(7) + line(8));
    EXPECT_EQ(std::memcmp(dst.data<double>(), whole.data<double>(), 80), 0);
}

// qor_ln(a, a) is qor_lnI(a), specials included.
TEST(LogOps, AliasedDestinationEqualsInPlace) {
    std::vector<float> f;
    std::vector<double> d;
    for (int i = 0; i < 37; ++i) {
        f.push_back(std::ldexp(1.0f + float(i) / 37, i - 18));
        d.push_back(std::ldexp(1.0 + double(i) / 37, 3 * i - 50));
    }
    f[5] = -0.0f, f[11] = -3, f[20] = qnan, f[33] = 0x1p-130f;
    d[2] = 0.0, d[36] = -std::numeric_limits<double>::infinity();
    handle_array fa(qor_fmt_32f, f), fb(qor_fmt_32f, f), da(qor_fmt_64f, d), db(qor_fmt_64f, d);
    stdout_of([&] {
        EXPECT_EQ(qor_ln(fa, fa), qor_ok);
        EXPECT_EQ(qor_lnI(fb), qor_ok);
        EXPECT_EQ(qor_ln(da, da), qor_ok);
        EXPECT_EQ(qor_lnI(db), qor_ok);
    });
    EXPECT_EQ(std::memcmp(fa.data<float>(), fb.data<float>(), f.size() * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(da.data<double>(), db.data<double>(), d.size() * sizeof(double)), 0);
}
