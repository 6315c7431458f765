// Registry arrays for tests of exported operations, released at scope exit, and kernels that
// fail on their second call, for tests of the chunk walk.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "frame/registry.hpp"
#include "qor_lib.h"

namespace qor::test {

class handle_array {
public:
    handle_array() { EXPECT_EQ(qor_create_array(&h_), qor_ok); }  // created, never initialised
    handle_array(int64_t size, qor_data_format format) : handle_array() {  // owned, zero-filled
        EXPECT_EQ(qor_init_array(h_, size, format), qor_ok);
    }
    template <class T>  // owning a copy of the values
    handle_array(qor_data_format format, const std::vector<T>& values) : handle_array(int64_t(values.size()), format) {
        fill(values);
    }
    handle_array(qor_data_format format, int64_t size, void* buf) : handle_array() {  // borrowing
        qor_info info{size, format, 0, buf};
        EXPECT_EQ(qor_init_array_ex(h_, &info), qor_ok);
    }
    handle_array(const handle_array&) = delete;
    ~handle_array() { qor_destroy_array(h_); }
    operator qor_handle() const { return h_; }
    const ary& object() const { return *frame::array_at(h_); }
    template <class T>
    T* data() const {
        return static_cast<T*>(object().frame_buf);
    }
    template <class T>
    std::vector<T> values() const {
        return std::vector<T>(data<T>(), data<T>() + object().size);
    }
    template <class T>
    void fill(const std::vector<T>& v) const {
        std::memcpy(data<T>(), v.data(), v.size() * sizeof(T));
    }

private:
    qor_handle h_ = -1;
};

// Forwards to Real, but fails with -13 on the second call since failing_calls was reset.
inline int failing_calls = 0;
template <auto Real, class... Args>
int fails_second_time(Args... args) {
    return ++failing_calls == 2 ? -13 : Real(args...);
}
inline const std::string second_chunk_failed = "KRN function failed,return value -13.\n";

}  // namespace qor::test
