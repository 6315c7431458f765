// Format conversions. Integer narrowing saturates; float to 16-bit clamps to 0..65535 before it
// converts, so no lane ever reaches the integer-overflow pattern, and the three rounding modes are
// written as float arithmetic (a 2^23 shift for ties-to-even, +0.5 under truncation for halves
// upward) over one truncating conversion, identical at every level.
#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "kernels/level.hpp"
#include "kernels/runtime/cpu.hpp"
#include "kernels/runtime/status.hpp"
#include "kernels/types.hpp"

namespace qor::krn::QOR_LEVEL_NS {

#include "kernels/arith_detail.hpp"

namespace {

// Widening streams only above this volume (and beyond the largest cache).
constexpr int64_t streaming_volume = 524288;

// MXCSR fields: rounding control (bits 13-14) and denormals-are-zero (bit 6).
constexpr unsigned csr_rounding = 0x6000;
constexpr unsigned csr_toward_zero = 0x6000;
constexpr unsigned csr_daz = 0x0040;

// The element conversions, for any width. At the top level the compiler splits full-width
// widenings into halves, so those are spelt with the one-instruction forms (zero-masked: the
// plain ones trip a false uninitialised-value warning in GCC 12).
template <class V>
auto widen(V x) {
    return __builtin_convertvector(x, typename vec_of<uint16_t, 2 * int(sizeof(V))>::type);
}
template <class V>
auto narrow_16u(V x) {
    return __builtin_convertvector(x > 255 ? uint16_t(255) : x, typename vec_of<uint8_t, int(sizeof(V)) / 2>::type);
}
template <class V>
auto narrow_16s(V x) {
    const V clamped = x < 0 ? int16_t(0) : (x > 255 ? int16_t(255) : x);
    return __builtin_convertvector(clamped, typename vec_of<uint8_t, int(sizeof(V)) / 2>::type);
}
template <class V>
auto widen_32(V x) {
    return __builtin_convertvector(x, typename vec_of<int32_t, 2 * int(sizeof(V))>::type);
}
template <class V>
auto narrow_32(V x) {  // lanes hold 0..65535
    return __builtin_convertvector(x, typename vec_of<uint16_t, int(sizeof(V)) / 2>::type);
}
#if QOR_LEVEL >= 5
// Narrowings go through a register: folded into a narrowing store they are slow on some
// processors (a microcoded store), and the compiler folds them when it can.
template <class V>
inline V in_register(V v) {
    __asm__("" : "+v"(v));
    return v;
}
vu16 widen(vu8h x) { return vu16(_mm512_maskz_cvtepu8_epi16(~__mmask32(0), __m256i(x))); }
vu8h narrow_16u(vu16 x) {  // min(x, 255)
    return in_register(vu8h(_mm512_maskz_cvtusepi16_epi8(~__mmask32(0), __m512i(x))));
}
vu8h narrow_16s(vi16 x) {
    return in_register(
        vu8h(_mm512_maskz_cvtusepi16_epi8(~__mmask32(0), _mm512_max_epi16(__m512i(x), _mm512_setzero_si512()))));
}
vi32 widen_32(vu16h x) { return vi32(_mm512_maskz_cvtepu16_epi32(__mmask16(0xFFFF), __m256i(x))); }
vi32 widen_32(vi16h x) { return vi32(_mm512_maskz_cvtepi16_epi32(__mmask16(0xFFFF), __m256i(x))); }
vu16h narrow_32(vi32 x) { return in_register(vu16h(_mm512_maskz_cvtepi32_epi16(__mmask16(0xFFFF), __m512i(x)))); }
// The same at half width, for the walks beyond the first-level cache.
typedef uint8_t vu8_16 __attribute__((vector_size(16)));
typedef uint16_t vu16_16 __attribute__((vector_size(16)));
typedef int16_t vi16_16 __attribute__((vector_size(16)));
typedef uint16_t vu16_32 __attribute__((vector_size(32)));
typedef int16_t vi16_32 __attribute__((vector_size(32)));
typedef int32_t vi32_32 __attribute__((vector_size(32)));
vu16_32 widen(vu8_16 x) { return vu16_32(_mm256_cvtepu8_epi16(__m128i(x))); }
vu8_16 narrow_16u(vu16_32 x) { return in_register(vu8_16(_mm256_maskz_cvtusepi16_epi8(~__mmask16(0), __m256i(x)))); }
vu8_16 narrow_16s(vi16_32 x) {
    return in_register(
        vu8_16(_mm256_maskz_cvtusepi16_epi8(~__mmask16(0), _mm256_max_epi16(__m256i(x), _mm256_setzero_si256()))));
}
vi32_32 widen_32(vu16_16 x) { return vi32_32(_mm256_cvtepu16_epi32(__m128i(x))); }
vi32_32 widen_32(vi16_16 x) { return vi32_32(_mm256_cvtepi16_epi32(__m128i(x))); }
vu16_16 narrow_32(vi32_32 x) { return in_register(vu16_16(_mm256_maskz_cvtepi32_epi16(__mmask8(0xFF), __m256i(x)))); }
#endif

int widen_row(const uint8_t* src, uint16_t* dst, int64_t n) {
    return map1_cached<vu8h, vu16>(src, dst, n, [](auto x) { return widen(x); });
}

// The same results with cache-bypassing stores; dst on an odd byte never reaches a vector boundary.
int widen_row_streaming(const uint8_t* src, uint16_t* dst, int64_t n) {
    if (reinterpret_cast<uintptr_t>(dst) % sizeof(uint16_t)) return widen_row(src, dst, n);
    return map1_streamed<vu8h, vu16>(src, dst, n, [](auto x) { return widen(x); }, 0);
}

// Row by row, out of line: the calls it returns from would give every one-row call a frame.
template <class S, class D, class Row>
[[gnu::noinline]] int each_row(const S* src, int src_step, D* dst, int dst_step, krn_size size, Row row) {
    const auto* s = reinterpret_cast<const uint8_t*>(src);
    auto* d = reinterpret_cast<uint8_t*>(dst);
    for (int64_t r = 0; r < size.height; ++r)
        row(reinterpret_cast<const S*>(s + r * src_step), reinterpret_cast<D*>(d + r * dst_step), int64_t{size.width});
    return krn_ok;
}

template <class S, class D, class Row>
int convert_rows(const S* src, int src_step, D* dst, int dst_step, krn_size size, bool widening, Row row) {
    if (!src || !dst) return krn_err_null;
    if (size.width < 1 || size.height < 1) return krn_err_size;
    if (src_step < 1 || dst_step < 1) return krn_err_step;
    const int64_t width = size.width;
    const bool contiguous = widening ? (dst_step == 2 * int64_t(src_step) && src_step == width)
                                     : (src_step == 2 * int64_t(dst_step) && dst_step == width);
    if (contiguous || size.height == 1) return row(src, dst, width * size.height);  // the steps play no part
    return each_row(src, src_step, dst, dst_step, size, row);
}

template <class VS>
int to_float(const lane_t<VS>* src, float* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    return map1<VS, vf32>(src, dst, len, [](auto x) {
        const auto wide = widen_32(x);
        return __builtin_convertvector(wide, typename vec_of<float, int(sizeof(wide))>::type);
    });
}

// 2^-sf exactly: the power where it is a float, 0 below the smallest subnormal, +inf above the
// largest float (what repeated halving or doubling gives under round-to-nearest).
float power_of_two(int sf) {
    const int e = -sf;
    if (e > 127) return __builtin_inff();
    if (e < -149) return 0.0f;
    uint32_t bits = e >= -126 ? uint32_t(e + 127) << 23 : uint32_t(1) << (e + 149);
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Out of line, so the compiler cannot move the arithmetic across the caller's changes to MXCSR.
template <int mode, bool scaled>
[[gnu::noinline]] void float_to_16u(const float* src, uint16_t* dst, int64_t n, float factor) {
    map1<vf32, vu16h>(src, dst, n, [=](auto x) {
        if constexpr (scaled) x = x * factor;
        x = x > 0 ? x : 0.0f;  // negatives, -0 and NaN become +0
        x = x < 65535.0f ? x : 65535.0f;
        if constexpr (mode == 1) {
            x = (x + 8388608.0f) - 8388608.0f;  // to an integer by the rounding control: to even
        } else if constexpr (mode == 2) {
            x = x + 0.5f;  // rounded toward zero by the rounding control: halves go up
        }
        return narrow_32(__builtin_convertvector(x, typename vec_of<int32_t, int(sizeof(x))>::type));
    });
}

template <int mode>
void float_to_16u(const float* src, uint16_t* dst, int64_t n, int sf) {
    if (sf == 0)
        float_to_16u<mode, false>(src, dst, n, 1.0f);
    else
        float_to_16u<mode, true>(src, dst, n, power_of_two(sf));
}

}  // namespace

// Exposed for tests, which drive the streaming path without a cache-sized allocation.
void widen_streaming(const uint8_t* src, uint16_t* dst, int64_t n) { widen_row_streaming(src, dst, n); }

int krn_convert_rows_8u16u(const uint8_t* src, int srcStep, uint16_t* dst, int dstStep, krn_size size) {
    // The region's volume (bytes read and written) chooses the stores, whether it is one row or
    // many: beyond the largest cache, when the processor names its size, rows bypass the cache.
    const int64_t volume = int64_t(size.width) * 3 * size.height;
    bool stream = false;
    if (volume > streaming_volume && src && dst && size.width > 0 && size.height > 0) {
        const int64_t cache = cpu::largest_cache_size();
        stream = cache > 0 && volume >= cache;
    }
    return convert_rows(src, srcStep, dst, dstStep, size, true, stream ? widen_row_streaming : widen_row);
}

int krn_convert_rows_16u8u(const uint16_t* src, int srcStep, uint8_t* dst, int dstStep, krn_size size) {
    return convert_rows(src, srcStep, dst, dstStep, size, false, [](const uint16_t* s, uint8_t* d, int64_t n) {
        return map1<vu16, vu8h>(s, d, n, [](auto x) { return narrow_16u(x); });
    });
}

int krn_convert_rows_16s8u(const int16_t* src, int srcStep, uint8_t* dst, int dstStep, krn_size size) {
    return convert_rows(src, srcStep, dst, dstStep, size, false, [](const int16_t* s, uint8_t* d, int64_t n) {
        return map1<vi16, vu8h>(s, d, n, [](auto x) { return narrow_16s(x); });
    });
}

int krn_convert_16u32f(const uint16_t* src, float* dst, int len) { return to_float<vu16h>(src, dst, len); }
int krn_convert_16s32f(const int16_t* src, float* dst, int len) { return to_float<vi16h>(src, dst, len); }

int krn_convert_32f16u(const float* src, uint16_t* dst, int len, int roundMode, int scaleFactor) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (roundMode == krn_round_truncate) {
        float_to_16u<0>(src, dst, len, scaleFactor);
    } else if (roundMode == krn_round_nearest) {
        const unsigned csr = _mm_getcsr();
        if ((csr & csr_rounding) == 0) {
            float_to_16u<1>(src, dst, len, scaleFactor);
        } else {
            _mm_setcsr(csr & ~(csr_rounding | csr_daz));
            float_to_16u<1>(src, dst, len, scaleFactor);
            _mm_setcsr(csr);
        }
    } else {
        const unsigned csr = _mm_getcsr();
        _mm_setcsr((csr & ~csr_rounding) | csr_toward_zero);
        float_to_16u<2>(src, dst, len, scaleFactor);
        _mm_setcsr(csr);
    }
    return krn_ok;
}

}  // namespace qor::krn::QOR_LEVEL_NS
