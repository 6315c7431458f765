// Natural, base-10 and ln(1 + x) logarithms of float arrays. Inputs outside the domain are not
// failures: the kernels write -inf or NaN and warn, and the warning is printed and passed over.
#include "ops/logs.hpp"

#include "frame/registry.hpp"

namespace qor::ops {

using frame::for_each_kernel_chunk;

qor_status log_worker(const ary& src, const ary& dst, const log_kernels& k, int64_t limit) {
    if (qor_status st = frame::check_operands(src, dst)) return st;
    if (src.size <= 0) return qor_ok;
    switch (src.data_type) {
    case qor_fmt_32f: return for_each_kernel_chunk<float>(src.size, limit, k.k32, src, dst);
    case qor_fmt_64f: return for_each_kernel_chunk<double>(src.size, limit, k.k64, src, dst);
    default: return qor_err_format;
    }
}

qor_status ln_inplace_worker(const ary& a, int64_t limit, const log_inplace_kernels& k) {
    if (qor_status st = frame::check_operands(a)) return st;
    if (a.size <= 0) return qor_ok;
    switch (a.data_type) {
    case qor_fmt_32f: return for_each_kernel_chunk<float>(a.size, limit, k.k32, a);
    case qor_fmt_64f: return for_each_kernel_chunk<double>(a.size, limit, k.k64, a);
    default: return qor_err_format;
    }
}

}  // namespace qor::ops

extern "C" QOR_API qor_status qor_ln(qor_handle src, qor_handle dst) {
    auto [st, arrays] = qor::frame::resolve(src, dst);
    if (st) return st;
    return qor::ops::log_worker(*arrays[0], *arrays[1], qor::ops::ln_kernels);
}

extern "C" QOR_API qor_status qor_lnI(qor_handle handle) {
    auto [st, arrays] = qor::frame::resolve(handle);
    if (st) return st;
    return qor::ops::ln_inplace_worker(*arrays[0]);
}

extern "C" QOR_API qor_status qor_log1p(qor_handle src, qor_handle dst) {
    auto [st, arrays] = qor::frame::resolve(src, dst);
    if (st) return st;
    return qor::ops::log_worker(*arrays[0], *arrays[1], qor::ops::log1p_kernels);
}

extern "C" QOR_API qor_status qor_log10(qor_handle src, qor_handle dst) {
    auto [st, arrays] = qor::frame::resolve(src, dst);
    if (st) return st;
    return qor::ops::log_worker(*arrays[0], *arrays[1], qor::ops::log10_kernels);
}
