// A vector times or plus a constant, for 32-bit and 64-bit floats and 16-bit unsigned integers.
// Every level computes the same bits: each float element gets exactly one IEEE operation in its
// own precision, and the 16-bit results are exact integers. Neutral and absorbing constants take
// bulk copies and fills instead of arithmetic.
#include <cstdint>
#include <cstring>
#include <immintrin.h>
#include <type_traits>

#include "kernels/level.hpp"
#include "kernels/runtime/cpu.hpp"
#include "kernels/runtime/status.hpp"

namespace qor::krn::QOR_LEVEL_NS {

#include "kernels/simd.hpp"

namespace {

// An out-of-place pass whose source and destination together exceed the largest cache writes
// around the cache: the destination would only evict the working set, and non-temporal stores
// skip reading each destination line before overwriting it.
bool worth_streaming(int64_t bytes) {
    const int64_t cache = cpu::largest_cache_size();
    return cache > 0 && bytes > cache;
}

// dst[i] = op(src[i]) for i < len, with vop for whole vectors and sop for single elements (both
// must compute the same function). A scalar head brings dst to the vector boundary when it can
// get there; src may equal dst, since every vector is read before it is written.
template <class T, class VecOp, class ScalarOp>
void map(const T* src, T* dst, int64_t len, VecOp vop, ScalarOp sop) {
    using V = simd::vec<T>;
    constexpr int64_t lanes = simd::lanes<T>;
    int64_t i = 0;
    if (len >= 2 * lanes) {
        const uintptr_t misalign = reinterpret_cast<uintptr_t>(dst) & (sizeof(V) - 1);
        if (misalign != 0 && misalign % sizeof(T) == 0) {
            const int64_t head = int64_t(sizeof(V) - misalign) / int64_t(sizeof(T));
            for (; i < head; ++i) dst[i] = sop(src[i]);
        }
        if (src != dst && simd::vector_aligned<T>(dst + i) && worth_streaming(2 * len * int64_t(sizeof(T)))) {
            for (; i + lanes <= len; i += lanes) simd::stream(dst + i, vop(simd::load<V>(src + i)));
            simd::fence();
        } else {
            for (; i + 4 * lanes <= len; i += 4 * lanes) {
                const V a = simd::load<V>(src + i);
                const V b = simd::load<V>(src + i + lanes);
                const V c = simd::load<V>(src + i + 2 * lanes);
                const V d = simd::load<V>(src + i + 3 * lanes);
                simd::store(dst + i, vop(a));
                simd::store(dst + i + lanes, vop(b));
                simd::store(dst + i + 2 * lanes, vop(c));
                simd::store(dst + i + 3 * lanes, vop(d));
            }
            for (; i + lanes <= len; i += lanes) simd::store(dst + i, vop(simd::load<V>(src + i)));
        }
    }
    for (; i < len; ++i) dst[i] = sop(src[i]);
}

template <class T>
void copy(const T* src, T* dst, int len) {
    if (src != dst) std::memcpy(dst, src, size_t(len) * sizeof(T));
}

template <class T>
void zero(T* dst, int len) {
    std::memset(dst, 0, size_t(len) * sizeof(T));
}

// ---- floating point ----------------------------------------------------------------------------

// x * val or x + val, one IEEE operation per element. With two NaN operands the hardware keeps
// the payload of whichever operand the compiler happened to put first, which differs between
// levels; so a NaN constant takes a path that fixes the choice: a NaN element keeps its own
// (quieted) payload, every other element gets the constant's.
template <class T, bool Multiply>
void apply(const T* src, T val, T* dst, int len) {
    // Each operation is one generic lambda, so the vector and the single-element forms agree.
    if (val != val) {
        const auto op = [val](auto x) { return x != x ? x + x : x + val; };
        map(src, dst, len, op, op);
    } else if constexpr (Multiply) {
        const auto op = [val](auto x) { return x * val; };
        map(src, dst, len, op, op);
    } else {
        const auto op = [val](auto x) { return x + val; };
        map(src, dst, len, op, op);
    }
}

template <class T>
int mul_const(const T* src, T val, T* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (val == T(1)) {
        copy(src, dst, len);
    } else if (val == T(0)) {
        zero(dst, len);
    } else {
        apply<T, true>(src, val, dst, len);
    }
    return krn_ok;
}

template <class T>
int add_const(const T* src, T val, T* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (val == T(0)) {
        copy(src, dst, len);
    } else {
        apply<T, false>(src, val, dst, len);
    }
    return krn_ok;
}

// ---- 16-bit unsigned with a scale factor -------------------------------------------------------

// The exact result r scaled by 2^-sf, rounded to nearest with ties to even, saturated to 65535.
// r < 2^33, so 64 bits hold every intermediate.
uint16_t scale_round_saturate(uint64_t r, int sf) {
    if (sf > 0) {
        if (sf > 40) return 0;
        r = (r + (uint64_t{1} << (sf - 1)) - 1 + ((r >> sf) & 1)) >> sf;
    } else if (sf < 0) {
        if (r == 0) return 0;
        if (sf < -16) return 65535;
        r <<= -sf;
    }
    return r > 65535 ? uint16_t(65535) : uint16_t(r);
}

// The same on vectors of 32-bit lanes, for sf from -infinity to 31 (r < 2^32 here).
simd::u32 scale_round_saturate(simd::u32 r, int sf) {
    using W = simd::u32;
    const W max = W{} + 65535u;
    if (sf > 0) {
        const uint32_t half = uint32_t{1} << (sf - 1);
        const W q = r >> sf;
        const W rem = r & ((half << 1) - 1);
        // Round up when the remainder passes half, or equals it with an odd quotient.
        const W rounded = q + (W((rem + (q & 1u)) > half) & 1u);
        return rounded > max ? max : rounded;
    }
    const int k = -sf;
    const uint32_t limit = k >= 16 ? 0u : 65535u >> k;
    return r > limit ? max : r << (k >= 16 ? 16 : k);
}

// Every 16-bit map: src may equal dst.
void mul_16u(const uint16_t* src, uint16_t val, uint16_t* dst, int len, int sf) {
    using V = simd::u16;
    const V v = V{} + val;
    if (sf == 0) {
        // A product overflows 16 bits exactly when its high half is non-zero: then 65535.
        map(src, dst, len, [v](V x) { return (x * v) | V(simd::mulhi(x, v) != 0); },
            [val](uint16_t x) { return scale_round_saturate(uint64_t(x) * val, 0); });
    } else if (sf <= 31) {
        const simd::u32 w = simd::u32{} + uint32_t(val);
        const auto vop = [w, sf](V x) {
            return simd::narrow(scale_round_saturate(simd::widen_low(x) * w, sf),
                                scale_round_saturate(simd::widen_high(x) * w, sf));
        };
        map(src, dst, len, vop,
            [val, sf](uint16_t x) { return scale_round_saturate(uint64_t(x) * val, sf); });
    } else {
        for (int i = 0; i < len; ++i) dst[i] = scale_round_saturate(uint64_t(src[i]) * val, sf);
    }
}

void add_16u(const uint16_t* src, uint16_t val, uint16_t* dst, int len, int sf) {
    using V = simd::u16;
    const V v = V{} + val;
    if (sf == 0) {
        map(src, dst, len, [v](V x) { return simd::adds(x, v); },
            [val](uint16_t x) { return scale_round_saturate(uint64_t(x) + val, 0); });
    } else {
        // The callers' shortcuts leave sf < 18 here.
        const simd::u32 w = simd::u32{} + uint32_t(val);
        const auto vop = [w, sf](V x) {
            return simd::narrow(scale_round_saturate(simd::widen_low(x) + w, sf),
                                scale_round_saturate(simd::widen_high(x) + w, sf));
        };
        map(src, dst, len, vop,
            [val, sf](uint16_t x) { return scale_round_saturate(uint64_t(x) + val, sf); });
    }
}

void fill_65535(uint16_t* dst, int len) { std::memset(dst, 0xFF, size_t(len) * sizeof(uint16_t)); }

}  // namespace

// ---- the kernels -------------------------------------------------------------------------------

int krn_mul_const_32f(const float* src, float val, float* dst, int len) { return mul_const(src, val, dst, len); }
int krn_add_const_32f(const float* src, float val, float* dst, int len) { return add_const(src, val, dst, len); }
// In place, the copy shortcuts have nothing to copy.
int krn_mul_const_32f_ip(float val, float* buf, int len) { return mul_const<float>(buf, val, buf, len); }
int krn_add_const_32f_ip(float val, float* buf, int len) { return add_const<float>(buf, val, buf, len); }

int krn_mul_const_64f(const double* src, double val, double* dst, int len) { return mul_const(src, val, dst, len); }
int krn_add_const_64f(const double* src, double val, double* dst, int len) { return add_const(src, val, dst, len); }
int krn_mul_const_64f_ip(double val, double* buf, int len) { return mul_const<double>(buf, val, buf, len); }
int krn_add_const_64f_ip(double val, double* buf, int len) { return add_const<double>(buf, val, buf, len); }

// The 16-bit shortcuts (copies and fills) check their operands exactly as the general rule does,
// and give what it gives; they are only faster.
int krn_mul_const_scaled_16u(const uint16_t* src, uint16_t val, uint16_t* dst, int len, int sf) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (sf == 0 && val == 1) {
        copy(src, dst, len);
    } else if (val == 0 || sf >= 33) {
        zero(dst, len);
    } else {
        mul_16u(src, val, dst, len, sf);
    }
    return krn_ok;
}

int krn_mul_const_scaled_16u_ip(uint16_t val, uint16_t* buf, int len, int sf) {
    if (!buf) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (val == 0 || sf >= 33) {
        zero(buf, len);
    } else if (!(sf == 0 && val == 1)) {
        mul_16u(buf, val, buf, len, sf);
    }
    return krn_ok;
}

int krn_add_const_scaled_16u(const uint16_t* src, uint16_t val, uint16_t* dst, int len, int sf) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (sf > 17) {
        zero(dst, len);
    } else if (sf < -15 && val != 0) {
        fill_65535(dst, len);
    } else if (sf == 0 && val == 0) {
        copy(src, dst, len);
    } else {
        add_16u(src, val, dst, len, sf);
    }
    return krn_ok;
}

int krn_add_const_scaled_16u_ip(uint16_t val, uint16_t* buf, int len, int sf) {
    if (!buf) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (sf > 17) {
        zero(buf, len);
    } else if (sf < -15 && val != 0) {
        fill_65535(buf, len);
    } else if (!(sf == 0 && val == 0)) {
        add_16u(buf, val, buf, len, sf);
    }
    return krn_ok;
}

}  // namespace qor::krn::QOR_LEVEL_NS
