// The histogram worker, reachable by tests with a small region limit in place of 2^31 - 1.
#pragma once
#include <cstdint>

#include "frame/worker.hpp"
#include "qor_lib.h"

namespace qor::ops {

qor_status histogram_worker(const ary* array, uint32_t* counts, int32_t nBins, float lower, float upper,
                            int64_t region_limit = frame::max_chunk);

}  // namespace qor::ops
