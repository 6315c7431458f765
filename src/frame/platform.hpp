// The few places where the library meets the runtime beyond memory.
#pragma once

namespace qor::frame {

// A caller passed a null record where one is required: errno becomes EINVAL. The runtime's
// default handler would end the process; a library must never do that to its host.
void report_invalid_parameter();

}  // namespace qor::frame
