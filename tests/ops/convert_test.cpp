#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "ops/arith_workers.hpp"
#include "support/handles.hpp"

using namespace qor::test;

// The six pairs, each with its rounding and saturation; every other pair is refused before anything
// is written, the lengths compared first, and empty arrays of any pair succeed.
TEST(QorConvert, TheSixPairsAndNoOther) {
    handle_array f(qor_fmt_32f, std::vector<float>{-3.7f, 1.5f, 2.5f, 65534.9f, 70000.0f, INFINITY, NAN}),
        f_u(7, qor_fmt_16u), s(qor_fmt_16s, std::vector<int16_t>{-1, 255, 256, -32768}), s_b(4, qor_fmt_8u),
        s_f(4, qor_fmt_32f), u(qor_fmt_16u, std::vector<uint16_t>{65535, 300, 17}), u_b(3, qor_fmt_8u),
        u_f(3, qor_fmt_32f), b_u(3, qor_fmt_16u);
    const std::pair<qor_handle, qor_handle> pairs[] = {{f, f_u}, {s, s_b}, {s, s_f}, {u, u_b}, {u, u_f}, {u_b, b_u}};
    for (auto [from, to] : pairs) EXPECT_EQ(qor_convert(from, to), qor_ok);
    EXPECT_EQ(f_u.values<uint16_t>(), (std::vector<uint16_t>{0, 1, 2, 65534, 65535, 65535, 0}));
    EXPECT_EQ(s_b.values<uint8_t>(), (std::vector<uint8_t>{0, 255, 255, 0}));
    EXPECT_EQ(s_f.values<float>(), (std::vector<float>{-1, 255, 256, -32768}));
    EXPECT_EQ(u_b.values<uint8_t>(), (std::vector<uint8_t>{255, 255, 17}));
    EXPECT_EQ(u_f.values<float>(), (std::vector<float>{65535, 300, 17}));
    EXPECT_EQ(b_u.values<uint16_t>(), (std::vector<uint16_t>{255, 255, 17}));

    for (int from = 1; from <= 9; ++from)
        for (int to = 1; to <= 9; ++to) {
            const int pair = from * 10 + to;
            const bool ok = pair == 12 || pair == 21 || pair == 24 || pair == 31 || pair == 34 || pair == 42;
            std::vector<uint8_t> sbuf(24, 0x11), dbuf(32, 0x22);
            handle_array src(qor_data_format(from), 3, sbuf.data()), dst(qor_data_format(to), 3, dbuf.data()),
                dst4(qor_data_format(to), 4, dbuf.data()), none_s(qor_data_format(from), 0, nullptr),
                none_d(qor_data_format(to), 0, nullptr);
            EXPECT_EQ(qor_convert(src, dst4), qor_err_length);
            EXPECT_EQ(qor_convert(none_s, none_d), qor_ok);
            EXPECT_EQ(qor_convert(src, dst), ok ? qor_ok : qor_err_format) << pair;
            EXPECT_TRUE(ok || dbuf == std::vector<uint8_t>(32, 0x22)) << pair;
        }
    handle_array blank;
    EXPECT_EQ(qor_convert(blank, f), qor_err_invalid);
    EXPECT_EQ(qor_convert(f, blank), qor_err_invalid);
    EXPECT_EQ(qor_convert(f, 77777), qor_err_handle);
}

// Chunks advance each side by its own element size; a kernel failing in the second chunk keeps the first.
TEST(QorConvert, ChunksAndAFailingSecondChunk) {
    std::vector<uint16_t> u(53);
    for (size_t i = 0; i < u.size(); ++i) u[i] = uint16_t(i * 1237);
    handle_array su(qor_fmt_16u, u), chunked(53, qor_fmt_32f), whole(53, qor_fmt_32f), b(53, qor_fmt_8u),
        w(53, qor_fmt_16u);
    EXPECT_EQ(qor_convert(su, whole), qor_ok);
    EXPECT_EQ(qor::ops::convert_worker(su.object(), chunked.object(), 7), qor_ok);
    EXPECT_EQ(chunked.values<float>(), whole.values<float>());
    EXPECT_EQ(qor::ops::convert_worker(su.object(), b.object(), 5), qor_ok);
    EXPECT_EQ(qor::ops::convert_worker(b.object(), w.object(), 16), qor_ok);
    for (size_t i = 0; i < 53; ++i) EXPECT_EQ(w.values<uint16_t>()[i], std::min<uint16_t>(u[i], 255)) << i;

    qor::ops::convert_kernels k;
    k.rows_8u16u =
        fails_second_time<qor::krn::krn_convert_rows_8u16u, const uint8_t*, int, uint16_t*, int, qor::krn::krn_size>;
    handle_array src(qor_fmt_8u, std::vector<uint8_t>{1, 2, 3, 4, 5}), dst(qor_fmt_16u, std::vector<uint16_t>(5, 9));
    expect_second_chunk_failure([&] { return qor::ops::convert_worker(src.object(), dst.object(), 2, k); });
    EXPECT_EQ(dst.values<uint16_t>(), (std::vector<uint16_t>{1, 2, 9, 9, 9}));
}
