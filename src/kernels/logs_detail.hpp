// Helpers of the logs family: vector types of the level's width, lane masks, the floating-point
// control guards, and the double-precision logarithm cores that every 64-bit kernel, the 32-bit
// log1p and the 32-bit subnormal paths share. Included inside each level's namespace.
//
// Everything here is written op by op (contraction is off), so a core gives the same bits for
// one lane and for sixteen, at every level.

constexpr int vector_bytes = QOR_FLOAT_VECTOR_BYTES;

// Lanes of N elements of each kind; N = 1 serves the scalar special paths with the same code.
template <int N>
struct lanes {
    typedef double d __attribute__((vector_size(8 * N)));
    typedef int64_t l __attribute__((vector_size(8 * N)));
    typedef uint64_t ul __attribute__((vector_size(8 * N)));
    typedef float f __attribute__((vector_size(4 * N)));
    typedef int32_t i __attribute__((vector_size(4 * N)));
    typedef uint32_t ui __attribute__((vector_size(4 * N)));
};

constexpr int f32_lanes = vector_bytes / 4;
constexpr int f64_lanes = vector_bytes / 8;
using vf = lanes<f32_lanes>::f;
using vi = lanes<f32_lanes>::i;
using vd = lanes<f64_lanes>::d;
using vl = lanes<f64_lanes>::l;

template <class To, class From>
inline To bits_as(From v) {
    static_assert(sizeof(To) == sizeof(From));
    return __builtin_bit_cast(To, v);
}

// One bit per lane of a comparison result (all ones or zero per lane), lane 0 in bit 0.
inline unsigned lane_bits(vi m) {
#if QOR_LEVEL >= 5
    return _mm512_movepi32_mask(bits_as<__m512i>(m));
#elif QOR_LEVEL >= 3
    return unsigned(_mm256_movemask_ps(bits_as<__m256>(m)));
#else
    return unsigned(_mm_movemask_ps(bits_as<__m128>(m)));
#endif
}
// Level 5 computes its lane conditions straight into mask registers.
inline unsigned lane_bits(unsigned m) { return m; }
inline unsigned lane_bits(vl m) {
#if QOR_LEVEL >= 5
    return _mm512_movepi64_mask(bits_as<__m512i>(m));
#elif QOR_LEVEL >= 3
    return unsigned(_mm256_movemask_pd(bits_as<__m256d>(m)));
#else
    return unsigned(_mm_movemask_pd(bits_as<__m128d>(m)));
#endif
}

inline uint16_t x87_control() {
    uint16_t cw;
    __asm__ volatile("fnstcw %0" : "=m"(cw));
    return cw;
}
inline void set_x87_control(uint16_t cw) { __asm__ volatile("fldcw %0" : : "m"(cw)); }

constexpr unsigned mxcsr_flags = 0x3F;        // IE DE ZE OE UE PE
constexpr unsigned mxcsr_error_flags = 0x1F;  // all but inexact
constexpr unsigned mxcsr_masks = 0x1F80;
constexpr unsigned mxcsr_control = 0xFFC0;    // DAZ, masks, rounding, FTZ
constexpr uint16_t x87_masks = 0x3F;

struct fp_saved {
    unsigned csr;
    uint16_t x87;
    bool changed;
};

// The ln and log10 kernels compute under round-to-nearest, all exceptions masked, no FTZ/DAZ.
// A caller already in that state keeps its own flags, minus the error flags we raised; any
// other caller gets its whole control and status word back. (Plain calls rather than a scoped
// guard: a destructor would pull exception-handling data into the level objects.)
inline fp_saved enter_exact_fp() {
    const fp_saved s{_mm_getcsr(), x87_control(), false};
    fp_saved out = s;
    out.changed = (s.csr & mxcsr_control) != mxcsr_masks;
    if (out.changed) _mm_setcsr(mxcsr_masks | (s.csr & mxcsr_flags));
    if ((s.x87 & x87_masks) != x87_masks) set_x87_control(uint16_t(s.x87 | x87_masks));
    return out;
}
inline void leave_exact_fp(const fp_saved& s) {
    if (s.changed) {
        _mm_setcsr(s.csr);
    } else {
        // Writing the control register is slow; usually only inexact was raised.
        const unsigned now = _mm_getcsr();
        if (const unsigned raised = now & ~s.csr & mxcsr_error_flags) _mm_setcsr(now & ~raised);
    }
    if ((s.x87 & x87_masks) != x87_masks) set_x87_control(s.x87);
}

// The log1p kernels only make sure no exception traps, and put the caller's word back.
inline fp_saved enter_masked_fp() {
    fp_saved s{_mm_getcsr(), x87_control(), false};
    s.changed = (s.csr & mxcsr_masks) != mxcsr_masks;
    if (s.changed) _mm_setcsr(s.csr | mxcsr_masks);
    if ((s.x87 & x87_masks) != x87_masks) set_x87_control(uint16_t(s.x87 | x87_masks));
    return s;
}
inline void leave_masked_fp(const fp_saved& s) {
    if (s.changed) _mm_setcsr(s.csr);
    if ((s.x87 & x87_masks) != x87_masks) set_x87_control(s.x87);
}

// Reports of the element routines; the natural-log kernels turn them into 7 / 8.
constexpr int report_pole = 18;
constexpr int report_below = 19;

constexpr float default_nan_f = __builtin_bit_cast(float, 0xFFC00000u);
constexpr double default_nan_d = __builtin_bit_cast(double, 0xFFF8000000000000ull);
inline float quiet(float x) { return bits_as<float>(bits_as<uint32_t>(x) | 0x00400000u); }
inline double quiet(double x) { return bits_as<double>(bits_as<uint64_t>(x) | 0x0008000000000000ull); }

#include "kernels/logs_tables.hpp"

// ln(1 + r) - r = r^2 * P(r) for |r| up to about 2^-10.
constexpr double p0 = -0.49999999999988803, p1 = 0.33333333333308374;
constexpr double p2 = -0.2500003054940248, p3 = 0.2000003665949424;

// Floats to doubles, exactly (GCC would split the eight-lane case into two halves).
template <int N>
[[gnu::always_inline]] inline typename lanes<N>::d widen(typename lanes<N>::f x) {
#if QOR_LEVEL >= 5
    if constexpr (N == 8) return bits_as<typename lanes<N>::d>(_mm512_maskz_cvtps_pd(0xFF, bits_as<__m256>(x)));
#endif
    return __builtin_convertvector(x, typename lanes<N>::d);
}

// a * b + c where the product a * b is exact: fused or not, the same single rounding, so the
// levels with FMA save the separate multiply.
template <class D>
[[gnu::always_inline]] inline D exact_mul_add(D a, D b, D c) {
#if QOR_LEVEL >= 5
    if constexpr (sizeof(D) == 64)
        return bits_as<D>(_mm512_fmadd_pd(bits_as<__m512d>(a), bits_as<__m512d>(b), bits_as<__m512d>(c)));
#endif
#if QOR_LEVEL >= 4
    if constexpr (sizeof(D) == 32)
        return bits_as<D>(_mm256_fmadd_pd(bits_as<__m256d>(a), bits_as<__m256d>(b), bits_as<__m256d>(c)));
#endif
    return a * b + c;
}

// The shared reduction of a positive normal double x = 2^k * u, u in [1, 2):
// c = round(1024 / u) from a single-precision quotient (512..1024) and r = u*c/1024 - 1.
// u*c/1024 lies on the 2^-62 grid and |r| < 2^-10, so r is a double and is computed exactly:
// u_hi keeps 26 fraction bits, u_hi*c and u_lo*c are exact, and so is their final sum.
template <int N>
struct reduced {
    typename lanes<N>::d k, r;
    typename lanes<N>::i index;
};

// An offset or correction that is known to be zero; leaving out its addition changes no bit (the
// value it would be added to is never -0).
struct no_term {};

template <int N, class K>
[[gnu::always_inline]] inline reduced<N> reduce(typename lanes<N>::l xb, K k_offset) {
    using L = lanes<N>;
    using ul = typename L::ul;
    using d = typename L::d;
    using f = typename L::f;
    using i = typename L::i;
    const ul ub = bits_as<ul>(xb);
    // 2^52 + E as a double, minus 2^52 + 1023: the unbiased exponent, exactly.
    d k;
#if QOR_LEVEL >= 5
    // The same integer in one instruction (every lane that is kept holds a positive normal).
    if constexpr (N == 8)
        k = bits_as<d>(_mm512_maskz_getexp_pd(0xFF, bits_as<__m512d>(xb)));
    else
#endif
        k = bits_as<d>((ub >> 52) | 0x4330000000000000ull) - (0x1p52 + 1023.0);
    if constexpr (!std::is_same_v<K, no_term>) k = k + k_offset;
    const ul mb = (ub & 0x000FFFFFFFFFFFFFull) | 0x3FF0000000000000ull;
    const d u = bits_as<d>(mb);
    const d u_hi = bits_as<d>(mb & ~uint64_t{0x3FFFFFF});
    const d u_lo = u - u_hi;
    // Scaled by 2^-10 throughout (exact): q/1024 = 1/u, rounded to the 2^-10 grid the same way,
    // and c/1024 multiplies u_hi and u_lo to the same exact products as c followed by 2^-10.
    const f q = 1.0f / __builtin_convertvector(u, f);
    const f shifted = q + 0x1.8p13f;  // the multiple of 2^-10 nearest q lands in the low mantissa bits
    const d c = widen<N>(shifted - 0x1.8p13f);
    reduced<N> out;
    out.index = bits_as<i>(shifted) - (0x46400000 + 512);
    out.k = k;
    out.r = exact_mul_add(u_lo, c, exact_mul_add(u_hi, c, d{} - 1.0));
    return out;
}

// Table rows for each lane. Lanes are never written one by one into a vector in memory: that
// defeats store forwarding and costs more than the rest of the core.
template <int N>
[[gnu::always_inline]] inline void look_up(const log_entry* table, typename lanes<N>::i index, typename lanes<N>::d& hi,
                    typename lanes<N>::d& lo) {
    using d = typename lanes<N>::d;
    const double* base = &table[0].hi;
    if constexpr (N == 1) {
        hi = d{table[index[0]].hi};
        lo = d{table[index[0]].lo};
    } else if constexpr (N == 2) {
        const __m128d a = _mm_loadu_pd(base + 2 * index[0]), b = _mm_loadu_pd(base + 2 * index[1]);
        hi = bits_as<d>(_mm_unpacklo_pd(a, b));
        lo = bits_as<d>(_mm_unpackhi_pd(a, b));
    } else {
#if QOR_LEVEL >= 5
        // Eight row loads, even rows into one register and odd rows into the other, so that one
        // unpack gives the hi column and another the lo column in lane order: cheaper than two
        // gathers. (Four-lane gathers are left out: the emulator the suite runs older levels
        // under, qemu 7.2, computes them wrongly.)
        if constexpr (N == 8) {
            // The indices leave two at a time through the integer registers.
            const __m256i iv = bits_as<__m256i>(index);
            const __m128i ia = _mm256_castsi256_si128(iv), ib = _mm256_extracti128_si256(iv, 1);
            const uint64_t pairs[4] = {uint64_t(_mm_cvtsi128_si64(ia)), uint64_t(_mm_extract_epi64(ia, 1)),
                                       uint64_t(_mm_cvtsi128_si64(ib)), uint64_t(_mm_extract_epi64(ib, 1))};
            using two = lanes<2>::d;
            auto row = [&](int j) {
                const uint32_t at = uint32_t(pairs[j / 2] >> (32 * (j % 2)));
                return bits_as<two>(_mm_loadu_pd(base + 2 * size_t(at)));
            };
            auto four = [&](int j) {
                const lanes<4>::d a = __builtin_shufflevector(row(j), row(j + 2), 0, 1, 2, 3);
                const lanes<4>::d b = __builtin_shufflevector(row(j + 4), row(j + 6), 0, 1, 2, 3);
                return __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7);
            };
            const d even = four(0), odd = four(1);
            hi = __builtin_shufflevector(even, odd, 0, 8, 2, 10, 4, 12, 6, 14);
            lo = __builtin_shufflevector(even, odd, 1, 9, 3, 11, 5, 13, 7, 15);
            return;
        }
#endif
#if QOR_LEVEL >= 3
        if constexpr (N == 4) {
            const __m128i iv = bits_as<__m128i>(index);
            const uint64_t p01 = uint64_t(_mm_cvtsi128_si64(iv)), p23 = uint64_t(_mm_extract_epi64(iv, 1));
            auto row = [&](uint64_t pair, int high) { return _mm_loadu_pd(base + 2 * size_t(uint32_t(pair >> (32 * high)))); };
            const __m128d a = row(p01, 0), b = row(p01, 1), c = row(p23, 0), e = row(p23, 1);
            hi = bits_as<d>(_mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_unpacklo_pd(a, b)), _mm_unpacklo_pd(c, e), 1));
            lo = bits_as<d>(_mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_unpackhi_pd(a, b)), _mm_unpackhi_pd(c, e), 1));
            return;
        }
#endif
        static_assert(N <= 8, "lane count");
    }
}

template <int N>
[[gnu::always_inline]] inline typename lanes<N>::d poly_tail(typename lanes<N>::d r) {
    const typename lanes<N>::d rr = r * r;
    return rr * ((p0 + p1 * r) + rr * (p2 + p3 * r));
}

// a + b as s + err exactly (any magnitudes).
template <class D>
inline D two_sum(D a, D b, D& err) {
    const D s = a + b;
    const D back = s - a;
    err = (a - (s - back)) + (b - back);
    return s;
}

// ln of positive normal doubles (bits xb), plus k_offset * ln 2; extra is a small correction
// added with the low-order terms (log1p's rounding error of 1 + x, divided by 1 + x).
// k*ln2_hi + T_hi is exact (both on the 2^-36 grid); its sum with r is kept as s + err, and the
// small terms are gathered before the one final rounding.
// The cores come in stages (reduction, table rows, the sums), so that a loop can run two blocks
// through each stage before the next: independent work side by side for the out-of-order window.
template <int N, class E>
[[gnu::always_inline]] inline typename lanes<N>::d ln_sums(const reduced<N>& a, typename lanes<N>::d t_hi,
                                                           typename lanes<N>::d t_lo, E extra) {
    using d = typename lanes<N>::d;
    d err;
    const d s = two_sum<d>(exact_mul_add(a.k, d{} + ln2_hi, t_hi), a.r, err);
    d low = err + (a.k * ln2_lo + t_lo);
    if constexpr (!std::is_same_v<E, no_term>) low = low + extra;
    return s + (low + poly_tail<N>(a.r));
}
template <int N, class K, class E>
[[gnu::always_inline]] inline typename lanes<N>::d ln_core(typename lanes<N>::l xb, K k_offset, E extra) {
    const reduced<N> a = reduce<N>(xb, k_offset);
    typename lanes<N>::d t_hi, t_lo;
    look_up<N>(ln_table, a.index, t_hi, t_lo);
    return ln_sums<N>(a, t_hi, t_lo, extra);
}

// a + b as s + err exactly, when a is zero or |a| >= |b|, in round-to-nearest: the same s and
// err as two_sum there (the error is exact either way), in half the operations.
template <class D>
inline D fast_two_sum(D a, D b, D& err) {
    const D s = a + b;
    err = b - (s - a);
    return s;
}

// The same for log10: r * log10(e) is split so that its leading product is exact. The log10
// kernels always run in round-to-nearest, and k log10(2) + T is zero or at least log10(1024/1023),
// above twice the largest |r log10(e)|, so the short sum is exact.
template <int N>
[[gnu::always_inline]] inline typename lanes<N>::d log10_sums(const reduced<N>& a, typename lanes<N>::d t_hi,
                                                              typename lanes<N>::d t_lo) {
    using d = typename lanes<N>::d;
    using ul = typename lanes<N>::ul;
    constexpr double log10_e = log10_e_hi + log10_e_lo;
    d err;
    const d r_hi = bits_as<d>(bits_as<ul>(a.r) & ~uint64_t{0x7FFFFFF});  // 26 significant bits
    const d r_lo = a.r - r_hi;
    const d s = fast_two_sum<d>(exact_mul_add(a.k, d{} + log10_2_hi, t_hi), r_hi * log10_e_hi, err);
    const d small = (r_hi * log10_e_lo + r_lo * log10_e) + poly_tail<N>(a.r) * log10_e;
    return s + ((err + (a.k * log10_2_lo + t_lo)) + small);
}
template <int N, class K>
[[gnu::always_inline]] inline typename lanes<N>::d log10_core(typename lanes<N>::l xb, K k_offset) {
    const reduced<N> a = reduce<N>(xb, k_offset);
    typename lanes<N>::d t_hi, t_lo;
    look_up<N>(log10_table, a.index, t_hi, t_lo);
    return log10_sums<N>(a, t_hi, t_lo);
}

// ln(1 + x) for x above -1 and finite: 1 + x rounded, its rounding error carried separately.
template <int N>
[[gnu::always_inline]] inline typename lanes<N>::d log1p_core(typename lanes<N>::d x) {
    using d = typename lanes<N>::d;
    using l = typename lanes<N>::l;
    const d u = 1.0 + x;
    const d back = u - 1.0;
    const d err = (1.0 - (u - back)) + (x - back);
    return ln_core<N>(bits_as<l>(u), no_term{}, err / u);
}

// Scalar forms of the cores, for the special paths.
inline double ln_scalar(double x, double k_offset = 0.0) {
    using one = lanes<1>;
    return ln_core<1>(bits_as<one::l>(x), one::d{k_offset}, one::d{0.0})[0];
}
inline double log10_scalar(double x, double k_offset = 0.0) {
    using one = lanes<1>;
    return log10_core<1>(bits_as<one::l>(x), one::d{k_offset})[0];
}
inline double log1p_scalar(double x) { return log1p_core<1>(lanes<1>::d{x})[0]; }
