#include "frame/platform.hpp"

#include <cerrno>

namespace qor::frame {

void report_invalid_parameter() { errno = EINVAL; }

}  // namespace qor::frame
