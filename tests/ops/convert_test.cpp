#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "ops/arith_workers.hpp"
#include "support/handles.hpp"
#include "support/arith_models.hpp"
#include "support/elementwise.hpp"
#include "support/capture.hpp"

using namespace qor::test;
using namespace qor::krn;

TEST(QorConvert, TheSixPairs) {
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    handle_array f(qor_fmt_32f, std::vector<float>{-3.7f, 0.99f, 1.5f, 2.5f, 65534.9f, 65535.0f, 70000.0f, inf, nan}),
        f_u(qor_fmt_16u, std::vector<uint16_t>(9)), s(qor_fmt_16s, std::vector<int16_t>{-1, 255, 256, -32768}),
        s_b(qor_fmt_8u, std::vector<uint8_t>(4)), s_f(qor_fmt_32f, std::vector<float>(4)),
        u(qor_fmt_16u, std::vector<uint16_t>{65535, 300, 17}), u_b(qor_fmt_8u, std::vector<uint8_t>(3)),
        u_f(qor_fmt_32f, std::vector<float>(3)), b_u(qor_fmt_16u, std::vector<uint16_t>(3));
    EXPECT_EQ(qor_convert(f, f_u), qor_ok);
    EXPECT_EQ(f_u.values<uint16_t>(), (std::vector<uint16_t>{0, 0, 1, 2, 65534, 65535, 65535, 65535, 0}));
    EXPECT_EQ(qor_convert(s, s_b), qor_ok);
    EXPECT_EQ(s_b.values<uint8_t>(), (std::vector<uint8_t>{0, 255, 255, 0}));
    EXPECT_EQ(qor_convert(s, s_f), qor_ok);
    EXPECT_EQ(s_f.values<float>(), (std::vector<float>{-1, 255, 256, -32768}));
    EXPECT_EQ(qor_convert(u, u_b), qor_ok);
    EXPECT_EQ(u_b.values<uint8_t>(), (std::vector<uint8_t>{255, 255, 17}));
    EXPECT_EQ(qor_convert(u, u_f), qor_ok);
    EXPECT_EQ(u_f.values<float>(), (std::vector<float>{65535, 300, 17}));
    EXPECT_EQ(qor_convert(u_b, b_u), qor_ok);
    EXPECT_EQ(b_u.values<uint16_t>(), (std::vector<uint16_t>{255, 255, 17}));
}

// Every other pair is refused before anything is written; no elements succeed whatever the pair;
// lengths are compared first.
TEST(QorConvert, UnsupportedPairsAndTheOrderOfChecks) {
    const int supported[] = {1 * 10 + 2, 2 * 10 + 1, 2 * 10 + 4, 3 * 10 + 1, 3 * 10 + 4, 4 * 10 + 2};
    for (int from = 1; from <= 9; ++from)
        for (int to = 1; to <= 9; ++to) {
            const bool ok = std::count(std::begin(supported), std::end(supported), from * 10 + to) > 0;
            std::vector<uint8_t> sbuf(24, 0x11), dbuf(24, 0x22), dbuf4(32, 0x22);
            handle_array src(qor_data_format(from), 3, sbuf.data()), dst(qor_data_format(to), 3, dbuf.data()),
                dst4(qor_data_format(to), 4, dbuf4.data()), none_s(qor_data_format(from), 0, nullptr),
                none_d(qor_data_format(to), 0, nullptr);
            EXPECT_EQ(qor_convert(src, dst), ok ? qor_ok : qor_err_format) << from << " " << to;
            EXPECT_TRUE(ok || dbuf == std::vector<uint8_t>(24, 0x22));
            EXPECT_EQ(qor_convert(src, dst4), qor_err_length);
            EXPECT_EQ(qor_convert(none_s, none_d), qor_ok);
        }
    handle_array empty, f(qor_fmt_32f, std::vector<float>{1});
    EXPECT_EQ(qor_convert(empty, f), qor_err_invalid);
    EXPECT_EQ(qor_convert(f, empty), qor_err_invalid);
    EXPECT_EQ(qor_convert(f, 77777), qor_err_handle);
}

// Chunks advance each side by its own element size: small chunks give the model.
TEST(QorConvert, ChunksAndAFailingSecondChunk) {
    std::vector<uint16_t> u(53);
    for (size_t i = 0; i < u.size(); ++i) u[i] = uint16_t(i * 1237);
    const std::vector<float> f = mixed_values<float>(53, 3);
    handle_array su(qor_fmt_16u, u), sf(qor_fmt_32f, f), db(qor_fmt_8u, std::vector<uint8_t>(53)),
        du(qor_fmt_16u, std::vector<uint16_t>(53)), dw(qor_fmt_16u, std::vector<uint16_t>(53));
    EXPECT_EQ(qor::ops::convert_worker(su.object(), db.object(), 5), qor_ok);
    EXPECT_EQ(qor::ops::convert_worker(sf.object(), du.object(), 7), qor_ok);
    EXPECT_EQ(qor::ops::convert_worker(db.object(), dw.object(), 16), qor_ok);
    for (size_t i = 0; i < 53; ++i) {
        EXPECT_EQ(db.values<uint8_t>()[i], u[i] > 255 ? 255 : u[i]);
        EXPECT_EQ(du.values<uint16_t>()[i], float_to_16u_model(f[i], 0, 0)) << f[i];
        EXPECT_EQ(dw.values<uint16_t>()[i], db.values<uint8_t>()[i]);
    }
    qor::ops::convert_kernels k;
    k.rows_8u16u = fails_second_time<krn_convert_rows_8u16u, const uint8_t*, int, uint16_t*, int, krn_size>;
    handle_array src(qor_fmt_8u, std::vector<uint8_t>{1, 2, 3, 4, 5}), dst(qor_fmt_16u, std::vector<uint16_t>(5, 9));
    failing_calls = 0;
    EXPECT_EQ(stdout_of([&] { EXPECT_EQ(qor::ops::convert_worker(src.object(), dst.object(), 2, k), qor_err_kernel); }),
              second_chunk_failed);
    EXPECT_EQ(dst.values<uint16_t>(), (std::vector<uint16_t>{1, 2, 9, 9, 9}));
}
