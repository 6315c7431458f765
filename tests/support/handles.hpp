// Registry arrays for tests of exported operations, released at scope exit, and kernels that
// fail on their second call, for tests of the chunk walk.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frame/registry.hpp"
#include "qor_lib.h"
#include "support/capture.hpp"

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
    ary& object() const { return *frame::array_at(h_); }
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

// The checks of an operation on a source and a destination, in the library's order: handles
// (source first), data, format mismatch (before the lengths), lengths; then empty arrays of a
// format it does not serve (which succeed, as there is no work, unless said otherwise), and that
// format refused. No refusal prints anything or writes the destination.
template <class Op>
void expect_checks_in_order(Op op, qor_data_format served, qor_data_format other_served, qor_data_format refused,
                            qor_status empty_status = qor_ok) {
    handle_array a(4, served), b(4, other_served), shorter(3, served), bad(4, refused), bad2(4, refused), blank,
        none(refused, 0, nullptr), none2(refused, 0, nullptr);
    std::memset(bad2.data<uint8_t>(), 0x5A, 4);
    std::string printed;
    const auto call = [&](qor_handle x, qor_handle y) {
        qor_status st = 99;
        printed += stdout_of([&] { st = op(x, y); });
        return st;
    };
    EXPECT_EQ(call(-1, a), qor_err_handle);
    EXPECT_EQ(call(a, 1 << 30), qor_err_handle);
    EXPECT_EQ(call(blank, a), qor_err_invalid);
    EXPECT_EQ(call(a, blank), qor_err_invalid);
    EXPECT_EQ(call(a, b), qor_err_format_mismatch);
    EXPECT_EQ(call(shorter, b), qor_err_format_mismatch);
    EXPECT_EQ(call(a, shorter), qor_err_length);
    EXPECT_EQ(call(none, none2), empty_status);
    EXPECT_EQ(call(bad, bad2), qor_err_format);
    EXPECT_EQ(bad2.values<uint8_t>(), std::vector<uint8_t>(4, 0x5A));  // its first bytes, unwritten
    EXPECT_EQ(printed, "");
}

// The checks of an operation on one array: handles, data (a blank or freed array), then the
// format; a refusal prints nothing and leaves the array's bytes alone.
template <class Op>
void expect_single_checks(Op op, qor_data_format refused) {
    handle_array blank, bad(8, refused);
    qor_handle freed = -1;
    qor_create_array(&freed);
    qor_destroy_array(freed);
    std::memset(bad.data<uint8_t>(), 0x5A, 8);
    std::string printed;
    const auto call = [&](qor_handle h) {
        qor_status st = 99;
        printed += stdout_of([&] { st = op(h); });
        return st;
    };
    EXPECT_EQ(call(-1), qor_err_handle);
    EXPECT_EQ(call(1 << 30), qor_err_handle);
    EXPECT_EQ(call(blank), qor_err_invalid);
    EXPECT_EQ(call(freed), qor_err_invalid);
    EXPECT_EQ(call(bad), qor_err_format) << refused;
    EXPECT_EQ(bad.values<uint8_t>(), std::vector<uint8_t>(8, 0x5A));
    EXPECT_EQ(printed, "");
}

// Forwards to Real, but fails with -13 on the second call since failing_calls was reset.
inline int failing_calls = 0;
template <auto Real, class... Args>
int fails_second_time(Args... args) {
    return ++failing_calls == 2 ? -13 : Real(args...);
}
// A worker call whose kernel fails in its second chunk: the kernel status and one report line.
template <class Call>
void expect_second_chunk_failure(Call&& call) {
    failing_calls = 0;
    expect_outcome(call, qor_err_kernel, report_line(-13));
}

}  // namespace qor::test
