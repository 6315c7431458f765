// Scoped ownership of kernel work areas: the area is released on every path out of a worker.
#pragma once
#include <functional>
#include <memory>

#include "kernels/kernels.hpp"

namespace qor::krn {

// The deleter is type-erased so that one holder type serves krn_free and krn_aligned_free alike.
using work_area = std::unique_ptr<void, std::function<void(void*)>>;

// Takes ownership of a block from the kernel allocators (null is held harmlessly).
inline work_area hold_work_area(void* block) { return work_area(block, [](void* p) { krn_free(p); }); }

// Allocates bytes (64-byte aligned) under a holder; the holder is empty when allocation fails.
inline work_area make_work_area(int64_t bytes) { return hold_work_area(krn_aligned_malloc(bytes)); }

}  // namespace qor::krn
