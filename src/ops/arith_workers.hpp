// Workers of division, square, sub-array copy, extrema and conversion. Each takes the chunk limit
// and the kernels it calls as parameters, so tests can cross chunk boundaries with small arrays,
// run every level's variants, and make a kernel fail in a chosen chunk.
#pragma once
#include <cstdint>

#include "frame/worker.hpp"
#include "kernels/kernels.hpp"

namespace qor::ops {

struct div_kernels {
    krn::krn_div_32f_fn div_32f = krn::krn_div_32f;
    krn::krn_div_64f_fn div_64f = krn::krn_div_64f;
    krn::krn_div_32f_ip_fn div_32f_ip = krn::krn_div_32f_ip;
    krn::krn_div_64f_ip_fn div_64f_ip = krn::krn_div_64f_ip;
};
struct square_kernels {
    krn::krn_sqr_32f_fn sqr_32f = krn::krn_sqr_32f;
    krn::krn_sqr_64f_fn sqr_64f = krn::krn_sqr_64f;
    krn::krn_sqr_scaled_16u_fn sqr_16u = krn::krn_sqr_scaled_16u;
};
struct copy_kernels {
    krn::krn_copy_16s_fn copy_16s = krn::krn_copy_16s;
    krn::krn_copy_32f_fn copy_32f = krn::krn_copy_32f;
    krn::krn_copy_64f_fn copy_64f = krn::krn_copy_64f;
};
struct min_max_kernels {
    krn::krn_min_max_16u_fn min_max_16u = krn::krn_min_max_16u;
    krn::krn_min_max_32f_fn min_max_32f = krn::krn_min_max_32f;
};
struct convert_kernels {
    krn::krn_convert_rows_8u16u_fn rows_8u16u = krn::krn_convert_rows_8u16u;
    krn::krn_convert_rows_16u8u_fn rows_16u8u = krn::krn_convert_rows_16u8u;
    krn::krn_convert_rows_16s8u_fn rows_16s8u = krn::krn_convert_rows_16s8u;
    krn::krn_convert_16u32f_fn from_16u = krn::krn_convert_16u32f;
    krn::krn_convert_16s32f_fn from_16s = krn::krn_convert_16s32f;
    krn::krn_convert_32f16u_fn to_16u = krn::krn_convert_32f16u;
};

// The library's own kernel sets, the workers' defaults: constant objects, so an exported call
// passes a reference instead of building the set on its stack.
template <class Kernels>
inline constexpr Kernels dispatched{};

// One copy-kernel call moves less than 2^31 bytes.
constexpr int64_t max_copy_bytes = 2147483647;

// c = b / a (a is the divisor).
qor_status div_worker(const ary& a, const ary& b, const ary& c, int64_t limit = frame::max_chunk,
                      const div_kernels& k = dispatched<div_kernels>);
// b = b / a.
qor_status div_inplace_worker(const ary& a, const ary& b, int64_t limit = frame::max_chunk, const div_kernels& k = dispatched<div_kernels>);
// b = a * a.
qor_status square_worker(const ary& a, const ary& b, int64_t limit = frame::max_chunk, const square_kernels& k = dispatched<square_kernels>);
// dst[0 .. count) = src[offset .. offset + count).
qor_status sub_array_worker(const ary& src, const ary& dst, int64_t offset, int64_t count,
                            int64_t limit = frame::max_chunk, const copy_kernels& k = dispatched<copy_kernels>);
// Merges a's extremes into *min and *max.
qor_status min_max_worker(const ary& a, float* min, float* max, int64_t limit = frame::max_chunk,
                          const min_max_kernels& k = dispatched<min_max_kernels>);
// dst = src converted element by element.
qor_status convert_worker(const ary& src, const ary& dst, int64_t limit = frame::max_chunk,
                          const convert_kernels& k = dispatched<convert_kernels>);

}  // namespace qor::ops
