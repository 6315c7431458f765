// Division, square, copy and extrema. Every variant gives the same bits at every level:
// - division is the correctly rounded IEEE quotient (a full-width divide, no reciprocal
//   estimate); a -0 divisor gives the IEEE sign (x / -0 = -x / +0); every NaN quotient (0/0,
//   inf/inf, a NaN operand) is the positive quiet NaN (0x7FC00000 / 0x7FF8000000000000);
// - the 32-bit extrema ignore NaN elements (all NaN: both results the positive quiet NaN) and
//   order -0 below +0, so they do not depend on where an element stands.
#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "kernels/level.hpp"
#include "kernels/runtime/cpu.hpp"
#include "kernels/runtime/status.hpp"

namespace qor::krn::QOR_LEVEL_NS {

#include "kernels/arith_detail.hpp"

namespace {

// The comparison result of V: signed integers of V's lane size.
template <class V>
using mask_t = typename vec_of<std::conditional_t<sizeof(lane_t<V>) == 4, int32_t, int64_t>, int(sizeof(V))>::type;

// Whether a vector of quotients may hold a NaN or an infinity, the only quotients of a zero
// divisor and the only ones to fix. At level 5 one classification answers it, so a vector of
// ordinary quotients costs the divide alone: every other vector operation in the loop took
// divider throughput (about 4%). Elsewhere the checks simply always run.
template <class V>
inline bool may_be_special([[maybe_unused]] V q) {
#if QOR_LEVEL >= 5
    constexpr int nan_or_inf = 0x01 | 0x08 | 0x10 | 0x80;  // quiet NaN, +inf, -inf, signalling NaN
    if constexpr (sizeof(V) == 64 && sizeof(lane_t<V>) == 4)
        return _mm512_fpclass_ps_mask(__m512(q), nan_or_inf) != 0;
    if constexpr (sizeof(V) == 64 && sizeof(lane_t<V>) == 8)
        return _mm512_fpclass_pd_mask(__m512d(q), nan_or_inf) != 0;
#endif
    return true;
}

template <class V>
int divide(const lane_t<V>* divisor, const lane_t<V>* dividend, lane_t<V>* dst, int len) {
    using T = lane_t<V>;
    if (!divisor || !dividend || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    mask_t<V> zero_seen{};
    // Hardware division already gives the IEEE infinities for a zero divisor. Every NaN result
    // becomes the one quiet NaN, so neither the processor's default NaN nor its choice between
    // two NaN operands shows through.
    map2<V>(
        divisor, dividend, dst, len,
        [&](V d, V x) {
            const V q = x / d;
            if (!may_be_special(q)) return q;
            zero_seen |= d == 0;
            return q != q ? splat<V>(std::numeric_limits<T>::quiet_NaN()) : q;
        },
        T(1), T(0));
    return any_lane(zero_seen) ? krn_warn_div_zero : krn_ok;
}

template <class V>
int square(const lane_t<V>* src, lane_t<V>* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    return map1<V, V>(src, dst, len, [](auto x) { return x * x; });
}

// x^2 scaled by 2^-sf, rounded to nearest with ties to even, saturated to 0..65535.
uint16_t scaled_square(uint32_t x, int sf) {
    const uint64_t r = uint64_t(x) * x;
    uint64_t v;
    if (sf > 0) {
        if (sf >= 33) return 0;  // r < 2^32: the scaled value is below one half
        v = (r + (uint64_t(1) << (sf - 1)) - 1 + ((r >> sf) & 1)) >> sf;
    } else {
        v = (r == 0 || -int64_t(sf) < 16) ? (r << -sf) : 65536;
    }
    return uint16_t(v > 65535 ? 65535 : v);
}

template <class T>
int copy(const T* src, T* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    // A host may copy between overlapping runs of one array: moving keeps that defined.
    std::memmove(dst, src, size_t(len) * sizeof(T));
    return krn_ok;
}

// Order-preserving integer keys of float bits: -inf < ... < -0 < +0 < ... < +inf. The map is
// its own inverse.
inline vi32 order_key(vi32 bits) { return bits ^ ((bits >> 31) & 0x7FFFFFFF); }

}  // namespace

int krn_div_32f(const float* src1, const float* src2, float* dst, int len) {
    return divide<vf32>(src1, src2, dst, len);
}
int krn_div_64f(const double* src1, const double* src2, double* dst, int len) {
    return divide<vf64>(src1, src2, dst, len);
}
int krn_div_32f_ip(const float* src, float* srcdst, int len) { return divide<vf32>(src, srcdst, srcdst, len); }
int krn_div_64f_ip(const double* src, double* srcdst, int len) { return divide<vf64>(src, srcdst, srcdst, len); }

int krn_sqr_32f(const float* src, float* dst, int len) { return square<vf32>(src, dst, len); }
int krn_sqr_64f(const double* src, double* dst, int len) { return square<vf64>(src, dst, len); }

int krn_sqr_scaled_16u(const uint16_t* src, uint16_t* dst, int len, int sf) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (sf == 0) {
        // 255^2 = 65025 is the largest square that fits; the low 16 bits of larger ones are discarded.
        return map1<vu16, vu16>(src, dst, len, [](auto x) { return x > 255 ? uint16_t(65535) : x * x; });
    }
    for (int i = 0; i < len; ++i) dst[i] = scaled_square(src[i], sf);
    return krn_ok;
}

int krn_copy_16s(const int16_t* src, int16_t* dst, int len) { return copy(src, dst, len); }
int krn_copy_32f(const float* src, float* dst, int len) { return copy(src, dst, len); }
int krn_copy_64f(const double* src, double* dst, int len) { return copy(src, dst, len); }

int krn_min_max_16u(const uint16_t* src, int len, uint16_t* min, uint16_t* max) {
    if (!src || !min || !max) return krn_err_null;
    if (len < 1) return krn_err_size;
    constexpr int L = lanes<vu16>;
    vu16 lo = splat<vu16>(65535), hi{}, lo1 = lo, hi1 = hi;
    const auto step = [](vu16& lo, vu16& hi, vu16 x) {
        lo = x < lo ? x : lo;
        hi = x > hi ? x : hi;
    };
    int64_t i = 0;
    for (; i + 2 * L <= len; i += 2 * L) {  // two accumulator pairs keep more loads in flight
        step(lo, hi, load<vu16>(src + i));
        step(lo1, hi1, load<vu16>(src + i + L));
    }
    lo = lo1 < lo ? lo1 : lo;
    hi = hi1 > hi ? hi1 : hi;
    for (; i + L <= len; i += L) step(lo, hi, load<vu16>(src + i));
    if (i < len) step(lo, hi, load_part(src + i, len - i, splat<vu16>(src[0])));  // padded with an element
    *min = fold_lanes(lo, [](vu16 a, vu16 b) { return a < b ? a : b; });
    *max = fold_lanes(hi, [](vu16 a, vu16 b) { return a > b ? a : b; });
    return krn_ok;
}

int krn_min_max_32f(const float* src, int len, float* min, float* max) {
    if (!src || !min || !max) return krn_err_null;
    if (len < 1) return krn_err_size;
#if QOR_LEVEL >= 5
    // The range instruction orders -0 below +0 by itself; NaN lanes (and lanes past the end) are
    // masked out, so the accumulators start at +inf and -inf and stay crossed only when every
    // element is a NaN.
    constexpr int range_min = 0x04, range_max = 0x05;  // select min / max, sign from the comparison
    // The order is total and NaNs drop out, so the result is the same however elements are grouped:
    // two accumulator pairs keep the range instruction's latency out of the loop.
    const __m512 none_lo = _mm512_set1_ps(__builtin_inff()), none_hi = _mm512_set1_ps(-__builtin_inff());
    auto step = [](__m512& lo, __m512& hi, __mmask16 live, __m512 x) __attribute__((always_inline)) {
        const __mmask16 ordered = _mm512_mask_cmp_ps_mask(live, x, x, _CMP_ORD_Q);
        lo = _mm512_mask_range_ps(lo, ordered, lo, x, range_min);
        hi = _mm512_mask_range_ps(hi, ordered, hi, x, range_max);
    };
    __m512 lo = none_lo, hi = none_hi, lo1 = none_lo, hi1 = none_hi;
    int i = 0;
    // Blocks first go without the NaN test, which would be a third vector op beside the two ranges:
    // a NaN then sticks in an accumulator, and only a block that leaves one is walked again with it.
    constexpr int block = 2048;
    while (len - i >= 32) {
        const int whole = (len - i) & ~31;
        const int end = i + (whole < block ? whole : block);
        __m512 l0 = lo, h0 = hi, l1 = lo1, h1 = hi1;
        for (int j = i; j < end; j += 32) {
            const __m512 x0 = _mm512_loadu_ps(src + j), x1 = _mm512_loadu_ps(src + j + 16);
            l0 = _mm512_range_ps(l0, x0, range_min);
            h0 = _mm512_range_ps(h0, x0, range_max);
            l1 = _mm512_range_ps(l1, x1, range_min);
            h1 = _mm512_range_ps(h1, x1, range_max);
        }
        if ((_mm512_cmp_ps_mask(l0, h0, _CMP_UNORD_Q) | _mm512_cmp_ps_mask(l1, h1, _CMP_UNORD_Q)) == 0) {
            lo = l0, hi = h0, lo1 = l1, hi1 = h1;
        } else {
            for (int j = i; j < end; j += 32) {
                step(lo, hi, 0xFFFF, _mm512_loadu_ps(src + j));
                step(lo1, hi1, 0xFFFF, _mm512_loadu_ps(src + j + 16));
            }
        }
        i = end;
    }
    for (; i + 16 <= len; i += 16) step(lo, hi, 0xFFFF, _mm512_loadu_ps(src + i));
    if (i < len) {
        const __mmask16 live = __mmask16((1u << (len - i)) - 1);
        step(lo, hi, live, _mm512_maskz_loadu_ps(live, src + i));
    }
    lo = _mm512_range_ps(lo, lo1, range_min);
    hi = _mm512_range_ps(hi, hi1, range_max);
    const float mn =
        fold_lanes(vf32(lo), [](vf32 a, vf32 b) { return vf32(_mm512_range_ps(__m512(a), __m512(b), range_min)); });
    const float mx =
        fold_lanes(vf32(hi), [](vf32 a, vf32 b) { return vf32(_mm512_range_ps(__m512(a), __m512(b), range_max)); });
    if (mn > mx) {
        *min = *max = std::numeric_limits<float>::quiet_NaN();
    } else {
        *min = mn;
        *max = mx;
    }
    return krn_ok;
#else
    constexpr int L = lanes<vi32>;
    constexpr int32_t none_lo = std::numeric_limits<int32_t>::max();  // no float's key: a NaN's
    constexpr int32_t none_hi = std::numeric_limits<int32_t>::min();
    const auto* bits = reinterpret_cast<const int32_t*>(src);
    vi32 lo = splat<vi32>(none_lo), hi = splat<vi32>(none_hi);
    auto step = [&](vi32 b) {
        const vi32 key = order_key(b);
        const vi32 nan = (b & 0x7FFFFFFF) > 0x7F800000;
        const vi32 for_lo = nan ? none_lo : key;
        const vi32 for_hi = nan ? none_hi : key;
        lo = for_lo < lo ? for_lo : lo;
        hi = for_hi > hi ? for_hi : hi;
    };
    int i = 0;
    for (; i + L <= len; i += L) step(load<vi32>(bits + i));
    if (i < len) step(load_part(bits + i, len - i, splat<vi32>(bits[0])));
    const int32_t mn = fold_lanes(lo, [](vi32 a, vi32 b) { return a < b ? a : b; });
    const int32_t mx = fold_lanes(hi, [](vi32 a, vi32 b) { return a > b ? a : b; });
    if (mn == none_lo) {  // every element a NaN
        *min = *max = std::numeric_limits<float>::quiet_NaN();
        return krn_ok;
    }
    const vi32 out = order_key(vi32{mn, mx});
    const int32_t out_min = out[0], out_max = out[1];  // lanes have no address in every compiler
    std::memcpy(min, &out_min, sizeof(float));
    std::memcpy(max, &out_max, sizeof(float));
    return krn_ok;
#endif
}

}  // namespace qor::krn::QOR_LEVEL_NS
