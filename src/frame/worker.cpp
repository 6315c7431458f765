#include "frame/worker.hpp"

#include <cstdio>

namespace qor::frame {

qor_status report_kernel(int kernel_status) {
    if (kernel_status == 0) return qor_ok;
    std::printf("KRN function failed,return value %d.\n", kernel_status);
    std::fflush(stdout);
    return kernel_status < 0 ? qor_err_kernel : qor_ok;
}

}  // namespace qor::frame
