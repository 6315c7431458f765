// Logarithm kernels: ln, log10 and ln(1 + x) in single and double precision.
//
// The main loop computes whole vectors and flags the lanes that are not positive normal finite
// values (or, for log1p, not above -1); those lanes are redone one by one in index order, which
// also yields the report of the last out-of-domain element. The tail runs through the same
// vector code on a padded copy, so every element of every level takes the same operations.
#include <cstdint>
#include <cstring>
#include <immintrin.h>
#include <type_traits>
#include <utility>

#include "kernels/level.hpp"
#include "kernels/runtime/status.hpp"

namespace qor::krn::QOR_LEVEL_NS {
namespace {

#include "kernels/logs_detail.hpp"

// ---- single precision: the reference reduction around 2/3 and 4/3 ----------------------------

// Two blocks in lockstep: each operation is applied to both, and an empty asm ties the pair after
// it, so the two blocks' dependency chains interleave in the instruction stream. The operations
// and their order per lane are unchanged; the out-of-order window just holds twice the
// independent work (the single chain is latency-bound: its window fills before its pipes do).
// The float and int vectors of the same lane count as a given vector.
template <class V>
using vf_of = typename lanes<int(sizeof(V) / 4)>::f;
template <class V>
using vi_of = typename lanes<int(sizeof(V) / 4)>::i;

template <class V>
struct lockstep {
    V a, b;
};
template <class V>
[[gnu::always_inline]] inline lockstep<V> tie(lockstep<V> r) {
    __asm__("" : "+v"(r.a), "+v"(r.b));
    return r;
}
#define QOR_LOCKSTEP_OP(op)                                                                           \
    template <class V>                                                                                \
    [[gnu::always_inline]] inline lockstep<V> operator op(lockstep<V> x, lockstep<V> y) {             \
        return tie(lockstep<V>{x.a op y.a, x.b op y.b});                                              \
    }                                                                                                 \
    template <class V, class S>                                                                       \
    [[gnu::always_inline]] inline lockstep<V> operator op(lockstep<V> x, S y) {                       \
        return tie(lockstep<V>{x.a op y, x.b op y});                                                  \
    }                                                                                                 \
    template <class V, class S>                                                                       \
    [[gnu::always_inline]] inline lockstep<V> operator op(S x, lockstep<V> y) {                       \
        return tie(lockstep<V>{x op y.a, x op y.b});                                                  \
    }
QOR_LOCKSTEP_OP(+)
QOR_LOCKSTEP_OP(-)
QOR_LOCKSTEP_OP(*)
QOR_LOCKSTEP_OP(&)
QOR_LOCKSTEP_OP(>>)
#undef QOR_LOCKSTEP_OP

// Four blocks the same way, for the single-precision cores whose chains are long for their few
// operations.
template <class V>
struct quad {
    V a, b, c, d;
};
template <class V>
[[gnu::always_inline]] inline quad<V> tie(quad<V> r) {
    __asm__("" : "+v"(r.a), "+v"(r.b), "+v"(r.c), "+v"(r.d));
    return r;
}
#define QOR_QUAD_OP(op)                                                                               \
    template <class V>                                                                                \
    [[gnu::always_inline]] inline quad<V> operator op(quad<V> x, quad<V> y) {                         \
        return tie(quad<V>{x.a op y.a, x.b op y.b, x.c op y.c, x.d op y.d});                          \
    }                                                                                                 \
    template <class V, class S>                                                                       \
    [[gnu::always_inline]] inline quad<V> operator op(quad<V> x, S y) {                               \
        return tie(quad<V>{x.a op y, x.b op y, x.c op y, x.d op y});                                  \
    }                                                                                                 \
    template <class V, class S>                                                                       \
    [[gnu::always_inline]] inline quad<V> operator op(S x, quad<V> y) {                               \
        return tie(quad<V>{x op y.a, x op y.b, x op y.c, x op y.d});                                  \
    }
QOR_QUAD_OP(+)
QOR_QUAD_OP(-)
QOR_QUAD_OP(*)
QOR_QUAD_OP(&)
#undef QOR_QUAD_OP

template <class F>
struct int_of {
    using type = vi_of<F>;
};
template <class F>
struct int_of<lockstep<F>> {
    using type = lockstep<vi_of<F>>;
};
template <class I>
struct float_of {
    using type = vf_of<I>;
    static type convert(I e) { return __builtin_convertvector(e, type); }
};
template <class I>
struct float_of<lockstep<I>> {
    using type = lockstep<vf_of<I>>;
    static type convert(lockstep<I> e) { return tie(type{float_of<I>::convert(e.a), float_of<I>::convert(e.b)}); }
};

template <class F>
struct int_of<quad<F>> {
    using type = quad<vi_of<F>>;
};
template <class I>
struct float_of<quad<I>> {
    using type = quad<vf_of<I>>;
    static type convert(quad<I> e) {
        using f = float_of<I>;
        return tie(type{f::convert(e.a), f::convert(e.b), f::convert(e.c), f::convert(e.d)});
    }
};

// e comes out as e * 2^23: the exponent bits of d, unshifted, convert exactly, and the scale is
// taken out of the constant that multiplies e (the same product, the same rounding).
template <class I>
struct ln32_reduced {
    using F = typename float_of<I>::type;
    F r, e_scaled;
};

template <class I>
[[gnu::always_inline]] inline ln32_reduced<I> reduce32(I b) {
    using F = typename float_of<I>::type;
    const I d = b - 0x3F2AAAAB;                     // the bits of 2/3
    const I e_bits = d & int32_t(0xFF800000);       // e << 23
    const F m = bits_as<F>(b - e_bits);             // (d AND 0x7FFFFF) + the bits of 2/3
    return {m - 1.0f, float_of<I>::convert(e_bits)};
}
constexpr float unscale_e = 0x1p-23f;

template <class F>
[[gnu::always_inline]] inline F ln32_main(F x) {
    const auto a = reduce32(bits_as<typename int_of<F>::type>(x));
    const F r = a.r;
    F p = r * -0.151772052f + 0.169648811f;
    p = p * r + -0.164624572f;
    p = p * r + 0.198225036f;
    p = p * r + -0.250046641f;
    p = p * r + 0.333365649f;
    p = p * r + -0.5f;
    return (r + (p * r) * r) + a.e_scaled * (0.693147182f * unscale_e);
}

template <class F>
[[gnu::always_inline]] inline F log10_32_main(F x) {
    const auto a = reduce32(bits_as<typename int_of<F>::type>(x));
    const F r = a.r;
    F p = r * 0.100466065f + -0.119593509f;
    p = p * r + 0.144034356f;
    p = p * r + -0.216831714f;
    p = p * r + 0.43430084f;
    return a.e_scaled * (0.30103001f * unscale_e) + r * p;
}

// Lanes that are not positive normal finite (negative patterns, zeros, subnormals, inf, NaN):
// b - min_normal, unsigned, above the span of positive normals; as a signed compare after
// flipping the sign bit, since only AVX-512 compares unsigned.
// The addition wraps, so it is done on unsigned lanes.
#if QOR_LEVEL >= 5
// The same test on the integer pipes (an fpclass would take a slot from the arithmetic).
inline unsigned not_positive_normal(vi b) { return _mm512_fpclass_ps_mask(bits_as<__m512>(b), 0xFF); }
inline unsigned not_positive_normal(vl b) {
    return _mm512_cmpgt_epu64_mask(_mm512_sub_epi64(bits_as<__m512i>(b), _mm512_set1_epi64(0x0010000000000000)),
                                   _mm512_set1_epi64(0x7FDFFFFFFFFFFFFF));
}
#else
inline vi not_positive_normal(vi b) {
    return bits_as<vi>(bits_as<lanes<f32_lanes>::ui>(b) + 0x7F800000u) > -0x01000001;
}
inline vl not_positive_normal(vl b) {
    return bits_as<vl>(bits_as<lanes<f64_lanes>::ul>(b) + 0x7FF0000000000000ull) > -0x0020000000000001ll;
}
#endif

// The table shared by ln and log10 for every input off the main path; subnormals get the
// finite logarithm through the double cores.
template <class T, class Finite>
inline T log_special(T x, int& report, Finite finite) {
    if (x != x) return quiet(x);
    if (x == T(0)) {
        report = report_pole;
        return -__builtin_inf();
    }
    if (x < T(0)) {
        report = report_below;
        return sizeof(T) == 4 ? T(default_nan_f) : T(default_nan_d);
    }
    if (x > T(1)) return x;  // +inf
    return finite(x);
}

template <class T>
inline T log1p_special(T x, int& report) {
    if (x != x) return quiet(x);
    if (x == T(-1)) {
        report = report_pole;
        return -__builtin_inf();
    }
    if (x < T(-1)) {
        report = report_below;
        return sizeof(T) == 4 ? T(default_nan_f) : T(default_nan_d);
    }
    return x;  // +inf and both zeros
}

// Walks the array a vector at a time; the tail is padded with `pad` and stored partially.
// `main` maps a vector of inputs to results (and may add lanes of its own to redo, as bits),
// `fix` recomputes one flagged lane. At level 5, Group blocks (2 or 4) go through `main` in
// lockstep at a time while they last (a core that flags lanes itself takes two back to back).
template <int Group = 1, class V, class Main, class Flag, class Fix>
inline int walk(const void* src, void* dst, int len, V pad, Main main, Flag flag, Fix fix) {
    constexpr int n_lanes = int(sizeof(V) / sizeof(pad[0]));
    using elem = decltype(pad[0] + pad[0]);
    int report = 0;
    const auto* in = static_cast<const elem*>(src);
    auto* out = static_cast<elem*>(dst);
    // Flagged lanes are redone from the source elements, which a block has not yet overwritten.
    auto finish = [&](V x, V y, const elem* orig, unsigned live, unsigned special) __attribute__((always_inline)) {
        special = (special | lane_bits(flag(x))) & live;
        if (__builtin_expect(special != 0, 0)) {
            do {
                const int j = __builtin_ctz(special);
                special &= special - 1;
                y[j] = fix(orig[j], report);
            } while (special);
        }
        return y;
    };
    auto block = [&](V x, const elem* orig, unsigned live) __attribute__((always_inline)) {
        unsigned special = 0;
        V y;
        if constexpr (std::is_invocable_v<Main, V, unsigned&>)
            y = main(x, special);
        else
            y = main(x);
        return finish(x, y, orig, live, special);
    };
    constexpr unsigned all = n_lanes == 32 ? ~0u : (1u << n_lanes) - 1;
    int i = 0;
#if QOR_LEVEL >= 5
    // Cores that take blocks in lockstep get them four or two at a time.
    if constexpr (Group == 4) {
        for (; i + 4 * n_lanes <= len; i += 4 * n_lanes) {
            quad<V> x;
            std::memcpy(&x.a, in + i, sizeof x.a);
            std::memcpy(&x.b, in + i + n_lanes, sizeof x.b);
            std::memcpy(&x.c, in + i + 2 * n_lanes, sizeof x.c);
            std::memcpy(&x.d, in + i + 3 * n_lanes, sizeof x.d);
            const quad<V> y = main(x);
            const V ya = finish(x.a, y.a, in + i, all, 0);
            const V yb = finish(x.b, y.b, in + i + n_lanes, all, 0);
            const V yc = finish(x.c, y.c, in + i + 2 * n_lanes, all, 0);
            const V yd = finish(x.d, y.d, in + i + 3 * n_lanes, all, 0);
            std::memcpy(out + i, &ya, sizeof ya);
            std::memcpy(out + i + n_lanes, &yb, sizeof yb);
            std::memcpy(out + i + 2 * n_lanes, &yc, sizeof yc);
            std::memcpy(out + i + 3 * n_lanes, &yd, sizeof yd);
        }
    }
    if constexpr (Group >= 2) {
        for (; i + 2 * n_lanes <= len; i += 2 * n_lanes) {
            lockstep<V> x;
            std::memcpy(&x.a, in + i, sizeof x.a);
            std::memcpy(&x.b, in + i + n_lanes, sizeof x.b);
            lockstep<V> y;
            unsigned sa = 0, sb = 0;
            if constexpr (std::is_invocable_v<Main, V, unsigned&>) {
                y.a = main(x.a, sa);
                y.b = main(x.b, sb);
            } else {
                y = main(x);
            }
            const V ya = finish(x.a, y.a, in + i, all, sa);
            const V yb = finish(x.b, y.b, in + i + n_lanes, all, sb);
            std::memcpy(out + i, &ya, sizeof ya);
            std::memcpy(out + i + n_lanes, &yb, sizeof yb);
        }
    }
#endif
    for (; i + n_lanes <= len; i += n_lanes) {
        V x;
        std::memcpy(&x, in + i, sizeof x);
        const V y = block(x, in + i, all);
        std::memcpy(out + i, &y, sizeof y);
    }
    if (const int n = len - i) {
        V x = pad;
        for (int j = 0; j < n; ++j) x[j] = in[i + j];
        const V y = block(x, in + i, (1u << n) - 1);
        for (int j = 0; j < n; ++j) out[i + j] = y[j];
    }
    return report;
}

// The natural-log kernels' status: a pole reported last is a singularity; otherwise any negative
// element (each reports 19) makes it a domain warning.
struct ln_status {
    int last = 0;
    bool below = false;
    int status() const {
        if (last == report_pole) return krn_warn_singularity;
        return below ? krn_warn_domain : krn_ok;
    }
};

// --- 32-bit -------------------------------------------------------------------------------

float ln32_subnormal(float x) { return float(ln_scalar(double(x))); }
float log10_32_subnormal(float x) { return float(log10_scalar(double(x))); }

[[gnu::noinline]] int ln32_run(const float* src, float* dst, int len) {
    ln_status st;
    st.last = walk<4>(
        src, dst, len, vf{} + 1.0f, [](auto x) __attribute__((always_inline)) { return ln32_main(x); },
        [](vf x) { return not_positive_normal(bits_as<vi>(x)); },
        [&](float x, int& report) {
            const float y = log_special(x, report, ln32_subnormal);
            st.below |= report == report_below;
            return y;
        });
    return st.status();
}

[[gnu::noinline]] int log10_32_run(const float* src, float* dst, int len) {
    return walk<4>(
        src, dst, len, vf{} + 1.0f, [](auto x) __attribute__((always_inline)) { return log10_32_main(x); },
        [](vf x) { return not_positive_normal(bits_as<vi>(x)); },
        [](float x, int& report) { return log_special(x, report, log10_32_subnormal); });
}

// Lanes that log1p takes off the main path: x <= -1 (sign set, magnitude at least 1, -inf and
// negative NaNs included), inf and NaN, and both zeros (which keep their sign).
inline vi log1p_flag(vi b) {
    const vi mag = b & 0x7FFFFFFF;
    return ((b < 0) & (mag >= 0x3F800000)) | (mag >= 0x7F800000) | (mag == 0);
}
#if QOR_LEVEL >= 5
inline unsigned log1p_flag(vl b) {
    const __m512d x = bits_as<__m512d>(b);
    // NaNs, zeros and infinities, and x <= -1.
    return _mm512_fpclass_pd_mask(x, 0x9F) | _mm512_cmp_pd_mask(x, _mm512_set1_pd(-1.0), _CMP_LE_OQ);
}
#else
inline vl log1p_flag(vl b) {
    const vl mag = b & 0x7FFFFFFFFFFFFFFFll;
    return ((b < 0) & (mag >= 0x3FF0000000000000ll)) | (mag >= 0x7FF0000000000000ll) | (mag == 0);
}
#endif

// ln(1 + x) of a float vector: both halves widened to double, rounded once to single.
inline vf log1p32_main(vf x) {
    using half = lanes<f32_lanes / 2>;
    using halff = typename half::f;
    halff lo_in, hi_in;
    std::memcpy(&lo_in, &x, sizeof lo_in);
    std::memcpy(&hi_in, reinterpret_cast<const char*>(&x) + sizeof lo_in, sizeof hi_in);
    const halff lo_out = __builtin_convertvector(log1p_core<f32_lanes / 2>(__builtin_convertvector(lo_in, vd)), halff);
    const halff hi_out = __builtin_convertvector(log1p_core<f32_lanes / 2>(__builtin_convertvector(hi_in, vd)), halff);
    vf y;
    std::memcpy(&y, &lo_out, sizeof lo_out);
    std::memcpy(reinterpret_cast<char*>(&y) + sizeof lo_out, &hi_out, sizeof hi_out);
    return y;
}

[[gnu::noinline]] int log1p32_run(const float* src, float* dst, int len) {
    return walk(src, dst, len, vf{}, log1p32_main, [](vf x) { return log1p_flag(bits_as<vi>(x)); },
                [](float x, int& report) { return log1p_special(x, report); });
}

#if QOR_LEVEL >= 4
// The same results, fast: each half block is approximated in double to within 2^-40 (relative)
// from a small table held in registers and a short polynomial. Rounded to single precision, the
// approximation gives the exact path's float unless a rounding boundary lies within that error;
// such lanes (about one in 30,000) are redone on the exact path. Valid in round-to-nearest without
// FTZ/DAZ, which the kernel checks before taking this path.
#if QOR_LEVEL >= 5
constexpr int fast_log_rows = 4;  // 16 rows: one two-register permute per column
constexpr const auto& fast_poly = log1p32_poly16;
#else
constexpr int fast_log_rows = 3;  // 8 rows: one dword permute per half of a column
constexpr const auto& fast_poly = log1p32_poly8;
#endif
constexpr uint64_t doubt_ulps = 1 << 13;  // 2^-40 relative, in units of the last place of a double

constexpr int row_shift = 52 - fast_log_rows;
constexpr uint64_t half_row = uint64_t{1} << (row_shift - 1);
using vul = lanes<f64_lanes>::ul;
using half_f = lanes<f64_lanes>::f;

// The table's columns as register constants.
template <size_t... J>
constexpr vd fast_column(bool ln_c, int first, std::index_sequence<J...>) {
    return vd{(ln_c ? log1p32_table[first + int(J)].lo : log1p32_table[first + int(J)].hi)...};
}
template <size_t... J>
constexpr lanes<8>::i fast_column_dwords(bool ln_c, int high, std::index_sequence<J...>) {
    constexpr int step = 16 >> fast_log_rows;
    return lanes<8>::i{int32_t(uint32_t(__builtin_bit_cast(uint64_t, ln_c ? log1p32_table[int(J) * step].lo
                                                                          : log1p32_table[int(J) * step].hi) >>
                                         (32 * high)))...};
}

// 1/c and ln c of the rows in bits row_shift and up of t (higher bits are ignored).
[[gnu::always_inline]] inline void fast_look_up(vul t, vd& invc, vd& logc) {
#if QOR_LEVEL >= 5
    constexpr auto eight = std::make_index_sequence<8>{};
    constexpr vd invc_0 = fast_column(false, 0, eight), invc_1 = fast_column(false, 8, eight);
    constexpr vd logc_0 = fast_column(true, 0, eight), logc_1 = fast_column(true, 8, eight);
    const __m512i at = bits_as<__m512i>(t >> row_shift);
    invc = bits_as<vd>(_mm512_permutex2var_pd(bits_as<__m512d>(invc_0), at, bits_as<__m512d>(invc_1)));
    logc = bits_as<vd>(_mm512_permutex2var_pd(bits_as<__m512d>(logc_0), at, bits_as<__m512d>(logc_1)));
#else
    // Each double as its low and high dwords, one register each. A dword permute reads the low
    // three bits of each index: one shift puts the row there in the low dword of each lane (for
    // the low halves), another in the high dword (for the high halves).
    constexpr auto eight = std::make_index_sequence<8>{};
    constexpr lanes<8>::i invc_lo = fast_column_dwords(false, 0, eight), invc_hi = fast_column_dwords(false, 1, eight);
    constexpr lanes<8>::i logc_lo = fast_column_dwords(true, 0, eight), logc_hi = fast_column_dwords(true, 1, eight);
    const __m256i at_lo = _mm256_srli_epi64(bits_as<__m256i>(t), row_shift);
    const __m256i at_hi = _mm256_srli_epi64(bits_as<__m256i>(t), row_shift - 32);
    auto look = [&](lanes<8>::i lo, lanes<8>::i hi) {
        return bits_as<vd>(_mm256_blend_epi32(_mm256_permutevar8x32_epi32(bits_as<__m256i>(lo), at_lo),
                                              _mm256_permutevar8x32_epi32(bits_as<__m256i>(hi), at_hi), 0xAA));
    };
    invc = look(invc_lo, invc_hi);
    logc = look(logc_lo, logc_hi);
#endif
}

// a * b + c, fused. Only this approximation uses it: its result is kept only where the rounding
// to single precision is already decided, so a smaller evaluation error changes no output bit.
[[gnu::always_inline]] inline vd mul_add(vd a, vd b, vd c) {
#if QOR_LEVEL >= 5
    return bits_as<vd>(_mm512_fmadd_pd(bits_as<__m512d>(a), bits_as<__m512d>(b), bits_as<__m512d>(c)));
#else
    return bits_as<vd>(_mm256_fmadd_pd(bits_as<__m256d>(a), bits_as<__m256d>(b), bits_as<__m256d>(c)));
#endif
}
[[gnu::always_inline]] inline vd mul_add(vd a, double b, double c) { return mul_add(a, vd{} + b, vd{} + c); }
[[gnu::always_inline]] inline vd mul_add(vd a, vd b, double c) { return mul_add(a, b, vd{} + c); }
[[gnu::always_inline]] inline vd mul_add(vd a, double b, vd c) { return mul_add(a, vd{} + b, c); }
template <class B, class C>
[[gnu::always_inline]] inline lockstep<vd> mul_add(lockstep<vd> a, B b, C c) {
    auto part = [](const auto& v, bool second) {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, lockstep<vd>>)
            return second ? v.b : v.a;
        else
            return v;
    };
    return tie(lockstep<vd>{mul_add(a.a, part(b, false), part(c, false)), mul_add(a.b, part(b, true), part(c, true))});
}

// (ln(1 + r) - r) / r^2 by pairs of coefficients (a short dependency chain). The longer form
// (level 4) also takes r^4, one multiply more for a shorter chain: that loop is bound by latency,
// the level-5 one by issue.
template <int N, class D>
[[gnu::always_inline]] inline D fast_poly_value(D r, D r2, const double (&c)[N]) {
    static_assert(N == 6 || N == 7);
    const D q0 = mul_add(r, c[1], c[0]), q1 = mul_add(r, c[3], c[2]);
    const D q2 = mul_add(r, c[5], c[4]);
    if constexpr (N == 7) return mul_add(r2 * r2, mul_add(r2, c[6], q2), mul_add(r2, q1, q0));
    return mul_add(r2, mul_add(r2, q2, q1), q0);
}

// ln(1 + x) for x in (-1, inf), |x| >= 2^-29. 1 + x is exact below 2^53; above, the lost 1
// changes the logarithm by less than 2^-58 of it. 1 + x = 2^k z, z within half a row of
// c = 1 + i/rows (the row of 1 has c = 1 and spans both sides of it, so nothing cancels near
// x = 0), r = z/c - 1, and ln(1 + x) = k ln 2 + ln c + ln(1 + r).
constexpr double ln2 = ln2_hi + ln2_lo;
// Lanes whose float rounding the error could change: the low 29 bits of the double within
// doubt_ulps of 2^28 (a rounding boundary).
constexpr uint64_t doubt_shift = doubt_ulps - 0x10000000u, doubt_bits = 0x1FFFFFFFu & ~uint64_t(2 * doubt_ulps - 1);
// Below 2^-29 the result is x itself (x^2/2 is far below half its last place).
constexpr int32_t tiny_bits = 0x31000000;

// One step applied to both halves of a block in lockstep (see lockstep).
template <class F, class A>
[[gnu::always_inline]] inline auto both(F f, lockstep<A> a) {
    return tie(lockstep<decltype(f(a.a))>{f(a.a), f(a.b)});
}

// The estimate from the table row t, the exponent k and the reduced mantissa z of both halves:
// k ln 2 + log c + log1p(r), r = z / c - 1. One look-up per half gives both columns.
template <class T>
[[gnu::always_inline]] inline lockstep<vd> log1p32_fast_value(lockstep<T> t, lockstep<vd> k, lockstep<vd> z) {
    lockstep<vd> invc, logc;
    fast_look_up(t.a, invc.a, logc.a);
    fast_look_up(t.b, invc.b, logc.b);
    invc = tie(invc);
    logc = tie(logc);
    const lockstep<vd> r = mul_add(z, invc, -1.0);
    const lockstep<vd> r2 = r * r;
    return mul_add(k, ln2, logc) + mul_add(r2, fast_poly_value(r, r2, fast_poly), r);
}

#if QOR_LEVEL >= 5
// Both halves of a block; doubt flags the lanes whose rounding is not decided.
[[gnu::always_inline]] inline lockstep<vd> log1p32_fast_halves(lockstep<half_f> x, __mmask16& doubt) {
    const auto u = both([](half_f h) { return bits_as<vd>(_mm512_add_pd(_mm512_set1_pd(1.0), _mm512_maskz_cvtps_pd(0xFF, bits_as<__m256>(h)))); }, x);
    const auto t = both([](vd v) { return bits_as<vul>(v) + half_row; }, u);
    const auto k = both([](vul v) { return bits_as<vd>(_mm512_maskz_getexp_pd(0xFF, bits_as<__m512d>(v))); }, t);
    const auto z = both(
        [](vul v) { return bits_as<vd>((v & 0x000FFFFFFFFFFFFFull) + (0x3FF0000000000000ull - half_row)); },
        t);
    const lockstep<vd> y = log1p32_fast_value(t, k, z);
    // The test reads only the low dwords: both halves' in one register, in lane order.
    const __m512i low = _mm512_permutex2var_epi32(
        bits_as<__m512i>(y.a), _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30),
        bits_as<__m512i>(y.b));
    doubt = _mm512_testn_epi32_mask(_mm512_add_epi32(low, _mm512_set1_epi32(int32_t(doubt_shift))),
                                    _mm512_set1_epi32(int32_t(doubt_bits)));
    return y;
}

template <size_t... J>
[[gnu::always_inline]] inline vf log1p32_fast(vf x, unsigned& redo, std::index_sequence<J...>) {
    __mmask16 doubt;
    const lockstep<vd> h = log1p32_fast_halves(
        {__builtin_shufflevector(x, x, J...), __builtin_shufflevector(x, x, (J + 8)...)}, doubt);
    const __m256 lo = _mm512_maskz_cvtpd_ps(0xFF, bits_as<__m512d>(h.a));
    const __m256 hi = _mm512_maskz_cvtpd_ps(0xFF, bits_as<__m512d>(h.b));
    const vf y = __builtin_shufflevector(bits_as<half_f>(lo), bits_as<half_f>(hi), J..., (J + 8)...);
    const __mmask16 tiny = _mm512_cmplt_epu32_mask(_mm512_and_si512(bits_as<__m512i>(x), _mm512_set1_epi32(0x7FFFFFFF)),
                                                   _mm512_set1_epi32(tiny_bits));
    // Off the domain: x <= -1 or NaN, and +inf.
    const __m512 xs = bits_as<__m512>(x);
    const __mmask16 off = _mm512_cmp_ps_mask(xs, _mm512_set1_ps(-1.0f), _CMP_NGT_UQ) | _mm512_fpclass_ps_mask(xs, 0x08);
    redo = unsigned(doubt | off) & ~unsigned(tiny);
    return bits_as<vf>(_mm512_mask_blend_ps(tiny, bits_as<__m512>(y), bits_as<__m512>(x)));
}
[[gnu::always_inline]] inline vf log1p32_fast(vf x, unsigned& redo) {
    return log1p32_fast(x, redo, std::make_index_sequence<8>{});
}
// The domain check is part of the block.
inline vi log1p32_fast_flag(vf) { return vi{}; }
#else
// Both halves of a block in lockstep; doubt flags the lanes whose rounding is not decided.
[[gnu::always_inline]] inline lockstep<vd> log1p32_fast_halves(lockstep<vd> x, unsigned& doubt) {
    const lockstep<vd> u = 1.0 + x;
    const auto t = both([](vd v) { return bits_as<vul>(v) + half_row; }, u);
    const auto k = both([](vul v) { return bits_as<vd>((v >> 52) | 0x4330000000000000ull) - (0x1p52 + 1023.0); }, t);
    const auto z = both(
        [](vul v) { return bits_as<vd>((v & 0x000FFFFFFFFFFFFFull) + (0x3FF0000000000000ull - half_row)); }, t);
    const lockstep<vd> y = log1p32_fast_value(t, k, z);
    // The test reads only the low dwords: both halves' go through it in one register, lanes
    // 0 1 4 5 2 3 6 7 of the block; the mask is put back in lane order.
    const __m256i low = _mm256_castps_si256(
        _mm256_shuffle_ps(_mm256_castpd_ps(bits_as<__m256d>(y.a)), _mm256_castpd_ps(bits_as<__m256d>(y.b)), 0x88));
    const __m256i near = _mm256_and_si256(_mm256_add_epi32(low, _mm256_set1_epi32(int32_t(doubt_shift))),
                                          _mm256_set1_epi32(int32_t(doubt_bits)));
    const unsigned m = unsigned(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpeq_epi32(near, _mm256_setzero_si256()))));
    doubt = (m & 0xC3u) | (m & 0x0Cu) << 2 | (m & 0x30u) >> 2;
    return y;
}

template <size_t... J>
[[gnu::always_inline]] inline vf log1p32_fast(vf x, unsigned& redo, std::index_sequence<J...>) {
    unsigned doubt;
    const lockstep<vd> h = log1p32_fast_halves(
        {bits_as<vd>(_mm256_cvtps_pd(bits_as<__m128>(__builtin_shufflevector(x, x, J...)))),
         bits_as<vd>(_mm256_cvtps_pd(bits_as<__m128>(__builtin_shufflevector(x, x, (J + 4)...))))},
        doubt);
    const vf y = __builtin_shufflevector(bits_as<half_f>(_mm256_cvtpd_ps(bits_as<__m256d>(h.a))),
                                         bits_as<half_f>(_mm256_cvtpd_ps(bits_as<__m256d>(h.b))), J..., (J + 4)...);
    const __m256 tiny = _mm256_cmp_ps(_mm256_and_ps(bits_as<__m256>(x), bits_as<__m256>(vi{} + 0x7FFFFFFF)),
                                      _mm256_set1_ps(__builtin_bit_cast(float, tiny_bits)), _CMP_LT_OQ);
    redo = doubt & ~unsigned(_mm256_movemask_ps(tiny));
    return bits_as<vf>(_mm256_blendv_ps(bits_as<__m256>(y), bits_as<__m256>(x), tiny));
}
[[gnu::always_inline]] inline vf log1p32_fast(vf x, unsigned& redo) {
    return log1p32_fast(x, redo, std::make_index_sequence<4>{});
}
// Off the domain: x <= -1, infinite or NaN (zeros are tiny).
inline unsigned log1p32_fast_flag(vf x) { return ~lane_bits((x > -1.0f) & (x < __builtin_inff())) & 0xFFu; }
#endif

[[gnu::noinline]] int log1p32_fast_run(const float* src, float* dst, int len) {
    return walk<2>(src, dst, len, vf{}, [](vf x, unsigned& redo) __attribute__((always_inline)) { return log1p32_fast(x, redo); },
                [](vf x) { return log1p32_fast_flag(x); },
                [](float x, int& report) {
                    if (x > -1.0f && x < __builtin_inff() && x != 0.0f) return float(log1p_scalar(double(x)));
                    return log1p_special(x, report);
                });
}
#endif

// --- 64-bit -------------------------------------------------------------------------------

// Two or four blocks through each stage of a core in turn (level 5; see the staged cores).
template <const log_entry* Table, class Sums>
[[gnu::always_inline]] inline auto staged64(lockstep<vd> x, Sums sums) {
    const reduced<f64_lanes> a = reduce<f64_lanes>(bits_as<vl>(x.a), no_term{});
    const reduced<f64_lanes> b = reduce<f64_lanes>(bits_as<vl>(x.b), no_term{});
    vd a_hi, a_lo, b_hi, b_lo;
    look_up<f64_lanes>(Table, a.index, a_hi, a_lo);
    look_up<f64_lanes>(Table, b.index, b_hi, b_lo);
    return lockstep<vd>{sums(a, a_hi, a_lo), sums(b, b_hi, b_lo)};
}

template <const log_entry* Table, class Sums>
[[gnu::always_inline]] inline auto staged64(quad<vd> x, Sums sums) {
    const reduced<f64_lanes> a = reduce<f64_lanes>(bits_as<vl>(x.a), no_term{});
    const reduced<f64_lanes> b = reduce<f64_lanes>(bits_as<vl>(x.b), no_term{});
    const reduced<f64_lanes> c = reduce<f64_lanes>(bits_as<vl>(x.c), no_term{});
    const reduced<f64_lanes> d = reduce<f64_lanes>(bits_as<vl>(x.d), no_term{});
    vd a_hi, a_lo, b_hi, b_lo, c_hi, c_lo, d_hi, d_lo;
    look_up<f64_lanes>(Table, a.index, a_hi, a_lo);
    look_up<f64_lanes>(Table, b.index, b_hi, b_lo);
    look_up<f64_lanes>(Table, c.index, c_hi, c_lo);
    look_up<f64_lanes>(Table, d.index, d_hi, d_lo);
    return quad<vd>{sums(a, a_hi, a_lo), sums(b, b_hi, b_lo), sums(c, c_hi, c_lo), sums(d, d_hi, d_lo)};
}

double ln64_subnormal(double x) { return ln_scalar(x * 0x1p54, -54.0); }
double log10_64_subnormal(double x) { return log10_scalar(x * 0x1p54, -54.0); }

[[gnu::noinline]] int ln64_run(const double* src, double* dst, int len) {
    ln_status st;
    st.last = walk<4>(
        src, dst, len, vd{} + 1.0,
        [](auto x) __attribute__((always_inline)) {
            auto sums = [](const reduced<f64_lanes>& a, vd hi, vd lo) { return ln_sums<f64_lanes>(a, hi, lo, no_term{}); };
            if constexpr (std::is_same_v<decltype(x), vd>)
                return ln_core<f64_lanes>(bits_as<vl>(x), no_term{}, no_term{});
            else
                return staged64<ln_table>(x, sums);
        },
        [](vd x) { return not_positive_normal(bits_as<vl>(x)); },
        [&](double x, int& report) {
            const double y = log_special(x, report, ln64_subnormal);
            st.below |= report == report_below;
            return y;
        });
    return st.status();
}

[[gnu::noinline]] int log10_64_run(const double* src, double* dst, int len) {
    return walk<4>(
        src, dst, len, vd{} + 1.0,
        [](auto x) __attribute__((always_inline)) {
            auto sums = [](const reduced<f64_lanes>& a, vd hi, vd lo) { return log10_sums<f64_lanes>(a, hi, lo); };
            if constexpr (std::is_same_v<decltype(x), vd>)
                return log10_core<f64_lanes>(bits_as<vl>(x), no_term{});
            else
                return staged64<log10_table>(x, sums);
        },
        [](vd x) { return not_positive_normal(bits_as<vl>(x)); },
        [](double x, int& report) { return log_special(x, report, log10_64_subnormal); });
}

[[gnu::noinline]] int log1p64_run(const double* src, double* dst, int len) {
    return walk(src, dst, len, vd{}, [](vd x) { return log1p_core<f64_lanes>(x); },
                [](vd x) { return log1p_flag(bits_as<vl>(x)); },
                [](double x, int& report) { return log1p_special(x, report); });
}

}  // namespace

int krn_ln_32f(const float* src, float* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    const fp_saved fp = enter_exact_fp();
    const int st = ln32_run(src, dst, len);
    leave_exact_fp(fp);
    return st;
}

int krn_ln_32f_ip(float* buf, int len) {
    if (!buf) return krn_err_null;
    if (len < 1) return krn_err_size;
    const fp_saved fp = enter_exact_fp();
    const int st = ln32_run(buf, buf, len);
    leave_exact_fp(fp);
    return st;
}

int krn_ln_64f(const double* src, double* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    const fp_saved fp = enter_exact_fp();
    const int st = ln64_run(src, dst, len);
    leave_exact_fp(fp);
    return st;
}

int krn_ln_64f_ip(double* buf, int len) {
    if (!buf) return krn_err_null;
    if (len < 1) return krn_err_size;
    const fp_saved fp = enter_exact_fp();
    const int st = ln64_run(buf, buf, len);
    leave_exact_fp(fp);
    return st;
}

int krn_log10_32f(const float* src, float* dst, int len) {
    if (len < 1) return krn_err_size;
    if (!src || !dst) return krn_err_null;
    const fp_saved fp = enter_exact_fp();
    const int st = log10_32_run(src, dst, len);
    leave_exact_fp(fp);
    return st;
}

int krn_log10_64f(const double* src, double* dst, int len) {
    if (len < 1) return krn_err_size;
    if (!src || !dst) return krn_err_null;
    const fp_saved fp = enter_exact_fp();
    const int st = log10_64_run(src, dst, len);
    leave_exact_fp(fp);
    return st;
}

int krn_log1p_32f(const float* src, float* dst, int len) {
    if (len < 1) return krn_err_size;
    if (!src || !dst) return krn_err_null;
    const fp_saved fp = enter_masked_fp();
#if QOR_LEVEL >= 4
    // The fast path's rounding argument holds in round-to-nearest with subnormals kept.
    constexpr unsigned rounding_ftz_daz = 0xE040;
    const int st = (fp.csr & rounding_ftz_daz) ? log1p32_run(src, dst, len) : log1p32_fast_run(src, dst, len);
#else
    const int st = log1p32_run(src, dst, len);
#endif
    leave_masked_fp(fp);
    return st;
}

int krn_log1p_64f(const double* src, double* dst, int len) {
    if (len < 1) return krn_err_size;
    if (!src || !dst) return krn_err_null;
    const fp_saved fp = enter_masked_fp();
    const int st = log1p64_run(src, dst, len);
    leave_masked_fp(fp);
    return st;
}

}  // namespace qor::krn::QOR_LEVEL_NS
