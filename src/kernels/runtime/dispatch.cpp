// The dispatch tables, generated from the kernel list. A kernel call indexes its table with the
// process level + 1; entry 0 (level -1) is the first-call entry, which detects the level and calls
// again with the same arguments. Detection is idempotent, so concurrent first calls agree, and
// the level is one aligned atomic word read relaxed.
#include <atomic>

#include "kernels/kernels.hpp"
#include "kernels/runtime/cpu.hpp"

namespace qor::krn {

#define QOR_KERNEL(name, result, params, args) result name params;
#define QOR_KERNEL_BASELINE(name, result, params, args)
namespace l0 {
#include "kernels/kernels.def"
}
namespace l1 {
#include "kernels/kernels.def"
}
namespace l2 {
#include "kernels/kernels.def"
}
namespace l3 {
#include "kernels/kernels.def"
}
namespace l4 {
#include "kernels/kernels.def"
}
namespace l5 {
#include "kernels/kernels.def"
}
#undef QOR_KERNEL
#undef QOR_KERNEL_BASELINE

namespace base {
#define QOR_KERNEL(name, result, params, args)
#define QOR_KERNEL_BASELINE(name, result, params, args) result name params;
#include "kernels/kernels.def"
#undef QOR_KERNEL
#undef QOR_KERNEL_BASELINE
}  // namespace base

namespace {

std::atomic<int> level{-1};

void initialise_level() { level.store(cpu::detect_level(), std::memory_order_relaxed); }

int table_index() { return level.load(std::memory_order_relaxed) + 1; }

}  // namespace

int process_level() { return level.load(std::memory_order_relaxed); }

#define QOR_DISPATCH(name, result, params, args, v0, v1, v2, v3, v4, v5)           \
    namespace {                                                                    \
    result name##_first_call params;                                               \
    constexpr name##_fn name##_table[7] = {name##_first_call, v0, v1, v2, v3, v4, v5}; \
    result name##_first_call params {                                              \
        initialise_level();                                                        \
        return name##_table[table_index()] args;                                   \
    }                                                                              \
    }                                                                              \
    result name params { return name##_table[table_index()] args; }               \
    name##_fn name##_variant(int lvl) { return name##_table[lvl + 1]; }

#define QOR_KERNEL(name, result, params, args) \
    QOR_DISPATCH(name, result, params, args, l0::name, l1::name, l2::name, l3::name, l4::name, l5::name)
#define QOR_KERNEL_BASELINE(name, result, params, args) \
    QOR_DISPATCH(name, result, params, args, base::name, base::name, base::name, base::name, base::name, base::name)
#include "kernels/kernels.def"
#undef QOR_KERNEL
#undef QOR_KERNEL_BASELINE

}  // namespace qor::krn
