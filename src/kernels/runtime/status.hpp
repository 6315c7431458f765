// Kernel statuses: 0 success, negative an error (the kernel did nothing, or stopped), positive a
// warning (the whole work was done; something in the data deserves notice). Kernels never print.
#pragma once

namespace qor::krn {

enum krn_status : int {
    krn_ok = 0,
    // Errors: the kernel did nothing, or stopped.
    krn_err_spec_tag = -5,      // a histogram specification without its tag
    krn_err_size = -6,          // a length below 1
    krn_err_level_range = -7,
    krn_err_null = -8,          // a required pointer is null
    krn_err_zero_divisor = -10,
    krn_err_context = -13,      // a specification or state record of another kind
    krn_err_step = -16,
    krn_err_order = -17,
    krn_err_flag = -18,
    krn_err_tone_phase = -44,   // tone phase outside [0, 2 pi)
    krn_err_tone_freq = -45,    // tone relative frequency outside [0, 0.5)
    krn_err_tone_magn = -46,    // tone magnitude not greater than 0
    krn_err_channels = -53,
    krn_err_data_type = -59,
    krn_err_levels = -107,
    // Warnings: the whole work was done.
    krn_warn_div_zero = 2,      // a divisor was zero
    krn_warn_singularity = 7,   // natural log: the last out-of-domain element was a zero
    krn_warn_domain = 8,        // natural log: some element was negative
    krn_math_overflow = 12,     // a result overflowed to infinity
    krn_math_underflow = 17,    // a result underflowed to a subnormal or zero
    krn_math_singularity = 18,  // log1p, log10: the last out-of-domain element was a pole
    krn_math_domain = 19,       // an argument outside the function's domain (NaN result)
    krn_warn_level_step = 48,   // integer histogram levels closer than 1
};

}  // namespace qor::krn
