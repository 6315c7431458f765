// The complex mixed-radix stages, shared by the planner (which transforms the chirp-z kernel with
// them at the baseline) and by every level's transform. Included INSIDE a namespace (qor::krn::base
// or qor::krn::lN) and kept in an anonymous namespace, so every object has its own private copy.
// Needs <cstdint>, <cstring>, <utility> and kernels/dft_spec.hpp included before, and
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
    static V repeat(cx<T> w) {
        cx<T> pairs[lanes / 2];
        for (auto& p : pairs) p = w;
        return load(pairs);
    }
    // (+1, -1, +1, -1, ...) and its negation
    static V plus_minus() {
        V v;
        for (int j = 0; j < lanes; ++j) v[j] = (j & 1) ? T(-1) : T(1);
        return v;
    }
    // a * w lane pair by lane pair: (a.r w.r - a.i w.i, a.i w.r + a.r w.i)
    static V mul(V a, V w, V mp) { return a * even_lanes(w, seq{}) + swap_pairs(a, seq{}) * odd_lanes(w, seq{}) * mp; }
    // -i * t = (t.i, -t.r)
    static V rotate(V t, V pm) { return swap_pairs(t, seq{}) * pm; }
    // The even and the odd complex values of a followed by b.
    template <size_t... I>
    static V even(V a, V b, std::index_sequence<I...>) {
        return __builtin_shufflevector(a, b, ((I & 1) ? 2 * I - 1 : 2 * I)...);
    }
    template <size_t... I>
    static V odd(V a, V b, std::index_sequence<I...>) {
        return __builtin_shufflevector(a, b, ((I & 1) ? 2 * I + 1 : 2 * I + 2)...);
    }
    static V even(V a, V b) { return even(a, b, seq{}); }
    static V odd(V a, V b) { return odd(a, b, seq{}); }
};

template <class T>
void pass2(int64_t ido, int64_t l1, const cx<T>* cc, cx<T>* ch, const cx<T>* wa) {
    for (int64_t k = 0; k < l1; ++k) {
        const cx<T>* c0 = cc + ido * (2 * k);
        const cx<T>* c1 = c0 + ido;
        cx<T>* h0 = ch + ido * k;
        cx<T>* h1 = h0 + ido * l1;
        int64_t i = 0;
        if (ido >= complex_per_vector<T>) {
            using O = vops<T>;
            const auto mp = -O::plus_minus();
            for (; i + complex_per_vector<T> <= ido; i += complex_per_vector<T>) {
                const auto a = O::load(c0 + i), b = O::load(c1 + i);
                O::store(h0 + i, a + b);
                O::store(h1 + i, O::mul(a - b, O::load(wa + i), mp));
            }
        }
        for (; i < ido; ++i) {
            const cx<T> a = c0[i], b = c1[i];
            h0[i] = add(a, b);
            h1[i] = mul(sub(a, b), wa[i]);
        }
    }
}

template <class T>
void pass3(int64_t ido, int64_t l1, const cx<T>* cc, cx<T>* ch, const cx<T>* wa) {
    const T tw1r = T(-0.5), tw1i = T(-0.86602540378443864676372317075294);
    const cx<T>* w1 = wa;
    const cx<T>* w2 = wa + ido;
    for (int64_t k = 0; k < l1; ++k) {
        const cx<T>* c0 = cc + ido * (3 * k);
        cx<T>* h0 = ch + ido * k;
        const int64_t so = ido * l1;
        int64_t i = 0;
        if (ido >= complex_per_vector<T>) {
            using O = vops<T>;
            const auto mp = -O::plus_minus();
            for (; i + complex_per_vector<T> <= ido; i += complex_per_vector<T>) {
                const auto a = O::load(c0 + i), b = O::load(c0 + i + ido), c = O::load(c0 + i + 2 * ido);
                const auto t1 = b + c, t2 = b - c;
                O::store(h0 + i, a + t1);
                const auto ca = a + tw1r * t1;
                const auto cb = swap_pairs(tw1i * t2, typename O::seq{}) * mp;
                O::store(h0 + i + so, O::mul(ca + cb, O::load(w1 + i), mp));
                O::store(h0 + i + 2 * so, O::mul(ca - cb, O::load(w2 + i), mp));
            }
        }
        for (; i < ido; ++i) {
            const cx<T> a = c0[i], b = c0[i + ido], c = c0[i + 2 * ido];
            const cx<T> t1 = add(b, c), t2 = sub(b, c);
            h0[i] = add(a, t1);
            const cx<T> ca = {a.r + tw1r * t1.r, a.i + tw1r * t1.i};
            const cx<T> cb = {-(tw1i * t2.i), tw1i * t2.r};
            h0[i + so] = mul(add(ca, cb), w1[i]);
            h0[i + 2 * so] = mul(sub(ca, cb), w2[i]);
        }
    }
}

template <class T>
void pass4(int64_t ido, int64_t l1, const cx<T>* cc, cx<T>* ch, const cx<T>* wa) {
    const cx<T>* w1 = wa;
    const cx<T>* w2 = wa + ido;
    const cx<T>* w3 = wa + 2 * ido;
    const int64_t so = ido * l1;
    int64_t k0 = 0;
    if (ido == 1 && l1 % complex_per_vector<T> == 0) {
        // The last stage: vectors run over k, the four inputs of each k deinterleaved from four
        // consecutive vectors. The twiddles are all 1 and still applied, as in the scalar code.
        using O = vops<T>;
        constexpr int64_t C = complex_per_vector<T>;
        const auto pm = O::plus_minus(), mp = -pm;
        const typename O::V w[3] = {O::repeat(wa[0]), O::repeat(wa[1]), O::repeat(wa[2])};
        for (; k0 < l1; k0 += C) {
            const cx<T>* c = cc + 4 * k0;
            const auto l0 = O::load(c), l1v = O::load(c + C), l2 = O::load(c + 2 * C), l3 = O::load(c + 3 * C);
            const auto e01 = O::even(l0, l1v), o01 = O::odd(l0, l1v), e23 = O::even(l2, l3), o23 = O::odd(l2, l3);
            const auto a = O::even(e01, e23), cv = O::odd(e01, e23), b = O::even(o01, o23), d = O::odd(o01, o23);
            const auto t1 = a + cv, t2 = a - cv, t3 = b + d, rot = O::rotate(b - d, pm);
            O::store(ch + k0, t1 + t3);
            O::store(ch + k0 + so, O::mul(t2 + rot, w[0], mp));
            O::store(ch + k0 + 2 * so, O::mul(t1 - t3, w[1], mp));
            O::store(ch + k0 + 3 * so, O::mul(t2 - rot, w[2], mp));
        }
    }
    for (int64_t k = k0; k < l1; ++k) {
        const cx<T>* c0 = cc + ido * (4 * k);
        cx<T>* h0 = ch + ido * k;
        int64_t i = 0;
        if (ido >= complex_per_vector<T>) {
            using O = vops<T>;
            const auto pm = O::plus_minus(), mp = -pm;
            for (; i + complex_per_vector<T> <= ido; i += complex_per_vector<T>) {
                const auto a = O::load(c0 + i), b = O::load(c0 + i + ido), c = O::load(c0 + i + 2 * ido),
                           d = O::load(c0 + i + 3 * ido);
                const auto t1 = a + c, t2 = a - c, t3 = b + d, rot = O::rotate(b - d, pm);
                O::store(h0 + i, t1 + t3);
                O::store(h0 + i + so, O::mul(t2 + rot, O::load(w1 + i), mp));
                O::store(h0 + i + 2 * so, O::mul(t1 - t3, O::load(w2 + i), mp));
                O::store(h0 + i + 3 * so, O::mul(t2 - rot, O::load(w3 + i), mp));
            }
        }
        for (; i < ido; ++i) {
            const cx<T> a = c0[i], b = c0[i + ido], c = c0[i + 2 * ido], d = c0[i + 3 * ido];
            const cx<T> t1 = add(a, c), t2 = sub(a, c), t3 = add(b, d), t4 = sub(b, d);
            h0[i] = add(t1, t3);
            h0[i + so] = mul(cx<T>{t2.r + t4.i, t2.i - t4.r}, w1[i]);
            h0[i + 2 * so] = mul(sub(t1, t3), w2[i]);
            h0[i + 3 * so] = mul(cx<T>{t2.r - t4.i, t2.i + t4.r}, w3[i]);
        }
    }
}

template <class T>
void pass5(int64_t ido, int64_t l1, const cx<T>* cc, cx<T>* ch, const cx<T>* wa) {
    const T tw1r = T(0.3090169943749474241022934171828191), tw1i = T(-0.9510565162951535721164393333793821);
    const T tw2r = T(-0.8090169943749474241022934171828191), tw2i = T(-0.5877852522924731291687059546390728);
    const int64_t so = ido * l1;
    for (int64_t k = 0; k < l1; ++k) {
        const cx<T>* c0 = cc + ido * (5 * k);
        cx<T>* h0 = ch + ido * k;
        int64_t i = 0;
        if (ido >= complex_per_vector<T>) {
            using O = vops<T>;
            using S = typename O::seq;
            const auto mp = -O::plus_minus();
            for (; i + complex_per_vector<T> <= ido; i += complex_per_vector<T>) {
                const auto a = O::load(c0 + i), b1 = O::load(c0 + i + ido), b2 = O::load(c0 + i + 2 * ido),
                           b3 = O::load(c0 + i + 3 * ido), b4 = O::load(c0 + i + 4 * ido);
                const auto t1 = b1 + b4, t4 = b1 - b4, t2 = b2 + b3, t3 = b2 - b3;
                O::store(h0 + i, a + t1 + t2);
                const auto ca1 = a + tw1r * t1 + tw2r * t2;
                const auto cb1 = swap_pairs(tw1i * t4 + tw2i * t3, S{}) * mp;
                const auto ca2 = a + tw2r * t1 + tw1r * t2;
                const auto cb2 = swap_pairs(tw2i * t4 - tw1i * t3, S{}) * mp;
                O::store(h0 + i + so, O::mul(ca1 + cb1, O::load(wa + i), mp));
                O::store(h0 + i + 4 * so, O::mul(ca1 - cb1, O::load(wa + i + 3 * ido), mp));
                O::store(h0 + i + 2 * so, O::mul(ca2 + cb2, O::load(wa + i + ido), mp));
                O::store(h0 + i + 3 * so, O::mul(ca2 - cb2, O::load(wa + i + 2 * ido), mp));
            }
        }
        for (; i < ido; ++i) {
            const cx<T> a = c0[i], b1 = c0[i + ido], b2 = c0[i + 2 * ido], b3 = c0[i + 3 * ido],
                        b4 = c0[i + 4 * ido];
            const cx<T> t1 = add(b1, b4), t4 = sub(b1, b4), t2 = add(b2, b3), t3 = sub(b2, b3);
            h0[i] = {a.r + t1.r + t2.r, a.i + t1.i + t2.i};
            const cx<T> ca1 = {a.r + tw1r * t1.r + tw2r * t2.r, a.i + tw1r * t1.i + tw2r * t2.i};
            const cx<T> cb1 = {-(tw1i * t4.i + tw2i * t3.i), tw1i * t4.r + tw2i * t3.r};
            const cx<T> ca2 = {a.r + tw2r * t1.r + tw1r * t2.r, a.i + tw2r * t1.i + tw1r * t2.i};
            const cx<T> cb2 = {-(tw2i * t4.i - tw1i * t3.i), tw2i * t4.r - tw1i * t3.r};
            h0[i + so] = mul(add(ca1, cb1), wa[i]);
            h0[i + 4 * so] = mul(sub(ca1, cb1), wa[i + 3 * ido]);
            h0[i + 2 * so] = mul(add(ca2, cb2), wa[i + ido]);
            h0[i + 3 * so] = mul(sub(ca2, cb2), wa[i + 2 * ido]);
        }
    }
}

// Any other factor (6 and the odd factors from 7 up to the last-factor limit): a direct DFT of p
// points per butterfly, pairing j with p - j so that odd p needs half the products.
template <class T>
void pass_any(int p, int64_t ido, int64_t l1, const cx<T>* cc, cx<T>* ch, const cx<T>* wa,
              const cx<T>* roots) {
    cx<T> v[152];
    cx<T> s[76], d[76];
    const int64_t so = ido * l1;
    const int h = (p - 1) / 2;
    for (int64_t k = 0; k < l1; ++k) {
        const cx<T>* c0 = cc + ido * (int64_t(p) * k);
        cx<T>* h0 = ch + ido * k;
        for (int64_t i = 0; i < ido; ++i) {
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

// Runs the stages of a plan: the first reads in and writes x, then x and y alternate. in may be y
// but not x. Returns the buffer holding the result.
template <class T>
cx<T>* run_passes(const uint8_t* spec, const dft::complex_plan& cp, const cx<T>* in, cx<T>* x, cx<T>* y) {
    int64_t l1 = 1;
    const cx<T>* from = in;
    cx<T>* to = x;
    for (int s = 0; s < cp.stages; ++s) {
        const int p = cp.factor[s];
        const int64_t ido = cp.len / (l1 * p);
        const cx<T>* wa = at<const cx<T>*>(spec, cp.twiddles[s]);
        switch (p) {
            case 2: pass2(ido, l1, from, to, wa); break;
            case 3: pass3(ido, l1, from, to, wa); break;
            case 4: pass4(ido, l1, from, to, wa); break;
            case 5: pass5(ido, l1, from, to, wa); break;
            default: pass_any(p, ido, l1, from, to, wa, wa + int64_t(p - 1) * ido); break;
        }
        l1 *= p;
        from = to;
        to = (to == x) ? y : x;
    }
    return const_cast<cx<T>*>(from);
}

}  // namespace
