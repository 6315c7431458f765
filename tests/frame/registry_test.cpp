#include <gtest/gtest.h>

#include <vector>

#include "frame/registry.hpp"
#include "qor_lib.h"

namespace {

// The registry is process-wide: each test destroys what it creates, so handles are reused and
// the tests see the lowest free slots.
struct handles {
    std::vector<qor_handle> list;
    qor_handle create() {
        qor_handle h = -1;
        EXPECT_EQ(qor_create_array(&h), qor_ok);
        list.push_back(h);
        return h;
    }
    ~handles() {
        for (qor_handle h : list) qor_destroy_array(h);
    }
};

}  // namespace

TEST(Registry, HandlesAreReusedLowestFirstAndTheTableGrows) {
    handles hs;
    const qor_handle a = hs.create(), b = hs.create(), c = hs.create();
    EXPECT_EQ(b, a + 1);
    EXPECT_EQ(c, b + 1);
    EXPECT_EQ(qor_destroy_array(b), qor_ok);
    EXPECT_EQ(qor_destroy_array(b), qor_err_invalid);
    EXPECT_EQ(qor_init_array(b, 4, qor_fmt_32f), qor_err_invalid);
    EXPECT_EQ(qor_sum(INT32_MAX), qor_err_handle);
    EXPECT_EQ(hs.create(), b);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(qor_init_array(hs.create(), 3, qor_fmt_16s), qor_ok);
    qor_info info{};
    ASSERT_EQ(qor_get_info(hs.list[5], &info), qor_ok);  // an array made before the table grew
    EXPECT_EQ(info.size, 3);
}

TEST(Registry, HandleCheckStopsAtTheFirstFailureInArgumentOrder) {
    handles hs;
    const qor_handle live = hs.create(), freed = hs.create();
    qor_destroy_array(freed);
    EXPECT_EQ(qor::frame::resolve(freed, 1 << 30).status, qor_err_invalid);
    EXPECT_EQ(qor::frame::resolve(1 << 30, freed).status, qor_err_handle);
    EXPECT_EQ(qor::frame::resolve(live, -1).status, qor_err_handle);
    auto [st, arrays] = qor::frame::resolve(live, live);
    EXPECT_EQ(st, qor_ok);
    EXPECT_EQ(arrays[0], arrays[1]);
    EXPECT_NE(arrays[0], nullptr);
}

TEST(Registry, LifecycleExportsDescribeTheArray) {
    handles hs;
    const qor_handle h = hs.create();
    uint8_t bytes = 99;
    EXPECT_EQ(qor_get_data_byte(h, &bytes), qor_ok);  // never initialised: 0 bytes
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(qor_sum(h), qor_ok);
    EXPECT_EQ(qor_init_array(h, 0, qor_fmt_32f), qor_err_alloc);
    EXPECT_EQ(qor_init_array(h, 6, qor_fmt_64f), qor_ok);
    EXPECT_EQ(qor_get_data_byte(h, &bytes), qor_ok);
    EXPECT_EQ(bytes, 8);
    qor_info info{};
    void* buf = nullptr;
    EXPECT_EQ(qor_get_info(h, &info), qor_ok);
    EXPECT_EQ(qor_get_buf(h, &buf), qor_ok);
    EXPECT_EQ(info.size, 6);
    EXPECT_EQ(info.valid_bits, 64);
    EXPECT_EQ(buf, info.frame_buf);
    EXPECT_EQ(qor_get_info(h, nullptr), qor_ok);
    EXPECT_EQ(qor_init_array_ex(h, nullptr), qor_ok);
    EXPECT_EQ(qor_get_buf(h, &buf), qor_ok);
    EXPECT_EQ(buf, nullptr);
}
