// Element-wise division of float arrays; the first handle is always the divisor.
#include "frame/registry.hpp"
#include "ops/arith_workers.hpp"

namespace qor::ops {

using frame::for_each_kernel_chunk;

qor_status div_worker(const ary& a, const ary& b, const ary& c, int64_t limit, const div_kernels& k) {
    if (qor_status st = frame::check_operands(a, b, c)) return st;
    if (a.size <= 0) return qor_ok;
    switch (a.data_type) {
        case qor_fmt_32f: return for_each_kernel_chunk<float>(a.size, limit, k.div_32f, a, b, c);
        case qor_fmt_64f: return for_each_kernel_chunk<double>(a.size, limit, k.div_64f, a, b, c);
        default: return qor_err_format;
    }
}

qor_status div_inplace_worker(const ary& a, const ary& b, int64_t limit, const div_kernels& k) {
    if (qor_status st = frame::check_operands(a, b)) return st;
    if (a.size <= 0) return qor_ok;
    switch (a.data_type) {
        case qor_fmt_32f: return for_each_kernel_chunk<float>(a.size, limit, k.div_32f_ip, a, b);
        case qor_fmt_64f: return for_each_kernel_chunk<double>(a.size, limit, k.div_64f_ip, a, b);
        default: return qor_err_format;
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
