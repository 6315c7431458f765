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

TEST(QorConvert, TheSixPairs) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    handle_array f(qor_fmt_32f, std::vector<float>{-3.7f, 0.99f, 1.5f, 2.5f, 65534.9f, 65535.0f, 70000.0f, inf, nan}),
        f_u(qor_fmt_16u, std::vector<uint16_t>(9));
    EXPECT_EQ(qor_convert(f, f_u), qor_ok);
    EXPECT_EQ(f_u.values<uint16_t>(), (std::vector<uint16_t>{0, 0, 1, 2, 65534, 65535, 65535, 65535, 0}));

    handle_array s(qor_fmt_16s, std::vector<int16_t>{-1, 255, 256, -32768}), s_b(qor_fmt_8u, std::vector<uint8_t>(4));
    EXPECT_EQ(qor_convert(s, s_b), qor_ok);
    EXPECT_EQ(s_b.values<uint8_t>(), (std::vector<uint8_t>{0, 255, 255, 0}));

    handle_array u(qor_fmt_16u, std::vector<uint16_t>{65535, 300, 17}), u_b(qor_fmt_8u, std::vector<uint8_t>(3));
    EXPECT_EQ(qor_convert(u, u_b), qor_ok);
    EXPECT_EQ(u_b.values<uint8_t>(), (std::vector<uint8_t>{255, 255, 17}));

    handle_array b(qor_fmt_8u, std::vector<uint8_t>{255, 0, 7}), b_u(qor_fmt_16u, std::vector<uint16_t>(3));
    EXPECT_EQ(qor_convert(b, b_u), qor_ok);
    EXPECT_EQ(b_u.values<uint16_t>(), (std::vector<uint16_t>{255, 0, 7}));

    handle_array s_f(qor_fmt_32f, std::vector<float>(4)), u_f(qor_fmt_32f, std::vector<float>(3));
    EXPECT_EQ(qor_convert(s, s_f), qor_ok);
    EXPECT_EQ(s_f.values<float>(), (std::vector<float>{-1, 255, 256, -32768}));
    EXPECT_EQ(qor_convert(u, u_f), qor_ok);
    EXPECT_EQ(u_f.values<float>(), (std::vector<float>{65535, 300, 17}));
}

// Every pair outside the six, the same format on both sides included, is refused before anything
// is written; with no elements every pair succeeds; lengths are compared first.
TEST(QorConvert, UnsupportedPairsAndTheOrderOfChecks) {
    const bool supported[10][10] = {
        {}, {0, 0, 1}, {0, 1, 0, 0, 1}, {0, 1, 0, 0, 1}, {0, 0, 1}, {}, {}, {}, {}, {},
    };
    for (int from = 1; from <= 9; ++from)
        for (int to = 1; to <= 9; ++to) {
            const auto sf = qor_data_format(from), df = qor_data_format(to);
            std::vector<uint8_t> sbuf(3 * 8, 0x11), dbuf(3 * 8, 0x22), dbuf4(4 * 8, 0x22);
            handle_array src(sf, 3, sbuf.data()), dst(df, 3, dbuf.data()), dst4(df, 4, dbuf4.data());
            EXPECT_EQ(qor_convert(src, dst), supported[from][to] ? qor_ok : qor_err_format) << from << " " << to;
            if (!supported[from][to]) {
                EXPECT_EQ(dbuf, std::vector<uint8_t>(3 * 8, 0x22));
            }
            EXPECT_EQ(qor_convert(src, dst4), qor_err_length);
            handle_array none_s(sf, 0, nullptr), none_d(df, 0, nullptr);
            EXPECT_EQ(qor_convert(none_s, none_d), qor_ok);
        }
    handle_array empty, f(qor_fmt_32f, std::vector<float>{1});
    EXPECT_EQ(qor_convert(empty, f), qor_err_invalid);
    EXPECT_EQ(qor_convert(f, empty), qor_err_invalid);
    EXPECT_EQ(qor_convert(f, 77777), qor_err_handle);
}

namespace {

qor::ops::convert_kernels convert_at(int level) {
    return {krn_convert_rows_8u16u_variant(level), krn_convert_rows_16u8u_variant(level),
            krn_convert_rows_16s8u_variant(level), krn_convert_16u32f_variant(level),
            krn_convert_16s32f_variant(level), krn_convert_32f16u_variant(level)};
}

// Converts n elements of src into a fresh dst in chunks of limit; returns dst's bytes.
template <class S, class D>
std::vector<D> run(qor_data_format sf, qor_data_format df, const std::vector<S>& in, int64_t limit,
                   const qor::ops::convert_kernels& k) {
    handle_array src(sf, in), dst(df, std::vector<D>(in.size()));
    EXPECT_EQ(qor::ops::convert_worker(src.object(), dst.object(), limit, k), qor_ok);
    return dst.values<D>();
}

}  // namespace

// Chunks advance each side by its own element size: small chunks give the bytes of one call.
TEST(QorConvert, ChunksAtEveryLevelAdvanceEachSideByItsOwnSize) {
    std::vector<uint16_t> u(53);
    std::vector<int16_t> s(53);
    std::vector<uint8_t> b(53);
    for (size_t i = 0; i < 53; ++i) u[i] = uint16_t(i * 1237), s[i] = int16_t(i * 1237), b[i] = uint8_t(i * 5);
    const std::vector<float> f = mixed_values<float>(53, 3);
    for_each_supported_level([&](int level) {
        const auto k = convert_at(level);
        for (int64_t limit : {int64_t(5), int64_t(16), qor::frame::max_chunk}) {
            const auto b_u = run<uint8_t, uint16_t>(qor_fmt_8u, qor_fmt_16u, b, limit, k);
            const auto u_b = run<uint16_t, uint8_t>(qor_fmt_16u, qor_fmt_8u, u, limit, k);
            const auto s_b = run<int16_t, uint8_t>(qor_fmt_16s, qor_fmt_8u, s, limit, k);
            const auto u_f = run<uint16_t, float>(qor_fmt_16u, qor_fmt_32f, u, limit, k);
            const auto s_f = run<int16_t, float>(qor_fmt_16s, qor_fmt_32f, s, limit, k);
            const auto f_u = run<float, uint16_t>(qor_fmt_32f, qor_fmt_16u, f, limit, k);
            for (size_t i = 0; i < 53; ++i) {
                ASSERT_EQ(b_u[i], b[i]);
                ASSERT_EQ(u_b[i], u[i] > 255 ? 255 : u[i]);
                ASSERT_EQ(s_b[i], s[i] < 0 ? 0 : s[i] > 255 ? 255 : s[i]);
                ASSERT_EQ(u_f[i], float(u[i]));
                ASSERT_EQ(s_f[i], float(s[i]));
                ASSERT_EQ(f_u[i], float_to_16u_model(f[i], 0, 0)) << f[i];
            }
        }
    });
}

TEST(QorConvert, KernelErrorInTheSecondChunkKeepsTheFirst) {
    qor::ops::convert_kernels k;
    k.rows_8u16u = fails_second_time<krn_convert_rows_8u16u, const uint8_t*, int, uint16_t*, int, krn_size>;
    handle_array src(qor_fmt_8u, std::vector<uint8_t>{1, 2, 3, 4, 5}), dst(qor_fmt_16u, std::vector<uint16_t>(5, 9));
    failing_calls = 0;
    qor_status st = 0;
    EXPECT_EQ(stdout_of([&] { st = qor::ops::convert_worker(src.object(), dst.object(), 2, k); }),
              "KRN function failed,return value -13.\n");
    EXPECT_EQ(st, qor_err_kernel);
    EXPECT_EQ(dst.values<uint16_t>(), (std::vector<uint16_t>{1, 2, 9, 9, 9}));
}
