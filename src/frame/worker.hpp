// What every worker shares: the operand checks in the library's order, the chunk walk over
// arrays longer than a kernel length can say, and the turn of a kernel status into ours.
#pragma once
#include <algorithm>
#include <cstdint>

#include "qor_lib.h"

namespace qor::frame {

// A worker's scratch array, made as ary::init makes an owning array but without the zero fill:
// only for scratch whose every element is written before it is read, where the fill would be a
// whole extra pass over memory that nothing can observe. A failed allocation ends as init's does.
qor_status init_scratch(ary& a, int64_t size, qor_data_format format) noexcept;

// Kernel lengths are signed 32-bit: element-wise workers walk in chunks of at most this many.
constexpr int64_t max_chunk = 2147483647;

// Prints the report line for a non-zero kernel status; -5 for an error, 0 for a warning.
qor_status report_nonzero_kernel(int kernel_status);
// The turn of a kernel status into ours; the common status 0 costs no call.
inline qor_status report_kernel(int kernel_status) {
    return kernel_status == 0 ? qor_ok : report_nonzero_kernel(kernel_status);
}

// Data (-32) for each array in order, then formats equal to the first's (-4), then sizes (-2).
template <class... Arrays>
qor_status check_operands(const ary& first, const Arrays&... rest) {
    if (first.state == 0) return qor_err_invalid;
    for (const ary* a : {&rest...})
        if (a->state == 0) return qor_err_invalid;
    for (const ary* a : {&rest...})
        if (a->data_type != first.data_type) return qor_err_format_mismatch;
    for (const ary* a : {&rest...})
        if (a->size != first.size) return qor_err_length;
    return qor_ok;
}
inline qor_status check_operands(const ary& only) { return only.state == 0 ? qor_err_invalid : qor_ok; }

template <class Step, class... Args>
[[gnu::noinline]] qor_status for_each_of_several_chunks(int64_t count, int64_t limit, Step step, Args... args) {
    for (int64_t offset = 0; offset < count; offset += limit) {
        const int n = static_cast<int>(std::min(limit, count - offset));
        if (qor_status st = step(offset, n, args...)) return st;
    }
    return qor_ok;
}

// Calls step(offset, n, args...) for consecutive chunks of at most limit elements covering
// [0, count), stopping at the first non-zero status, which it returns. Chunks already done keep
// their results. The step's state travels as args, by value, rather than as a capturing closure:
// nearly every call is one chunk, whose step then runs in tail position with everything in
// registers, so the worker around it needs no frame (at a thousand elements the stored closure and
// saved registers were a tenth of the call).
template <class Step, class... Args>
qor_status for_each_chunk(int64_t count, int64_t limit, Step step, Args... args) {
    if (count <= 0) return qor_ok;
    if (count <= limit) return step(int64_t{0}, static_cast<int>(count), args...);
    return for_each_of_several_chunks(count, limit, step, args...);
}

// The elements of an array from an element offset on.
template <class T>
T* elements(const ary& a, int64_t offset = 0) {
    return static_cast<T*>(a.frame_buf) + offset;
}

// The element-wise walk: kernel(elements<T> of each array from the chunk's start..., n) for each
// chunk of count elements, every status through the report; the first failure ends the walk.
template <class T, class Kernel, class... Arrays>
qor_status for_each_kernel_chunk(int64_t count, int64_t limit, Kernel kernel, const Arrays&... arrays) {
    return for_each_chunk(
        count, limit,
        [](int64_t at, int n, Kernel k, const Arrays*... a) { return report_kernel(k(elements<T>(*a, at)..., n)); },
        kernel, &arrays...);
}

}  // namespace qor::frame
