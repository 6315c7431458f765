// Kernels of the curve generators: element-wise product and constant difference, and our own
// single-precision exponential and sine, within a unit in the last place. The exponential of a
// normal result runs in single precision on a 32-entry table; the sine (and the exponential's
// rare lanes) widen to double, reduce the argument and evaluate one polynomial there, and round
// once. No operation is fused and every lane runs the same operations, so every level gives the
// same bits.
#include <cstdint>
#include <cstring>
#include <immintrin.h>
#include <utility>

#include "kernels/level.hpp"
#include "kernels/runtime/status.hpp"

// Wide vectors pass between this file's internal functions only, so their ABI does not matter.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace qor::krn::QOR_LEVEL_NS {
namespace {

// Lanes per block: one register of floats (two, three or four of doubles inside).
constexpr int lanes = QOR_FLOAT_VECTOR_BYTES / 4;
typedef float vf __attribute__((vector_size(4 * lanes)));
typedef int32_t vi __attribute__((vector_size(4 * lanes)));
// The double-precision work runs on half a block at a time: one native register of doubles
// (wider generic vectors make the compiler shuffle through the stack).
constexpr int half = lanes / 2;
typedef float vfh __attribute__((vector_size(4 * half)));
typedef double vd __attribute__((vector_size(8 * half)));
typedef int64_t vl __attribute__((vector_size(8 * half)));

// Half a block in double as the native types: zero-masked conversions at AVX-512 (the plain
// forms and the casts trip GCC 12's uninitialized-use warning); the generic forms would split
// each conversion into several.
#if QOR_LEVEL >= 5
typedef __m256 half_f;
inline __m512d widen(half_f h) { return _mm512_maskz_cvtps_pd(0xFF, h); }
inline half_f narrow(__m512d d) { return _mm512_maskz_cvtpd_ps(0xFF, d); }
#elif QOR_LEVEL >= 3
typedef __m128 half_f;
inline __m256d widen(half_f h) { return _mm256_cvtps_pd(h); }
inline half_f narrow(__m256d d) { return _mm256_cvtpd_ps(d); }
#else
typedef uint64_t half_f;  // two floats
inline __m128d widen(half_f h) { return _mm_cvtps_pd(_mm_castsi128_ps(_mm_cvtsi64_si128(int64_t(h)))); }
inline half_f narrow(__m128d d) { return uint64_t(_mm_cvtsi128_si64(_mm_castps_si128(_mm_cvtpd_ps(d)))); }
#endif

template <size_t... I>
inline vfh half_of(vf x, std::index_sequence<I...>) {
    return __builtin_shufflevector(x, x, I...);
}
template <size_t... I>
inline vf joined(vfh a, vfh b, std::index_sequence<I...>) {
    return __builtin_shufflevector(a, b, I...);
}
template <size_t... I>
constexpr std::index_sequence<(I + half)...> upper_half(std::index_sequence<I...>) {
    return {};
}
template <class To, class From>
inline To same_bits(From v) {
    static_assert(sizeof(To) == sizeof(From));
    To t;
    std::memcpy(&t, &v, sizeof t);
    return t;
}

// Applies f (half a block in double -> half a block in double) to both halves of x, widened
// exactly, and rounds the results once. The halves split and join in registers (through
// memory, the wide reload after two narrow stores would stall).
template <class F>
inline vf by_halves(vf x, F f) {
    constexpr auto low = std::make_index_sequence<half>();
    using wide = decltype(widen(half_f()));
    const vd d0 = f(same_bits<vd>(widen(same_bits<half_f>(half_of(x, low)))));
    const vd d1 = f(same_bits<vd>(widen(same_bits<half_f>(half_of(x, upper_half(low))))));
    return joined(same_bits<vfh>(narrow(same_bits<wide>(d0))), same_bits<vfh>(narrow(same_bits<wide>(d1))),
                  std::make_index_sequence<lanes>());
}

inline vf load(const float* p) {
    vf v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void store(float* p, vf v) { std::memcpy(p, &v, sizeof v); }

inline bool any_lane(vi m) {
#if QOR_LEVEL >= 5
    __m512i r;
    std::memcpy(&r, &m, sizeof r);
    return _mm512_movepi32_mask(r) != 0;
#elif QOR_LEVEL >= 3
    __m256 r;
    std::memcpy(&r, &m, sizeof r);
    return _mm256_movemask_ps(r) != 0;
#else
    __m128 r;
    std::memcpy(&r, &m, sizeof r);
    return _mm_movemask_ps(r) != 0;
#endif
}

// Whether any lane of a is above b (signed), straight from the compare's mask.
inline bool any_above(vi a, int32_t b) {
#if QOR_LEVEL >= 5
    __m512i r;
    std::memcpy(&r, &a, sizeof r);
    return _mm512_cmpgt_epi32_mask(r, _mm512_set1_epi32(b)) != 0;
#else
    return any_lane(a > b);
#endif
}

template <class V>
V broadcast(double x) {
    V v;
    for (unsigned i = 0; i < sizeof v / sizeof x; ++i) v[i] = x;
    return v;
}

// Runs block(x, flagged) over whole blocks, then once over a zero-padded tail, and lets
// fix(x, out, n) rework every block the block flagged. Loads come before stores, so src may be dst.
template <class Block, class Fix>
void for_each_block(const float* src, float* dst, int len, Block block, Fix fix) {
    int i = 0;
    // Two blocks at a time: their long dependency chains interleave.
    for (; i + 2 * lanes <= len; i += 2 * lanes) {
        const vf x0 = load(src + i), x1 = load(src + i + lanes);
        bool flagged0, flagged1;
        const vf y0 = block(x0, flagged0), y1 = block(x1, flagged1);
        store(dst + i, y0);
        store(dst + i + lanes, y1);
        if (flagged0) fix(x0, dst + i, lanes);
        if (flagged1) fix(x1, dst + i + lanes, lanes);
    }
    for (; i + lanes <= len; i += lanes) {
        const vf x = load(src + i);
        bool flagged;
        store(dst + i, block(x, flagged));
        if (flagged) fix(x, dst + i, lanes);
    }
    if (i < len) {
        const int n = len - i;
        float in[lanes] = {}, out[lanes];
        std::memcpy(in, src + i, sizeof(float) * n);
        const vf x = load(in);
        bool flagged;
        store(out, block(x, flagged));
        std::memcpy(dst + i, out, sizeof(float) * n);
        if (flagged) fix(x, dst + i, n);
    }
}

// ---- exponential ----------------------------------------------------------------------------

constexpr double magic = 0x1.8p52;  // adding it rounds a double below 2^51 to an integer
constexpr double log2e = 0x1.71547652b82fep+0;
constexpr double ln2_hi = 0x1.62e42fefa4000p-1;  // 40 bits: n * ln2_hi is exact
constexpr double ln2_lo = -0x1.8432a1b0e2634p-43;
// e^r on |r| <= ln2/2, relative error below 5e-11.
constexpr double exp_poly[] = {0x1.a1851d44489acp-13, 0x1.6daf641f73e4cp-10, 0x1.1110a1c986d0bp-7,
                               0x1.55545ad7ceddap-5,  0x1.55555580f90eap-3,  0x1.000000623ca0bp-1,
                               0x1.fffffffff54e3p-1,  0x1.ffffffff9fb3cp-1};
constexpr float exp_overflow = 88.72283f;    // above: the result is beyond the largest float
constexpr float exp_underflow = -87.33654f;  // below: the result is subnormal or 0

// The common case in single precision: every x whose result is a normal float. x = m ln2/32 + r
// with |r| <= ln2/64 (m times the first part of ln2/32 exact, the subtraction exact), then
// e^x = 2^(m >> 5) 2^(j/32) e^r with j = m & 31: 2^(j/32) from a table in two parts, e^r - 1
// a cubic. The short r keeps every rounding error far below the last one.
constexpr float ln2_32_hi = 0x1.63p-6f;  // 9 bits: m (at most 13 bits) times it is exact
constexpr float ln2_32_lo = -0x1.bd0106p-18f;
constexpr float exp_c2 = 0x1.00008ep-1f, exp_c3 = 0x1.5555d2p-3f;  // (e^r - 1 - r) / r^2 ~ c2 + c3 r
// 2^(j/32) = hi + lo: hi the nearest float, lo the nearest float to the rest.
alignas(64) constexpr float exp2_hi[32] = {
    0x1p+0f,       0x1.059b0ep+0f, 0x1.0b5586p+0f, 0x1.11301ep+0f, 0x1.172b84p+0f, 0x1.1d4874p+0f, 0x1.2387a6p+0f,
    0x1.29e9ep+0f, 0x1.306fep+0f,  0x1.371a74p+0f, 0x1.3dea64p+0f, 0x1.44e086p+0f, 0x1.4bfdaep+0f, 0x1.5342b6p+0f,
    0x1.5ab07ep+0f, 0x1.6247ecp+0f, 0x1.6a09e6p+0f, 0x1.71f75ep+0f, 0x1.7a1148p+0f, 0x1.82589ap+0f, 0x1.8ace54p+0f,
    0x1.93737cp+0f, 0x1.9c4918p+0f, 0x1.a5503cp+0f, 0x1.ae89fap+0f, 0x1.b7f77p+0f,  0x1.c199bep+0f, 0x1.cb720ep+0f,
    0x1.d5818ep+0f, 0x1.dfc974p+0f, 0x1.ea4afap+0f, 0x1.f50766p+0f};
alignas(64) constexpr float exp2_lo[32] = {
    0.0f,           -0x1.9d4f52p-25f, 0x1.9f3122p-25f,  -0x1.fdb496p-25f, -0x1.c15742p-27f, -0x1.d2e8cap-25f,
    0x1.ceac48p-25f, -0x1.5c0424p-25f, 0x1.4636e2p-25f,  -0x1.18aac6p-25f, 0x1.824684p-25f,  0x1.8624b4p-30f,
    -0x1.593abcp-25f, -0x1.2c561p-25f, -0x1.5bd5ecp-27f, -0x1.f8b55p-25f,  0x1.9fcef4p-26f,  0x1.1d8beep-25f,
    -0x1.829fdp-25f, -0x1.accc7cp-26f, 0x1.15506ep-27f,  -0x1.e64744p-25f, 0x1.51f848p-27f,  -0x1.b83b54p-25f,
    -0x1.a94b14p-26f, -0x1.a09438p-25f, -0x1.3d56b2p-27f, -0x1.8837ccp-27f, -0x1.822dbcp-27f, -0x1.908c94p-25f,
    0x1.52486cp-27f, -0x1.246ebp-26f};

typedef uint32_t vu __attribute__((vector_size(sizeof(vi))));

// The table entries of the low five bits of each lane of j. Every level loads the same values.
inline void exp2_lookup(vu j, vf& hi, vf& lo) {
#if QOR_LEVEL >= 5
    __m512i idx;
    std::memcpy(&idx, &j, sizeof idx);
    const __m512 h = _mm512_permutex2var_ps(_mm512_load_ps(exp2_hi), idx, _mm512_load_ps(exp2_hi + 16));
    const __m512 l = _mm512_permutex2var_ps(_mm512_load_ps(exp2_lo), idx, _mm512_load_ps(exp2_lo + 16));
    std::memcpy(&hi, &h, sizeof hi);
    std::memcpy(&lo, &l, sizeof lo);
#elif QOR_LEVEL == 4
    // Four 8-entry permutes (they read the low three bits), then bits 3 and 4 pick by sign.
    __m256i idx;
    std::memcpy(&idx, &j, sizeof idx);
    const __m256 bit3 = _mm256_castsi256_ps(_mm256_slli_epi32(idx, 28));
    const __m256 bit4 = _mm256_castsi256_ps(_mm256_slli_epi32(idx, 27));
    const auto pick = [&](const float* t) {
        const __m256 a = _mm256_blendv_ps(_mm256_permutevar8x32_ps(_mm256_load_ps(t), idx),
                                          _mm256_permutevar8x32_ps(_mm256_load_ps(t + 8), idx), bit3);
        const __m256 b = _mm256_blendv_ps(_mm256_permutevar8x32_ps(_mm256_load_ps(t + 16), idx),
                                          _mm256_permutevar8x32_ps(_mm256_load_ps(t + 24), idx), bit3);
        return _mm256_blendv_ps(a, b, bit4);
    };
    const __m256 h = pick(exp2_hi), l = pick(exp2_lo);
    std::memcpy(&hi, &h, sizeof hi);
    std::memcpy(&lo, &l, sizeof lo);
#else
    for (int k = 0; k < lanes; ++k) {
        hi[k] = exp2_hi[j[k] & 31];
        lo[k] = exp2_lo[j[k] & 31];
    }
#endif
}

inline vf exp_normal(vf x) {
    const float magic_f = 12582912.0f;  // 1.5 * 2^23
    const vf t = x * 0x1.715476p+5f + magic_f;
    const vf n = t - magic_f;
    const vf r = (x - n * ln2_32_hi) - n * ln2_32_lo;
    const vf p = r + (r * r) * (r * exp_c3 + exp_c2);
    // t's low bits hold m; unsigned lanes: the shifts and the sum wrap by design.
    vu tb;
    std::memcpy(&tb, &t, sizeof tb);
    vf th, tl;
    exp2_lookup(tb, th, tl);
    const vf y = th + (tl + th * p);
    // Times 2^(m >> 5): added to the exponent field (shifted, only m >> 5 of t's bits remains).
    vu yb;
    std::memcpy(&yb, &y, sizeof yb);
    yb += (tb >> 5) << 23;
    vf out;
    std::memcpy(&out, &yb, sizeof out);
    return out;
}

// Results that are not normal floats (and NaN): through double, where 2^n stays exact.
inline vd exp_half(vd d) {
    // Beyond +-200 the result is 0 or infinite anyway; the bound keeps n small. NaN passes.
    d = d < -200.0 ? broadcast<vd>(-200.0) : d;
    d = d > 200.0 ? broadcast<vd>(200.0) : d;
    const vd t = d * log2e + magic;
    const vd n = t - magic;
    const vd r = (d - n * ln2_hi) - n * ln2_lo;
    vd p = r * exp_poly[0] + exp_poly[1];
    p = p * r + exp_poly[2];
    p = p * r + exp_poly[3];
    p = p * r + exp_poly[4];
    p = p * r + exp_poly[5];
    p = p * r + exp_poly[6];
    p = p * r + exp_poly[7];
    vl bits;
    std::memcpy(&bits, &t, sizeof bits);
    bits = (bits + 1023) << 52;
    vd scale;
    std::memcpy(&scale, &bits, sizeof scale);
    return p * scale;
}

// Each lane's result depends on its value only (never on its neighbours), so every level agrees.
// The block test is one integer compare of |x| (NaN included): the few blocks it flags go
// through exp_fix, which sorts out their lanes exactly.
inline vf exp_block(vf x, bool& flagged) {
    vi xb;
    std::memcpy(&xb, &x, sizeof xb);
    flagged = any_above(xb & 0x7FFFFFFF, 0x42AEAC4F);  // |x| > 87.33654 (= -exp_underflow)
    return exp_normal(x);
}

// Lanes outside the normal range take the double path; the status is the code of the block's
// last warning element.
inline int exp_fix(vf x, float* out, int n, int status) {
    const vi special = !((x >= exp_underflow) & (x <= exp_overflow));
    if (!any_lane(special)) return status;
    const vf y = by_halves(x, exp_half);
    for (int k = 0; k < n; ++k) {
        if (!special[k]) continue;
        out[k] = y[k];
        if (x[k] > exp_overflow && x[k] < __builtin_inff()) status = krn_math_overflow;
        if (x[k] < exp_underflow && x[k] > -__builtin_inff()) status = krn_math_underflow;
    }
    return status;
}

// ---- sine -----------------------------------------------------------------------------------

constexpr double inv_pi = 0x1.45f306dc9c883p-2;
// pi in two parts; the first has 32 bits, so n * pi_1 is exact for n below 2^21, and the
// second's error leaves r accurate to far below an ulp of the result for |x| <= 2^20.
constexpr double pi_1 = 0x1.921fb54400000p+1;
constexpr double pi_2 = 0x1.0b4611a626331p-33;
constexpr double pi_d = 0x1.921fb54442d18p+1;
// (sin r - r) / r^3 as a polynomial in r^2 on |r| <= pi/2: relative error of sin r below
// 2^-27, so with the final rounding the result stays within about 0.6 ulp.
constexpr double sin_poly[] = {0x1.5dbdee61b85dap-19, -0x1.9f6ffebf977f9p-13, 0x1.110ed37f72d32p-7,
                               -0x1.55554bc831839p-3};
// Arguments up to this reduce in the vector path; larger ones (and inf, NaN) go one by one.
constexpr float sin_fast_limit = 1048576.0f;

template <class V>
V sin_of_reduced(V r) {
    const V r2 = r * r;
    V p = r2 * sin_poly[0] + sin_poly[1];
    p = p * r2 + sin_poly[2];
    p = p * r2 + sin_poly[3];
    return r * (1.0 + r2 * p);  // r times, not r plus: sin(-0) keeps its sign
}

// The sines of N half blocks in place, one step at a time across them, so that their long
// dependency chains interleave. x = n pi + r with |r| <= pi/2; sin x = (-1)^n sin r, with r
// reduced and the polynomial evaluated as in sin_of_reduced.
template <int N>
inline void sin_halves(vd (&d)[N]) {
    vd t[N], r[N], r2[N], p[N];
#define QOR_EACH _Pragma("GCC unroll 4") for (int k = 0; k < N; ++k)
    QOR_EACH t[k] = d[k] * inv_pi + magic;
    QOR_EACH r[k] = t[k] - magic;
    QOR_EACH r[k] = (d[k] - r[k] * pi_1) - r[k] * pi_2;
    QOR_EACH r2[k] = r[k] * r[k];
    QOR_EACH p[k] = r2[k] * sin_poly[0] + sin_poly[1];
    QOR_EACH p[k] = p[k] * r2[k] + sin_poly[2];
    QOR_EACH p[k] = p[k] * r2[k] + sin_poly[3];
    QOR_EACH p[k] = r[k] * (1.0 + r2[k] * p[k]);
    QOR_EACH {
        vl bits, sign;
        std::memcpy(&sign, &t[k], sizeof sign);
        std::memcpy(&bits, &p[k], sizeof bits);
        bits ^= sign << 63;
        std::memcpy(&d[k], &bits, sizeof bits);
    }
#undef QOR_EACH
}

// A block of the sine's arguments, loaded as two halves straight into the widening
// conversions (no shuffles to split the block or join the results).
struct sin_args {
    half_f lo, hi;
};

inline sin_args sin_load(const float* p) {
    sin_args a;
    std::memcpy(&a.lo, p, sizeof a.lo);
    std::memcpy(&a.hi, p + half, sizeof a.hi);
    return a;
}

// Whether the block at p holds some |x| > sin_fast_limit, or NaN.
inline bool sin_flagged(const float* p) {
    vi xb;
    std::memcpy(&xb, p, sizeof xb);
    return any_above(xb & 0x7FFFFFFF, 0x49800000);
}

// Computes the blocks' sines and stores them at p, block after block.
template <int N>
inline void sin_store(float* p, const sin_args (&a)[N]) {
    using wide = decltype(widen(half_f()));
    vd d[2 * N];
    for (int k = 0; k < N; ++k) {
        d[2 * k] = same_bits<vd>(widen(a[k].lo));
        d[2 * k + 1] = same_bits<vd>(widen(a[k].hi));
    }
    sin_halves(d);
    for (int k = 0; k < 2 * N; ++k) {
        const half_f y = narrow(same_bits<wide>(d[k]));
        std::memcpy(p + half * k, &y, sizeof y);
    }
}

// for_each_block for the sine: fix(x, out, n) gets the block's arguments as loaded.
template <class Fix>
void sin_blocks(const float* src, float* dst, int len, Fix fix) {
    const auto fix_flagged = [&](const sin_args& a, float* out, int n) {
        float x[lanes];
        std::memcpy(x, &a.lo, sizeof a.lo);
        std::memcpy(x + half, &a.hi, sizeof a.hi);
        fix(x, out, n);
    };
    int i = 0;
    for (; i + 2 * lanes <= len; i += 2 * lanes) {
        const bool flagged0 = sin_flagged(src + i), flagged1 = sin_flagged(src + i + lanes);
        const sin_args a[2] = {sin_load(src + i), sin_load(src + i + lanes)};
        sin_store(dst + i, a);
        if (flagged0) fix_flagged(a[0], dst + i, lanes);
        if (flagged1) fix_flagged(a[1], dst + i + lanes, lanes);
    }
    for (; i + lanes <= len; i += lanes) {
        const bool flagged = sin_flagged(src + i);
        const sin_args a[1] = {sin_load(src + i)};
        sin_store(dst + i, a);
        if (flagged) fix_flagged(a[0], dst + i, lanes);
    }
    if (i < len) {
        const int n = len - i;
        float in[lanes] = {}, out[lanes];
        std::memcpy(in, src + i, sizeof(float) * n);
        const sin_args a[1] = {sin_load(in)};
        sin_store(out, a);
        std::memcpy(dst + i, out, sizeof(float) * n);
        if (sin_flagged(in)) fix_flagged(a[0], dst + i, n);
    }
}

// 1/pi in 32-bit words, most significant first: 1/pi = sum words[i] * 2^(-32 (i + 1)).
constexpr uint32_t inv_pi_words[] = {0x517cc1b7, 0x27220a94, 0xfe13abe8, 0xfa9a6ee0, 0x6db14acc,
                                     0x9e21c820, 0xff28b1d5, 0xef5de2b0, 0xdb92371d, 0x2126e970};

// sin of a large, infinite or NaN argument. A float is m 2^e with m an integer below 2^24, so
// x/pi modulo 2 needs only the words of 1/pi near 2^-e: they are multiplied out exactly into a
// fixed-point accumulator with 96 fraction bits (value modulo 2 kept as 97 bits of 128).
float sin_large(float x, int& status) {
    if (x != x) return x + x;
    if (x == __builtin_inff() || x == -__builtin_inff()) {
        status = krn_math_domain;
        return x - x;
    }
    uint32_t xb;
    std::memcpy(&xb, &x, sizeof xb);
    const uint64_t m = (xb & 0x7FFFFF) | 0x800000;
    const int e = int((xb >> 23) & 0xFF) - 150;
    uint64_t hi = 0, lo = 0;
    for (int i = 0; i < 10; ++i) {
        const int sh = e + 64 - 32 * i;  // the term's weight in the accumulator
        if (sh >= 97) continue;          // a multiple of 2: nothing modulo 2
        if (sh <= -56) break;            // below the accumulator's last bit
        const uint64_t prod = m * inv_pi_words[i];
        uint64_t tlo, thi;
        if (sh < 0) {
            tlo = prod >> -sh;
            thi = 0;
        } else if (sh == 0) {
            tlo = prod;
            thi = 0;
        } else if (sh < 64) {
            tlo = prod << sh;
            thi = prod >> (64 - sh);
        } else {
            tlo = 0;
            thi = prod << (sh - 64);
        }
        lo += tlo;
        hi += thi + (lo < tlo ? 1 : 0);
    }
    bool odd = (hi >> 32) & 1;
    uint64_t fhi = hi & 0xFFFFFFFF, flo = lo;  // the fraction f = x/pi - floor, times 2^96
    double f;
    if (fhi >> 31) {  // f >= 1/2: round up, r = (f - 1) pi
        odd = !odd;
        flo = ~flo + 1;
        fhi = (~fhi + (flo == 0 ? 1 : 0)) & 0xFFFFFFFF;
        f = -(double(fhi) * 0x1p-32 + double(flo) * 0x1p-96);
    } else {
        f = double(fhi) * 0x1p-32 + double(flo) * 0x1p-96;
    }
    double s = sin_of_reduced(f * pi_d);
    if (odd != (x < 0)) s = -s;
    return float(s);
}

}  // namespace

int krn_mul_32f(const float* src1, const float* src2, float* dst, int len) {
    if (!src1 || !src2 || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    int i = 0;
    for (; i + lanes <= len; i += lanes) store(dst + i, load(src1 + i) * load(src2 + i));
    for (; i < len; ++i) dst[i] = src1[i] * src2[i];
    return krn_ok;
}

int krn_sub_const_32f(const float* src, float val, float* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (val == 0.0f) {  // bit for bit, -0 and NaN payloads included
        if (src != dst) std::memmove(dst, src, sizeof(float) * size_t(len));
        return krn_ok;
    }
    int i = 0;
    for (; i + lanes <= len; i += lanes) store(dst + i, load(src + i) - val);
    for (; i < len; ++i) dst[i] = src[i] - val;
    return krn_ok;
}

int krn_exp_32f(const float* src, float* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    int status = krn_ok;
    for_each_block(src, dst, len, exp_block, [&](vf x, float* out, int n) { status = exp_fix(x, out, n, status); });
    return status;
}

int krn_sin_32f(const float* src, float* dst, int len) {
    if (len < 1) return krn_err_size;
    if (!src || !dst) return krn_err_null;
    // Round to nearest, every exception masked, no flushing of subnormals; the caller's state
    // (flags included) comes back before the return. Nothing in between can throw.
    const unsigned caller_state = _mm_getcsr();
    _mm_setcsr(0x1F80);
    int status = krn_ok;
    sin_blocks(src, dst, len, [&](const float* x, float* out, int n) {
        for (int k = 0; k < n; ++k)
            if (!(x[k] <= sin_fast_limit && x[k] >= -sin_fast_limit)) out[k] = sin_large(x[k], status);
    });
    _mm_setcsr(caller_state);
    return status;
}

}  // namespace qor::krn::QOR_LEVEL_NS
