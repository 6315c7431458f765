// Arrays in the registry for tests of exported operations, released at scope exit; and kernels
// that fail on their second call, for tests of the chunk walk.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "frame/formats.hpp"
#include "frame/registry.hpp"
#include "qor_lib.h"

namespace qor::test {

class handle_array {
public:
    // Created, never initialised.
    handle_array() { EXPECT_EQ(qor_create_array(&h_), qor_ok); }
    // An owned buffer holding the values.
    template <class T>
    handle_array(qor_data_format format, const std::vector<T>& values) : handle_array() {
        EXPECT_EQ(frame::format_bytes(format), sizeof(T));
        EXPECT_EQ(qor_init_array(h_, int64_t(values.size()), format), qor_ok);
        std::memcpy(buf(), values.data(), values.size() * sizeof(T));
    }
    // A borrowed description of size elements at buf (which may be null for size 0).
    handle_array(qor_data_format format, int64_t size, void* buf) : handle_array() {
        qor_info info{size, format, 0, buf};
        EXPECT_EQ(qor_init_array_ex(h_, &info), qor_ok);
    }
    handle_array(const handle_array&) = delete;
    ~handle_array() { qor_destroy_array(h_); }
    operator qor_handle() const { return h_; }

    void* buf() const {
        void* p = nullptr;
        qor_get_buf(h_, &p);
        return p;
    }
    template <class T>
    std::vector<T> values() const {
        qor_info info{};
        qor_get_info(h_, &info);
        const T* p = static_cast<const T*>(info.frame_buf);
        return std::vector<T>(p, p + info.size);
    }
    const ary& object() const { return *frame::array_at(h_); }

private:
    qor_handle h_ = -1;
};

// A kernel that forwards to Real but fails with -13 on the second call of the test.
inline int failing_calls = 0;
template <auto Real, class... Args>
int fails_second_time(Args... args) {
    return ++failing_calls == 2 ? -13 : Real(args...);
}

}  // namespace qor::test
