// A million create / init / lend / destroy cycles: the process's heap must not grow beyond the
// registry's own table (a leak of one buffer or one array per cycle would be megabytes).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>

#include "qor_lib.h"

#if defined(__GLIBC__)
#  include <malloc.h>
static int64_t heap_in_use() { return int64_t(mallinfo2().uordblks); }
#else
static int64_t heap_in_use() { return -1; }
#endif

TEST(Soak, LargeMillionLifecycleCyclesLeaveTheHeapAsItWas) {
    float host[16] = {};
    auto cycle = [&](int i) {
        qor_handle a, b;
        ASSERT_EQ(qor_create_array(&a), qor_ok);
        ASSERT_EQ(qor_create_array(&b), qor_ok);
        ASSERT_EQ(qor_init_array(a, 1 + i % 300, qor_data_format(1 + i % 9)), qor_ok);
        ASSERT_EQ(qor_init_array(a, 1 + i % 50, qor_fmt_64f), qor_ok);  // re-init releases first
        qor_info lend{16, qor_fmt_32f, 32, host};
        ASSERT_EQ(qor_init_array_ex(b, &lend), qor_ok);
        ASSERT_EQ(qor_init_array_ex(a, &lend), qor_ok);  // an owning array starts borrowing
        ASSERT_EQ(qor_destroy_array(b), qor_ok);
        ASSERT_EQ(qor_destroy_array(a), qor_ok);
    };
    for (int i = 0; i < 1000; ++i) cycle(i);  // let the table and the allocator settle
    const int64_t before = heap_in_use();
    for (int i = 0; i < 1000000; ++i) {
        cycle(i);
        if (HasFatalFailure()) return;
    }
    const int64_t after = heap_in_use();
    if (before >= 0) {
        EXPECT_LT(after - before, 64 * 1024) << "heap grew from " << before << " to " << after;
    }
}
