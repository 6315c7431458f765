// Vector helpers of the arith and convert families. Included INSIDE qor::krn::lN, so every level
// gets its own copy at its own width (16 bytes at levels 0-2, 32 at 3-4, 64 at 5).
//
// Kernels are written once as a body over whole vectors. The ragged end of an array goes through
// the same body on a padded vector (copied in, computed, the live lanes copied out), so the last
// elements get exactly the arithmetic of the others and no scalar twin can drift from it.
#pragma once

namespace {

#if QOR_LEVEL >= 5
constexpr int vector_bytes = 64;
#elif QOR_LEVEL >= 3
constexpr int vector_bytes = 32;
#else
constexpr int vector_bytes = 16;
#endif

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
template <class V>
constexpr int lanes = int(sizeof(V) / sizeof(lane_t<V>));

template <class V>
inline V load(const lane_t<V>* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class V>
inline void store(lane_t<V>* p, V v) {
    std::memcpy(p, &v, sizeof v);
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

// dst[i] = body(src[i]) over n elements, vector by vector; the tail on a vector padded with pad.
// dst may equal src: every vector is read before it is written.
template <class VS, class VD, class Body>
inline void map1(const lane_t<VS>* src, lane_t<VD>* dst, int64_t n, Body body, VS pad = VS{}) {
    static_assert(lanes<VS> == lanes<VD>);
    constexpr int L = lanes<VS>;
    int64_t i = 0;
    for (; i + L <= n; i += L) store(dst + i, body(load<VS>(src + i)));
    if (i < n) store_part(dst + i, n - i, body(load_part(src + i, n - i, pad)));
}

// dst[i] = body(a[i], b[i]); pads chosen by the caller so the padding lanes stay harmless.
template <class V, class Body>
inline void map2(const lane_t<V>* a, const lane_t<V>* b, lane_t<V>* dst, int64_t n, Body body, V pad_a, V pad_b) {
    constexpr int L = lanes<V>;
    int64_t i = 0;
    for (; i + L <= n; i += L) store(dst + i, body(load<V>(a + i), load<V>(b + i)));
    if (i < n) store_part(dst + i, n - i, body(load_part(a + i, n - i, pad_a), load_part(b + i, n - i, pad_b)));
}

template <class M>
inline bool any_lane(M m) {
    lane_t<M> acc = 0;
    for (int k = 0; k < lanes<M>; ++k) acc |= m[k];
    return acc != 0;
}

}  // namespace
