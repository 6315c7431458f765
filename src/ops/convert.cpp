// Conversion between element formats: six supported pairs, each carried by one kernel.
#include "frame/formats.hpp"
#include "frame/registry.hpp"
#include "ops/arith_workers.hpp"

namespace qor::ops {

namespace {

// The kernel of one pair, called on n elements; nothing for an unsupported pair.
using pair_step = int (*)(const convert_kernels&, const void*, void*, int);

// Region kernels get the chunk as one row (steps of n bytes: with one row they only need to be >= 1).
pair_step step_for(qor_data_format from, qor_data_format to) {
    if (from == qor_fmt_8u && to == qor_fmt_16u)
        return [](const convert_kernels& k, const void* s, void* d, int n) {
            return k.rows_8u16u(static_cast<const uint8_t*>(s), n, static_cast<uint16_t*>(d), n, krn::krn_size{n, 1});
        };
    if (from == qor_fmt_16u && to == qor_fmt_8u)
        return [](const convert_kernels& k, const void* s, void* d, int n) {
            return k.rows_16u8u(static_cast<const uint16_t*>(s), n, static_cast<uint8_t*>(d), n, krn::krn_size{n, 1});
        };
    if (from == qor_fmt_16s && to == qor_fmt_8u)
        return [](const convert_kernels& k, const void* s, void* d, int n) {
            return k.rows_16s8u(static_cast<const int16_t*>(s), n, static_cast<uint8_t*>(d), n, krn::krn_size{n, 1});
        };
    if (from == qor_fmt_16u && to == qor_fmt_32f)
        return [](const convert_kernels& k, const void* s, void* d, int n) {
            return k.from_16u(static_cast<const uint16_t*>(s), static_cast<float*>(d), n);
        };
    if (from == qor_fmt_16s && to == qor_fmt_32f)
        return [](const convert_kernels& k, const void* s, void* d, int n) {
            return k.from_16s(static_cast<const int16_t*>(s), static_cast<float*>(d), n);
        };
    if (from == qor_fmt_32f && to == qor_fmt_16u)
        return [](const convert_kernels& k, const void* s, void* d, int n) {
            return k.to_16u(static_cast<const float*>(s), static_cast<uint16_t*>(d), n, krn::krn_round_truncate, 0);
        };
    return nullptr;
}

}  // namespace

qor_status convert_worker(const ary& src, const ary& dst, int64_t limit, const convert_kernels& k) {
    if (qor_status st = frame::check_operands(src)) return st;
    if (qor_status st = frame::check_operands(dst)) return st;
    if (src.size != dst.size) return qor_err_length;
    if (src.size <= 0) return qor_ok;
    const pair_step step = step_for(src.data_type, dst.data_type);
    if (!step) return qor_err_format;
    const int64_t src_bytes = frame::format_bytes(src.data_type);
    const int64_t dst_bytes = frame::format_bytes(dst.data_type);
    return frame::for_each_chunk(
        src.size, limit,
        [](int64_t at, int n, pair_step f, const convert_kernels* kk, const char* s, char* d, int64_t sb, int64_t db) {
            return frame::report_kernel(f(*kk, s + at * sb, d + at * db, n));
        },
        step, &k, static_cast<const char*>(src.frame_buf), static_cast<char*>(dst.frame_buf), src_bytes, dst_bytes);
}

}  // namespace qor::ops

extern "C" QOR_API qor_status qor_convert(qor_handle src, qor_handle dst) {
    auto [st, arrays] = qor::frame::resolve(src, dst);
    if (st) return st;
    return qor::ops::convert_worker(*arrays[0], *arrays[1]);
}
