// Workers of the logarithm operations. Each takes the chunk limit and its kernels as parameters,
// so tests cross chunk boundaries with small arrays and run every level's variants.
#pragma once
#include <cstdint>

#include "frame/worker.hpp"
#include "kernels/kernels.hpp"

namespace qor::ops {

// The kernel pair of one logarithm: single and double precision.
struct log_kernels {
    krn::krn_ln_32f_fn k32;
    krn::krn_ln_64f_fn k64;
};
struct log_inplace_kernels {
    krn::krn_ln_32f_ip_fn k32 = krn::krn_ln_32f_ip;
    krn::krn_ln_64f_ip_fn k64 = krn::krn_ln_64f_ip;
};

inline constexpr log_kernels ln_kernels{krn::krn_ln_32f, krn::krn_ln_64f};
inline constexpr log_kernels log1p_kernels{krn::krn_log1p_32f, krn::krn_log1p_64f};
inline constexpr log_kernels log10_kernels{krn::krn_log10_32f, krn::krn_log10_64f};
inline constexpr log_inplace_kernels ln_inplace_kernels{};

// dst = log(src) element by element; out-of-domain warnings are reported and ignored.
qor_status log_worker(const ary& src, const ary& dst, const log_kernels& k, int64_t limit = frame::max_chunk);
// a = ln(a).
qor_status ln_inplace_worker(const ary& a, int64_t limit = frame::max_chunk, const log_inplace_kernels& k = ln_inplace_kernels);

}  // namespace qor::ops
