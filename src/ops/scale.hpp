// The scaling workers, declared for the exports beside them and for tests, which drive the chunk
// walk with a small chunk limit instead of arrays of billions of elements.
#pragma once
#include <cstdint>

#include "frame/worker.hpp"
#include "qor_lib.h"

namespace qor::ops {

// dst = src * factor + offset for 16u, 32f and 64f arrays; dst may be src.
qor_status scale_worker(const ary& src, ary& dst, float factor, float offset, int64_t chunk_limit = frame::max_chunk);
// a = a * factor + offset.
qor_status scale_in_place_worker(ary& a, float factor, float offset, int64_t chunk_limit = frame::max_chunk);

// The 16-bit constant of a float: truncated toward zero to a signed 32-bit integer (NaN and values
// out of its range give -2147483648), of which the low 16 bits are kept.
uint16_t constant_16u(float x);

}  // namespace qor::ops
