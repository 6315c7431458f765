// An array created through the public interface for the length of a test, destroyed after it.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>

#include "qor_lib.h"

namespace qor::test {

struct host_array {
    qor_handle handle = -1;
    host_array(int64_t size, qor_data_format format) {
        EXPECT_EQ(qor_create_array(&handle), qor_ok);
        EXPECT_EQ(qor_init_array(handle, size, format), qor_ok);
    }
    ~host_array() { qor_destroy_array(handle); }
    host_array(const host_array&) = delete;
    host_array& operator=(const host_array&) = delete;
    template <class T>
    T* data() const {
        void* p = nullptr;
        qor_get_buf(handle, &p);
        return static_cast<T*>(p);
    }
};

}  // namespace qor::test
