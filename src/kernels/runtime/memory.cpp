// Aligned blocks: the heap is asked for the request + 72 bytes; the block starts at the first
// 64-byte boundary at least 8 bytes into the heap block, whose own pointer sits just before it.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "kernels/kernels.hpp"

namespace qor::krn::base {

void* krn_aligned_malloc32(int32_t bytes);

namespace {

constexpr int64_t overhead = 72;

// Large blocks come to the heap as fresh mappings, and first touching them costs a page fault per
// 4 KiB: for a 64 MiB temporary that is several times the pass that fills it. Huge pages cut the
// faults 512-fold; the kernel honours the advice only where THP is enabled, and ignores it
// harmlessly elsewhere.
constexpr size_t huge_page_threshold = size_t{4} << 20;

void advise_huge_pages([[maybe_unused]] void* heap_block, [[maybe_unused]] size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    if (bytes < huge_page_threshold) return;
    constexpr uintptr_t page = 4096;
    const auto first = (reinterpret_cast<uintptr_t>(heap_block) + page - 1) & ~(page - 1);
    const auto last = (reinterpret_cast<uintptr_t>(heap_block) + bytes) & ~(page - 1);
    if (last <= first) return;
    const int caller_errno = errno;  // a refused advice is no concern of the caller's
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
    errno = caller_errno;
#endif
}

void* place_aligned(void* heap_block, size_t bytes) {
    if (!heap_block) return nullptr;
    advise_huge_pages(heap_block, bytes);
    const auto start = (reinterpret_cast<uintptr_t>(heap_block) + 8 + 63) & ~uintptr_t{63};
    reinterpret_cast<void**>(start)[-1] = heap_block;
    return reinterpret_cast<void*>(start);
}

// Element-count allocation: null when n < 1 or n * element_bytes reaches 2^31.
void* malloc_elements(int32_t n, int64_t element_bytes) {
    if (n < 1) return nullptr;
    const int64_t bytes = int64_t{n} * element_bytes;
    if (bytes > std::numeric_limits<int32_t>::max()) return nullptr;
    return krn_aligned_malloc32(static_cast<int32_t>(bytes));
}

}  // namespace

void* krn_aligned_malloc(int64_t bytes) {
    if (bytes < 1 || bytes > std::numeric_limits<int64_t>::max() - overhead) return nullptr;
    if (static_cast<uint64_t>(bytes + overhead) > std::numeric_limits<size_t>::max()) return nullptr;
    const auto total = static_cast<size_t>(bytes + overhead);
    return place_aligned(std::malloc(total), total);
}

void* krn_aligned_malloc32(int32_t bytes) {
    if (bytes < 1 || bytes > std::numeric_limits<int32_t>::max() - overhead) return nullptr;
    const auto total = static_cast<size_t>(bytes + overhead);
    return place_aligned(std::malloc(total), total);
}

void krn_aligned_free(void* block) {
    if (block) std::free(static_cast<void**>(block)[-1]);
}

uint8_t* krn_malloc_8u(int32_t n) { return static_cast<uint8_t*>(malloc_elements(n, 1)); }
float* krn_malloc_32f(int32_t n) { return static_cast<float*>(malloc_elements(n, 4)); }
double* krn_malloc_64f(int32_t n) { return static_cast<double*>(malloc_elements(n, 8)); }
krn_64fc* krn_malloc_64fc(int32_t n) { return static_cast<krn_64fc*>(malloc_elements(n, 16)); }

void krn_free(void* block) { krn_aligned_free(block); }

}  // namespace qor::krn::base
