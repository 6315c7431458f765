// A vector times or plus a constant, for 32-bit and 64-bit floats and 16-bit unsigned integers.
// Every level computes the same bits: each float element gets exactly one IEEE operation in its
// own precision, and the 16-bit results are exact integers. Neutral and absorbing constants take
// bulk copies and fills instead of arithmetic.
#include <cstdint>
#include <cstring>
#include <immintrin.h>
#include <type_traits>
#include <utility>

#include "kernels/level.hpp"
#include "kernels/runtime/cpu.hpp"
#include "kernels/runtime/status.hpp"

namespace qor::krn::QOR_LEVEL_NS {

#include "kernels/simd.hpp"

namespace {

// Every path of a kernel ends in a tail call or in no call at all: a call that the kernel returns
// from would give it a realigned vector frame and saved registers on every call, long or short.
// So the bulk moves and the two-step paths are out of line and give the status themselves.
template <class T>
[[gnu::noinline]] int copy(const T* src, T* dst, int len) {
    if (src != dst) std::memcpy(dst, src, size_t(len) * sizeof(T));
    return krn_ok;
}

template <class T>
[[gnu::noinline]] int zero(T* dst, int len) {
    std::memset(dst, 0, size_t(len) * sizeof(T));
    return krn_ok;
}

// ---- floating point ----------------------------------------------------------------------------

// Calls then(op) with op(x) = x * val or x + val, one IEEE operation per element, for scalars and
// vectors alike. With two NaN operands the hardware keeps the payload of whichever operand the
// compiler happened to put first, which differs between levels; so a NaN constant gets an
// operation that fixes the choice: a NaN element keeps its own (quieted) payload, every other
// element gets the constant's.
template <bool Multiply, class T, class Then>
int with_operation(T val, Then&& then) {
    if (val != val) return then([val](auto x) { return x != x ? x + x : x + val; });
    if constexpr (Multiply) {
        return then([val](auto x) { return x * val; });
    } else {
        return then([val](auto x) { return x + val; });
    }
}

template <class T, bool Multiply>
int apply(const T* src, T val, T* dst, int len) {
    return with_operation<Multiply>(val, [&](auto op) { return simd::transform(src, dst, len, op, op); });
}

template <class T>
int mul_const(const T* src, T val, T* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (val == T(1)) return copy(src, dst, len);
    if (val == T(0)) return zero(dst, len);
    return apply<T, true>(src, val, dst, len);
}

template <class T>
int add_const(const T* src, T val, T* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (val == T(0)) return copy(src, dst, len);
    return apply<T, false>(src, val, dst, len);
}

template <class T>
[[gnu::noinline]] int mul_then_add(const T* src, T mul, T add, T* dst, int len) {
    mul_const(src, mul, dst, len);
    return add_const<T>(dst, add, dst, len);
}

// Multiply, then add, in one pass: exactly what the two kernels give one after the other, with
// each operation rounded, and the shortcuts of both kept.
template <class T>
int mul_add_const(const T* src, T mul, T add, T* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (mul == T(1) || mul == T(0) || add == T(0)) return mul_then_add(src, mul, add, dst, len);
    return with_operation<true>(mul, [&](auto m) {
        return with_operation<false>(add, [&](auto a) {
            const auto op = [m, a](auto x) { return a(m(x)); };
            return simd::transform(src, dst, len, op, op);
        });
    });
}

// ---- 16-bit unsigned with a scale factor -------------------------------------------------------

// The exact result r scaled by 2^-sf, rounded to nearest with ties to even, saturated to 65535.
// r < 2^33, so 64 bits hold every intermediate.
[[gnu::always_inline]] inline uint16_t scale_round_saturate(uint64_t r, int sf) {
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

// The same on vectors of 32-bit lanes, for sf from -infinity to 31 (r < 2^32 here): Down for
// sf > 0, else sf < 0. The constants are prepared once, outside the loops.
template <bool Down>
struct vector_scale {
    uint32_t shift, half, mask, limit;
    explicit vector_scale(int sf) {
        if constexpr (Down) {
            shift = uint32_t(sf);
            half = uint32_t{1} << (sf - 1);
            mask = (half << 1) - 1;
            limit = 0;
        } else {
            shift = -sf >= 16 ? 16u : uint32_t(-sf);
            limit = -sf >= 16 ? 0u : 65535u >> -sf;  // above it, r << -sf saturates
            half = mask = 0;
        }
    }
    [[gnu::always_inline]] simd::u32 operator()(simd::u32 r) const {
        using W = simd::u32;
        const W max = W{} + 65535u;
        if constexpr (Down) {
            const W q = r >> shift;
            // Round up when the remainder passes half, or equals it with an odd quotient.
            const W rounded = q + (W(((r & mask) + (q & 1u)) > half) & 1u);
            return rounded > max ? max : rounded;
        } else {
            return r > limit ? max : r << shift;
        }
    }
};

// Calls then(scale) with the vector scaler of sf (-infinity..31, not 0).
template <class Then>
int with_vector_scale(int sf, Then&& then) {
    if (sf > 0) return then(vector_scale<true>(sf));
    return then(vector_scale<false>(sf));
}

// The sf = 0 products and sums: saturated, never rounded. A product overflows 16 bits exactly
// when its high half is non-zero.
simd::u16 mul_saturated(simd::u16 x, simd::u16 v) { return (x * v) | simd::u16(simd::mulhi(x, v) != 0); }
uint16_t mul_saturated(uint16_t x, uint16_t v) { return scale_round_saturate(uint64_t(x) * v, 0); }
simd::u16 add_saturated(simd::u16 x, simd::u16 v) { return simd::adds(x, v); }
uint16_t add_saturated(uint16_t x, uint16_t v) { return scale_round_saturate(uint64_t(x) + v, 0); }

// Every 16-bit map: src may equal dst.
int mul_16u(const uint16_t* src, uint16_t val, uint16_t* dst, int len, int sf) {
    using V = simd::u16;
    if (sf == 0) {
        return simd::transform(src, dst, len, [val](V x) { return mul_saturated(x, V{} + val); },
                               [val](uint16_t x) { return mul_saturated(x, val); });
    }
    if (sf <= 31) {
        return with_vector_scale(sf, [&](auto scale) {
            const auto vop = [val, scale](V x) {
                const simd::u32 w = simd::u32{} + uint32_t(val);
                return simd::narrow(scale(simd::widen_low(x) * w), scale(simd::widen_high(x) * w));
            };
            return simd::transform(src, dst, len, vop, [val, sf](uint16_t x) { return scale_round_saturate(uint64_t(x) * val, sf); });
        });
    }
    for (int i = 0; i < len; ++i) dst[i] = scale_round_saturate(uint64_t(src[i]) * val, sf);
    return krn_ok;
}

int add_16u(const uint16_t* src, uint16_t val, uint16_t* dst, int len, int sf) {
    using V = simd::u16;
    if (sf == 0) {
        return simd::transform(src, dst, len, [val](V x) { return add_saturated(x, V{} + val); },
                               [val](uint16_t x) { return add_saturated(x, val); });
    }
    // The callers' shortcuts leave sf < 18 here.
    return with_vector_scale(sf, [&](auto scale) {
        const auto vop = [val, scale](V x) {
            const simd::u32 w = simd::u32{} + uint32_t(val);
            return simd::narrow(scale(simd::widen_low(x) + w), scale(simd::widen_high(x) + w));
        };
        return simd::transform(src, dst, len, vop, [val, sf](uint16_t x) { return scale_round_saturate(uint64_t(x) + val, sf); });
    });
}

[[gnu::noinline]] int fill_65535(uint16_t* dst, int len) {
    std::memset(dst, 0xFF, size_t(len) * sizeof(uint16_t));
    return krn_ok;
}

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

int krn_mul_add_const_32f(const float* src, float mul, float add, float* dst, int len) {
    return mul_add_const(src, mul, add, dst, len);
}
int krn_mul_add_const_64f(const double* src, double mul, double add, double* dst, int len) {
    return mul_add_const(src, mul, add, dst, len);
}

// The 16-bit shortcuts (copies and fills) check their operands exactly as the general rule does,
// and give what it gives; they are only faster.
int krn_mul_const_scaled_16u(const uint16_t* src, uint16_t val, uint16_t* dst, int len, int sf) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (sf == 0 && val == 1) return copy(src, dst, len);
    if (val == 0 || sf >= 33) return zero(dst, len);
    return mul_16u(src, val, dst, len, sf);
}

int krn_mul_const_scaled_16u_ip(uint16_t val, uint16_t* buf, int len, int sf) {
    if (!buf) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (val == 0 || sf >= 33) return zero(buf, len);
    if (sf == 0 && val == 1) return krn_ok;
    return mul_16u(buf, val, buf, len, sf);
}

int krn_add_const_scaled_16u(const uint16_t* src, uint16_t val, uint16_t* dst, int len, int sf) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (sf > 17) return zero(dst, len);
    if (sf < -15 && val != 0) return fill_65535(dst, len);
    if (sf == 0 && val == 0) return copy(src, dst, len);
    return add_16u(src, val, dst, len, sf);
}

int krn_add_const_scaled_16u_ip(uint16_t val, uint16_t* buf, int len, int sf) {
    if (!buf) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (sf > 17) return zero(buf, len);
    if (sf < -15 && val != 0) return fill_65535(buf, len);
    if (sf == 0 && val == 0) return krn_ok;
    return add_16u(buf, val, buf, len, sf);
}

namespace {
[[gnu::noinline]] int mul_then_add_16u(const uint16_t* src, uint16_t mul, uint16_t add, uint16_t* dst, int len, int sf) {
    krn_mul_const_scaled_16u(src, mul, dst, len, sf);
    return krn_add_const_scaled_16u_ip(add, dst, len, sf);
}
}  // namespace

// Multiply, then add, in one pass where both steps do arithmetic; otherwise the two kernels.
int krn_mul_add_const_scaled_16u(const uint16_t* src, uint16_t mul, uint16_t add, uint16_t* dst, int len, int sf) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (sf != 0 || mul <= 1 || add == 0) return mul_then_add_16u(src, mul, add, dst, len, sf);
    using V = simd::u16;
    return simd::transform(src, dst, len, [mul, add](V x) { return add_saturated(mul_saturated(x, V{} + mul), V{} + add); },
                           [mul, add](uint16_t x) { return add_saturated(mul_saturated(x, mul), add); });
}

}  // namespace qor::krn::QOR_LEVEL_NS
