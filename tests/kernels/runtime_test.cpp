#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kernels/kernels.hpp"
#include "kernels/runtime/cpu.hpp"
#include "kernels/runtime/memory.hpp"
#include "support/elementwise.hpp"
#include "support/levels.hpp"

using namespace qor::krn;
using namespace qor::krn::cpu;
using qor::test::for_each_supported_level;

namespace {

uint64_t bits(std::initializer_list<int> list) {
    uint64_t m = 0;
    for (int b : list) m |= bit(b);
    return m;
}

// Masks as detection would assemble them for some real processor generations.
const uint64_t sse2_only = bits({f_sse2});
const uint64_t core2 = sse2_only | bits({f_sse3, f_ssse3});
const uint64_t nehalem = core2 | bits({f_sse41, f_sse42});
const uint64_t sandy = nehalem | bits({f_avx, f_os_ymm});
const uint64_t haswell = sandy | bits({f_avx2_group, f_movbe});
const uint64_t skylake_x = haswell | bits({f_avx512f, f_avx512cd, f_avx512bw, f_avx512dq, f_avx512vl, f_os_zmm});

}  // namespace

// One missing member of a row drops to the next satisfied row; wide registers count only with
// their state saved by the operating system, whose adjustment clears every AVX-512 bit.
TEST(LevelTable, EachRowGrantsItsLevel) {
    const std::pair<uint64_t, int> rows[] = {
        {0, 0}, {sse2_only, 0}, {bits({f_sse3}), 0}, {bits({f_ssse3}), 1}, {bits({f_movbe}), 1}, {bits({f_sse41}), 1},
        {bits({f_sse42}), 2}, {bits({f_avx}), 3}, {bits({f_avx2_group}), 4},
        {bits({f_avx512f, f_avx512cd, f_avx512er, f_avx512pf}), 4},
        {bits({f_avx512f, f_avx512cd, f_avx512bw, f_avx512dq, f_avx512vl}), 5},
        {skylake_x & ~bit(f_avx512vl), 4}, {bits({f_avx512f, f_avx512cd, f_avx512er}) | sandy, 3},
        {adjust_for_os(haswell & ~bit(f_os_ymm)), 2}, {adjust_for_os(skylake_x & ~bit(f_os_zmm)), 4},
        {adjust_for_os(skylake_x & ~bit(f_os_zmm) & ~bit(f_os_ymm)), 2}};
    for (auto [mask, level] : rows) EXPECT_EQ(level_from_mask(mask), level) << std::hex << mask;
    const uint64_t generations[] = {sse2_only, core2, nehalem, sandy, haswell, skylake_x};
    for (int level = 0; level < 6; ++level) EXPECT_EQ(level_from_mask(adjust_for_os(generations[level])), level);
    const uint64_t extras = bit(27) | bit(29) | bit(30) | bit(34) | bit(35);
    EXPECT_EQ(adjust_for_os((skylake_x | extras) & ~bit(f_os_zmm)), haswell);
}

TEST(FeatureMask, AssembledFromRegisters) {
    cpuid_regs r;
    r.max_leaf = 7;
    r.leaf1_edx = 1u << 26;                                           // SSE2
    r.leaf1_ecx = (1u << 28) | (1u << 27) | (1u << 12) | (1u << 20);  // AVX, OSXSAVE, FMA, SSE4.2
    r.leaf7_ebx = (1u << 5) | (1u << 3) | (1u << 8) | (1u << 16);     // AVX2, BMI1, BMI2, AVX-512F
    r.xcr0 = 0x7;
    EXPECT_EQ(level_from_mask(adjust_for_os(mask_from_registers(r))), 4);
    r.xcr0 = 0x3;  // the OS does not save the upper halves
    EXPECT_EQ(level_from_mask(adjust_for_os(mask_from_registers(r))), 2);
    r.xcr0 = 0xE7;
    r.max_leaf = 6;  // leaf 7 is not read below 7
    const uint64_t m = mask_from_registers(r);
    EXPECT_TRUE(!(m & bit(f_avx2_group)) && !(m & bit(f_avx512f)) && (m & bit(f_os_zmm)));
    r.max_leaf = 7;
    r.leaf1_ecx &= ~(1u << 12);  // no FMA: no AVX2 group
    EXPECT_FALSE(mask_from_registers(r) & bit(f_avx2_group));
}

TEST(ProcessLevel, IsDetectedOnceAndMatchesTheEmulatedModel) {
    unsigned char byte = 0;
    ASSERT_EQ(krn_set_8u(1, &byte, 1), krn_ok);
    const int level = process_level();
    EXPECT_EQ(level, detect_level());
    if (const char* expected = std::getenv("QOR_EXPECT_LEVEL")) {
        EXPECT_EQ(level, std::atoi(expected));
    }
    std::printf("[ level    ] this machine runs processor level %d\n", level);
    // The first-call entry reaches the process variant; baseline kernels name one implementation.
    EXPECT_EQ(krn_set_8u_variant(-1)(3, &byte, 1), krn_ok);
    EXPECT_EQ(byte, 3);
    for (int l = 0; l < 6; ++l) EXPECT_EQ(krn_free_variant(l), krn_free_variant(0));
}

TEST(CacheSize, LeafTwoDescriptorsLargestFirst) {
    const uint8_t none[] = {0x01, 0x02, 0xF0};
    EXPECT_EQ(cache_size_from_descriptors(none, 3), 0);
    const uint8_t two[] = {0x2C, 0x21, 0x49};  // L1 data (not listed), 256 KiB, 4 MiB
    EXPECT_EQ(cache_size_from_descriptors(two, 3), 4 * 1024 * 1024);
    const uint8_t biggest[] = {0x39, 0xEC};
    EXPECT_EQ(cache_size_from_descriptors(biggest, 2), 24 * 1024 * 1024);
    EXPECT_GE(largest_cache_size(), 0);
    EXPECT_EQ(largest_cache_if_known(), largest_cache_size());  // asked once, then known without a call
}

// Non-positive counts, and the first counts whose block (with 64 bytes of alignment and the
// pointer to the heap block) would pass 2^63 or, for the element allocators, 2^31 - 1 bytes.
TEST(AlignedMemory, RefusalsAndElementAllocatorLimits) {
    const void* refused[] = {krn_aligned_malloc(0),          krn_aligned_malloc(-5),       krn_aligned_malloc(INT64_MAX - 71),
                             krn_aligned_malloc32(0),        krn_aligned_malloc32(INT32_MAX - 71),
                             krn_malloc_8u(0),               krn_malloc_8u(INT32_MAX - 71), krn_malloc_32f(-1),
                             krn_malloc_32f(536870912),      krn_malloc_32f(536870911),    krn_malloc_32f(536870894),
                             krn_malloc_64f(268435456),      krn_malloc_64f(268435447),    krn_malloc_64fc(134217728),
                             krn_malloc_64fc(134217724)};
    for (size_t i = 0; i < std::size(refused); ++i) EXPECT_EQ(refused[i], nullptr) << "request " << i;
    krn_aligned_free(nullptr);
    krn_free(nullptr);
    // Every block 64-byte aligned, its heap block recorded just before it, the whole request usable
    // (checked by the sanitizer build).
    for (int32_t n : {1, 7, 100, 4096}) {
        auto* p = static_cast<uint8_t*>(krn_aligned_malloc(n));
        ASSERT_NE(p, nullptr);
        const auto gap = p - static_cast<uint8_t*>(reinterpret_cast<void**>(p)[-1]);
        EXPECT_TRUE(gap >= 8 && gap < 72 && reinterpret_cast<uintptr_t>(p) % 64 == 0) << gap;
        p[n - 1] = 0xAB;
        krn_aligned_free(p);
        void* blocks[] = {krn_aligned_malloc32(n), krn_malloc_8u(n), krn_malloc_32f(n), krn_malloc_64f(n),
                          krn_malloc_64fc(n)};
        for (void* b : blocks) {
            ASSERT_NE(b, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(b) % 64, 0u);
            krn_free(b);
        }
    }
}

// The largest requests the element allocators serve: about 2 GiB each, so only where memory allows.
TEST(AlignedMemory, LargeElementAllocatorsServeTheirLimit) {
    const auto serve = [](auto* p, int64_t n) {
        ASSERT_NE(p, nullptr);
        std::memset(static_cast<void*>(p + n - 1), 1, sizeof *p);  // the last element is usable
        krn_free(p);
    };
    serve(krn_malloc_32f(536870893), 536870893);
    serve(krn_malloc_64f(268435446), 268435446);
    serve(krn_malloc_64fc(134217723), 134217723);
    serve(krn_malloc_8u(INT32_MAX - 72), INT32_MAX - 72);
}

QOR_TEST_PER_LEVEL(streaming, void, fill_streaming, (uint8_t, uint8_t*, int));

// Both paths (the streaming one is reached directly) at every start within 70 bytes.
TEST(ByteFill, EveryOffsetAndLengthFillsExactlyItsBytesAndRefusals) {
    for_each_supported_level([&](int level) {
        auto set = krn_set_8u_variant(level);
        EXPECT_EQ(set(0, nullptr, 0), krn_err_null);  // the pointer first
        EXPECT_EQ(set(0, reinterpret_cast<uint8_t*>(&level), 0), krn_err_size);
        EXPECT_EQ(set(0, reinterpret_cast<uint8_t*>(&level), -3), krn_err_size);
        for (bool streamed : {false, true})
            qor::test::expect_elementwise<uint8_t>(
                [&](int, int n, uint8_t* d) {
                    if (streamed) streaming[level](0x11, d, n);
                    else EXPECT_EQ(set(0x11, d, n), krn_ok);
                },
                [](size_t) { return uint8_t{0x11}; }, {1, 15, 16, 17, 63, 64, 65, 200, 1024},
                qor::test::same_bits<uint8_t>, 70);
    });
}
