// The complex mixed-radix stages of every level's transform (the planner takes only the complex
// helpers from here and runs its chirp-z kernel transform through the dispatched stages).
// Included INSIDE a namespace (qor::krn::base or qor::krn::lN) and kept in an anonymous namespace, so every object has its own private copy.
// Needs <algorithm>, <cstdint>, <cstring>, <utility> and kernels/dft_spec.hpp included before, and
// QOR_DFT_VECTOR_BYTES defined (the widest vector the object may use).
//
// Stage s of a transform of n points with factor p, l1 the product of the earlier factors and
// ido = n / (l1 * p), reads in[i + ido*(j + p*k)] and writes
//   out[i + ido*(k + l1*m)] = w^(m*i*l1) * sum_j in[i + ido*(j + p*k)] * e^(-2*pi*i*j*m/p),
// w = e^(-2*pi*i/n): a self-sorting sequence that needs no reordering pass.
namespace {

template <class T>
struct cx {
    T r, i;
};
template <class T>
inline cx<T> add(cx<T> a, cx<T> b) { return {a.r + b.r, a.i + b.i}; }
template <class T>
inline cx<T> sub(cx<T> a, cx<T> b) { return {a.r - b.r, a.i - b.i}; }
template <class T>
inline cx<T> mul(cx<T> a, cx<T> b) { return {a.r * b.r - a.i * b.i, a.r * b.i + a.i * b.r}; }
// a times the conjugate of b
template <class T>
inline cx<T> mulc(cx<T> a, cx<T> b) { return {a.r * b.r + a.i * b.i, a.i * b.r - a.r * b.i}; }

template <class P>
inline P at(const uint8_t* base, int32_t offset) {
    return reinterpret_cast<P>(const_cast<uint8_t*>(base) + offset);
}

// Vectors of QOR_DFT_VECTOR_BYTES holding interleaved complex values, for the inner loops of the
// stages (the scalar loop finishes the tail). Every operation is the scalar one lane by
// lane (a negation or a product by +-1 is exact), so vector and scalar stages give the same bits.
typedef float vfloat __attribute__((vector_size(QOR_DFT_VECTOR_BYTES)));
typedef double vdouble __attribute__((vector_size(QOR_DFT_VECTOR_BYTES)));
template <class T>
struct vsel;
template <>
struct vsel<float> {
    using type = vfloat;
};
template <>
struct vsel<double> {
    using type = vdouble;
};
template <class T>
constexpr int complex_per_vector = QOR_DFT_VECTOR_BYTES / int(2 * sizeof(T));

template <class V, size_t... I>
inline V swap_pairs(V a, std::index_sequence<I...>) {
    return __builtin_shufflevector(a, a, (I ^ 1)...);
}
template <class V, size_t... I>
inline V even_lanes(V a, std::index_sequence<I...>) {
    return __builtin_shufflevector(a, a, (I & ~size_t(1))...);
}
template <class V, size_t... I>
inline V odd_lanes(V a, std::index_sequence<I...>) {
    return __builtin_shufflevector(a, a, (I | 1)...);
}
template <class T>
struct vops {
    using V = typename vsel<T>::type;
    static constexpr int lanes = QOR_DFT_VECTOR_BYTES / int(sizeof(T));
    using seq = std::make_index_sequence<size_t(lanes)>;
    static V load(const cx<T>* p) {
        V v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static void store(cx<T>* p, V v) { std::memcpy(p, &v, sizeof v); }
    // w in every lane pair
    template <size_t... I>
    static V repeat(cx<T> w, std::index_sequence<I...>) {
        return V{((I & 1) ? w.i : w.r)...};
    }
    static V repeat(cx<T> w) { return repeat(w, seq{}); }
    // The U complex values at p repeated across the vector, from one load of their own width
    // (building it in memory value by value would stall the vector load that follows).
    template <int U, size_t... I>
    static V repeat_units(const cx<T>* p, std::index_sequence<I...>) {
        typedef T narrow __attribute__((vector_size(2 * U * sizeof(T))));
        narrow n;
        std::memcpy(&n, p, sizeof n);
        return __builtin_shufflevector(n, n, (I % (2 * U))...);
    }
    template <int U>
    static V repeat_units(const cx<T>* p) { return repeat_units<U>(p, seq{}); }
    // (+1, -1, +1, -1, ...), a constant the compiler folds
    template <size_t... I>
    static V plus_minus(std::index_sequence<I...>) {
        return V{((I & 1) ? T(-1) : T(1))...};
    }
    static V plus_minus() { return plus_minus(seq{}); }
    // a * w lane pair by lane pair: (a.r w.r - a.i w.i, a.i w.r + a.r w.i)
    static V mul(V a, V w, V mp) { return a * even_lanes(w, seq{}) + swap_pairs(a, seq{}) * odd_lanes(w, seq{}) * mp; }
    // -i * t = (t.i, -t.r)
    static V rotate(V t, V pm) { return swap_pairs(t, seq{}) * pm; }
    // The even and the odd units of U complex values of a followed by b.
    template <int U, size_t... I>
    static V even_u(V a, V b, std::index_sequence<I...>) {
        return __builtin_shufflevector(a, b, ((I / (2 * U)) * 4 * U + I % (2 * U))...);
    }
    template <int U, size_t... I>
    static V odd_u(V a, V b, std::index_sequence<I...>) {
        return __builtin_shufflevector(a, b, ((I / (2 * U)) * 4 * U + 2 * U + I % (2 * U))...);
    }
    template <int U>
    static V even_u(V a, V b) { return even_u<U>(a, b, seq{}); }
    template <int U>
    static V odd_u(V a, V b) { return odd_u<U>(a, b, seq{}); }
};

// The product by a stage twiddle, left out (Tw false) in the stages whose twiddles are all 1:
// those with one value of i.
template <class T, bool Tw>
struct twiddler {
    using V = typename vops<T>::V;
    static V twv(V v, V w, V mp) {
        if constexpr (Tw) return vops<T>::mul(v, w, mp);
        (void)w, (void)mp;
        return v;
    }
    static cx<T> tws(cx<T> v, cx<T> w) {
        if constexpr (Tw) return mul(v, w);
        (void)w;
        return v;
    }
};

// The butterflies of radix 2 to 5, once on vectors (x the inputs, w[m-1] the twiddle of output m,
// y the outputs) and once on scalars (input j at c[j*ci], output m at h[m*so], twiddle m-1 at
// w[(m-1)*wi]); both compute the same operations in the same order.
template <class T, bool Tw = true>
struct radix2 : twiddler<T, Tw> {
    using twiddler<T, Tw>::twv;
    using twiddler<T, Tw>::tws;
    static constexpr int p = 2;
    using O = vops<T>;
    using V = typename O::V;
    static void vec(const V* x, V* y, const V* w) {
        y[0] = x[0] + x[1];
        y[1] = twv(x[0] - x[1], w[0], -O::plus_minus());
    }
    static void one(const cx<T>* c, int64_t ci, cx<T>* h, int64_t so, const cx<T>* w, int64_t) {
        const cx<T> a = c[0], b = c[ci];
        h[0] = add(a, b);
        h[so] = tws(sub(a, b), w[0]);
    }
};

template <class T, bool Tw = true>
struct radix3 : twiddler<T, Tw> {
    using twiddler<T, Tw>::twv;
    using twiddler<T, Tw>::tws;
    static constexpr int p = 3;
    static constexpr T tw1r = T(-0.5), tw1i = T(-0.86602540378443864676372317075294);
    using O = vops<T>;
    using V = typename O::V;
    static void vec(const V* x, V* y, const V* w) {
        const auto mp = -O::plus_minus();
        const V t1 = x[1] + x[2], t2 = x[1] - x[2];
        y[0] = x[0] + t1;
        const V ca = x[0] + tw1r * t1;
        const V cb = swap_pairs(tw1i * t2, typename O::seq{}) * mp;
        y[1] = twv(ca + cb, w[0], mp);
        y[2] = twv(ca - cb, w[1], mp);
    }
    static void one(const cx<T>* c, int64_t ci, cx<T>* h, int64_t so, const cx<T>* w, int64_t wi) {
        const cx<T> a = c[0], b = c[ci], d = c[2 * ci];
        const cx<T> t1 = add(b, d), t2 = sub(b, d);
        h[0] = add(a, t1);
        const cx<T> ca = {a.r + tw1r * t1.r, a.i + tw1r * t1.i};
        const cx<T> cb = {-(tw1i * t2.i), tw1i * t2.r};
        h[so] = tws(add(ca, cb), w[0]);
        h[2 * so] = tws(sub(ca, cb), w[wi]);
    }
};

template <class T, bool Tw = true>
struct radix4 : twiddler<T, Tw> {
    using twiddler<T, Tw>::twv;
    using twiddler<T, Tw>::tws;
    static constexpr int p = 4;
    using O = vops<T>;
    using V = typename O::V;
    static void vec(const V* x, V* y, const V* w) {
        const auto pm = O::plus_minus(), mp = -pm;
        const V t1 = x[0] + x[2], t2 = x[0] - x[2], t3 = x[1] + x[3], rot = O::rotate(x[1] - x[3], pm);
        y[0] = t1 + t3;
        y[1] = twv(t2 + rot, w[0], mp);
        y[2] = twv(t1 - t3, w[1], mp);
        y[3] = twv(t2 - rot, w[2], mp);
    }
    static void one(const cx<T>* c, int64_t ci, cx<T>* h, int64_t so, const cx<T>* w, int64_t wi) {
        const cx<T> a = c[0], b = c[ci], d0 = c[2 * ci], d = c[3 * ci];
        const cx<T> t1 = add(a, d0), t2 = sub(a, d0), t3 = add(b, d), t4 = sub(b, d);
        h[0] = add(t1, t3);
        h[so] = tws(cx<T>{t2.r + t4.i, t2.i - t4.r}, w[0]);
        h[2 * so] = tws(sub(t1, t3), w[wi]);
        h[3 * so] = tws(cx<T>{t2.r - t4.i, t2.i + t4.r}, w[2 * wi]);
    }
};

template <class T, bool Tw = true>
struct radix5 : twiddler<T, Tw> {
    using twiddler<T, Tw>::twv;
    using twiddler<T, Tw>::tws;
    static constexpr int p = 5;
    static constexpr T tw1r = T(0.3090169943749474241022934171828191), tw1i = T(-0.9510565162951535721164393333793821);
    static constexpr T tw2r = T(-0.8090169943749474241022934171828191), tw2i = T(-0.5877852522924731291687059546390728);
    using O = vops<T>;
    using V = typename O::V;
    static void vec(const V* x, V* y, const V* w) {
        using S = typename O::seq;
        const auto mp = -O::plus_minus();
        const V a = x[0];
        const V t1 = x[1] + x[4], t4 = x[1] - x[4], t2 = x[2] + x[3], t3 = x[2] - x[3];
        y[0] = a + t1 + t2;
        const V ca1 = a + tw1r * t1 + tw2r * t2;
        const V cb1 = swap_pairs(tw1i * t4 + tw2i * t3, S{}) * mp;
        const V ca2 = a + tw2r * t1 + tw1r * t2;
        const V cb2 = swap_pairs(tw2i * t4 - tw1i * t3, S{}) * mp;
        y[1] = twv(ca1 + cb1, w[0], mp);
        y[4] = twv(ca1 - cb1, w[3], mp);
        y[2] = twv(ca2 + cb2, w[1], mp);
        y[3] = twv(ca2 - cb2, w[2], mp);
    }
    static void one(const cx<T>* c, int64_t ci, cx<T>* h, int64_t so, const cx<T>* w, int64_t wi) {
        const cx<T> a = c[0], b1 = c[ci], b2 = c[2 * ci], b3 = c[3 * ci], b4 = c[4 * ci];
        const cx<T> t1 = add(b1, b4), t4 = sub(b1, b4), t2 = add(b2, b3), t3 = sub(b2, b3);
        h[0] = {a.r + t1.r + t2.r, a.i + t1.i + t2.i};
        const cx<T> ca1 = {a.r + tw1r * t1.r + tw2r * t2.r, a.i + tw1r * t1.i + tw2r * t2.i};
        const cx<T> cb1 = {-(tw1i * t4.i + tw2i * t3.i), tw1i * t4.r + tw2i * t3.r};
        const cx<T> ca2 = {a.r + tw2r * t1.r + tw1r * t2.r, a.i + tw2r * t1.i + tw1r * t2.i};
        const cx<T> cb2 = {-(tw2i * t4.i - tw1i * t3.i), tw2i * t4.r - tw1i * t3.r};
        h[so] = tws(add(ca1, cb1), w[0]);
        h[4 * so] = tws(sub(ca1, cb1), w[3 * wi]);
        h[2 * so] = tws(add(ca2, cb2), w[wi]);
        h[3 * so] = tws(sub(ca2, cb2), w[2 * wi]);
    }
};

// Where the vector loop over i in [0, ido) stops, the scalar loop taking the rest. When more than
// half a vector would be left, the last block instead ends at ido, overlapping the one before
// (the same values again: the stages never run in place), and the loop clamps its start.
template <class T>
inline int64_t vector_end(int64_t ido) {
    constexpr int64_t C = complex_per_vector<T>;
    const int64_t tail = ido % C;
    return ido < C ? 0 : 2 * tail > C ? ido : ido - tail;
}

// Short stages (ido below a vector) run with vectors over k instead of i. For a radix of 2 or 4
// and ido dividing the vector, the p inputs of each k are contiguous units of ido values, and
// the p vectors of a block of k split into the p input vectors by one or two rounds of
// even/odd unit selection. Returns the first k left to the caller.
template <class B, int U, class T>
int64_t by_units(int64_t l1, const cx<T>* cc, cx<T>* ch, const cx<T>* wa) {
    using O = vops<T>;
    using V = typename O::V;
    constexpr int p = B::p;
    constexpr int64_t C = complex_per_vector<T>, kk = C / U;
    const int64_t so = U * l1;
    V w[p - 1], x[p], y[p];
#pragma GCC unroll 8
    for (int m = 0; m < p - 1; ++m) w[m] = O::template repeat_units<U>(wa + m * U);
    int64_t k0 = 0;
    for (; k0 + kk <= l1; k0 += kk) {
        const cx<T>* c = cc + p * U * k0;
        if constexpr (p == 2) {
            const V l0 = O::load(c), l1v = O::load(c + C);
            x[0] = O::template even_u<U>(l0, l1v);
            x[1] = O::template odd_u<U>(l0, l1v);
        } else {
            const V l0 = O::load(c), l1v = O::load(c + C), l2 = O::load(c + 2 * C), l3 = O::load(c + 3 * C);
            const V e01 = O::template even_u<U>(l0, l1v), o01 = O::template odd_u<U>(l0, l1v);
            const V e23 = O::template even_u<U>(l2, l3), o23 = O::template odd_u<U>(l2, l3);
            x[0] = O::template even_u<U>(e01, e23);
            x[2] = O::template odd_u<U>(e01, e23);
            x[1] = O::template even_u<U>(o01, o23);
            x[3] = O::template odd_u<U>(o01, o23);
        }
        B::vec(x, y, w);
#pragma GCC unroll 8
        for (int m = 0; m < p; ++m) O::store(ch + U * k0 + m * so, y[m]);
    }
    return k0;
}

// Lane q of a vector from / to p[q * stride] (t: room for one vector). AVX-512 gathers; the
// lower levels go through memory (their gathers are left alone: the emulator used by the tests
// gets them wrong).
template <class T, class V = typename vops<T>::V>
inline V gather(const cx<T>* p, int64_t stride, cx<T>* t) {
#if QOR_LEVEL >= 5
    (void)t;
    const double* base = reinterpret_cast<const double*>(p);
    __m512i idx;
    if constexpr (sizeof(T) == 4) {
        idx = _mm512_mullo_epi64(_mm512_set_epi64(7, 6, 5, 4, 3, 2, 1, 0), _mm512_set1_epi64(stride));
    } else {
        idx = _mm512_add_epi64(_mm512_mullo_epi64(_mm512_set_epi64(3, 3, 2, 2, 1, 1, 0, 0), _mm512_set1_epi64(2 * stride)),
                               _mm512_set_epi64(1, 0, 1, 0, 1, 0, 1, 0));
    }
    return reinterpret_cast<V>(_mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xFF, idx, base, 8));
#else
    constexpr int64_t C = complex_per_vector<T>;
#pragma GCC unroll 16
    for (int64_t q = 0; q < C; ++q) t[q] = p[stride * q];
    return vops<T>::load(t);
#endif
}

template <class T, class V>
inline void scatter(cx<T>* p, int64_t stride, V v, cx<T>* t) {
    constexpr int64_t C = complex_per_vector<T>;
    vops<T>::store(t, v);
#pragma GCC unroll 16
    for (int64_t q = 0; q < C; ++q) p[stride * q] = t[q];
}

// Any radix, ido below a vector: lane q of a vector takes block k0 + q, gathered and scattered
// value by value; the twiddles are the same for the whole vector.
template <class B, class T>
int64_t by_lanes(int64_t ido, int64_t l1, const cx<T>* cc, cx<T>* ch, const cx<T>* wa) {
    using O = vops<T>;
    using V = typename O::V;
    constexpr int p = B::p;
    constexpr int64_t C = complex_per_vector<T>;
    const int64_t so = ido * l1;
    V w[p - 1], x[p], y[p];
    cx<T> t[C];
    int64_t k0 = 0;
    for (; k0 + C <= l1; k0 += C) {
        for (int64_t i = 0; i < ido; ++i) {
            const cx<T>* c = cc + i + ido * p * k0;
#pragma GCC unroll 8
            for (int j = 0; j < p; ++j) x[j] = gather(c + ido * j, ido * p, t);
#pragma GCC unroll 8
            for (int m = 0; m < p - 1; ++m) w[m] = O::repeat(wa[i + m * ido]);
            B::vec(x, y, w);
            cx<T>* h = ch + i + ido * k0;
#pragma GCC unroll 8
            for (int m = 0; m < p; ++m) {
                if (ido == 1) O::store(h + m * so, y[m]);
                else scatter(h + m * so, ido, y[m], t);
            }
        }
    }
    return k0;
}

template <class B, class T>
void pass(int64_t ido, int64_t l1, const cx<T>* cc, cx<T>* ch, const cx<T>* wa) {
    using O = vops<T>;
    using V = typename O::V;
    constexpr int p = B::p;
    constexpr int64_t C = complex_per_vector<T>;
    const int64_t so = ido * l1;
    int64_t k0 = 0;
    if (ido < C) {
        if constexpr ((p == 2 || p == 4) && C >= 2) {
            if (ido == 1) k0 = by_units<B, 1>(l1, cc, ch, wa);
            if constexpr (C >= 4)
                if (ido == 2) k0 = by_units<B, 2>(l1, cc, ch, wa);
            if constexpr (C >= 8)
                if (ido == 4) k0 = by_units<B, 4>(l1, cc, ch, wa);
        }
        if (k0 == 0) k0 = by_lanes<B>(ido, l1, cc, ch, wa);
    }
    V x[p], y[p], w[p - 1];
    const int64_t vec_end = vector_end<T>(ido);
    for (int64_t k = k0; k < l1; ++k) {
        const cx<T>* c0 = cc + ido * (p * k);
        cx<T>* h0 = ch + ido * k;
        int64_t i = 0;
        for (; i < vec_end; i += C) {
            const int64_t b = std::min(i, ido - C);
#pragma GCC unroll 8
            for (int j = 0; j < p; ++j) x[j] = O::load(c0 + b + j * ido);
#pragma GCC unroll 8
            for (int m = 0; m < p - 1; ++m) w[m] = O::load(wa + b + m * ido);
            B::vec(x, y, w);
#pragma GCC unroll 8
            for (int m = 0; m < p; ++m) O::store(h0 + b + m * so, y[m]);
        }
        for (; i < ido; ++i) B::one(c0 + i, ido, h0 + i, so, wa + i, ido);
    }
}

// A stage of one of the butterflies above; with a single i (the last stage) its twiddles are 1.
template <class B, class B1, class T>
inline void stage(int64_t ido, int64_t l1, const cx<T>* cc, cx<T>* ch, const cx<T>* wa) {
    if (ido == 1) pass<B1>(ido, l1, cc, ch, wa);
    else pass<B>(ido, l1, cc, ch, wa);
}

// Any other factor (6 and the odd factors from 7 up to the last-factor limit): a direct DFT of p
// points per butterfly, pairing j with p - j so that odd p needs half the products.
// The vector form of the loop below over the i of one k, for ido of a vector or more; returns
// the first i left to the scalar loop.
// P, when not 0, is the factor known at compile time (the loops unroll and the values stay in
// registers).
template <class T, int P>
int64_t pass_any_vec(int p_any, int64_t ido, int64_t so, const cx<T>* c0, cx<T>* h0, const cx<T>* wa,
                     const cx<T>* roots) {
    using O = vops<T>;
    using V = typename O::V;
    constexpr int64_t C = complex_per_vector<T>;
    const int p = P ? P : p_any;
    const V pm = O::plus_minus(), mp = -pm;
    V v[P ? P : 152], s[P ? P / 2 + 1 : 76], d[P ? P / 2 + 1 : 76];
    const int h = (p - 1) / 2;
    const int64_t end = vector_end<T>(ido);
    for (int64_t ib = 0; ib < end; ib += C) {
        const int64_t i = std::min(ib, ido - C);
        for (int j = 0; j < p; ++j) v[j] = O::load(c0 + i + ido * j);
        V x0 = v[0];
        for (int j = 1; j <= h; ++j) {
            s[j] = v[j] + v[p - j];
            d[j] = v[j] - v[p - j];
            x0 = x0 + s[j];
        }
        if ((p & 1) == 0) x0 = x0 + v[p / 2];
        O::store(h0 + i, x0);
        for (int m = 1; m <= h; ++m) {
            V re = v[0], im = V{};
            int jm = 0;
            for (int j = 1; j <= h; ++j) {
                jm += m;
                if (jm >= p) jm -= p;
                const cx<T> w = roots[jm];
                re = re + w.r * s[j];
                im = im + w.i * d[j];
            }
            if ((p & 1) == 0) re = re + ((m & 1) ? T(-1) : T(1)) * v[p / 2];
            const V sw = swap_pairs(im, typename O::seq{});
            O::store(h0 + i + m * so, O::mul(re + sw * mp, O::load(wa + i + (m - 1) * ido), mp));
            O::store(h0 + i + (p - m) * so, O::mul(re + sw * pm, O::load(wa + i + (p - m - 1) * ido), mp));
        }
        if ((p & 1) == 0) {
            V x = v[0];
            for (int j = 1; j < p; ++j) x = (j & 1) ? x - v[j] : x + v[j];
            O::store(h0 + i + (p / 2) * so, O::mul(x, O::load(wa + i + (p / 2 - 1) * ido), mp));
        }
    }
    return end;
}

template <class T, int P>
void pass_any(int p_any, int64_t ido, int64_t l1, const cx<T>* cc, cx<T>* ch, const cx<T>* wa,
              const cx<T>* roots) {
    const int p = P ? P : p_any;
    cx<T> v[P ? P : 152];
    cx<T> s[P ? P / 2 + 1 : 76], d[P ? P / 2 + 1 : 76];
    const int64_t so = ido * l1;
    const int h = (p - 1) / 2;
    for (int64_t k = 0; k < l1; ++k) {
        const cx<T>* c0 = cc + ido * (int64_t(p) * k);
        cx<T>* h0 = ch + ido * k;
        const int64_t i0 = pass_any_vec<T, P>(p, ido, so, c0, h0, wa, roots);
        for (int64_t i = i0; i < ido; ++i) {
            for (int j = 0; j < p; ++j) v[j] = c0[i + ido * j];
            cx<T> x0 = v[0];
            for (int j = 1; j <= h; ++j) {
                s[j] = add(v[j], v[p - j]);
                d[j] = sub(v[j], v[p - j]);
                x0 = add(x0, s[j]);
            }
            if ((p & 1) == 0) x0 = add(x0, v[p / 2]);
            h0[i] = x0;
            for (int m = 1; m <= h; ++m) {
                cx<T> re = v[0], im = {T(0), T(0)};
                int jm = 0;
                for (int j = 1; j <= h; ++j) {
                    jm += m;
                    if (jm >= p) jm -= p;
                    const cx<T> w = roots[jm];
                    re.r += w.r * s[j].r;
                    re.i += w.r * s[j].i;
                    im.r += w.i * d[j].r;
                    im.i += w.i * d[j].i;
                }
                if ((p & 1) == 0) {
                    const T sign = (m & 1) ? T(-1) : T(1);
                    re.r += sign * v[p / 2].r;
                    re.i += sign * v[p / 2].i;
                }
                // X[m] = re + i*im, X[p-m] = re - i*im
                h0[i + m * so] = mul(cx<T>{re.r - im.i, re.i + im.r}, wa[i + (m - 1) * ido]);
                h0[i + (p - m) * so] = mul(cx<T>{re.r + im.i, re.i - im.r}, wa[i + (p - m - 1) * ido]);
            }
            if ((p & 1) == 0) {
                cx<T> x = v[0];
                for (int j = 1; j < p; ++j) x = (j & 1) ? sub(x, v[j]) : add(x, v[j]);
                h0[i + (p / 2) * so] = mul(x, wa[i + (p / 2 - 1) * ido]);
            }
        }
    }
}

// Runs the stages s to end - 1 of a plan (l1 and ido as they stand before s): the first reads
// from and writes to, then to and other alternate. Returns the buffer holding the result.
template <class T>
cx<T>* run_stages(const uint8_t* spec, const dft::complex_plan& cp, int s, int64_t l1, int64_t ido,
                  const cx<T>* from, cx<T>* to, cx<T>* other, int end) {
    for (; s < end; ++s) {
        const int p = cp.factor[s];
        const cx<T>* wa = at<const cx<T>*>(spec, cp.twiddles[s]);
        switch (p) {  // ido shrinks by each factor: constant divisions for 2 to 5
            case 2: stage<radix2<T>, radix2<T, false>>(ido /= 2, l1, from, to, wa); break;
            case 3: stage<radix3<T>, radix3<T, false>>(ido /= 3, l1, from, to, wa); break;
            case 4: stage<radix4<T>, radix4<T, false>>(ido /= 4, l1, from, to, wa); break;
            case 5: stage<radix5<T>, radix5<T, false>>(ido /= 5, l1, from, to, wa); break;
            case 6: ido /= 6; pass_any<T, 6>(p, ido, l1, from, to, wa, wa + 5 * ido); break;
            default: ido /= p; pass_any<T, 0>(p, ido, l1, from, to, wa, wa + int64_t(p - 1) * ido); break;
        }
        l1 *= p;
        from = to;
        std::swap(to, other);
    }
    return const_cast<cx<T>*>(from);
}

// Runs the stages of a plan: the first reads in and writes x, then x and y alternate. in may be y
// but not x. Returns the buffer holding the result.
template <class T>
cx<T>* run_passes(const uint8_t* spec, const dft::complex_plan& cp, const cx<T>* in, cx<T>* x, cx<T>* y) {
    return run_stages<T>(spec, cp, 0, 1, cp.len, in, x, y, cp.stages);
}

// One row of a stage (one k, ido of at least a vector) as pass<B> runs it, its inputs from a
// policy with two calls: vec(n), the vector of values n, n+1, ..., and one(n); input j of i is
// value i + j * ido, output m goes to h0[i + m * so]. As the first stage (so = ido) the chirp-z
// transforms fold their products and zero padding into it; with h0 where the policy reads, it
// runs a stage in place (all inputs of a butterfly are read before its outputs are written).
template <class B, class T, class In>
void row_pass(int64_t ido, int64_t so, const In& in, cx<T>* h0, const cx<T>* wa) {
    using O = vops<T>;
    using V = typename O::V;
    constexpr int p = B::p;
    constexpr int64_t C = complex_per_vector<T>;
    V x[p], y[p], w[p - 1];
    const int64_t vec_end = vector_end<T>(ido);
    int64_t i = 0;
    for (; i < vec_end; i += C) {
        const int64_t b = std::min(i, ido - C);
#pragma GCC unroll 8
        for (int j = 0; j < p; ++j) x[j] = in.vec(b + j * ido);
#pragma GCC unroll 8
        for (int m = 0; m < p - 1; ++m) w[m] = O::load(wa + b + m * ido);
        B::vec(x, y, w);
#pragma GCC unroll 8
        for (int m = 0; m < p; ++m) O::store(h0 + b + m * so, y[m]);
    }
    for (; i < ido; ++i) {
        cx<T> v[p];
        for (int j = 0; j < p; ++j) v[j] = in.one(i + j * ido);
        B::one(v, 1, h0 + i, so, wa + i, ido);
    }
}

// The last stage (ido = 1, its twiddles all 1: the radix-2 or radix-4 butterfly B without them)
// when only the outputs below need are wanted, each handed to a policy as it is made:
// out.vec(n, v) takes the vector of outputs n, n+1, ..., out.one(n, v) one output. The vectors
// run over k and split the inputs as by_units does; needs at least two values a vector.
template <class B, class T, class Out>
void last_pass(int64_t l1, int64_t need, const cx<T>* cc, const Out& out) {
    using O = vops<T>;
    using V = typename O::V;
    constexpr int p = B::p;
    constexpr int64_t C = complex_per_vector<T>;
    static_assert((p == 2 || p == 4) && C >= 2, "inputs split by units of one value");
    const V w[p - 1] = {};
    const cx<T> none[1] = {};
    V x[p], y[p];
    for (int m = 0; m < p && l1 * m < need; ++m) {
        const int64_t ks = std::min(l1, need - l1 * m);
        int64_t k0 = 0;
        for (; k0 + C <= ks; k0 += C) {
            const cx<T>* c = cc + p * k0;
            if constexpr (p == 2) {
                const V l0 = O::load(c), l1v = O::load(c + C);
                x[0] = O::template even_u<1>(l0, l1v);
                x[1] = O::template odd_u<1>(l0, l1v);
            } else {
                const V l0 = O::load(c), l1v = O::load(c + C), l2 = O::load(c + 2 * C), l3 = O::load(c + 3 * C);
                const V e01 = O::template even_u<1>(l0, l1v), o01 = O::template odd_u<1>(l0, l1v);
                const V e23 = O::template even_u<1>(l2, l3), o23 = O::template odd_u<1>(l2, l3);
                x[0] = O::template even_u<1>(e01, e23);
                x[2] = O::template odd_u<1>(e01, e23);
                x[1] = O::template even_u<1>(o01, o23);
                x[3] = O::template odd_u<1>(o01, o23);
            }
            B::vec(x, y, w);
            out.vec(l1 * m + k0, y[m]);
        }
        for (; k0 < ks; ++k0) {
            cx<T> h[p];
            B::one(cc + p * k0, 1, h, 1, none, 0);
            out.one(l1 * m + k0, h[m]);
        }
    }
}

// Whether run_passes_into takes a plan (with at least two values a vector).
inline bool last_pass_runs(const dft::complex_plan& cp) {
    const int p = cp.factor[cp.stages - 1];
    return (p == 2 || p == 4) && cp.stages >= 2;
}

// Stage s of a plan as a first stage through row_pass (l1 = 1, len the length it starts
// from), reading from a policy In and writing x; the factor is 2 to 5 and the stage at least a
// vector long (as in every chirp-z convolution length). Returns the stage's ido.
template <class T, class In>
int64_t run_first_at(const uint8_t* spec, const dft::complex_plan& cp, int s, int64_t len, const In& in, cx<T>* x) {
    const int p = cp.factor[s];
    const int64_t ido = len / p;
    const cx<T>* wa = at<const cx<T>*>(spec, cp.twiddles[s]);
    switch (p) {
        case 2: row_pass<radix2<T>>(ido, ido, in, x, wa); break;
        case 3: row_pass<radix3<T>>(ido, ido, in, x, wa); break;
        case 4: row_pass<radix4<T>>(ido, ido, in, x, wa); break;
        default: row_pass<radix5<T>>(ido, ido, in, x, wa); break;
    }
    return ido;
}

template <class T, class In>
int64_t run_first(const uint8_t* spec, const dft::complex_plan& cp, const In& in, cx<T>* x) {
    return run_first_at<T>(spec, cp, 0, cp.len, in, x);
}

// run_passes with the first stage reading from a policy (see run_first).
template <class T, class In>
cx<T>* run_passes_from(const uint8_t* spec, const dft::complex_plan& cp, const In& in, cx<T>* x, cx<T>* y) {
    const int64_t ido = run_first<T>(spec, cp, in, x);
    return run_stages<T>(spec, cp, 1, cp.factor[0], ido, x, y, x, cp.stages);
}

// run_passes_from with only the outputs below need wanted, handed to out as the last stage makes
// them (see last_pass).
template <class T, class In, class Out>
void run_passes_into(const uint8_t* spec, const dft::complex_plan& cp, const In& in, cx<T>* x, cx<T>* y,
                     const Out& out, int64_t need) {
    const int64_t ido = run_first<T>(spec, cp, in, x);
    const cx<T>* res = run_stages<T>(spec, cp, 1, cp.factor[0], ido, x, y, x, cp.stages - 1);
    if (cp.factor[cp.stages - 1] == 2) last_pass<radix2<T, false>>(cp.len / 2, need, res, out);
    else last_pass<radix4<T, false>>(cp.len / 4, need, res, out);
}

// ---- Blocked transforms (the long chirp-z convolutions) ----
// A stage with l1 = 1 is also a step of decimation in frequency: it leaves p runs of len/p
// values, run m holding what a transform of len/p points turns into the outputs m, m + p, ...
// The next stages do the same to each run, in place and with the same twiddle tables (a run of
// B values needs w_B^(m i), which is the table's w_K^(m i l1)). Once the runs fit the level-1
// cache, each takes the remaining stages as a transform of its own in two run buffers (the same
// tables again) and its natural-order result goes back in its place. The K values then pass
// through the outer caches top_stages + 1 times instead of once per stage, and run r ends up
// holding the outputs d(r) + (K / block) k, d reversing the digits of r over the top factors. A
// convolution multiplies two transforms in that same order, and its inverse runs the transposed
// steps (each run's transform, then the top stages in reverse order with their twiddles on the
// inputs), which end in natural order: nothing is ever sorted.

// Values read from memory, as a row_pass policy.
template <class T>
struct stored {
    const cx<T>* p;
    typename vops<T>::V vec(int64_t n) const { return vops<T>::load(p + n); }
    cx<T> one(int64_t n) const { return p[n]; }
};

// A policy read from position base on: one run.
template <class In>
struct shifted {
    const In& in;
    int64_t base;
    auto vec(int64_t n) const { return in.vec(base + n); }
    auto one(int64_t n) const { return in.one(base + n); }
};

// Butterfly B (one without twiddles) with the twiddles on its inputs: the transposed stage.
template <class B, class T>
struct input_twiddled {
    static constexpr int p = B::p;
    using O = vops<T>;
    using V = typename O::V;
    static void vec(const V* x, V* y, const V* w) {
        const V mp = -O::plus_minus();
        V t[p];
        t[0] = x[0];
#pragma GCC unroll 8
        for (int j = 1; j < p; ++j) t[j] = O::mul(x[j], w[j - 1], mp);
        B::vec(t, y, w);
    }
    static void one(const cx<T>* c, int64_t ci, cx<T>* h, int64_t so, const cx<T>* w, int64_t wi) {
        cx<T> t[p];
        t[0] = c[0];
        for (int j = 1; j < p; ++j) t[j] = mul(c[j * ci], w[(j - 1) * wi]);
        B::one(t, 1, h, so, w, wi);
    }
};

// A stage in place over the l1 runs of p * ido values each (ido at least a vector).
template <class B, class T>
void in_place_stage(int64_t ido, int64_t l1, cx<T>* x, const cx<T>* wa) {
    for (int64_t k = 0; k < l1; ++k) {
        cx<T>* run = x + ido * B::p * k;
        row_pass<B>(ido, ido, stored<T>{run}, run, wa);
    }
}

// A top stage (factor 2 or 4): a step of decimation in frequency, or (Transposed) its
// transpose, the twiddles on the inputs.
template <class T, bool Transposed>
void top_stage(int p, int64_t ido, int64_t l1, cx<T>* x, const cx<T>* wa) {
    if constexpr (Transposed) {
        if (p == 2) in_place_stage<input_twiddled<radix2<T, false>, T>>(ido, l1, x, wa);
        else in_place_stage<input_twiddled<radix4<T, false>, T>>(ido, l1, x, wa);
    } else {
        if (p == 2) in_place_stage<radix2<T>>(ido, l1, x, wa);
        else in_place_stage<radix4<T>>(ido, l1, x, wa);
    }
}

// Each run of cp.block values through the stages [top_stages, stages) as a transform of its own:
// the first reads in (a policy) from the run's start, the middle ones alternate between the run
// buffers a and b, the last writes the run back into x.
template <class T, class In>
void run_blocks(const uint8_t* spec, const dft::complex_plan& cp, const In& in, cx<T>* x, cx<T>* a, cx<T>* b) {
    const int s0 = cp.top_stages, last = cp.stages - 1, pl = cp.factor[last];
    const int64_t len = cp.block;
    for (int64_t r = 0; r < cp.len; r += len) {
        const int64_t ido = run_first_at<T>(spec, cp, s0, len, shifted<In>{in, r}, a);
        const cx<T>* res = run_stages<T>(spec, cp, s0 + 1, cp.factor[s0], ido, a, b, a, last);
        run_stages<T>(spec, cp, last, len / pl, pl, res, x + r, nullptr, last + 1);
    }
}

// The forward transform of a blocked plan from a policy into x (in may read x itself: the first
// stage reads every value before writing it); scratch holds two runs.
template <class T, class In>
void blocked_forward(const uint8_t* spec, const dft::complex_plan& cp, const In& in, cx<T>* x, cx<T>* scratch) {
    int64_t ido = run_first_at<T>(spec, cp, 0, cp.len, in, x), l1 = cp.factor[0];
    for (int s = 1; s < cp.top_stages; ++s) {
        const int p = cp.factor[s];
        top_stage<T, false>(p, ido /= p, l1, x, at<const cx<T>*>(spec, cp.twiddles[s]));
        l1 *= p;
    }
    run_blocks<T>(spec, cp, stored<T>{x}, x, scratch, scratch + cp.block);
}

// The same transform of values given in the order blocked_forward leaves (by a policy reading x
// itself or elsewhere), in x, ending in natural order: the outputs below need go to out.
template <class T, class In, class Out>
void blocked_transposed(const uint8_t* spec, const dft::complex_plan& cp, const In& in, cx<T>* x, cx<T>* scratch,
                        const Out& out, int64_t need) {
    run_blocks<T>(spec, cp, in, x, scratch, scratch + cp.block);
    int64_t ido[dft::max_stages], l1[dft::max_stages];
    for (int s = 0; s < cp.top_stages; ++s) {
        l1[s] = s ? l1[s - 1] * cp.factor[s - 1] : 1;
        ido[s] = (s ? ido[s - 1] : cp.len) / cp.factor[s];
    }
    for (int s = cp.top_stages - 1; s >= 0; --s)
        top_stage<T, true>(cp.factor[s], ido[s], l1[s], x, at<const cx<T>*>(spec, cp.twiddles[s]));
    constexpr int64_t C = complex_per_vector<T>;
    int64_t n = 0;
    for (; n + C <= need; n += C) out.vec(n, vops<T>::load(x + n));
    for (; n < need; ++n) out.one(n, x[n]);
}

}  // namespace
