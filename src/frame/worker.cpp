#include "frame/worker.hpp"

#include <cstdio>

namespace qor::frame {

qor_status report_nonzero_kernel(int kernel_status) {
    std::printf("KRN function failed,return value %d.\n", kernel_status);
    std::fflush(stdout);
    return kernel_status < 0 ? qor_err_kernel : qor_ok;
}

}  // namespace qor::frame
