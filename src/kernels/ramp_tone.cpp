// Ramps and tones. Both generate a deterministic signal without evaluating its formula per
// element: the ramps accumulate in four single-precision lanes, the tones run recurrences between
// exactly computed cosines. The ramps' rounding is fixed, so every level writes the same bits.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <immintrin.h>
#include <type_traits>
#include <utility>

#include "kernels/level.hpp"
#include "kernels/runtime/cpu.hpp"
#include "kernels/runtime/status.hpp"

// Wide vectors pass between this file's internal functions only, so their ABI does not matter.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace qor::krn::QOR_LEVEL_NS {

#include "kernels/simd.hpp"

namespace {

#include "kernels/ramp_detail.hpp"

constexpr int reg_lanes = ramp_reg_lanes;
constexpr int regs = ramp_regs;
typedef int32_t vni __attribute__((vector_size(4 * reg_lanes)));
typedef uint16_t vnu16 __attribute__((vector_size(2 * reg_lanes)));

// A ramp value shifted by -32768, rounded to nearest even and limited to the signed 16-bit range,
// then shifted back: 0 .. 65535. NaN is limited to the bottom. The magic constant rounds exactly
// for every value in range.
constexpr float round_magic = 12582912.0f;  // 1.5 * 2^23

inline uint16_t shifted_to_16u(float v) {
    v = v >= -32768.0f ? v : -32768.0f;
    v = v <= 32767.0f ? v : 32767.0f;
    v = (v + round_magic) - round_magic;
    return uint16_t(int32_t(v) + 32768);
}

inline void shifted_block_to_16u(uint16_t* dst, const block16& b) {
    const vn lo = vn{} - 32768.0f, hi = vn{} + 32767.0f;
    for (int j = 0; j < regs; ++j) {
        vn v = b.r[j];
        v = v >= lo ? v : lo;
        v = v <= hi ? v : hi;
        v = (v + round_magic) - round_magic;
        const vni i = __builtin_convertvector(v, vni) + 32768;
        const vnu16 u = __builtin_convertvector(i, vnu16);
        std::memcpy(dst + j * reg_lanes, &u, sizeof u);
    }
}

// Elements the ramp leaves at its saturated ends: 0x0000 or 0xFFFF, filled in bulk.
inline void fill_16u(uint16_t* dst, int64_t n, bool top) {
    if (n > 0) std::memset(dst, top ? 0xFF : 0x00, size_t(n) * sizeof(uint16_t));
}

// How many leading elements an index bound t covers: 0 below 0 (and for NaN), 2^31 - 1 above 2^31.
inline int64_t count_of(float t) {
    if (t > 2147483648.0f) return 2147483647;
    if (!(t >= 0.0f)) return 0;
    return int64_t(t);
}

// ---- tones ----------------------------------------------------------------------------------

constexpr double two_pi = 6.283185307179586;
constexpr double inv_two_pi = 0.15915494309189535;

// Double-precision cosine for the few exact values per segment. x = n pi/2 + r, |r| <= pi/4,
// with pi/2 in four parts: the first three have 20 bits, so n * part is exact for |n| < 2^33,
// which covers every angle a tone can ask for.
constexpr double magic = 0x1.8p52;  // adding it rounds a double below 2^51 to an integer
constexpr double two_over_pi = 0x1.45f306dc9c883p-1;
constexpr double half_pi[] = {0x1.921fc00000000p+0, -0x1.5777a00000000p-21, -0x1.73dcc00000000p-43,
                              0x1.898cc51701b84p-64};

// sin and cos of r + lo, |r| <= pi/4, lo below half an ulp of r. r = j pi/64 + s with |s| <=
// pi/128: the table's double-double values of sin and cos of j pi/64 carry the result, and the
// short series in s only corrects them, so the rounding error stays close to half an ulp.
constexpr double step_hi = 0x1.921fb54442000p-5;  // pi/64: 40 bits, j * step_hi is exact
constexpr double step_lo = 0x1.a308d313198a3p-46;
constexpr double steps_per_radian = 0x1.45f306dc9c883p+4;
struct sin_cos_entry {
    double sin_hi, sin_lo, cos_hi, cos_lo;
};
constexpr sin_cos_entry sin_cos_table[17] = {
    {0.0, 0.0, 0x1.0000000000000p+0, 0.0},
    {0x1.91f65f10dd814p-5, -0x1.912bd0d569a90p-61, 0x1.ff621e3796d7ep-1, -0x1.c57bc2e24aa15p-57},
    {0x1.917a6bc29b42cp-4, -0x1.e2718d26ed688p-60, 0x1.fd88da3d12526p-1, -0x1.87df6378811c7p-55},
    {0x1.2c8106e8e613ap-3, 0x1.13000a89a11e0p-58, 0x1.fa7557f08a517p-1, -0x1.7a0a8ca13571fp-55},
    {0x1.8f8b83c69a60bp-3, -0x1.26d19b9ff8d82p-57, 0x1.f6297cff75cb0p-1, 0x1.562172a361fd3p-56},
    {0x1.f19f97b215f1bp-3, -0x1.42deef11da2c4p-57, 0x1.f0a7efb9230d7p-1, 0x1.52c7adc6b4989p-56},
    {0x1.294062ed59f06p-2, -0x1.5d28da2c4612dp-56, 0x1.e9f4156c62ddap-1, 0x1.760b1e2e3f81ep-55},
    {0x1.58f9a75ab1fddp-2, -0x1.efdc0d58cf620p-62, 0x1.e212104f686e5p-1, -0x1.014c76c126527p-55},
    {0x1.87de2a6aea963p-2, -0x1.72cedd3d5a610p-57, 0x1.d906bcf328d46p-1, 0x1.457e610231ac2p-56},
    {0x1.b5d1009e15cc0p-2, 0x1.5b362cb974183p-57, 0x1.ced7af43cc773p-1, -0x1.e7b6bb5ab58aep-58},
    {0x1.e2b5d3806f63bp-2, 0x1.e0d891d3c6841p-58, 0x1.c38b2f180bdb1p-1, -0x1.6e0b1757c8d07p-56},
    {0x1.073879922ffeep-1, -0x1.a5a014347406cp-55, 0x1.b728345196e3ep-1, -0x1.bc69f324e6d61p-55},
    {0x1.1c73b39ae68c8p-1, 0x1.b25dd267f6600p-55, 0x1.a9b66290ea1a3p-1, 0x1.9f630e8b6dac8p-60},
    {0x1.30ff7fce17035p-1, -0x1.efcc626f74a6fp-57, 0x1.9b3e047f38741p-1, -0x1.30ee286712474p-55},
    {0x1.44cf325091dd6p-1, 0x1.8076a2cfdc6b3p-57, 0x1.8bc806b151741p-1, -0x1.2c5e12ed1336dp-55},
    {0x1.57d69348ceca0p-1, -0x1.75720992bfbb2p-55, 0x1.7b5df226aafafp-1, -0x1.0f537acdf0ad7p-56},
    {0x1.6a09e667f3bcdp-1, -0x1.bdd3413b26456p-55, 0x1.6a09e667f3bcdp-1, -0x1.bdd3413b26456p-55}
};

struct sin_cos {
    double s, c;
};

sin_cos sin_cos_of_reduced(double r, double lo) {
    const double t = r * steps_per_radian + magic;
    const double jd = t - magic;
    const int j = int(jd);  // |j| <= 16
    const double s = (r - jd * step_hi) - jd * step_lo;
    const double s2 = s * s;
    // sin s = s + (lo + s^3 ps), cos s - 1 = s^2 (-1/2 + s^2 pc): enough terms for |s| <= pi/128.
    const double sin_s = s + (lo + (s * s2) * (-1.0 / 6.0 + s2 * (1.0 / 120.0 + s2 * (-1.0 / 5040.0))));
    const double h = 0.5 * s2;
    const double cm1_small = (s2 * s2) * (1.0 / 24.0 + s2 * (-1.0 / 720.0 + s2 * (1.0 / 40320.0))) - s * lo;
    if (j == 0) {
        const double w = 1.0 - h;
        return {sin_s, w + (((1.0 - w) - h) + cm1_small)};
    }
    const sin_cos_entry& e = sin_cos_table[j < 0 ? -j : j];
    const double sh = j < 0 ? -e.sin_hi : e.sin_hi, sl = j < 0 ? -e.sin_lo : e.sin_lo;
    const double cm1 = cm1_small - h;
    return {sh + (sl + (e.cos_hi * sin_s + sh * cm1)), e.cos_hi + (e.cos_lo + (e.cos_hi * cm1 - sh * sin_s))};
}

void cos_values(const double* x, double* y, int n) {
    for (int i = 0; i < n; ++i) {
        const double t = x[i] * two_over_pi + magic;
        const double k = t - magic;
        // The first two subtractions are exact; the reduced argument is kept as r + lo.
        const double a = (x[i] - k * half_pi[0]) - k * half_pi[1];
        const double p3 = k * half_pi[2], p4 = k * half_pi[3];
        const double s = a - p3;
        const double sb = s - a;
        const double e = (a - (s - sb)) - (p3 + sb);  // s + e = a - p3 exactly
        const double r = s - p4;
        const double lo = ((s - r) - p4) + e;
        uint64_t bits;
        std::memcpy(&bits, &t, sizeof bits);
        const sin_cos sc = sin_cos_of_reduced(r, lo);
        switch (bits & 3) {
            case 0: y[i] = sc.c; break;
            case 1: y[i] = -sc.s; break;
            case 2: y[i] = -sc.c; break;
            default: y[i] = sc.s; break;
        }
    }
}

typedef float v8f __attribute__((vector_size(32)));
typedef int32_t v8i __attribute__((vector_size(32)));
typedef int16_t v8s __attribute__((vector_size(16)));
typedef double v4d __attribute__((vector_size(32)));

inline v8f load8(const float* p) {
    v8f v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline v4d load4(const double* p) {
    v4d v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// A 16-bit tone element: limited to the type's range, then truncated (head) or rounded to
// nearest even (recurrence, via the magic constant, exact in this range).
inline int16_t truncated_16s(double v) {
    v = v >= -32768.0 ? v : -32768.0;
    v = v <= 32767.0 ? v : 32767.0;
    return int16_t(v);
}
inline v8s rounded_16s(v8f v) {
    const v8f lo = v8f{} - 32768.0f, hi = v8f{} + 32767.0f;
    v = v >= lo ? v : lo;
    v = v <= hi ? v : hi;
    v = (v + round_magic) - round_magic;
    return __builtin_convertvector(__builtin_convertvector(v, v8i), v8s);
}

// The element types' side of the tone: the first values in double, then the stride-8 single
// precision recurrence (16-bit, 32-bit float) or the stride-4 double one (64-bit float).
struct tone_16s {
    using type = int16_t;
    static constexpr int segment = 1024, head = 16;
    static type from_head(double y) { return truncated_16s(y); }
    static type from_long_recurrence(double y) { return truncated_16s(y); }
};
struct tone_32f {
    using type = float;
    static constexpr int segment = 1024, head = 16;
    static type from_head(double y) { return float(y); }
    static type from_long_recurrence(double y) { return float(y); }
};
struct tone_64f {
    using type = double;
    static constexpr int segment = 2048, head = 8;
    static type from_head(double y) { return y; }
    static type from_long_recurrence(double y) { return y; }
};

// Elements k >= 16 of a segment: y[k] = g y[k-8] - y[k-16] in single precision, eight chains side
// by side, from the head's single-precision values. Every lane is computed, only m are stored.
template <class T>
inline void store8(T* dst, int n, v8f v) {
    if constexpr (sizeof(T) == 2) {
        const v8s r = rounded_16s(v);
        if (n >= 8)
            std::memcpy(dst, &r, sizeof r);
        else
            for (int i = 0; i < n; ++i) dst[i] = r[i];
    } else {
        if (n >= 8)
            std::memcpy(dst, &v, sizeof v);
        else
            for (int i = 0; i < n; ++i) dst[i] = v[i];
    }
}

inline v8f stride8_factor(double c) {
    const double cc = c * c;
    const double u = cc * (cc - 4.0) + 2.0;
    return v8f{} + float(u * u - 2.0);
}

inline void stride8_history(const double* y, v8f& a, v8f& b) {
    float hist[16];
    for (int k = 0; k < 16; ++k) hist[k] = float(y[k]);
    a = load8(hist);
    b = load8(hist + 8);
}

// Elements k >= 16 of a segment: y[k] = g y[k-8] - y[k-16] in single precision, eight chains side
// by side, from the head's single-precision values. Every lane is computed, only m are stored.
template <class T>
void stride8_recurrence(T* dst, int m, const double* y, double c) {
    const v8f g = stride8_factor(c);
    v8f a, b;
    stride8_history(y, a, b);
    for (int k = 16; k < m; k += 8) {
        const v8f next = g * b - a;
        store8(dst + k, m - k, next);
        a = b;
        b = next;
    }
}

// Two whole segments at once: their chains are independent, so the second fills the latency of
// the first. Each element is computed exactly as by the single form.
template <class T>
void stride8_recurrence_pair(T* dst1, T* dst2, int m, const double* y1, const double* y2, double c) {
    const v8f g = stride8_factor(c);
    v8f a1, b1, a2, b2;
    stride8_history(y1, a1, b1);
    stride8_history(y2, a2, b2);
    for (int k = 16; k < m; k += 8) {
        const v8f next1 = g * b1 - a1;
        const v8f next2 = g * b2 - a2;
        store8(dst1 + k, m - k, next1);
        store8(dst2 + k, m - k, next2);
        a1 = b1;
        b1 = next1;
        a2 = b2;
        b2 = next2;
    }
}

// Elements k >= 8 of a 64-bit segment: y[k] = g y[k-4] - y[k-8] in double, four chains.
void stride4_recurrence(double* dst, int m, const double* y, double c) {
    const double cc = c * c;
    const v4d g = v4d{} + (cc * (cc - 4.0) + 2.0);
    v4d a = load4(y), b = load4(y + 4);
    for (int k = 8; k < m; k += 4) {
        const v4d next = g * b - a;
        if (m - k >= 4)
            std::memcpy(dst + k, &next, sizeof next);
        else
            for (int i = 0; i < m - k; ++i) dst[k + i] = next[i];
        a = b;
        b = next;
    }
}

template <class Tone, class M, class F, class P>
int tone(typename Tone::type* dst, int len, M magn, F rfreq, P* phase, int hint) {
    if (!phase) return krn_err_null;
    // Written so that a NaN fails each range check rather than slipping through it.
    if (!(magn > 0)) return krn_err_tone_magn;
    if (!(rfreq >= 0 && rfreq < F(0.5))) return krn_err_tone_freq;
    if (!(*phase >= 0 && double(*phase) < two_pi)) return krn_err_tone_phase;
    if (!dst) return krn_err_null;
    if (len < 1) return krn_err_size;

    const double phi = double(*phase), mag = double(magn), w = double(rfreq) * two_pi;
    // The phase after the last element, wrapped into [0, 2 pi), written before any element.
    {
        const double q = double(len) * w + phi;
        const double turns = q * inv_two_pi;
        const int32_t n = turns > -2147483648.0 && turns < 2147483648.0 ? int32_t(turns) : 0;
        const P next = P(q - double(n) * two_pi);
        *phase = next < 0 || double(next) >= two_pi ? P(0) : next;
    }
    if (hint != 1) {
        // One recurrence over the whole vector.
        double a[3] = {phi, phi + w, w}, cs[3];
        cos_values(a, cs, 3);
        double y0 = cs[0] * mag, y1 = cs[1] * mag;
        const double c = cs[2] * 2.0;
        dst[0] = Tone::from_long_recurrence(y0);
        if (len > 1) dst[1] = Tone::from_long_recurrence(y1);
        for (int k = 2; k < len; ++k) {
            const double y2 = c * y1 - y0;
            dst[k] = Tone::from_long_recurrence(y2);
            y0 = y1;
            y1 = y2;
        }
        return krn_ok;
    }
    // A segment's cosines and head; the rest of it is left to the recurrences below.
    auto start_segment = [&](int n0, int m, double* y) {
        double a[4] = {double(n0) * w + phi, double(n0 + 1) * w + phi, w, 0.0}, cs[4];
        cos_values(a, cs, 4);
        y[0] = cs[0] * mag;
        y[1] = cs[1] * mag;
        const double c = cs[2] * 2.0;
        const int h = m < Tone::head ? m : Tone::head;
        for (int k = 2; k < h; ++k) y[k] = c * y[k - 1] - y[k - 2];
        for (int k = 0; k < h; ++k) dst[n0 + k] = Tone::from_head(y[k]);
        return c;
    };
    constexpr int seg = Tone::segment;
    int n0 = 0;
    if constexpr (Tone::head == 16) {
        for (; len - n0 >= 2 * seg; n0 += 2 * seg) {
            double y1[16], y2[16];
            const double c = start_segment(n0, seg, y1);
            start_segment(n0 + seg, seg, y2);
            stride8_recurrence_pair(dst + n0, dst + n0 + seg, seg, y1, y2, c);
        }
    }
    for (; n0 < len; n0 += seg) {
        const int m = len - n0 < seg ? len - n0 : seg;
        double y[16];
        const double c = start_segment(n0, m, y);
        if (m > Tone::head) {
            if constexpr (Tone::head == 8)
                stride4_recurrence(dst + n0, m, y, c);
            else
                stride8_recurrence(dst + n0, m, y, c);
        }
    }
    return krn_ok;
}

}  // namespace

namespace {

// The cosine's argument reduction and the 16-bit rounding use magic-constant rounding, which holds
// only under round-to-nearest without flush-to-zero (under another rounding the table index can
// leave its range). Tones run in that state, whatever the caller's, and hand the caller's back;
// flags raised meanwhile stay raised.
template <class Run>
int in_nearest_rounding(Run run) {
    const unsigned saved = _mm_getcsr();
    const unsigned nearest = (saved & 0x3Fu) | 0x1F80u;
    if (saved != nearest) _mm_setcsr(nearest);
    const int status = run();
    if (saved != nearest) _mm_setcsr((_mm_getcsr() & 0x3Fu) | (saved & ~0x3Fu));
    return status;
}

}  // namespace

int krn_tone_16s(int16_t* dst, int len, int16_t magn, float rfreq, float* phase, int hint) {
    return in_nearest_rounding([&] { return tone<tone_16s>(dst, len, magn, rfreq, phase, hint); });
}

int krn_tone_32f(float* dst, int len, float magn, float rfreq, float* phase, int hint) {
    return in_nearest_rounding([&] { return tone<tone_32f>(dst, len, magn, rfreq, phase, hint); });
}

int krn_tone_64f(double* dst, int len, double magn, double rfreq, double* phase, int hint) {
    return in_nearest_rounding([&] { return tone<tone_64f>(dst, len, magn, rfreq, phase, hint); });
}

int krn_vector_slope_32f(float* dst, int len, float offset, float slope) {
    if (!dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    ramp_accumulate(
        dst, len, offset, slope, [](float* p, float v) { *p = v; },
        [](float* p, const block16& v) { std::memcpy(p, v.r, sizeof v.r); });
    return krn_ok;
}

int krn_vector_slope_16u(uint16_t* dst, int len, float offset, float slope) {
    if (!dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (slope == 0.0f) {
        // Halves round away from zero here: offset + 0.5 truncated.
        uint16_t v = 0;
        if (offset > 0.0f) {
            float t = offset + 0.5f;
            t = t < 65535.0f ? t : 65535.0f;
            v = uint16_t(int32_t(t));
        }
        if (v == 0 || v == 0xFFFF) {
            fill_16u(dst, len, v != 0);
        } else {
            for (int i = 0; i < len; ++i) dst[i] = v;
        }
        return krn_ok;
    }
    // Indices where the ramp leaves 0 .. 65535.
    const float r = 1.0f / slope;
    const float t0 = (-offset) * r + 1.0f;
    const float t1 = (65535.0f - offset) * r + 1.0f;
    int64_t end = len, lead;
    if (slope > 0.0f) {
        if (t1 >= 0.0f && t1 <= 2147483648.0f) {
            const int64_t h = int64_t(t1);
            if (h >= 1 && h <= len - 1) {
                fill_16u(dst + h, len - h, true);
                end = h;
            }
        }
        lead = count_of(t0) < end ? count_of(t0) : end;
        fill_16u(dst, lead, false);
    } else {
        const int64_t h = count_of(t0);
        if (h >= 1 && h <= len - 1) {
            fill_16u(dst + h, len - h, false);
            end = h;
        }
        lead = count_of(t1) < end ? count_of(t1) : end;
        fill_16u(dst, lead, true);
    }
    if (end > lead) {
        const float b = (offset + float(lead) * slope) - 32768.0f;
        ramp_accumulate(
            dst + lead, end - lead, b, slope, [](uint16_t* p, float v) { *p = shifted_to_16u(v); },
            [](uint16_t* p, const block16& v) { shifted_block_to_16u(p, v); });
    }
    return krn_ok;
}

}  // namespace qor::krn::QOR_LEVEL_NS
