// Kernels of the curve generators: element-wise product and constant difference, and our own
// single-precision exponential and sine. Both transcendentals widen to double, reduce the
// argument and evaluate one polynomial there, and round once to single precision: the result is
// within a unit in the last place (almost always correctly rounded), and since no operation is
// fused and every lane runs the same operations, every level gives the same bits.
#include <cstdint>
#include <cstring>
#include <immintrin.h>

#include "kernels/level.hpp"
#include "kernels/runtime/status.hpp"

// Wide vectors pass between this file's internal functions only, so their ABI does not matter.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace qor::krn::QOR_LEVEL_NS {
namespace {

// Lanes per block: one register of floats (two, three or four of doubles inside).
#if QOR_LEVEL >= 5
constexpr int lanes = 16;
#elif QOR_LEVEL >= 3
constexpr int lanes = 8;
#else
constexpr int lanes = 4;
#endif
typedef float vf __attribute__((vector_size(4 * lanes)));
typedef int32_t vi __attribute__((vector_size(4 * lanes)));
// The double-precision work runs on half a block at a time: one native register of doubles
// (wider generic vectors make the compiler shuffle through the stack).
constexpr int half = lanes / 2;
typedef float vfh __attribute__((vector_size(4 * half)));
typedef double vd __attribute__((vector_size(8 * half)));
typedef int64_t vl __attribute__((vector_size(8 * half)));

// Applies f (half a block of floats -> half a block of floats) to both halves of x.
template <class F>
inline vf by_halves(vf x, F f) {
    vfh h[2];
    std::memcpy(h, &x, sizeof x);
    h[0] = f(h[0]);
    h[1] = f(h[1]);
    vf r;
    std::memcpy(&r, h, sizeof r);
    return r;
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

template <class V>
V broadcast(double x) {
    V v;
    for (unsigned i = 0; i < sizeof v / sizeof x; ++i) v[i] = x;
    return v;
}

// Runs block(x) over whole blocks, then once over a zero-padded tail, and lets flagged(x, i, n)
// look at every block whose slow-lane mask fired. Loads come before stores, so src may be dst.
template <class Block, class Fix>
void for_each_block(const float* src, float* dst, int len, Block block, Fix fix) {
    int i = 0;
    for (; i + lanes <= len; i += lanes) {
        const vf x = load(src + i);
        vi slow;
        store(dst + i, block(x, slow));
        if (any_lane(slow)) fix(x, dst + i, lanes);
    }
    if (i < len) {
        const int n = len - i;
        float in[lanes] = {}, out[lanes];
        std::memcpy(in, src + i, sizeof(float) * n);
        const vf x = load(in);
        vi slow;
        store(out, block(x, slow));
        std::memcpy(dst + i, out, sizeof(float) * n);
        if (any_lane(slow)) fix(x, dst + i, n);
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

// The common case in single precision: every x whose result is a normal float. x = n ln2 + r
// with ln2 in two parts (n * first part and the subtraction exact) and r kept as r + r_lo; then
// e^r = 1 + r + r^2 q(r), with 1 + r split exactly so that only the small terms round.
constexpr float ln2_hi_f = 0x1.62e4p-1f;  // 16 bits
constexpr float ln2_lo_f = 0x1.7f7d1cp-20f;
// (e^r - 1 - r) / r^2 on |r| <= ln2/2, absolute error below 2e-9.
constexpr float exp_q[] = {0x1.a12fbp-13f, 0x1.6d4f3cp-10f, 0x1.1110dcp-7f, 0x1.5554ep-5f, 0x1.555556p-3f, 0x1p-1f};

inline vf exp_normal(vf x) {
    const float magic_f = 12582912.0f;  // 1.5 * 2^23
    const vf t = x * 0x1.715476p+0f + magic_f;
    const vf n = t - magic_f;
    const vf r1 = x - n * ln2_hi_f;
    const vf nl = n * ln2_lo_f;
    const vf r = r1 - nl;
    const vf r_lo = (r1 - r) - nl;
    const vf r2 = r * r;
    vf q = r * exp_q[0] + exp_q[1];
    q = q * r + exp_q[2];
    q = q * r + exp_q[3];
    q = q * r + exp_q[4];
    q = q * r + exp_q[5];
    const vf hi = 1.0f + r;
    const vf lo = ((1.0f - hi) + r) + (r_lo + r2 * q);
    const vf y = hi + lo;
    // Times 2^n: n added to the exponent field (t's low bits hold n; shifted, only n remains).
    // Unsigned lanes: the shift and the sum wrap by design.
    typedef uint32_t vu __attribute__((vector_size(sizeof(vi))));
    vu yb, tb;
    std::memcpy(&yb, &y, sizeof yb);
    std::memcpy(&tb, &t, sizeof tb);
    yb += tb << 23;
    vf out;
    std::memcpy(&out, &yb, sizeof out);
    return out;
}

// Results that are not normal floats (and NaN): through double, where 2^n stays exact.
inline vfh exp_half(vfh x) {
    vd d = __builtin_convertvector(x, vd);
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
    return __builtin_convertvector(p * scale, vfh);
}

// Each lane's result depends on its value only (never on its neighbours), so every level agrees.
inline vf exp_block(vf x, vi& slow) {
    const float inf = __builtin_inff();
    slow = ((x > exp_overflow) & (x < inf)) | ((x < exp_underflow) & (x > -inf));
    const vi special = !((x >= exp_underflow) & (x <= exp_overflow));
    const vf y = exp_normal(x);
    if (!any_lane(special)) return y;
    return special ? by_halves(x, exp_half) : y;
}

// The status of a block with warnings: the code of its last warning element.
inline int exp_warning(const float* x, int n, int status) {
    for (int k = 0; k < n; ++k) {
        if (x[k] > exp_overflow && x[k] < __builtin_inff()) status = krn_math_overflow;
        if (x[k] < exp_underflow && x[k] > -__builtin_inff()) status = krn_math_underflow;
    }
    return status;
}

// ---- sine -----------------------------------------------------------------------------------

constexpr double inv_pi = 0x1.45f306dc9c883p-2;
// pi in three parts; the first two have 32 bits, so n * part is exact for n below 2^21.
constexpr double pi_1 = 0x1.921fb54400000p+1;
constexpr double pi_2 = 0x1.0b4611a600000p-33;
constexpr double pi_3 = 0x1.3198a2e037073p-68;
constexpr double pi_d = 0x1.921fb54442d18p+1;
// (sin r - r) / r^3 as a polynomial in r^2 on |r| <= pi/2.
constexpr double sin_poly[] = {-0x1.9db0f5748483fp-26, 0x1.71968a40cb070p-19, -0x1.a0190593eaa76p-13,
                               0x1.11110fda7067bp-7, -0x1.555555546014ap-3};
// Arguments up to this reduce in the vector path; larger ones (and inf, NaN) go one by one.
constexpr float sin_fast_limit = 1048576.0f;

template <class V>
V sin_of_reduced(V r) {
    const V r2 = r * r;
    V p = r2 * sin_poly[0] + sin_poly[1];
    p = p * r2 + sin_poly[2];
    p = p * r2 + sin_poly[3];
    p = p * r2 + sin_poly[4];
    return r * (1.0 + r2 * p);  // r times, not r plus: sin(-0) keeps its sign
}

inline vfh sin_half(vfh x) {
    const vd d = __builtin_convertvector(x, vd);
    // x = n pi + r with |r| <= pi/2; sin x = (-1)^n sin r.
    const vd t = d * inv_pi + magic;
    const vd n = t - magic;
    const vd r = ((d - n * pi_1) - n * pi_2) - n * pi_3;
    const vd s = sin_of_reduced(r);
    vl bits, sign;
    std::memcpy(&sign, &t, sizeof sign);
    std::memcpy(&bits, &s, sizeof bits);
    bits ^= sign << 63;
    vd y;
    std::memcpy(&y, &bits, sizeof y);
    return __builtin_convertvector(y, vfh);
}

inline vf sin_block(vf x, vi& slow) {
    const vf ax = x < 0.0f ? -x : x;
    slow = !(ax <= sin_fast_limit);
    return by_halves(x, sin_half);
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
    for_each_block(src, dst, len, exp_block, [&](vf x, float*, int n) {
        float v[lanes];
        store(v, x);
        status = exp_warning(v, n, status);
    });
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
    for_each_block(src, dst, len, sin_block, [&](vf x, float* out, int n) {
        float v[lanes];
        store(v, x);
        for (int k = 0; k < n; ++k)
            if (!(v[k] <= sin_fast_limit && v[k] >= -sin_fast_limit)) out[k] = sin_large(v[k], status);
    });
    _mm_setcsr(caller_state);
    return status;
}

}  // namespace qor::krn::QOR_LEVEL_NS
