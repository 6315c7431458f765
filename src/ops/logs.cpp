// Natural, base-10 and ln(1 + x) logarithms of float arrays. Inputs outside the domain are not
// failures: the kernels write -inf or NaN and warn, and the warning is printed and passed over.
#include "ops/logs.hpp"

#include "frame/registry.hpp"

namespace qor::ops {

using frame::elements;
using frame::for_each_chunk;
using frame::report_kernel;

qor_status log_worker(const ary& src, const ary& dst, const log_kernels& k, int64_t limit) {
    if (qor_status st = frame::check_operands(src, dst)) return st;
    if (src.size <= 0) return qor_ok;
    switch (src.data_type) {
    case qor_fmt_32f:
        return for_each_chunk(src.size, [&](int64_t at, int n) {
            return report_kernel(k.k32(elements<float>(src, at), elements<float>(dst, at), n));
        }, limit);
    case qor_fmt_64f:
        return for_each_chunk(src.size, [&](int64_t at, int n) {
            return report_kernel(k.k64(elements<double>(src, at), elements<double>(dst, at), n));
        }, limit);
    default:
        return qor_err_format;
    }
}

qor_status ln_inplace_worker(const ary& a, int64_t limit, const log_inplace_kernels& k) {
    if (qor_status st = frame::check_operands(a)) return st;
    if (a.size <= 0) return qor_ok;
    switch (a.data_type) {
    case qor_fmt_32f:
        return for_each_chunk(a.size, [&](int64_t at, int n) { return report_kernel(k.k32(elements<float>(a, at), n)); },
                              limit);
    case qor_fmt_64f:
        return for_each_chunk(a.size, [&](int64_t at, int n) { return report_kernel(k.k64(elements<double>(a, at), n)); },
                              limit);
    default:
        return qor_err_format;
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
