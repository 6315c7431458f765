#include "kernels/runtime/cpu.hpp"

#include <atomic>
#include <cpuid.h>

namespace qor::krn::cpu {
namespace {

bool has(uint32_t reg, int b) { return (reg >> b) & 1u; }

uint64_t read_xcr0() {
    uint32_t lo, hi;
    // In assembly because the baseline build has no -mxsave; the instruction is only
    // reached when CPUID reports OSXSAVE.
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (uint64_t{hi} << 32) | lo;
}

cpuid_regs read_registers() {
    cpuid_regs r;
    unsigned a, b, c, d;
    if (!__get_cpuid(0, &a, &b, &c, &d)) return r;
    r.max_leaf = a;
    if (r.max_leaf >= 1) {
        __cpuid_count(1, 0, a, b, c, d);
        r.leaf1_ecx = c;
        r.leaf1_edx = d;
        if (has(c, 27)) r.xcr0 = read_xcr0();
    }
    if (r.max_leaf >= 7) {
        __cpuid_count(7, 0, a, b, c, d);
        r.leaf7_ebx = b;
        r.leaf7_ecx = c;
    }
    if (__get_cpuid_max(0x80000000u, nullptr) >= 0x80000001u) {
        __cpuid(0x80000001u, a, b, c, d);
        r.ext1_ecx = c;
        r.ext1_edx = d;
    }
    return r;
}

// Bit 63 marks a mask that has been computed (no real feature uses it).
constexpr uint64_t computed = uint64_t{1} << 63;
std::atomic<uint64_t> kept_mask{0};

}  // namespace

uint64_t mask_from_registers(const cpuid_regs& r) {
    uint64_t m = 0;
    auto set = [&m](bool on, int b) {
        if (on) m |= bit(b);
    };
    const uint32_t c1 = r.leaf1_ecx, d1 = r.leaf1_edx, b7 = r.leaf7_ebx, c7 = r.leaf7_ecx;
    // Recorded but not part of the choice: MMX 0, SSE 1, AES 10, PCLMULQDQ 11, RDRAND 12,
    // F16C 13, ADX 14, RDSEED 16, PREFETCHW 17, SHA 18, further AVX-512 sets 27, 29, 30, 34, 35.
    set(has(d1, 23), 0);
    set(has(d1, 25), 1);
    set(has(d1, 26), f_sse2);
    set(has(c1, 0), f_sse3);
    set(has(c1, 9), f_ssse3);
    set(has(c1, 22), f_movbe);
    set(has(c1, 19), f_sse41);
    set(has(c1, 20), f_sse42);
    set(has(c1, 28), f_avx);
    set(has(c1, 27) && has(c1, 28) && (r.xcr0 & 0x6) == 0x6, f_os_ymm);
    set(has(c1, 25), 10);
    set(has(c1, 1), 11);
    set(has(c1, 30), 12);
    set(has(c1, 29), 13);
    set(has(r.ext1_ecx, 8), 17);
    if (r.max_leaf >= 7) {
        set(has(c1, 12) && has(b7, 5) && has(b7, 3) && has(b7, 8), f_avx2_group);
        set(has(b7, 19), 14);
        set(has(b7, 18), 16);
        set(has(b7, 29), 18);
        set(has(b7, 16), f_avx512f);
        set(has(b7, 28), f_avx512cd);
        set(has(b7, 27), f_avx512er);
        set(has(b7, 26), f_avx512pf);
        set(has(b7, 30), f_avx512bw);
        set(has(b7, 17), f_avx512dq);
        set(has(b7, 31), f_avx512vl);
        set(has(b7, 21), 27);  // IFMA
        set(has(c7, 1), 29);   // VBMI
        set(has(c7, 14), 30);  // VPOPCNTDQ
        set(has(c7, 6), 34);   // VBMI2
        set(has(c7, 11), 35);  // VNNI
    }
    set(has(c1, 27) && (r.xcr0 & 0xE0) == 0xE0, f_os_zmm);
    return m;
}

uint64_t adjust_for_os(uint64_t m) {
    if ((m & (bit(f_avx) | bit(f_avx2_group))) && !(m & bit(f_os_ymm)))
        m &= ~(bit(f_avx) | bit(f_avx2_group));
    const uint64_t avx512_bits = (uint64_t{0xFF} << 20) | bit(29) | bit(30) | bit(34) | bit(35);
    if ((m & avx512_bits) && !(m & bit(f_os_zmm))) m &= ~avx512_bits;
    return m;
}

int level_from_mask(uint64_t m) {
    auto all = [m](std::initializer_list<int> bits) {
        for (int b : bits)
            if (!(m & bit(b))) return false;
        return true;
    };
    if (all({f_avx512f, f_avx512cd, f_avx512bw, f_avx512dq, f_avx512vl})) return 5;
    if (all({f_avx512f, f_avx512cd, f_avx512er, f_avx512pf})) return 4;
    if (all({f_avx2_group})) return 4;
    if (all({f_avx})) return 3;
    if (all({f_sse42})) return 2;
    if (all({f_sse41}) || all({f_movbe}) || all({f_ssse3})) return 1;
    return 0;
}

uint64_t feature_mask() {
    uint64_t m = kept_mask.load(std::memory_order_relaxed);
    if (!(m & computed)) {
        m = mask_from_registers(read_registers()) | computed;
        kept_mask.store(m, std::memory_order_relaxed);
    }
    return m & ~computed;
}

int detect_level() { return level_from_mask(adjust_for_os(feature_mask())); }

namespace {

// Leaf-2 descriptors that name a data or unified cache, largest size first; the first pair whose
// descriptor occurs wins.
struct descriptor_size {
    uint8_t descriptor;
    int32_t bytes;
};
constexpr int32_t KiB = 1024, MiB = 1024 * 1024;
constexpr descriptor_size descriptor_table[] = {
    {0xEC, 24 * MiB}, {0xEB, 18 * MiB}, {0x4D, 16 * MiB}, {0xEA, 12 * MiB}, {0x4C, 12 * MiB},
    {0xE4, 8 * MiB},  {0x4B, 8 * MiB},  {0x47, 8 * MiB},  {0xDE, 6 * MiB},  {0x4E, 6 * MiB},
    {0x4A, 6 * MiB},  {0xE3, 4 * MiB},  {0xD8, 4 * MiB},  {0x49, 4 * MiB},  {0x46, 4 * MiB},
    {0x29, 4 * MiB},  {0xDD, 3 * MiB},  {0x48, 3 * MiB},  {0xE2, 2 * MiB},  {0xD7, 2 * MiB},
    {0xD2, 2 * MiB},  {0x85, 2 * MiB},  {0x7D, 2 * MiB},  {0x45, 2 * MiB},  {0x25, 2 * MiB},
    {0xDC, 1536 * KiB}, {0xD6, 1 * MiB}, {0xD1, 1 * MiB}, {0x87, 1 * MiB}, {0x84, 1 * MiB},
    {0x7C, 1 * MiB},  {0x78, 1 * MiB},  {0x44, 1 * MiB},  {0x23, 1 * MiB},  {0xD0, 512 * KiB},
    {0x86, 512 * KiB}, {0x83, 512 * KiB}, {0x80, 512 * KiB}, {0x7F, 512 * KiB}, {0x7B, 512 * KiB},
    {0x43, 512 * KiB}, {0x3E, 512 * KiB}, {0x22, 512 * KiB}, {0x3D, 384 * KiB}, {0x82, 256 * KiB},
    {0x7A, 256 * KiB}, {0x42, 256 * KiB}, {0x3C, 256 * KiB}, {0x21, 256 * KiB}, {0x3A, 192 * KiB},
    {0x79, 128 * KiB}, {0x41, 128 * KiB}, {0x3B, 128 * KiB}, {0x39, 128 * KiB}, {0x00, 0},
};
static_assert(sizeof(descriptor_table) / sizeof(descriptor_table[0]) == 55);

int64_t cache_size_from_leaf4() {
    int64_t best = 0;
    for (unsigned sub = 0; sub < 32; ++sub) {
        unsigned a, b, c, d;
        __cpuid_count(4, sub, a, b, c, d);
        const unsigned type = a & 0x1F;  // 0 none, 1 data, 2 instruction, 3 unified
        if (type == 0) break;
        if (type == 2) continue;
        const int64_t ways = ((b >> 22) & 0x3FF) + 1, partitions = ((b >> 12) & 0x3FF) + 1;
        const int64_t line = (b & 0xFFF) + 1, sets = int64_t{c} + 1;
        const int64_t size = ways * partitions * line * sets;
        if (size > best) best = size;
    }
    return best;
}

int64_t cache_size_from_leaf2() {
    unsigned r[4];
    __cpuid(2, r[0], r[1], r[2], r[3]);
    uint8_t bytes[16];
    int n = 0;
    for (int i = 0; i < 4; ++i) {
        if (r[i] & 0x80000000u) continue;  // register holds no descriptors
        for (int k = 0; k < 4; ++k) {
            if (i == 0 && k == 0) continue;  // AL is the iteration count
            bytes[n++] = uint8_t(r[i] >> (8 * k));
        }
    }
    return cache_size_from_descriptors(bytes, n);
}

}  // namespace

int64_t cache_size_from_descriptors(const uint8_t* bytes, int count) {
    for (const auto& pair : descriptor_table) {
        if (pair.descriptor == 0) break;
        for (int i = 0; i < count; ++i)
            if (bytes[i] == pair.descriptor) return pair.bytes;
    }
    return 0;
}

namespace {

int64_t query_largest_cache() {
    const unsigned max_leaf = __get_cpuid_max(0, nullptr);
    if (max_leaf >= 4) return cache_size_from_leaf4();
    if (max_leaf >= 2) return cache_size_from_leaf2();
    return 0;
}

}  // namespace

std::atomic<int64_t> largest_cache{-1};

int64_t find_largest_cache() {
    const int64_t size = query_largest_cache();
    largest_cache.store(size, std::memory_order_relaxed);
    return size;
}

}  // namespace qor::krn::cpu
