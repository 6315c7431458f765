// Byte fill. Small and cache-sized blocks go to memset; a block above the level's threshold that
// is also larger than the largest cache is written with non-temporal stores, so a huge clear does
// not evict the working set. The choice of stores changes no result.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <immintrin.h>

#include "kernels/level.hpp"
#include "kernels/runtime/cpu.hpp"
#include "kernels/runtime/status.hpp"

namespace qor::krn::QOR_LEVEL_NS {
namespace {

#if QOR_LEVEL >= 5
constexpr int64_t streaming_threshold = 2 * 1024 * 1024;
constexpr uintptr_t vector_bytes = 64;
#elif QOR_LEVEL >= 3
constexpr int64_t streaming_threshold = 2 * 1024 * 1024;
constexpr uintptr_t vector_bytes = 32;
#else
constexpr int64_t streaming_threshold = 512 * 1024;
constexpr uintptr_t vector_bytes = 16;
#endif

void stream_fill(uint8_t val, uint8_t* dst, int64_t len) {
    const uintptr_t misalign = reinterpret_cast<uintptr_t>(dst) & (vector_bytes - 1);
    const int64_t head = std::min<int64_t>(misalign ? int64_t(vector_bytes - misalign) : 0, len);
    std::memset(dst, val, size_t(head));
    uint8_t* p = dst + head;
    int64_t n = len - head;
#if QOR_LEVEL >= 5
    const __m512i v = _mm512_set1_epi8(char(val));
    for (; n >= 64; n -= 64, p += 64) _mm512_stream_si512(reinterpret_cast<__m512i*>(p), v);
#elif QOR_LEVEL >= 3
    const __m256i v = _mm256_set1_epi8(char(val));
    for (; n >= 32; n -= 32, p += 32) _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v);
#else
    const __m128i v = _mm_set1_epi8(char(val));
    for (; n >= 16; n -= 16, p += 16) _mm_stream_si128(reinterpret_cast<__m128i*>(p), v);
#endif
    _mm_sfence();  // make the non-temporal stores visible before the caller reads
    std::memset(p, val, size_t(n));
}

}  // namespace

// Exposed for tests, which drive the streaming path without a cache-sized allocation.
void fill_streaming(uint8_t val, uint8_t* dst, int len) { stream_fill(val, dst, len); }

int krn_set_8u(uint8_t val, uint8_t* dst, int len) {
    if (!dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (len > streaming_threshold) {
        const int64_t cache = cpu::largest_cache_size();
        if (cache > 0 && len > cache) {
            stream_fill(val, dst, len);
            return krn_ok;
        }
    }
    std::memset(dst, val, size_t(len));
    return krn_ok;
}

}  // namespace qor::krn::QOR_LEVEL_NS
