// Kernel statuses: 0 success, negative an error (the kernel did nothing, or stopped), positive a
// warning (the whole work was done; something in the data deserves notice). Kernels never print.
#pragma once

namespace qor::krn {

enum krn_status : int {
    krn_ok = 0,
    krn_err_spec_tag = -5,
    krn_err_size = -6,
    krn_err_level_range = -7,
    krn_err_null = -8,
    krn_err_context = -13,
    krn_err_step = -16,
    krn_err_channels = -53,
    krn_err_data_type = -59,
    krn_err_levels = -107,
    krn_warn_div_zero = 2,
    krn_warn_level_step = 48,
};

}  // namespace qor::krn
