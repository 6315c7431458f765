#include "ops/logs.hpp"

#include <gtest/gtest.h>

#include <vector>

#include "support/handles.hpp"

using namespace qor::test;

// Each operation reaches its own kernel, whose warnings are printed and passed over.
TEST(LogOps, WarningsArePrintedAndPassedOverAndChecksComeInOrder) {
    const struct {
        std::vector<float> in;
        qor_status (*op)(qor_handle, qor_handle);
        std::string printed;
    } rows[] = {{{1.0f, 0.0f, -1.0f}, qor_ln, report_line(8)},
                {{-1.0f, 0.0f}, qor_ln, report_line(7)},
                {{100.0f, 0.0f}, qor_log10, report_line(18)},
                {{-1.0f, -2.0f}, qor_log1p, report_line(19)}};
    for (const auto& r : rows) {
        handle_array a(qor_fmt_32f, r.in), b(int64_t(r.in.size()), qor_fmt_32f);
        expect_outcome([&] { return r.op(a, b); }, qor_ok, r.printed);
    }
    for (auto op : {qor_ln, qor_log1p, qor_log10}) expect_checks_in_order(op, qor_fmt_32f, qor_fmt_64f, qor_fmt_16u);
    expect_single_checks(qor_lnI, qor_fmt_16u);
    handle_array none(qor_fmt_16u, 0, nullptr);
    EXPECT_EQ(qor_lnI(none), qor_ok);
}

// With a small chunk limit: one report line per chunk that warned, and the results of one call
// over the whole array, in place as well.
TEST(LogOps, OneReportPerWarningChunk) {
    std::vector<double> in(10, 2.5);
    in[1] = 0.0;  // chunk 0: singularity
    in[9] = -4;   // chunk 2: domain
    handle_array src(qor_fmt_64f, in), dst(10, qor_fmt_64f), whole(10, qor_fmt_64f);
    stdout_of([&] { qor_ln(src, whole); });
    expect_outcome([&] { return qor::ops::log_worker(src.object(), dst.object(), qor::ops::ln_kernels, 4); }, qor_ok,
                   report_line(7) + report_line(8));
    EXPECT_EQ(dst.values<uint64_t>(), whole.values<uint64_t>());
    expect_outcome([&] { return qor::ops::log_worker(src.object(), dst.object(), qor::ops::log10_kernels, 3); }, qor_ok,
                   report_line(18) + report_line(19));
    expect_outcome([&] { return qor::ops::ln_inplace_worker(src.object(), 5); }, qor_ok,
                   report_line(7) + report_line(8));
    EXPECT_EQ(src.values<uint64_t>(), whole.values<uint64_t>());
}
