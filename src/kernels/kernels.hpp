// The kernel layer as the workers see it: one function per kernel, which calls the variant of
// the running processor level through that kernel's seven-entry table.
#pragma once
#include <cstdint>

#include "kernels/runtime/status.hpp"
#include "kernels/types.hpp"

namespace qor::krn {

#define QOR_KERNEL(name, result, params, args) \
    result name params;                        \
    using name##_fn = result(*) params;        \
    /* The variant of one level (0..5), or the first-call entry for -1. */ \
    name##_fn name##_variant(int level);
#define QOR_KERNEL_BASELINE QOR_KERNEL
#include "kernels/kernels.def"
#undef QOR_KERNEL
#undef QOR_KERNEL_BASELINE

// The process level: -1 until the first kernel call, then 0..5 for good.
int process_level();

}  // namespace qor::krn
