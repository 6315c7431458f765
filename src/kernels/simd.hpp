// A thin width-generic vector layer. One kernel body, written with GCC vector extensions, becomes
// 16-byte code at levels 0 to 2, 32-byte code at levels 3 and 4 and 64-byte code at level 5.
// Intrinsics appear only where the extensions cannot say it (unsigned high multiply, saturating
// add, non-temporal stores).
//
// Include it INSIDE namespace qor::krn::QOR_LEVEL_NS, after <immintrin.h>, <cstdint>, <cstring>,
// <type_traits>, <utility> and "kernels/runtime/cpu.hpp" were included at global scope: every level
// then owns its copy of these helpers.
//
// With the extensions, + - * / & | ^ << >> work lane by lane, a scalar operand is broadcast,
// a comparison gives a vector of signed lanes holding 0 or -1, and `mask ? a : b` selects per lane.
// An element-wise kernel is then one generic lambda that serves vectors and single elements alike:
//     const auto op = [val](auto x) { return x * val; };
//     simd::transform(src, dst, len, op, op);
#pragma once

#if !defined(QOR_LEVEL_NS) || !(defined(_IMMINTRIN_H_INCLUDED) || defined(__IMMINTRIN_H))
#  error "include kernels/level.hpp and <immintrin.h> first, then simd.hpp inside the level namespace"
#endif

namespace simd {

// Bytes of one vector of floating-point and of integer lanes. AVX has no 256-bit integer
// arithmetic, so level 3 keeps integers at 16 bytes.
inline constexpr int float_bytes = QOR_FLOAT_VECTOR_BYTES;
inline constexpr int int_bytes = QOR_LEVEL == 3 ? 16 : QOR_FLOAT_VECTOR_BYTES;

template <class T, int Bytes>
using vec_of [[gnu::vector_size(Bytes)]] = T;

// The level's natural vector of T, and its lane count.
template <class T>
using vec = vec_of<T, (std::is_floating_point_v<T> ? float_bytes : int_bytes)>;
template <class T>
inline constexpr int lanes = int(sizeof(vec<T>) / sizeof(T));

// Unaligned load and store through a packed wrapper: one move each, at any address.
template <class V>
struct [[gnu::packed, gnu::may_alias]] unaligned {
    V v;
};
template <class V>
inline V load(const void* p) {
    return static_cast<const unaligned<V>*>(p)->v;
}
template <class V>
inline void store(void* p, V v) {
    static_cast<unaligned<V>*>(p)->v = v;
}

// Non-temporal store of one vector to a vector-aligned address; end a run of them with fence().
template <class V>
inline void stream(void* p, V v) {
    static_assert(sizeof(V) == 16 || sizeof(V) == 32 || sizeof(V) == 64);
    if constexpr (sizeof(V) == 16) {
        _mm_stream_si128(static_cast<__m128i*>(p), (__m128i)v);
#if QOR_LEVEL >= 3
    } else if constexpr (sizeof(V) == 32) {
        _mm256_stream_si256(static_cast<__m256i*>(p), (__m256i)v);
#endif
#if QOR_LEVEL >= 5
    } else if constexpr (sizeof(V) == 64) {
        _mm512_stream_si512(static_cast<__m512i*>(p), (__m512i)v);
#endif
    }
}
inline void fence() { _mm_sfence(); }

// Elements of `elem` bytes that bring p to the next boundary of `vector` bytes: 0 when p is on
// one, or when p is not element-aligned and so never reaches one.
inline int64_t elements_to_boundary(const void* p, size_t vector, size_t elem) {
    const uintptr_t misalign = reinterpret_cast<uintptr_t>(p) & (vector - 1);
    return misalign % elem ? 0 : int64_t((vector - misalign) % vector / elem);
}

using u16 = vec<uint16_t>;

// The high 16 bits of each unsigned 16 x 16 -> 32-bit product.
inline u16 mulhi(u16 a, u16 b) {
#if QOR_LEVEL >= 5
    return reinterpret_cast<u16>(_mm512_mulhi_epu16(reinterpret_cast<__m512i>(a), reinterpret_cast<__m512i>(b)));
#elif QOR_LEVEL == 4
    return reinterpret_cast<u16>(_mm256_mulhi_epu16(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
#else
    return reinterpret_cast<u16>(_mm_mulhi_epu16(reinterpret_cast<__m128i>(a), reinterpret_cast<__m128i>(b)));
#endif
}

// a + b per lane, saturated at 65535.
inline u16 adds(u16 a, u16 b) {
#if QOR_LEVEL >= 5
    return reinterpret_cast<u16>(_mm512_adds_epu16(reinterpret_cast<__m512i>(a), reinterpret_cast<__m512i>(b)));
#elif QOR_LEVEL == 4
    return reinterpret_cast<u16>(_mm256_adds_epu16(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
#else
    return reinterpret_cast<u16>(_mm_adds_epu16(reinterpret_cast<__m128i>(a), reinterpret_cast<__m128i>(b)));
#endif
}

// Widening and narrowing between 16-bit lanes and 32-bit lanes: the low and the high half of a
// vector of 16-bit lanes each fill one vector of 32-bit lanes of the same width.
using u32 = vec_of<uint32_t, int_bytes>;
using u16_half = vec_of<uint16_t, int_bytes / 2>;

// Halves by shuffles, not through the vector's address: an addressed vector local costs the
// kernel a realigned frame.
template <size_t From, size_t... I>
inline u16_half half(u16 a, std::index_sequence<I...>) {
    return __builtin_shufflevector(a, a, (From + I)...);
}
inline constexpr size_t half_lanes = sizeof(u16_half) / sizeof(uint16_t);
inline u32 widen_low(u16 a) { return __builtin_convertvector(half<0>(a, std::make_index_sequence<half_lanes>()), u32); }
inline u32 widen_high(u16 a) {
    return __builtin_convertvector(half<half_lanes>(a, std::make_index_sequence<half_lanes>()), u32);
}
template <size_t... I>
inline u16 join(u16_half low, u16_half high, std::index_sequence<I...>) {
    return __builtin_shufflevector(low, high, I...);
}
// Keeps the low 16 bits of each lane (callers saturate first).
inline u16 narrow(u32 low, u32 high) {
    return join(__builtin_convertvector(low, u16_half), __builtin_convertvector(high, u16_half),
                std::make_index_sequence<sizeof(u16) / sizeof(uint16_t)>());
}

// ---- the element-wise driver -------------------------------------------------------------------

// An out-of-place pass whose source and destination together exceed the largest cache writes
// around the cache: the destination would only evict the working set, and non-temporal stores
// skip reading each destination line before overwriting it. When the cache size is unknown,
// assume one of this size.
inline constexpr int64_t assumed_cache = 16 * 1024 * 1024;
inline constexpr int64_t never_streamed = 1024 * 1024;  // saves the cache query on short vectors

// Whether `bytes` exceed a cache of the given size (0: unknown, assume one).
inline bool beyond_cache(int64_t bytes, int64_t cache) { return bytes > (cache > 0 ? cache : assumed_cache); }

// Whether a pass may stream, without a call (inline in every element-wise kernel): while nobody
// has asked for the cache size, a long pass goes to the out-of-line streaming path, which asks
// (worth_streaming) and hands the pass back when the answer is no.
inline bool may_stream(int64_t bytes) {
    if (bytes <= never_streamed) return false;
    const int64_t cache = cpu::largest_cache_if_known();
    return cache < 0 || beyond_cache(bytes, cache);
}

// The answer itself, in the out-of-line streaming paths: may_stream once the size is known.
inline bool worth_streaming(int64_t bytes) { return beyond_cache(bytes, cpu::largest_cache_size()); }

// A scalar head that brings dst to the vector boundary, when it can get there; returns its length.
template <class T, class ScalarOp>
inline int64_t scalar_head(const T* src, T* dst, ScalarOp sop) {
    const int64_t head = elements_to_boundary(dst, sizeof(vec<T>), sizeof(T));
    for (int64_t i = 0; i < head; ++i) dst[i] = sop(src[i]);
    return head;
}

template <class T, class VecOp, class ScalarOp>
[[gnu::always_inline]] inline int transform(const T* src, T* dst, int64_t len, VecOp vop, ScalarOp sop);

// The streaming pass of transform, kept out of line: the call that asks for the cache size and
// this loop would otherwise give every short call a full stack frame. When the answer is no, the
// pass goes back to transform, which then knows it.
template <class T, class VecOp, class ScalarOp>
[[gnu::noinline]] int transform_streamed(const T* src, T* dst, int64_t len, VecOp vop, ScalarOp sop) {
    if (!worth_streaming(2 * len * int64_t(sizeof(T)))) return transform(src, dst, len, vop, sop);
    using V = vec<T>;
    constexpr int64_t n = lanes<T>;
    int64_t i = scalar_head(src, dst, sop);
    for (; i + n <= len; i += n) stream(dst + i, vop(load<V>(src + i)));
    fence();
    for (; i < len; ++i) dst[i] = sop(src[i]);
    return 0;
}

// dst[i] = op(src[i]) for i < len, with vop for whole vectors of T and sop for single elements
// (both must compute the same function, bit for bit). A scalar head brings dst to the vector
// boundary when it can get there, a scalar tail finishes; any alignment works. src may equal dst
// (each vector is read before it is written); partial overlap may not. Returns 0, the kernels'
// success status, so that a kernel can end with it and keep the streaming pass a tail call.
// Always inlined: each kernel's short calls run it without a further jump.
template <class T, class VecOp, class ScalarOp>
[[gnu::always_inline]] inline int transform(const T* src, T* dst, int64_t len, VecOp vop, ScalarOp sop) {
    using V = vec<T>;
    constexpr int64_t n = lanes<T>;
    int64_t i = 0;
    if (len >= 2 * n) {
        if (src != dst && reinterpret_cast<uintptr_t>(dst) % sizeof(T) == 0 &&
            may_stream(2 * len * int64_t(sizeof(T))))
            return transform_streamed(src, dst, len, vop, sop);
        i = scalar_head(src, dst, sop);
        // Four vectors a pass: loads ahead of stores, so dst == src stays correct.
        for (; i + 4 * n <= len; i += 4 * n) {
            const V a = load<V>(src + i), b = load<V>(src + i + n);
            const V c = load<V>(src + i + 2 * n), d = load<V>(src + i + 3 * n);
            store(dst + i, vop(a));
            store(dst + i + n, vop(b));
            store(dst + i + 2 * n, vop(c));
            store(dst + i + 3 * n, vop(d));
        }
        for (; i + n <= len; i += n) store(dst + i, vop(load<V>(src + i)));
    }
    for (; i < len; ++i) dst[i] = sop(src[i]);
    return 0;
}

}  // namespace simd
