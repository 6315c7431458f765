#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <vector>

#include "frame/formats.hpp"
#include "qor_lib.h"

namespace {

bool all_zero(const void* p, size_t n) {
    auto* b = static_cast<const uint8_t*>(p);
    return std::all_of(b, b + n, [](uint8_t x) { return x == 0; });
}

void expect_empty(const ary& a) {
    EXPECT_EQ(a.size, 0);
    EXPECT_EQ(a.valid_bits, 0);
    EXPECT_EQ(a.frame_buf, nullptr);
    EXPECT_EQ(a.state, 0);
    EXPECT_EQ(a.is_valid(), qor_err_invalid);
}

}  // namespace

// Set and get move one element's bytes; formats without element access refuse and move nothing.
TEST(Ary, InitGivesAlignedZeroFilledOwnedBufferWithinTheFormatsBits) {
    ary a;
    expect_empty(a);
    ASSERT_EQ(a.init(10, qor_fmt_16s), qor_ok);
    EXPECT_EQ(a.get_size(), 10);
    EXPECT_EQ(a.get_valid_bits(), 16);
    EXPECT_EQ(a.get_data_type(), qor_fmt_16s);
    EXPECT_EQ(a.state, 1);
    EXPECT_EQ(a.is_valid(), qor_ok);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a.get_frame_buf()) % 64, 0u);
    EXPECT_TRUE(all_zero(a.get_frame_buf(), 20));
    int16_t w = -7, w_out = 0;
    EXPECT_EQ(a.set_value(1, &w), qor_ok);
    EXPECT_EQ(a.get_value(1, &w_out), qor_ok);
    EXPECT_EQ(static_cast<int16_t*>(a.frame_buf)[1] + w_out, -14);
    EXPECT_EQ(a.init(3, qor_fmt_64f, 12), qor_ok);
    double dv = 1.0;
    EXPECT_EQ(a.set_value(1, &dv), qor_err_format);
    EXPECT_EQ(a.get_value(1, &dv), qor_err_format);
    EXPECT_TRUE(dv == 1.0 && all_zero(a.frame_buf, 24));
    EXPECT_EQ(a.get_valid_bits(), 12);
    EXPECT_EQ(a.init(10, qor_fmt_8u, 9), qor_err_valid_bits);
    EXPECT_EQ(a.state, 0);
    EXPECT_EQ(a.data_type, qor_fmt_8u);  // the format stays, nothing else
    EXPECT_EQ(a.frame_buf, nullptr);
    EXPECT_EQ(a.init(3, qor_fmt_none, 1), qor_err_valid_bits);
    const uint8_t bytes[] = {0, 1, 2, 2, 4, 4, 4, 8, 8, 8, 0};  // formats 0 to 9, and one beyond
    for (int f = 0; f < 11; ++f) EXPECT_EQ(qor::frame::format_bytes(qor_data_format(f)), bytes[f]) << f;
}

TEST(Ary, NonPositiveSizesAndEmptyFormatsFailWithAllFieldsZero) {
    for (auto [size, format] : {std::pair<int64_t, qor_data_format>{0, qor_fmt_32f}, {-4, qor_fmt_32f},
                                {5, qor_fmt_none}, {5, qor_data_format(12)}, {5, qor_data_format(-1)},
                                {INT64_MAX / 2, qor_fmt_64f}}) {
        ary a;
        ASSERT_EQ(a.init(4, qor_fmt_8u), qor_ok);
        EXPECT_EQ(a.init(size, format), qor_err_alloc) << size << " " << int(format);
        expect_empty(a);
        EXPECT_EQ(a.data_type, qor_fmt_none);
    }
}

TEST(Ary, BorrowingTakesTheRecordUncheckedAndNeverReleasesANullRecordSetsErrno) {
    std::vector<float> host(8, 3.0f);
    qor_info info{8, qor_fmt_32f, 99, host.data()};  // valid bits beyond 32: taken as given
    ary a;
    ASSERT_EQ(a.init(100, qor_fmt_64f), qor_ok);
    EXPECT_EQ(a.init_ext(&info), qor_ok);  // releases the owned buffer first
    EXPECT_EQ(a.state, 2);
    qor_info back{};
    a.get_info(&back);
    EXPECT_EQ(std::memcmp(&back, &info, sizeof info), 0);
    // Re-initialising a borrowing array forgets the host buffer without touching it.
    ASSERT_EQ(a.init(2, qor_fmt_8u), qor_ok);
    EXPECT_EQ(host[7], 3.0f);
    a.init_ext(&info);
    a.clear_data();  // clears the host's memory too
    EXPECT_TRUE(all_zero(host.data(), host.size() * sizeof(float)));

    qor_info empty{0, qor_fmt_32f, 32, nullptr};
    ary z;
    z.init_ext(&empty);
    EXPECT_EQ(z.is_valid(), qor_ok);
    // A null record sets errno and never ends the process: the array is left borrowing nothing.
    errno = 0;
    EXPECT_EQ(a.init_ext(nullptr), qor_ok);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(a.state, 2);
    EXPECT_EQ(a.size, 0);
    EXPECT_EQ(a.frame_buf, nullptr);
    errno = 0;
    a.get_info(nullptr);
    EXPECT_EQ(errno, EINVAL);
}

TEST(Ary, AssignmentSharesAnOwnedBufferAndReleasesItOnce) {
    // Run under the sanitizers: a double release or a leak fails the build that checks it.
    auto* first = new ary;
    ASSERT_EQ(first->init(16, qor_fmt_32f), qor_ok);
    {
        ary second;
        second = *first;
        EXPECT_EQ(second.state, 1);
        EXPECT_EQ(second.frame_buf, first->frame_buf);
        ary third;
        third = second;
    }
    static_cast<float*>(first->frame_buf)[15] = 1.0f;  // still alive: two copies let go
    delete first;

    ary a, b;
    ASSERT_EQ(a.init(8, qor_fmt_8u), qor_ok);
    b = a;
    ASSERT_EQ(a.init(4, qor_fmt_8u), qor_ok);  // a lets go; b is now the only claimant
    static_cast<uint8_t*>(b.frame_buf)[7] = 1;
}

TEST(Ary, LargeClearDataWalksBuffersBeyondTwoGigabytes) {
    // 2^31 + 64 bytes through a borrowed buffer: two fill calls with no gap and no overlap.
    const int64_t bytes = (int64_t{1} << 31) + 64;
    auto* buf = static_cast<uint8_t*>(std::malloc(size_t(bytes)));
    if (!buf) GTEST_SKIP() << "not enough memory";
    std::memset(buf + INT32_MAX - 128, 0xFF, 192);
    buf[0] = buf[bytes - 1] = 0xFF;
    qor_info info{bytes, qor_fmt_8u, 8, buf};
    ary a;
    a.init_ext(&info);
    a.clear_data();
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[bytes - 1], 0);
    EXPECT_TRUE(all_zero(buf + INT32_MAX - 128, 192));
    std::free(buf);
}
