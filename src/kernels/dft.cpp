// The DFT transform and the spectrum kernels, compiled once per level. The plan they read is
// built by the baseline planner (kernels/dft/plan.cpp) and holds only numbers and offsets.
// GCC's auto-vectoriser turns complex products into fused multiply-add/subtract (vfmaddsub) at
// the FMA levels even under -ffp-contract=off; the stages are vectorised by hand instead, so that
// every level gives the same bits. Set before any include so every function shares the setting.
#pragma GCC optimize("no-tree-slp-vectorize", "no-tree-loop-vectorize")
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <immintrin.h>
#include <utility>

#include "kernels/dft_spec.hpp"
#include "kernels/level.hpp"
#include "kernels/runtime/status.hpp"
#include "kernels/types.hpp"

#if QOR_LEVEL >= 5
#  define QOR_DFT_VECTOR_BYTES 64
#elif QOR_LEVEL >= 3
#  define QOR_DFT_VECTOR_BYTES 32
#else
#  define QOR_DFT_VECTOR_BYTES 16
#endif

namespace qor::krn::QOR_LEVEL_NS {

#include "kernels/dft_passes.hpp"

namespace {

using dft::complex_plan;
using dft::header;

// cos and sin of 2*pi*k/N for N = 1..16, correctly rounded.
constexpr double small_cos[17][16] = {
    {},
    {1.0},
    {1.0, -1.0},
    {1.0, -0.5, -0.5},
    {1.0, 2.0670321098263988e-43, -1.0, 2.2338764406549882e-41},
    {1.0, 0.30901699437494745, -0.8090169943749475, -0.8090169943749475, 0.30901699437494745},
    {1.0, 0.5, -0.5, -1.0, -0.5, 0.5},
    {1.0, 0.6234898018587335, -0.2225209339563144, -0.9009688679024191, -0.9009688679024191, -0.2225209339563144, 0.6234898018587335},
    {1.0, 0.7071067811865476, 2.0670321098263988e-43, -0.7071067811865476, -1.0, -0.7071067811865476, 2.2338764406549882e-41, 0.7071067811865476},
    {1.0, 0.766044443118978, 0.17364817766693036, -0.5, -0.9396926207859084, -0.9396926207859084, -0.5, 0.17364817766693036, 0.766044443118978},
    {1.0, 0.8090169943749475, 0.30901699437494745, -0.30901699437494745, -0.8090169943749475, -1.0, -0.8090169943749475, -0.30901699437494745, 0.30901699437494745, 0.8090169943749475},
    {1.0, 0.8412535328311812, 0.41541501300188644, -0.14231483827328514, -0.6548607339452851, -0.9594929736144974, -0.9594929736144974, -0.6548607339452851, -0.14231483827328514, 0.41541501300188644, 0.8412535328311812},
    {1.0, 0.8660254037844386, 0.5, 2.0670321098263988e-43, -0.5, -0.8660254037844386, -1.0, -0.8660254037844386, -0.5, 2.2338764406549882e-41, 0.5, 0.8660254037844386},
    {1.0, 0.8854560256532099, 0.5680647467311558, 0.12053668025532305, -0.3546048870425356, -0.7485107481711011, -0.970941817426052, -0.970941817426052, -0.7485107481711011, -0.3546048870425356, 0.12053668025532305, 0.5680647467311558, 0.8854560256532099},
    {1.0, 0.9009688679024191, 0.6234898018587335, 0.2225209339563144, -0.2225209339563144, -0.6234898018587335, -0.9009688679024191, -1.0, -0.9009688679024191, -0.6234898018587335, -0.2225209339563144, 0.2225209339563144, 0.6234898018587335, 0.9009688679024191},
    {1.0, 0.9135454576426009, 0.6691306063588582, 0.30901699437494745, -0.10452846326765347, -0.5, -0.8090169943749475, -0.9781476007338057, -0.9781476007338057, -0.8090169943749475, -0.5, -0.10452846326765347, 0.30901699437494745, 0.6691306063588582, 0.9135454576426009},
    {1.0, 0.9238795325112867, 0.7071067811865476, 0.3826834323650898, 2.0670321098263988e-43, -0.3826834323650898, -0.7071067811865476, -0.9238795325112867, -1.0, -0.9238795325112867, -0.7071067811865476, -0.3826834323650898, 2.2338764406549882e-41, 0.3826834323650898, 0.7071067811865476, 0.9238795325112867},
};
constexpr double small_sin[17][16] = {
    {},
    {0.0},
    {0.0, 4.1340642196527976e-43},
    {0.0, 0.8660254037844386, -0.8660254037844386},
    {0.0, 1.0, 4.1340642196527976e-43, -1.0},
    {0.0, 0.9510565162951535, 0.5877852522924731, -0.5877852522924731, -0.9510565162951535},
    {0.0, 0.8660254037844386, 0.8660254037844386, 4.1340642196527976e-43, -0.8660254037844386, -0.8660254037844386},
    {0.0, 0.7818314824680298, 0.9749279121818236, 0.4338837391175581, -0.4338837391175581, -0.9749279121818236, -0.7818314824680298},
    {0.0, 0.7071067811865476, 1.0, 0.7071067811865476, 4.1340642196527976e-43, -0.7071067811865476, -1.0, -0.7071067811865476},
    {0.0, 0.6427876096865394, 0.984807753012208, 0.8660254037844386, 0.3420201433256687, -0.3420201433256687, -0.8660254037844386, -0.984807753012208, -0.6427876096865394},
    {0.0, 0.5877852522924731, 0.9510565162951535, 0.9510565162951535, 0.5877852522924731, 4.1340642196527976e-43, -0.5877852522924731, -0.9510565162951535, -0.9510565162951535, -0.5877852522924731},
    {0.0, 0.5406408174555976, 0.9096319953545183, 0.9898214418809327, 0.7557495743542583, 0.28173255684142967, -0.28173255684142967, -0.7557495743542583, -0.9898214418809327, -0.9096319953545183, -0.5406408174555976},
    {0.0, 0.5, 0.8660254037844386, 1.0, 0.8660254037844386, 0.5, 4.1340642196527976e-43, -0.5, -0.8660254037844386, -1.0, -0.8660254037844386, -0.5},
    {0.0, 0.46472317204376856, 0.8229838658936564, 0.992708874098054, 0.9350162426854148, 0.6631226582407952, 0.23931566428755777, -0.23931566428755777, -0.6631226582407952, -0.9350162426854148, -0.992708874098054, -0.8229838658936564, -0.46472317204376856},
    {0.0, 0.4338837391175581, 0.7818314824680298, 0.9749279121818236, 0.9749279121818236, 0.7818314824680298, 0.4338837391175581, 4.1340642196527976e-43, -0.4338837391175581, -0.7818314824680298, -0.9749279121818236, -0.9749279121818236, -0.7818314824680298, -0.4338837391175581},
    {0.0, 0.4067366430758002, 0.7431448254773942, 0.9510565162951535, 0.9945218953682733, 0.8660254037844386, 0.5877852522924731, 0.20791169081775934, -0.20791169081775934, -0.5877852522924731, -0.8660254037844386, -0.9945218953682733, -0.9510565162951535, -0.7431448254773942, -0.4067366430758002},
    {0.0, 0.3826834323650898, 0.7071067811865476, 0.9238795325112867, 1.0, 0.9238795325112867, 0.7071067811865476, 0.3826834323650898, 4.1340642196527976e-43, -0.3826834323650898, -0.7071067811865476, -0.9238795325112867, -1.0, -0.9238795325112867, -0.7071067811865476, -0.3826834323650898},
};

// Straight-line real DFT of N <= 16 points into the packed layout; j and N - j are paired so the
// cosine and sine sums each take half the products.
template <int N, class T>
void small_real(const T* src, T* dst) {
    T x[N];
    for (int j = 0; j < N; ++j) x[j] = src[j];
    constexpr int h = (N - 1) / 2;
    T s[h + 1], d[h + 1];
    T r0 = x[0];
    for (int j = 1; j <= h; ++j) {
        s[j] = x[j] + x[N - j];
        d[j] = x[j] - x[N - j];
        r0 += s[j];
    }
    T y[N];
    if constexpr (N % 2 == 0) {
        T alt = x[0];
        for (int j = 1; j < N; ++j) alt = (j & 1) ? alt - x[j] : alt + x[j];
        y[N - 1] = alt;
        r0 += x[N / 2];
    }
    y[0] = r0;
    for (int k = 1; k <= h; ++k) {
        T re = x[0], im = T(0);
        for (int j = 1; j <= h; ++j) {
            const int jk = (j * k) % N;
            re += T(small_cos[N][jk]) * s[j];
            im -= T(small_sin[N][jk]) * d[j];
        }
        if constexpr (N % 2 == 0) re += (k & 1) ? -x[N / 2] : x[N / 2];
        y[2 * k - 1] = re;
        y[2 * k] = im;
    }
    for (int j = 0; j < N; ++j) dst[j] = y[j];
}

template <class T>
void run_small(int n, const T* src, T* dst) {
    switch (n) {
        case 1: dst[0] = src[0]; break;
        case 2: {
            const T a = src[0], b = src[1];
            dst[0] = a + b;
            dst[1] = a - b;
            break;
        }
        case 3: small_real<3>(src, dst); break;
        case 4: {
            const T a = src[0], b = src[1], c = src[2], d = src[3];
            dst[0] = (a + c) + (b + d);
            dst[1] = a - c;
            dst[2] = d - b;
            dst[3] = (a + c) - (b + d);
            break;
        }
        case 5: small_real<5>(src, dst); break;
        case 6: small_real<6>(src, dst); break;
        case 7: small_real<7>(src, dst); break;
        case 8: small_real<8>(src, dst); break;
        case 9: small_real<9>(src, dst); break;
        case 10: small_real<10>(src, dst); break;
        case 11: small_real<11>(src, dst); break;
        case 12: small_real<12>(src, dst); break;
        case 13: small_real<13>(src, dst); break;
        case 14: small_real<14>(src, dst); break;
        case 15: small_real<15>(src, dst); break;
        default: small_real<16>(src, dst); break;
    }
}

// Complex values in reverse order, and (t.r, -u.i) pairs from t and u = -t.
template <class V, size_t... I>
inline V reverse_pairs(V a, std::index_sequence<I...>) {
    return __builtin_shufflevector(a, a, ((sizeof...(I) / 2 - 1 - I / 2) * 2 + (I & 1))...);
}
template <class V, size_t... I>
inline V conj_lanes(V t, V u, std::index_sequence<I...>) {
    return __builtin_shufflevector(t, u, ((I & 1) ? I + sizeof...(I) : I)...);
}

// The split step: with Z the transform of z[j] = x[2j] + i x[2j+1] (M = N/2 points),
//   X[k] = A[k] Z[k] + B[k] conj(Z[M-k]),  X[M-k] = conj(A[k] conj(Z[M-k]) + B[k] Z[k]).
// B = 1 - A, so with P = A (Z[k] - conj(Z[M-k])) one product serves both:
//   X[k] = conj(Z[M-k]) + P,  X[M-k] = conj(Z[k] - P).
// Z may lie in dst itself (then X[k] lands in Z's slot k and R(N/2) moves to the end afterwards)
// or elsewhere (then X[k] goes straight to its packed place).
template <class T>
void split(const cx<T>* z, T* dst, int64_t m, const cx<T>* a) {
    const bool inside = reinterpret_cast<const T*>(z) == dst;
    const int64_t off = inside ? 0 : -1;
    const cx<T> z0 = z[0];
    const T r0 = z0.r + z0.i, rm = z0.r - z0.i;
    int64_t k = 1;
    {
        // C values of k at once: z[m-k] and the outputs at m-k run backwards, so they are
        // reversed in the vector. Operations as in the scalar loop below, lane by lane.
        using O = vops<T>;
        using V = typename O::V;
        using S = typename O::seq;
        constexpr int64_t C = complex_per_vector<T>;
        const V pm = O::plus_minus(), mp = -pm;
        // When more than half a vector is left, the last block ends at the last k, overlapping
        // the one before (the same values again), unless z lies in dst and is overwritten by now.
        const int64_t last = (m - 1) / 2;
        for (; k <= last; k += C) {
            int64_t j = k;
            if (j + C - 1 > last) {
                if (inside || last - C + 1 < 1 || 2 * (last - k + 1) <= C) break;
                j = last - C + 1;
            }
            const V zj = O::load(z + j), czm = reverse_pairs(O::load(z + m - j - C + 1), S{}) * pm;
            const V p = O::mul(zj - czm, O::load(a + j), mp);
            const V xj = czm + p;
            const V out = reverse_pairs((zj - p) * pm, S{});
            std::memcpy(dst + 2 * j + off, &xj, sizeof xj);
            std::memcpy(dst + 2 * (m - j - C + 1) + off, &out, sizeof out);
        }
        if (k > last) k = last + 1;
    }
    for (; k < m - k; ++k) {
        const cx<T> zk = z[k], zm = z[m - k];
        const cx<T> czm = {zm.r, -zm.i};
        const cx<T> p = mul(sub(zk, czm), a[k]);
        const cx<T> t = sub(zk, p);
        dst[2 * k + off] = czm.r + p.r;
        dst[2 * k + 1 + off] = czm.i + p.i;
        dst[2 * (m - k) + off] = t.r;
        dst[2 * (m - k) + 1 + off] = -t.i;
    }
    if (k == m - k) {
        const cx<T> zk = z[k];
        dst[2 * k + off] = zk.r;
        dst[2 * k + 1 + off] = -zk.i;
    }
    dst[0] = r0;
    if (inside) std::memmove(dst + 1, dst + 2, size_t(2 * m - 2) * sizeof(T));
    dst[2 * m - 1] = rm;
}

// Complex direct transform (the half-length fallback for short lengths).
template <class T>
void direct_complex(const cx<T>* z, cx<T>* out, int64_t len, const cx<T>* w) {
    for (int64_t k = 0; k < len; ++k) {
        cx<T> acc = {T(0), T(0)};
        int64_t jk = 0;
        for (int64_t j = 0; j < len; ++j) {
            acc = add(acc, mul(z[j], w[jk]));
            jk += k;
            if (jk >= len) jk -= len;
        }
        out[k] = acc;
    }
}

// Real direct transform of odd length into the packed layout; x is a copy of the samples.
template <class T>
void direct_real(const T* x, T* dst, int64_t len, const cx<T>* w) {
    T r0 = T(0);
    for (int64_t j = 0; j < len; ++j) r0 += x[j];
    dst[0] = r0;
    for (int64_t k = 1; 2 * k < len; ++k) {
        T re = T(0), im = T(0);
        int64_t jk = 0;
        for (int64_t j = 0; j < len; ++j) {
            re += x[j] * w[jk].r;
            im += x[j] * w[jk].i;
            jk += k;
            if (jk >= len) jk -= len;
        }
        dst[2 * k - 1] = re;
        dst[2 * k] = im;
    }
}

// C real values, each repeated into a lane pair.
template <class T, size_t... I>
inline typename vops<T>::V dup_reals(const T* x, std::index_sequence<I...>) {
    typedef T narrow __attribute__((vector_size(sizeof(typename vops<T>::V) / 2)));
    narrow v;
    std::memcpy(&v, x, sizeof v);
    return __builtin_shufflevector(v, v, (I / 2)...);
}

// The chirp-z convolution's input: z[j] b[j] for j below len, zero from there on; z real samples
// (Real) or complex values. Made as the first pass reads it.
template <class T, bool Real>
struct chirp_input {
    using O = vops<T>;
    using V = typename O::V;
    static constexpr int64_t C = complex_per_vector<T>;
    const void* z;
    const cx<T>* b;
    int64_t len;
    cx<T> one(int64_t n) const {
        if (n >= len) return {T(0), T(0)};
        if constexpr (Real) {
            const T x = static_cast<const T*>(z)[n];
            return {x * b[n].r, x * b[n].i};
        } else {
            return mul(static_cast<const cx<T>*>(z)[n], b[n]);
        }
    }
    V vec(int64_t n) const {
        if (n + C <= len) {
            if constexpr (Real) return dup_reals<T>(static_cast<const T*>(z) + n, typename O::seq{}) * O::load(b + n);
            else return O::mul(O::load(static_cast<const cx<T>*>(z) + n), O::load(b + n), -O::plus_minus());
        }
        if (n >= len) return V{};
        cx<T> t[C];
        for (int64_t q = 0; q < C; ++q) t[q] = one(n + q);
        return O::load(t);
    }
};

// The inverse transform's input, conj(p[n] ker[n] / K) (the kernel is held unscaled; the sign is
// toggled by a product with -1).
template <class T>
struct conj_product {
    using O = vops<T>;
    const cx<T>* p;
    const cx<T>* ker;
    T inv;
    typename O::V vec(int64_t n) const {
        return O::mul(O::load(p + n), O::load(ker + n) * inv, -O::plus_minus()) * O::plus_minus();
    }
    cx<T> one(int64_t n) const {
        const cx<T> v = mul(p[n], cx<T>{ker[n].r * inv, ker[n].i * inv});
        return {v.r, v.i * T(-1)};
    }
};

// Where the chirp-z outputs X[n] = b[n] conj(c[n]) go (c the convolution): complex values to d
// (Packed = false), or the packed layout of a real transform of odd length to dst.
template <class T, bool Packed>
struct chirp_output {
    using O = vops<T>;
    using V = typename O::V;
    const cx<T>* b;
    void* d;
    void vec(int64_t n, V c) const {
        const V x = O::mul(O::load(b + n), c, O::plus_minus());
        if constexpr (!Packed) {
            O::store(static_cast<cx<T>*>(d) + n, x);
        } else if (n > 0) {
            std::memcpy(static_cast<T*>(d) + 2 * n - 1, &x, sizeof x);
        } else {
            cx<T> t[complex_per_vector<T>];
            O::store(t, x);
            static_cast<T*>(d)[0] = t[0].r;
            std::memcpy(static_cast<T*>(d) + 1, t + 1, sizeof t - sizeof t[0]);
        }
    }
    void one(int64_t n, cx<T> c) const {
        const cx<T> x = mulc(b[n], c);
        if constexpr (!Packed) {
            static_cast<cx<T>*>(d)[n] = x;
        } else if (n > 0) {
            static_cast<T*>(d)[2 * n - 1] = x.r;
            static_cast<T*>(d)[2 * n] = x.i;
        } else {
            static_cast<T*>(d)[0] = x.r;
        }
    }
};

// Chirp-z: X[n] = b[n] * sum_j (z[j] b[j]) conj(b[n-j]) for n below need, the sum a circular
// convolution of length K done with two length-K transforms (the inverse one through
// conjugation), the products made as the first stage of each reads its input and, where the last
// stage allows, as the last stage of the inverse one makes its outputs. a and c are K values
// each; z is complex (Real = false) or real samples.
template <class T, bool Real, class Out>
void chirp_convolve(const uint8_t* spec, const header& h, const void* in, cx<T>* a, cx<T>* c, const Out& out,
                    int64_t need) {
    const complex_plan& cp = h.main;
    const cx<T>* b = at<const cx<T>*>(spec, cp.table);
    const cx<T>* ker = at<const cx<T>*>(spec, cp.kernel);
    const T inv = T(1) / T(cp.conv_len);
    if (h.conv.block) {
        blocked_forward<T>(spec, h.conv, chirp_input<T, Real>{in, b, cp.len}, a, c);
        blocked_transposed<T>(spec, h.conv, conj_product<T>{a, ker, inv}, a, c, out, need);
        return;
    }
    cx<T>* p = run_passes_from<T>(spec, h.conv, chirp_input<T, Real>{in, b, cp.len}, a, c);
    const conj_product<T> q{p, ker, inv};
    if constexpr (complex_per_vector<T> >= 2) {
        if (last_pass_runs(h.conv)) {
            run_passes_into<T>(spec, h.conv, q, p == a ? c : a, p, out, need);
            return;
        }
    }
    const cx<T>* r = run_passes_from<T>(spec, h.conv, q, p == a ? c : a, p);
    constexpr int64_t C = complex_per_vector<T>;
    int64_t n = 0;
    for (; n + C <= need; n += C) out.vec(n, vops<T>::load(r + n));
    for (; n < need; ++n) out.one(n, r[n]);
}

template <class T>
void scale(T* dst, int64_t n, T f) {
    for (int64_t j = 0; j < n; ++j) dst[j] *= f;
}

uint8_t* align64(const uint8_t* p) {
    return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + 63) & ~uintptr_t(63));
}

template <class T>
int forward(const T* src, T* dst, const uint8_t* spec_area, uint8_t* work_area, int32_t id) {
    if (!spec_area) return krn_err_null;
    const uint8_t* spec = align64(spec_area);
    const header& h = *reinterpret_cast<const header*>(spec);
    if (h.id != id) return krn_err_context;
    if (!src || !dst) return krn_err_null;
    const int64_t n = h.n;
    if (n > 16 && !work_area) return krn_err_null;
    cx<T>* work = reinterpret_cast<cx<T>*>(align64(work_area));
    const complex_plan& cp = h.main;

    if (h.kind == dft::plan_small) {
        run_small<T>(int(n), src, dst);
    } else if (h.kind == dft::plan_split) {
        const int64_t m = n / 2;
        const cx<T>* z = reinterpret_cast<const cx<T>*>(src);
        cx<T>* d = reinterpret_cast<cx<T>*>(dst);
        const cx<T>* res;
        if (cp.kind == dft::complex_passes) {
            // An even count of stages would end in dst and need the split step's final shift;
            // unless the transform is in place, starting in dst ends it in the work area instead.
            if (cp.stages % 2 == 0 && src != dst) res = run_passes<T>(spec, cp, z, d, work);
            else res = run_passes<T>(spec, cp, z, work, d);
        } else if (cp.kind == dft::complex_direct) {
            direct_complex<T>(z, work, m, at<const cx<T>*>(spec, cp.table));
            res = work;
        } else {
            chirp_convolve<T, false>(spec, h, z, work, work + cp.conv_len,
                                     chirp_output<T, false>{at<const cx<T>*>(spec, cp.table), d}, m);
            res = d;
        }
        const cx<T>* ta = at<const cx<T>*>(spec, h.split);
        split<T>(res, dst, m, ta);
    } else {
        const int64_t half = (n - 1) / 2;
        const cx<T>* res;
        if (cp.kind == dft::complex_passes) {
            for (int64_t j = 0; j < n; ++j) work[j] = {src[j], T(0)};
            res = run_passes<T>(spec, cp, work, work + n, work);
        } else if (cp.kind == dft::complex_direct) {
            T* copy = reinterpret_cast<T*>(work);
            for (int64_t j = 0; j < n; ++j) copy[j] = src[j];
            direct_real<T>(copy, dst, n, at<const cx<T>*>(spec, cp.table));
            res = nullptr;
        } else {
            chirp_convolve<T, true>(spec, h, src, work, work + cp.conv_len,
                                    chirp_output<T, true>{at<const cx<T>*>(spec, cp.table), dst}, half + 1);
            res = nullptr;
        }
        if (res) {
            dst[0] = res[0].r;
            std::memcpy(dst + 1, res + 1, size_t(half) * sizeof(cx<T>));
        }
    }
    if (h.forward_scaled) {
        if constexpr (sizeof(T) == 4) scale<T>(dst, n, h.scale32);
        else scale<T>(dst, n, h.scale64);
    }
    return krn_ok;
}

// Square roots of four sums of squares through the reciprocal-square-root estimate and one
// Newton step, r = s * y (1.5 - 0.5 s y^2); sums below the smallest normal float (the estimate
// loses them) and infinities (0 * inf) take the exact square root instead. The AVX levels run
// eight at a time with the same 128-bit-lane estimate (not the AVX-512 one, whose bits differ).
inline __m128 magnitude4(__m128 s) {
    const __m128 y0 = _mm_rsqrt_ps(s);
    const __m128 hs = _mm_mul_ps(_mm_set1_ps(0.5f), s);
    const __m128 t = _mm_mul_ps(_mm_mul_ps(hs, y0), y0);
    const __m128 y1 = _mm_mul_ps(y0, _mm_sub_ps(_mm_set1_ps(1.5f), t));
    const __m128 r = _mm_mul_ps(s, y1);
    const __m128 special = _mm_or_ps(_mm_cmplt_ps(s, _mm_set1_ps(0x1p-126f)),
                                     _mm_cmpeq_ps(s, _mm_set1_ps(__builtin_inff())));
    if (!_mm_movemask_ps(special)) return r;
    return _mm_or_ps(_mm_and_ps(special, _mm_sqrt_ps(s)), _mm_andnot_ps(special, r));
}

inline __m128 sums_of_squares(const float* p) {
    const __m128 a = _mm_loadu_ps(p), b = _mm_loadu_ps(p + 4);
    const __m128 a2 = _mm_mul_ps(a, a), b2 = _mm_mul_ps(b, b);
    return _mm_add_ps(_mm_shuffle_ps(a2, b2, 0x88), _mm_shuffle_ps(a2, b2, 0xDD));
}

#if QOR_LEVEL >= 3
inline __m256 magnitude8(__m256 s) {
    const __m256 y0 = _mm256_rsqrt_ps(s);
    const __m256 hs = _mm256_mul_ps(_mm256_set1_ps(0.5f), s);
    const __m256 t = _mm256_mul_ps(_mm256_mul_ps(hs, y0), y0);
    const __m256 y1 = _mm256_mul_ps(y0, _mm256_sub_ps(_mm256_set1_ps(1.5f), t));
    const __m256 r = _mm256_mul_ps(s, y1);
    const __m256 special = _mm256_or_ps(_mm256_cmp_ps(s, _mm256_set1_ps(0x1p-126f), _CMP_LT_OQ),
                                        _mm256_cmp_ps(s, _mm256_set1_ps(__builtin_inff()), _CMP_EQ_OQ));
    if (!_mm256_movemask_ps(special)) return r;
    return _mm256_blendv_ps(r, _mm256_sqrt_ps(s), special);
}

// Eight sums re^2 + im^2 in order: the 128-bit halves are regrouped first so that the in-lane
// shuffles pair each re with its im.
inline __m256 sums_of_squares8(const float* p) {
    const __m256 a = _mm256_loadu_ps(p), b = _mm256_loadu_ps(p + 8);
    const __m256 lo = _mm256_permute2f128_ps(a, b, 0x20), hi = _mm256_permute2f128_ps(a, b, 0x31);
    const __m256 a2 = _mm256_mul_ps(lo, lo), b2 = _mm256_mul_ps(hi, hi);
    return _mm256_add_ps(_mm256_shuffle_ps(a2, b2, 0x88), _mm256_shuffle_ps(a2, b2, 0xDD));
}
#endif

template <class T, class C>
void expand(const T* packed, C* full, int64_t n) {
    if (static_cast<const void*>(packed) != static_cast<const void*>(full)) {
        // Separate areas: the first half is the packed values shifted by one place; the second
        // half takes them in reverse order, a vector at a time, imaginary signs toggled.
        full[0] = {packed[0], T(0)};
        const int64_t h = (n - 1) / 2;
        std::memcpy(reinterpret_cast<T*>(full) + 2, packed + 1, size_t(2 * h) * sizeof(T));
        using O = vops<T>;
        using V = typename O::V;
        using S = typename O::seq;
        constexpr int64_t w = complex_per_vector<T>;
        int64_t k = 1;
        for (; k + w - 1 <= h; k += w) {
            V v;
            std::memcpy(&v, packed + 2 * k - 1, sizeof v);
            const V out = reverse_pairs(conj_lanes(v, -v, S{}), S{});
            std::memcpy(reinterpret_cast<T*>(full + n - k - w + 1), &out, sizeof out);
        }
        for (; k <= h; ++k) full[n - k] = {packed[2 * k - 1], -packed[2 * k]};
        if (n % 2 == 0 && n > 1) full[n / 2] = {packed[n - 1], T(0)};
        return;
    }
    // In place, from the top down, so that nothing is overwritten before it is read.
    for (int64_t k = n - 1; 2 * k > n; --k) {
        const T re = packed[2 * (n - k) - 1], im = packed[2 * (n - k)];
        full[k] = {re, -im};  // negation toggles the sign bit only: -0.0 and NaN payloads survive
    }
    if (n % 2 == 0 && n > 1) {
        const T re = packed[n - 1];
        full[n / 2] = {re, T(0)};
    }
    for (int64_t k = (n - 1) / 2; k >= 1; --k) {
        const T re = packed[2 * k - 1], im = packed[2 * k];
        full[k] = {re, im};
    }
    const T re0 = packed[0];
    full[0] = {re0, T(0)};
}

}  // namespace

int krn_dft_real_fwd_32f(const float* src, float* dst, const uint8_t* spec, uint8_t* work) {
    return forward<float>(src, dst, spec, work, dft::id_32f);
}
int krn_dft_real_fwd_64f(const double* src, double* dst, const uint8_t* spec, uint8_t* work) {
    return forward<double>(src, dst, spec, work, dft::id_64f);
}

namespace {
template <class T, class C>
C* complex_passes(const uint8_t* spec, const uint8_t* plan, const C* in, C* x, C* y) {
    static_assert(sizeof(C) == sizeof(cx<T>), "the public complex type is the engine's");
    const complex_plan& cp = *reinterpret_cast<const complex_plan*>(plan);
    const auto* from = reinterpret_cast<const cx<T>*>(in);
    if (cp.block) {
        blocked_forward<T>(spec, cp, stored<T>{from}, reinterpret_cast<cx<T>*>(x), reinterpret_cast<cx<T>*>(y));
        return x;
    }
    return reinterpret_cast<C*>(run_passes<T>(spec, cp, from, reinterpret_cast<cx<T>*>(x), reinterpret_cast<cx<T>*>(y)));
}
}  // namespace

krn_32fc* krn_dft_complex_passes_32f(const uint8_t* spec, const uint8_t* plan, const krn_32fc* in, krn_32fc* x,
                                     krn_32fc* y) {
    return complex_passes<float>(spec, plan, in, x, y);
}
krn_64fc* krn_dft_complex_passes_64f(const uint8_t* spec, const uint8_t* plan, const krn_64fc* in, krn_64fc* x,
                                     krn_64fc* y) {
    return complex_passes<double>(spec, plan, in, x, y);
}

}  // namespace qor::krn::QOR_LEVEL_NS

namespace qor::krn::QOR_LEVEL_NS {

int krn_pack_to_complex_32f(const float* packed, krn_32fc* full, int n) {
    if (!packed || !full) return krn_err_null;
    if (n < 1) return krn_err_size;
    expand(packed, full, n);
    return krn_ok;
}

int krn_pack_to_complex_64f(const double* packed, krn_64fc* full, int n) {
    if (!packed || !full) return krn_err_null;
    if (n < 1) return krn_err_size;
    expand(packed, full, n);
    return krn_ok;
}

int krn_magnitude_32fc(const krn_32fc* src, float* dst, int n) {
    if (!src || !dst) return krn_err_null;
    if (n < 1) return krn_err_size;
    const float* p = &src[0].re;
    int k = 0;
#if QOR_LEVEL >= 3
    for (; k + 8 <= n; k += 8) _mm256_storeu_ps(dst + k, magnitude8(sums_of_squares8(p + 2 * k)));
#endif
    for (; k + 4 <= n; k += 4) _mm_storeu_ps(dst + k, magnitude4(sums_of_squares(p + 2 * k)));
    if (k < n) {
        float in[8] = {}, out[4];
        for (int j = 0; j < 2 * (n - k); ++j) in[j] = p[2 * k + j];
        _mm_storeu_ps(out, magnitude4(sums_of_squares(in)));
        for (int j = 0; j < n - k; ++j) dst[k + j] = out[j];
    }
    return krn_ok;
}

int krn_magnitude_64fc(const krn_64fc* src, double* dst, int n) {
    if (!src || !dst) return krn_err_null;
    if (n < 1) return krn_err_size;
    const double* p = &src[0].re;
    int k = 0;
#if QOR_LEVEL >= 3
    for (; k + 4 <= n; k += 4) {
        const __m256d a = _mm256_loadu_pd(p + 2 * k), b = _mm256_loadu_pd(p + 2 * k + 4);
        const __m256d lo = _mm256_permute2f128_pd(a, b, 0x20), hi = _mm256_permute2f128_pd(a, b, 0x31);
        const __m256d a2 = _mm256_mul_pd(lo, lo), b2 = _mm256_mul_pd(hi, hi);
        const __m256d s = _mm256_add_pd(_mm256_unpacklo_pd(a2, b2), _mm256_unpackhi_pd(a2, b2));
        _mm256_storeu_pd(dst + k, _mm256_sqrt_pd(s));
    }
#endif
    for (; k + 2 <= n; k += 2) {
        const __m128d a = _mm_loadu_pd(p + 2 * k), b = _mm_loadu_pd(p + 2 * k + 2);
        const __m128d a2 = _mm_mul_pd(a, a), b2 = _mm_mul_pd(b, b);
        _mm_storeu_pd(dst + k, _mm_sqrt_pd(_mm_add_pd(_mm_unpacklo_pd(a2, b2), _mm_unpackhi_pd(a2, b2))));
    }
    for (; k < n; ++k) {
        const double re = src[k].re, im = src[k].im;
        dst[k] = std::sqrt(re * re + im * im);
    }
    return krn_ok;
}

}  // namespace qor::krn::QOR_LEVEL_NS
