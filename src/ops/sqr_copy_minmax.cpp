// Square, sub-array copy and extrema.
#include <algorithm>

#include "frame/formats.hpp"
#include "frame/registry.hpp"
#include "ops/arith_workers.hpp"

namespace qor::ops {

using frame::elements;
using frame::for_each_chunk;
using frame::report_kernel;

qor_status square_worker(const ary& a, const ary& b, int64_t limit, const square_kernels& k) {
    if (qor_status st = frame::check_operands(a, b)) return st;
    if (a.size <= 0) return qor_ok;
    switch (a.data_type) {
        case qor_fmt_16u:
            return frame::for_each_kernel_chunk<uint16_t>(
                a.size, limit, [&](auto s, auto d, int n) { return k.sqr_16u(s, d, n, 0); }, a, b);
        case qor_fmt_32f: return frame::for_each_kernel_chunk<float>(a.size, limit, k.sqr_32f, a, b);
        case qor_fmt_64f: return frame::for_each_kernel_chunk<double>(a.size, limit, k.sqr_64f, a, b);
        default:
            return qor_err_format;
    }
}

namespace {

template <class T, class Copy>
qor_status copy_run(const ary& src, const ary& dst, int64_t offset, int64_t count, int64_t limit, Copy copy) {
    limit = std::min(limit, max_copy_bytes / int64_t(sizeof(T)));
    return for_each_chunk(
        count, limit,
        [](int64_t at, int n, const ary* s, const ary* d, int64_t from, Copy c) {
            return report_kernel(c(elements<T>(*s, from + at), elements<T>(*d, at), n));
        },
        &src, &dst, offset, copy);
}

}  // namespace

qor_status sub_array_worker(const ary& src, const ary& dst, int64_t offset, int64_t count, int64_t limit,
                            const copy_kernels& k) {
    if (qor_status st = frame::check_operands(src)) return st;
    if (qor_status st = frame::check_operands(dst)) return st;
    if (src.data_type != dst.data_type) return qor_err_format_mismatch;
    if (src.size < offset) return qor_err_range;
    int64_t end;
    if (__builtin_add_overflow(offset, count, &end) ? count > 0 : end > src.size) return qor_err_range;
    if (count <= 0) return qor_ok;
    // Beyond the source's start or the destination's end nothing may be written.
    if (offset < 0) return qor_err_range;
    if (count > dst.size) return qor_err_length;
    switch (src.data_type) {
        case qor_fmt_16u:
        case qor_fmt_16s:
            return copy_run<int16_t>(src, dst, offset, count, limit, k.copy_16s);
        case qor_fmt_32f:
            return copy_run<float>(src, dst, offset, count, limit, k.copy_32f);
        case qor_fmt_64f:
            return copy_run<double>(src, dst, offset, count, limit, k.copy_64f);
        default:
            return qor_err_format;
    }
}

namespace {

// A comparison with a NaN is false, so a NaN already held is always replaced.
void merge(float chunk_min, float chunk_max, float* min, float* max) {
    if (!(chunk_min > *min)) *min = chunk_min;
    if (!(*max > chunk_max)) *max = chunk_max;
}

// Each chunk's extremes merged into *min and *max as they come.
template <class T, class Kernel>
qor_status min_max_run(const ary& a, float* min, float* max, int64_t limit, Kernel kernel) {
    return for_each_chunk(
        a.size, limit,
        [](int64_t at, int n, const ary* b, Kernel kern, float* mn, float* mx) {
            T lo = 0, hi = 0;
            if (qor_status st = report_kernel(kern(elements<T>(*b, at), n, &lo, &hi))) return st;
            merge(float(lo), float(hi), mn, mx);
            return qor_ok;
        },
        &a, kernel, min, max);
}

}  // namespace

qor_status min_max_worker(const ary& a, float* min, float* max, int64_t limit, const min_max_kernels& k) {
    if (qor_status st = frame::check_operands(a)) return st;
    if (a.size <= 0) return qor_ok;
    switch (a.data_type) {
        case qor_fmt_16u: return min_max_run<uint16_t>(a, min, max, limit, k.min_max_16u);
        case qor_fmt_32f: return min_max_run<float>(a, min, max, limit, k.min_max_32f);
        default: return qor_err_format;
    }
}

}  // namespace qor::ops

extern "C" QOR_API qor_status qor_square(qor_handle a, qor_handle b) {
    auto [st, arrays] = qor::frame::resolve(a, b);
    if (st) return st;
    return qor::ops::square_worker(*arrays[0], *arrays[1]);
}

extern "C" QOR_API qor_status qor_sub_array(qor_handle src, qor_handle dst, int64_t offset, int64_t count) {
    auto [st, arrays] = qor::frame::resolve(src, dst);
    if (st) return st;
    return qor::ops::sub_array_worker(*arrays[0], *arrays[1], offset, count);
}

extern "C" QOR_API qor_status qor_min_max(qor_handle a, float* min, float* max) {
    auto [st, arrays] = qor::frame::resolve(a);
    if (st) return st;
    return qor::ops::min_max_worker(*arrays[0], min, max);
}
