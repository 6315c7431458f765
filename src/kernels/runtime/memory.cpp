// Aligned blocks: the heap is asked for the request + 72 bytes; the block starts at the first
// 64-byte boundary at least 8 bytes into the heap block, whose own pointer sits just before it.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <limits>

#if defined(__linux__)
#include <malloc.h>
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

// Workers take temporaries of the same few sizes call after call. The heap gives blocks above its
// mapping threshold back to the system on release, and trims its top, so each call paid a page
// fault per 4 KiB again (at 64K samples half the time of a fit). Each thread therefore keeps a few
// recently released mid-sized blocks and hands them out again for requests of a similar size.
// Sanitizer builds skip it so that they still see every use after release.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QOR_NO_BLOCK_CACHE 1
#endif
#endif
#if defined(__GLIBC__) && !defined(__SANITIZE_ADDRESS__) && !defined(QOR_NO_BLOCK_CACHE)
#define QOR_BLOCK_CACHE 1
#endif

#if QOR_BLOCK_CACHE
class block_cache {
public:
    static constexpr size_t smallest = size_t{128} << 10;  // the heap serves smaller ones well
    static constexpr size_t largest = size_t{32} << 20;    // larger ones rely on huge pages
    static constexpr size_t budget = size_t{64} << 20;     // per thread

    ~block_cache() {
        for (auto& e : entries_)
            if (e.block) std::free(e.block);
        closed_ = true;  // a release during the rest of the thread's exit goes to the heap
    }

    // A kept block of at least `bytes`, wasting at most half of it; null when there is none.
    void* take(size_t bytes) {
        entry* best = nullptr;
        for (auto& e : entries_)
            if (e.block && e.bytes >= bytes && e.bytes / 2 <= bytes && (!best || e.bytes < best->bytes)) best = &e;
        if (!best) return nullptr;
        void* block = best->block;
        held_ -= best->bytes;
        *best = {};
        return block;
    }

    // Keeps a released block when its size suits, evicting the oldest kept ones; else frees it.
    void give(void* block) {
        const size_t bytes = malloc_usable_size(block);
        if (closed_ || bytes < smallest || bytes > largest) return std::free(block);
        for (;;) {
            entry* free_slot = nullptr;
            entry* oldest = nullptr;
            for (auto& e : entries_) {
                if (!e.block) free_slot = free_slot ? free_slot : &e;
                else if (!oldest || e.age < oldest->age) oldest = &e;
            }
            if (free_slot && held_ + bytes <= budget) {
                *free_slot = {block, bytes, ++clock_};
                held_ += bytes;
                return;
            }
            std::free(oldest->block);
            held_ -= oldest->bytes;
            *oldest = {};
        }
    }

private:
    struct entry {
        void* block = nullptr;
        size_t bytes = 0;
        uint64_t age = 0;
    };
    entry entries_[8];
    size_t held_ = 0;
    uint64_t clock_ = 0;
    bool closed_ = false;
};

thread_local block_cache kept_blocks;

void* heap_allocate(size_t bytes) {
    if (bytes >= block_cache::smallest && bytes <= block_cache::largest)
        if (void* block = kept_blocks.take(bytes)) return block;
    return std::malloc(bytes);
}
void heap_release(void* block) { kept_blocks.give(block); }
#else
void* heap_allocate(size_t bytes) { return std::malloc(bytes); }
void heap_release(void* block) { std::free(block); }
#endif

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
    return place_aligned(heap_allocate(total), total);
}

void* krn_aligned_malloc32(int32_t bytes) {
    if (bytes < 1 || bytes > std::numeric_limits<int32_t>::max() - overhead) return nullptr;
    const auto total = static_cast<size_t>(bytes + overhead);
    return place_aligned(heap_allocate(total), total);
}

void krn_aligned_free(void* block) {
    if (block) heap_release(static_cast<void**>(block)[-1]);
}

uint8_t* krn_malloc_8u(int32_t n) { return static_cast<uint8_t*>(malloc_elements(n, 1)); }
float* krn_malloc_32f(int32_t n) { return static_cast<float*>(malloc_elements(n, 4)); }
double* krn_malloc_64f(int32_t n) { return static_cast<double*>(malloc_elements(n, 8)); }
krn_64fc* krn_malloc_64fc(int32_t n) { return static_cast<krn_64fc*>(malloc_elements(n, 16)); }

void krn_free(void* block) { krn_aligned_free(block); }

}  // namespace qor::krn::base
