// Vector helpers of the arith and convert families. Included INSIDE qor::krn::lN, so every level
// gets its own copy at its own width (16 bytes at levels 0-2, 32 at 3-4, 64 at 5).
//
// Kernels are written once as a body over whole vectors. The ragged end of an array goes through
// the same body on a padded vector (copied in, computed, the live lanes copied out), so the last
// elements get exactly the arithmetic of the others and no scalar twin can drift from it.
#pragma once

#include "kernels/simd.hpp"

namespace {

constexpr int vector_bytes = simd::float_bytes;

typedef float vf32 __attribute__((vector_size(vector_bytes)));
typedef double vf64 __attribute__((vector_size(vector_bytes)));
typedef int32_t vi32 __attribute__((vector_size(vector_bytes)));
typedef int64_t vi64 __attribute__((vector_size(vector_bytes)));
typedef uint16_t vu16 __attribute__((vector_size(vector_bytes)));
typedef int16_t vi16 __attribute__((vector_size(vector_bytes)));
// Half-width vectors: the narrow side of a widening or narrowing conversion.
typedef uint8_t vu8h __attribute__((vector_size(vector_bytes / 2)));
typedef uint16_t vu16h __attribute__((vector_size(vector_bytes / 2)));
typedef int16_t vi16h __attribute__((vector_size(vector_bytes / 2)));

template <class V>
using lane_t = std::remove_cvref_t<decltype(std::declval<V>()[0])>;
// The vector of N bytes of T, and the vector of half the bytes of V.
template <class T, int N>
struct vec_of {
    typedef T type __attribute__((vector_size(N)));
};
template <class V>
using half_t = typename vec_of<lane_t<V>, int(sizeof(V) / 2)>::type;

#if QOR_LEVEL >= 5
// Streams beyond the first-level cache run faster in 256-bit halves on processors that split
// 512-bit stores (measured: about 12% on data in the second-level cache and beyond), while data
// in the first-level cache goes fastest at full width.
constexpr int64_t full_width_bytes = 32768;
#endif
template <class V>
constexpr int lanes = int(sizeof(V) / sizeof(lane_t<V>));

// Unaligned moves of whole vectors, typed so the lane type is checked: the shared layer's.
template <class V>
inline V load(const lane_t<V>* p) {
    return simd::load<V>(p);
}
template <class V>
inline void store(lane_t<V>* p, V v) {
    simd::store(p, v);
}
// The first n lanes from p, the rest taken from pad.
template <class V>
inline V load_part(const lane_t<V>* p, int64_t n, V pad) {
    std::memcpy(&pad, p, size_t(n) * sizeof(lane_t<V>));
    return pad;
}
template <class V>
inline void store_part(lane_t<V>* p, int64_t n, V v) {
    std::memcpy(p, &v, size_t(n) * sizeof(lane_t<V>));
}
template <class V>
inline V splat(lane_t<V> x) {
    return V{} + x;
}

// The ragged ends, out of line and reached by tail calls: their padded vectors live on an aligned
// stack frame, which the main loops then do without. The maps return 0, the kernels' success
// status, so that a kernel can end with them.
template <class VS, class VD, class Body>
[[gnu::noinline]] int map1_tail(const lane_t<VS>* src, lane_t<VD>* dst, int64_t n, Body body, lane_t<VS> pad) {
    store_part(dst, n, VD(body(load_part(src, n, splat<VS>(pad)))));
    return 0;
}
template <class V, class Body>
[[gnu::noinline]] void map2_tail(const lane_t<V>* a, const lane_t<V>* b, lane_t<V>* dst, int64_t n, Body body,
                                 lane_t<V> pad_a, lane_t<V> pad_b) {
    store_part(dst, n, V(body(load_part(a, n, splat<V>(pad_a)), load_part(b, n, splat<V>(pad_b)))));
}

// dst[i] = body(src[i]) over n elements, vector by vector; the tail on a vector padded with pad.
// dst may equal src: every vector is read before it is written. The body is generic: at the top
// level it also runs on half-width vectors.
template <class VS, class VD, class Body>
inline int map1_at(const lane_t<VS>* src, lane_t<VD>* dst, int64_t n, Body body, lane_t<VS> pad) {
    static_assert(lanes<VS> == lanes<VD>);
    constexpr int L = lanes<VS>;
    int64_t i = 0;
    for (; i + 2 * L <= n; i += 2 * L) {  // two vectors a pass: half the loop overhead on short arrays
        const VD a = body(load<VS>(src + i)), b = body(load<VS>(src + i + L));
        store(dst + i, a);
        store(dst + i + L, b);
    }
    if (i + L <= n) {
        store(dst + i, VD(body(load<VS>(src + i))));
        i += L;
    }
    if (i < n) return map1_tail<VS, VD>(src + i, dst + i, n - i, body, pad);
    return 0;
}

// Elements, at most n, that bring dst to its vector boundary.
template <class V>
inline int64_t head_to_boundary(const lane_t<V>* dst, int64_t n) {
    const int64_t to_boundary = simd::elements_to_boundary(dst, sizeof(V), sizeof(lane_t<V>));
    return to_boundary < n ? to_boundary : n;
}

// The map with ordinary stores, for kernels whose choice of stores is made elsewhere.
template <class VS, class VD, class Body>
inline int map1_cached(const lane_t<VS>* src, lane_t<VD>* dst, int64_t n, Body body, lane_t<VS> pad = 0) {
#if QOR_LEVEL >= 5
    if (n * int64_t(sizeof(lane_t<VS>) + sizeof(lane_t<VD>)) > full_width_bytes)
        return map1_at<half_t<VS>, half_t<VD>>(src, dst, n, body, pad);
#endif
    return map1_at<VS, VD>(src, dst, n, body, pad);
}

// The same map writing around the cache: a head brings dst to its vector boundary (through the
// same body, so the bits do not change), whole vectors go out as non-temporal stores.
template <class VS, class VD, class Body>
[[gnu::noinline]] int map1_streamed(const lane_t<VS>* src, lane_t<VD>* dst, int64_t n, Body body, lane_t<VS> pad) {
    constexpr int L = lanes<VS>;
    const int64_t head = head_to_boundary<VD>(dst, n);
    map1_at<VS, VD>(src, dst, head, body, pad);
    int64_t i = head;
    for (; i + L <= n; i += L) simd::stream(dst + i, VD(body(load<VS>(src + i))));
    simd::fence();
    if (i < n) return map1_tail<VS, VD>(src + i, dst + i, n - i, body, pad);
    return 0;
}

// Out of line, where the cache size may be asked for the first time (outside map1_streamed,
// which also serves the row widening, whose stores are chosen by its own rule).
template <class VS, class VD, class Body>
[[gnu::noinline]] int map1_decided(const lane_t<VS>* src, lane_t<VD>* dst, int64_t n, Body body, lane_t<VS> pad) {
    if (simd::worth_streaming(n * int64_t(sizeof(lane_t<VS>) + sizeof(lane_t<VD>))))
        return map1_streamed<VS, VD>(src, dst, n, body, pad);
    return map1_cached<VS, VD>(src, dst, n, body, pad);
}

template <class VS, class VD, class Body>
inline int map1(const lane_t<VS>* src, lane_t<VD>* dst, int64_t n, Body body, lane_t<VS> pad = 0) {
    // Out of place and beyond the largest cache, the destination would only evict the working set
    // and cost a read of every line before it is written.
    if constexpr (sizeof(VD) >= 16) {
        if (static_cast<const void*>(src) != static_cast<const void*>(dst) &&
            reinterpret_cast<uintptr_t>(dst) % sizeof(lane_t<VD>) == 0 &&
            simd::may_stream(n * int64_t(sizeof(lane_t<VS>) + sizeof(lane_t<VD>))))
            return map1_decided<VS, VD>(src, dst, n, body, pad);
    }
    return map1_cached<VS, VD>(src, dst, n, body, pad);
}

// dst[i] = body(a[i], b[i]); pads chosen by the caller so the padding lanes stay harmless.
template <class V, class Body>
inline void map2_at(const lane_t<V>* a, const lane_t<V>* b, lane_t<V>* dst, int64_t n, Body body, lane_t<V> pad_a,
                    lane_t<V> pad_b) {
    constexpr int L = lanes<V>;
    int64_t i = 0;
    for (; i + 2 * L <= n; i += 2 * L) {
        const V x = body(load<V>(a + i), load<V>(b + i)), y = body(load<V>(a + i + L), load<V>(b + i + L));
        store(dst + i, x);
        store(dst + i + L, y);
    }
    for (; i + L <= n; i += L) store(dst + i, V(body(load<V>(a + i), load<V>(b + i))));
    if (i < n) map2_tail<V>(a + i, b + i, dst + i, n - i, body, pad_a, pad_b);
}

template <class V, class Body>
[[gnu::noinline]] void map2_streamed(const lane_t<V>* a, const lane_t<V>* b, lane_t<V>* dst, int64_t n, Body body,
                                     lane_t<V> pad_a, lane_t<V> pad_b) {
    if (!simd::worth_streaming(n * int64_t(3 * sizeof(lane_t<V>)))) return map2_at<V>(a, b, dst, n, body, pad_a, pad_b);
    constexpr int L = lanes<V>;
    const int64_t head = head_to_boundary<V>(dst, n);
    map2_at<V>(a, b, dst, head, body, pad_a, pad_b);
    int64_t i = head;
    for (; i + L <= n; i += L) simd::stream(dst + i, V(body(load<V>(a + i), load<V>(b + i))));
    simd::fence();
    if (i < n) map2_tail<V>(a + i, b + i, dst + i, n - i, body, pad_a, pad_b);
}

// Streams out of place beyond the largest cache, as map1 does. (Its one user, the division, is
// bound by the divider, not the stores: in the caches it stays at full width.)
template <class V, class Body>
inline void map2(const lane_t<V>* a, const lane_t<V>* b, lane_t<V>* dst, int64_t n, Body body, lane_t<V> pad_a,
                 lane_t<V> pad_b) {
    if (dst != a && dst != b && reinterpret_cast<uintptr_t>(dst) % sizeof(lane_t<V>) == 0 &&
        simd::may_stream(n * int64_t(3 * sizeof(lane_t<V>))))
        return map2_streamed<V>(a, b, dst, n, body, pad_a, pad_b);
    map2_at<V>(a, b, dst, n, body, pad_a, pad_b);
}

template <class M>
inline bool any_lane(M m) {
    uint64_t words[sizeof(M) / 8];
    std::memcpy(words, &m, sizeof m);
    uint64_t acc = 0;
    for (uint64_t w : words) acc |= w;
    return acc != 0;
}

// v with its lanes rotated down by K (lane k takes lane k + K, wrapping): constant indices, so
// every compiler emits one shuffle.
template <int K, class V, size_t... I>
inline V rotate_lanes(V v, std::index_sequence<I...>) {
    return __builtin_shufflevector(v, v, ((I + K) % sizeof...(I))...);
}

// Folds the lanes of v pairwise with f (a lane-wise min or max), halving the distance each time.
template <class V, class F>
inline lane_t<V> fold_lanes(V v, F f) {
    constexpr int L = lanes<V>;
    using order = std::make_index_sequence<L>;
    if constexpr (L >= 32) v = f(v, rotate_lanes<16>(v, order{}));
    if constexpr (L >= 16) v = f(v, rotate_lanes<8>(v, order{}));
    if constexpr (L >= 8) v = f(v, rotate_lanes<4>(v, order{}));
    if constexpr (L >= 4) v = f(v, rotate_lanes<2>(v, order{}));
    if constexpr (L >= 2) v = f(v, rotate_lanes<1>(v, order{}));
    return v[0];
}

}  // namespace
