// Element-wise division of float arrays; the first handle is always the divisor.
#include "frame/registry.hpp"
#include "ops/arith_workers.hpp"

namespace qor::ops {

using frame::elements;
using frame::for_each_chunk;
using frame::report_kernel;

qor_status div_worker(const ary& a, const ary& b, const ary& c, int64_t limit, const div_kernels& k) {
    if (qor_status st = frame::check_operands(a, b, c)) return st;
    if (a.size <= 0) return qor_ok;
    switch (a.data_type) {
    case qor_fmt_32f:
        return for_each_chunk(a.size, [&](int64_t at, int n) {
            return report_kernel(k.div_32f(elements<float>(a, at), elements<float>(b, at), elements<float>(c, at), n));
        }, limit);
    case qor_fmt_64f:
        return for_each_chunk(a.size, [&](int64_t at, int n) {
            return report_kernel(
                k.div_64f(elements<double>(a, at), elements<double>(b, at), elements<double>(c, at), n));
        }, limit);
    default:
        return qor_err_format;
    }
}

qor_status div_inplace_worker(const ary& a, const ary& b, int64_t limit, const div_kernels& k) {
    if (qor_status st = frame::check_operands(a, b)) return st;
    if (a.size <= 0) return qor_ok;
    switch (a.data_type) {
    case qor_fmt_32f:
        return for_each_chunk(a.size, [&](int64_t at, int n) {
            return report_kernel(k.div_32f_ip(elements<float>(a, at), elements<float>(b, at), n));
        }, limit);
    case qor_fmt_64f:
        return for_each_chunk(a.size, [&](int64_t at, int n) {
            return report_kernel(k.div_64f_ip(elements<double>(a, at), elements<double>(b, at), n));
        }, limit);
    default:
        return qor_err_format;
    }
}

}  // namespace qor::ops

extern "C" QOR_API qor_status qor_div(qor_handle a, qor_handle b, qor_handle c) {
    auto [st, arrays] = qor::frame::resolve(a, b, c);
    if (st) return st;
    return qor::ops::div_worker(*arrays[0], *arrays[1], *arrays[2]);
}

extern "C" QOR_API qor_status qor_divI(qor_handle a, qor_handle b) {
    auto [st, arrays] = qor::frame::resolve(a, b);
    if (st) return st;
    return qor::ops::div_inplace_worker(*arrays[0], *arrays[1]);
}
