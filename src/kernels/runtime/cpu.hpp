// Processor features and the level they grant. The mapping from a mask to a level is pure, so
// it is tested with synthetic masks; detection reads CPUID and XCR0 once per process.
#pragma once
#include <atomic>
#include <cstdint>

namespace qor::krn::cpu {

// Feature-mask bits that take part in choosing the level.
enum feature_bit : int {
    f_sse2 = 2,
    f_sse3 = 3,
    f_ssse3 = 4,
    f_movbe = 5,
    f_sse41 = 6,
    f_sse42 = 7,
    f_avx = 8,
    f_os_ymm = 9,   // the OS saves the 256-bit register state
    f_avx2_group = 15,  // AVX2, FMA, BMI1 and BMI2 together
    f_avx512f = 20,
    f_avx512cd = 21,
    f_avx512er = 22,
    f_avx512pf = 23,
    f_avx512bw = 24,
    f_avx512dq = 25,
    f_avx512vl = 26,
    f_os_zmm = 33,  // the OS saves the 512-bit register state
};

constexpr uint64_t bit(int b) { return uint64_t{1} << b; }

// The raw registers detection reads, so the mask assembly is testable without the instruction.
struct cpuid_regs {
    uint32_t max_leaf = 0;
    uint32_t leaf1_ecx = 0, leaf1_edx = 0;
    uint32_t leaf7_ebx = 0, leaf7_ecx = 0;
    uint32_t ext1_ecx = 0, ext1_edx = 0;
    uint64_t xcr0 = 0;
};

uint64_t mask_from_registers(const cpuid_regs& r);
uint64_t adjust_for_os(uint64_t mask);
int level_from_mask(uint64_t adjusted_mask);

// Detection on this processor: kept after the first call. Idempotent, so racing first calls agree.
uint64_t feature_mask();
int detect_level();

// Largest data or unified cache in bytes, 0 when the processor does not say; found once, on first
// need (-1 until then). Racing first askers find and store the same value.
extern std::atomic<int64_t> largest_cache;
int64_t find_largest_cache();
// The size, asked of the processor on first need: a call, for code that makes calls anyway.
inline int64_t largest_cache_size() {
    const int64_t v = largest_cache.load(std::memory_order_relaxed);
    return v >= 0 ? v : find_largest_cache();
}
// The size once someone has asked, else -1, without a call: a call left in a vector kernel makes
// the compiler give that kernel a realigned frame and saved registers on every call, long or short.
inline int64_t largest_cache_if_known() { return largest_cache.load(std::memory_order_relaxed); }
// The leaf-2 fallback: the size of the first table pair whose descriptor is among the bytes.
int64_t cache_size_from_descriptors(const uint8_t* bytes, int count);

}  // namespace qor::krn::cpu
