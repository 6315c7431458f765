// The DFT planner: size query and initialisation of the real forward transform, one implementation
// for every level so that factors and twiddles are the same bits wherever the plan is built.
// One routine (build) serves both calls: it walks the same parts in the same order, adding up
// their 64-byte-rounded sizes when sizing and placing and filling them when initialising.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#include "kernels/dft_spec.hpp"
#include "kernels/kernels.hpp"
#include "kernels/runtime/status.hpp"

#define QOR_DFT_VECTOR_BYTES 16

namespace qor::krn::base {

#include "kernels/dft_passes.hpp"

namespace {

using dft::complex_plan;
using dft::header;

struct limits {
    int32_t id;
    int64_t header_bytes;
    int64_t largest_pow2;
    int64_t non_pow2_limit;  // lengths that are not powers of two must stay below
    int64_t trial_limit;
    int64_t last_plain;
    int64_t last_mult4;
    int64_t direct_below;
    int64_t chirp_below;
    bool merge_always;  // merge a leading 2 with a 3 even when a 4 comes between
};

constexpr limits limits_32f = {dft::id_32f, dft::header_bytes_32f, int64_t(1) << 29, int64_t(1) << 27, 49, 50,
                               150, 51, int64_t(1) << 26, false};
constexpr limits limits_64f = {dft::id_64f, dft::header_bytes_64f, int64_t(1) << 28, int64_t(1) << 26, 89, 90,
                               150, 91, int64_t(1) << 25, true};

constexpr int32_t conv_table[31] = {128,  144,  160,  192,  200,  256,  288,  320,  384,  400,  512,
                                    576,  640,  768,  800,  1024, 1152, 1280, 1536, 1600, 2048, 2304,
                                    2560, 3072, 3200, 4096, 4608, 5120, 6144, 6400, 8192};

bool is_pow2(int64_t n) { return n > 0 && (n & (n - 1)) == 0; }
int64_t round64(int64_t b) { return (b + 63) & ~int64_t(63); }

// Every list starts alike: factors 4 while they divide, then a factor 2 placed first if one is
// left. Takes them out of len; returns their count.
int take_fours_and_two(int64_t& len, int32_t* f) {
    int n = 0;
    while (len % 4 == 0) {
        f[n++] = 4;
        len /= 4;
    }
    if (len % 2 == 0) {
        len /= 2;
        for (int j = n; j > 0; --j) f[j] = f[j - 1];
        f[0] = 2;
        ++n;
    }
    return n;
}

// The factor list of a length. Returns the count, or 0 when the list cannot be built.
int factor_list(int64_t len, const limits& lim, int32_t* f) {
    const bool mult4 = len % 4 == 0;
    int n = take_fours_and_two(len, f);
    for (int64_t d = 3; d * d <= len;) {
        if (len % d == 0) {
            f[n++] = int32_t(d);
            len /= d;
        } else if ((d += 2) > lim.trial_limit) {
            return 0;
        }
    }
    if (len > 1) {
        if (n == 0 || len > (mult4 ? lim.last_mult4 : lim.last_plain)) return 0;
        f[n++] = int32_t(len);
    }
    if (n > 1 && f[0] == 2) {
        for (int j = 1; j < n; ++j) {
            if (f[j] != 3) continue;
            if (j != 1 && !lim.merge_always) break;
            f[0] = 6;
            for (int q = j; q + 1 < n; ++q) f[q] = f[q + 1];
            --n;
            break;
        }
    }
    return n;
}

// A factorisation without limits, for the lengths whose plan is fixed to succeed (powers of two,
// half lengths up to 16, the chirp-z convolution lengths).
int factor_free(int64_t len, int32_t* f) {
    int n = take_fours_and_two(len, f);
    for (int64_t d = 3; len > 1; d += 2)
        while (len % d == 0) {
            f[n++] = int32_t(d);
            len /= d;
        }
    return n;
}

// e^(-2*pi*i*k/n) for any k in [0, n), as the product of two exactly computed values: the low
// and high parts of k index two tables of about sqrt(n) entries each.
struct roots {
    int64_t n = 0;
    int shift = 0;
    cx<double>* lo = nullptr;
    cx<double>* hi = nullptr;

    static int shift_for(int64_t n) {
        int bits = 0;
        while ((int64_t(1) << bits) < n) ++bits;
        return (bits + 1) / 2;
    }
    static int64_t entries(int64_t n) {
        const int s = shift_for(n);
        return (int64_t(1) << s) + ((n - 1) >> s) + 1;
    }
    // The argument of k reduced to the first octant: the octant and x = (pi/4) * r / n, r in [0, n].
    struct reduced {
        int oct;
        int64_t r;
    };
    static reduced reduce(int64_t k, int64_t n) {
        const int64_t n8 = 8 * k;
        const int oct = int(n8 / n);
        const int64_t rem = n8 - int64_t(oct) * n;  // 0 <= rem < n, position within the octant * 8
        return {oct, (oct & 1) ? n - rem : rem};
    }
    // cos and sin of the full angle from those of the reduced argument.
    static cx<double> rebuild(int oct, double c, double s) {
        double rc, rs;
        switch (oct) {
            case 0: rc = c; rs = s; break;
            case 1: rc = s; rs = c; break;
            case 2: rc = -s; rs = c; break;
            case 3: rc = -c; rs = s; break;
            case 4: rc = -c; rs = -s; break;
            case 5: rc = -s; rs = -c; break;
            case 6: rc = s; rs = -c; break;
            default: rc = c; rs = -s; break;
        }
        return {rc, -rs};
    }
    static cx<double> exact(int64_t k, int64_t n) {
        // The argument is at most pi/4, where the double sine and cosine are correctly rounded
        // or nearly so.
        const reduced a = reduce(k, n);
        const double quarter_pi = 0.78539816339744830961566084581987572;
        const double x = quarter_pi * (double(a.r) / double(n));
        return rebuild(a.oct, std::cos(x), std::sin(x));
    }
    void fill(int64_t len, cx<double>* scratch) {
        n = len;
        shift = shift_for(n);
        lo = scratch;
        hi = scratch + (int64_t(1) << shift);
        for (int64_t j = 0; j < (int64_t(1) << shift); ++j) lo[j] = exact(j, n);
        // When 8 << shift divides n, every reduced argument of the high table is that of one of its
        // first-octant entries (r = 8k, k = j << shift): those are computed, the rest rebuilt
        // from them, the same values with an eighth of the sine and cosine calls.
        const int64_t g = int64_t(8) << shift;
        const bool fold = n % g == 0;
        for (int64_t j = 0; (j << shift) < n; ++j) {
            const reduced a = reduce(j << shift, n);
            if (fold && a.oct > 0 && a.r < n) {
                const cx<double> e = hi[a.r / g];
                hi[j] = rebuild(a.oct, e.r, -e.i);
            } else {
                hi[j] = exact(j << shift, n);
            }
        }
    }
    // k in [0, n)
    cx<double> operator()(int64_t k) const {
        return mul(lo[k & ((int64_t(1) << shift) - 1)], hi[k >> shift]);
    }
};

// Parts of the three areas, laid out one after the other from offset `used`, 64-byte rounded.
struct placer {
    uint8_t* base;  // null while sizing
    int64_t used;
    int64_t take(int64_t bytes) {
        const int64_t at = used;
        used += round64(bytes);
        return at;
    }
};

struct shape {
    int kind;
    int64_t len;       // length of the main complex transform
    int ckind;         // complex_kind of the main transform
    int stages;
    int32_t factor[dft::max_stages];
    int64_t conv_len;  // chirp-z
    int conv_stages;
    int32_t conv_factor[dft::max_stages];
};

int decide(int64_t n, const limits& lim, shape& s) {
    s = shape{};
    if (n <= 16) {
        s.kind = dft::plan_small;
        return krn_ok;
    }
    if (is_pow2(n)) {
        s.kind = dft::plan_split;
        s.len = n / 2;
        s.ckind = dft::complex_passes;
        s.stages = factor_free(s.len, s.factor);
        return krn_ok;
    }
    s.kind = (n & 1) ? dft::plan_odd : dft::plan_split;
    s.len = (n & 1) ? n : n / 2;
    s.ckind = dft::complex_passes;
    s.stages = s.len <= 16 ? factor_free(s.len, s.factor) : factor_list(s.len, lim, s.factor);
    if (s.stages > 0) return krn_ok;
    if (s.len < lim.direct_below) {
        s.ckind = dft::complex_direct;
        return krn_ok;
    }
    if (s.len >= lim.chirp_below) return krn_err_size;
    s.ckind = dft::complex_chirp;
    const int64_t need = 2 * s.len - 1;
    if (need <= 8192) {
        for (int32_t k : conv_table)
            if (k >= need) {
                s.conv_len = k;
                break;
            }
    } else {
        s.conv_len = 1;
        while (s.conv_len < need) s.conv_len *= 2;
    }
    s.conv_stages = factor_free(s.conv_len, s.conv_factor);
    return krn_ok;
}

template <class T>
void store(cx<T>* dst, cx<double> v) {
    *dst = {T(v.r), T(v.i)};
}

// A complex transform through the dispatched stages, as run_passes: returns x or y, where it ends.
template <class T>
cx<T>* conv_passes(const uint8_t* spec, const complex_plan& cp, const cx<T>* in, cx<T>* x, cx<T>* y) {
    const uint8_t* plan = reinterpret_cast<const uint8_t*>(&cp);
    if constexpr (sizeof(T) == 4) {
        return reinterpret_cast<cx<T>*>(qor::krn::krn_dft_complex_passes_32f(
            spec, plan, reinterpret_cast<const krn_32fc*>(in), reinterpret_cast<krn_32fc*>(x), reinterpret_cast<krn_32fc*>(y)));
    } else {
        return reinterpret_cast<cx<T>*>(qor::krn::krn_dft_complex_passes_64f(
            spec, plan, reinterpret_cast<const krn_64fc*>(in), reinterpret_cast<krn_64fc*>(x), reinterpret_cast<krn_64fc*>(y)));
    }
}

// Lays out (and, with spec.base set, fills) the stages of one complex transform.
template <class T>
void place_passes(complex_plan& cp, int64_t len, int stages, const int32_t* factor, placer& spec, roots& r,
                  cx<double>* scratch) {
    cp.kind = dft::complex_passes;
    cp.len = int32_t(len);
    cp.stages = stages;
    if (spec.base) r.fill(len, scratch);
    // The first stage's first row holds w^k for every k below its length: later twiddles with
    // such a k are copied from it instead of multiplied again (the same values, bit for bit).
    const cx<T>* row = nullptr;
    int64_t row_len = 0;
    int64_t l1 = 1;
    for (int s = 0; s < stages; ++s) {
        const int p = factor[s];
        const int64_t ido = len / (l1 * p);
        const bool generic = p != 2 && p != 3 && p != 4 && p != 5;
        const int64_t count = (p - 1) * ido + (generic ? p : 0);
        cp.factor[s] = p;
        cp.twiddles[s] = int32_t(spec.take(count * int64_t(sizeof(cx<T>))));
        if (spec.base) {
            cx<T>* w = reinterpret_cast<cx<T>*>(spec.base + cp.twiddles[s]);
            for (int m = 1; m < p; ++m) {
                const int64_t step = int64_t(m) * l1;
                int64_t i = 0;
                for (; i < ido && i * step < row_len; ++i) *w++ = row[i * step];
                for (; i < ido; ++i) store(w++, r(i * step));
                if (s == 0 && m == 1) {
                    row = w - ido;
                    row_len = ido;
                }
            }
            if (generic)
                for (int j = 0; j < p; ++j) store(w++, r(j * (len / p)));
        }
        l1 *= p;
    }
}

// Convolutions from this length on (all powers of two) are blocked (see the transforms): runs
// of at most 16 KiB take the later stages in the level-1 cache. Measured faster from here on.
constexpr int64_t blocked_from = int64_t(1) << 14;
template <class T>
constexpr int64_t block_limit = 16384 / int64_t(sizeof(cx<T>));

struct sizes {
    int64_t spec, init, work;
};

template <class T>
int build(int64_t n, int flag, int hint, const limits& lim, uint8_t* spec_area, uint8_t* init_area, sizes& out) {
    shape s;
    if (int st = decide(n, lim, s)) return st;

    header h{};
    h.id = lim.id;
    h.n = int32_t(n);
    h.hint = hint;
    h.kind = s.kind;
    h.forward_scaled = flag == 1 || flag == 4;
    h.inverse_scaled = flag == 2 || flag == 4;
    if (flag == 4) {
        h.scale64 = 1.0 / std::sqrt(double(n));
        h.scale32 = float(1.0 / std::sqrt(double(n)));
    } else if (flag == 1 || flag == 2) {
        h.scale64 = 1.0 / double(n);
        h.scale32 = 1.0f / float(n);
    } else {
        h.scale64 = 1.0;
        h.scale32 = 1.0f;
    }

    placer spec{spec_area, lim.header_bytes};
    placer init{init_area, 0};
    int64_t work = 0;
    const int64_t cxb = sizeof(cx<T>);

    if (s.kind != dft::plan_small) {
        // Scratch for the two-level root tables, sized for the longest table the plan needs.
        int64_t longest = std::max<int64_t>(n, s.len);
        if (s.ckind == dft::complex_chirp) longest = std::max(longest, std::max(2 * s.len, s.conv_len));
        const int64_t scratch_at = spec.take(roots::entries(longest) * int64_t(sizeof(cx<double>)));
        cx<double>* scratch = spec.base ? reinterpret_cast<cx<double>*>(spec.base + scratch_at) : nullptr;
        roots r;

        if (!is_pow2(n)) init.take(n * cxb);
        if (s.kind == dft::plan_split) {
            // X[k] = A[k] Z[k] + B[k] conj(Z[M-k]), A = (1 - i w^k)/2, B = (1 + i w^k)/2.
            const int64_t q = (n + 3) / 4;
            h.split = int32_t(spec.take(2 * q * cxb));
            if (spec.base) {
                r.fill(n, scratch);
                cx<T>* a = reinterpret_cast<cx<T>*>(spec.base + h.split);
                cx<T>* b = a + q;
                for (int64_t k = 0; k < q; ++k) {
                    const cx<double> w = r(k);
                    store(a + k, {0.5 * (1.0 - (-w.i)), 0.5 * -w.r});
                    store(b + k, {0.5 * (1.0 + (-w.i)), 0.5 * w.r});
                }
            }
        }
        complex_plan& cp = h.main;
        if (s.ckind == dft::complex_passes) {
            place_passes<T>(cp, s.len, s.stages, s.factor, spec, r, scratch);
            work = (s.kind == dft::plan_odd ? 2 : 1) * s.len * cxb;
        } else if (s.ckind == dft::complex_direct) {
            cp.kind = dft::complex_direct;
            cp.len = int32_t(s.len);
            cp.table = int32_t(spec.take(s.len * cxb));
            if (spec.base) {
                r.fill(s.len, scratch);
                cx<T>* t = reinterpret_cast<cx<T>*>(spec.base + cp.table);
                for (int64_t k = 0; k < s.len; ++k) store(t + k, r(k));
            }
            work = s.kind == dft::plan_odd ? s.len * int64_t(sizeof(T)) : s.len * cxb;
        } else {
            const int64_t L = s.len, K = s.conv_len;
            cp.kind = dft::complex_chirp;
            cp.len = int32_t(L);
            cp.conv_len = int32_t(K);
            cp.table = int32_t(spec.take(L * cxb));
            cp.kernel = int32_t(spec.take(K * cxb));
            const int64_t tmp_at = init.take(K * cxb);
            if (spec.base) {
                // b[j] = e^(-pi*i*j^2/L), j^2 taken modulo 2L exactly.
                r.fill(2 * L, scratch);
                cx<T>* b = reinterpret_cast<cx<T>*>(spec.base + cp.table);
                // j^2 mod 2L kept by increments: (j + 1)^2 = j^2 + 2j + 1, one wrap at most.
                for (int64_t j = 0, sq = 0; j < L; sq += 2 * j + 1, ++j) {
                    if (sq >= 2 * L) sq -= 2 * L;
                    store(b + j, r(sq));
                }
            }
            place_passes<T>(h.conv, K, s.conv_stages, s.conv_factor, spec, r, scratch);
            if (K >= blocked_from) {
                // Top stages until the runs fit the level-1 cache; a run keeps at least two stages.
                int64_t run = K;
                int top = 0;
                while (run > block_limit<T>) run /= s.conv_factor[top++];
                h.conv.block = int32_t(run);
                h.conv.top_stages = top;
            }
            if (spec.base) {
                // The kernel: transform of the conjugate chirp wrapped around K.
                const cx<T>* b = reinterpret_cast<cx<T>*>(spec.base + cp.table);
                cx<T>* ker = reinterpret_cast<cx<T>*>(spec.base + cp.kernel);
                cx<T>* tmp = reinterpret_cast<cx<T>*>(init.base + tmp_at);
                // Plain stages alternate between the two areas, the first writing the one that is
                // not the input: the input goes where the result does not land. A blocked
                // transform works in place, with the other area as its run buffers.
                cx<T>* in = h.conv.stages % 2 && !h.conv.block ? tmp : ker;
                for (int64_t j = 0; j < L; ++j) {
                    const cx<T> v = {b[j].r, -b[j].i};
                    in[j] = v;
                    if (j) in[K - j] = v;
                }
                std::memset(static_cast<void*>(in + L), 0, size_t(K - 2 * L + 1) * sizeof(cx<T>));
                // Every level's stages give the same bits: the running level's do the work. The
                // division by K is left to the transform that reads the kernel.
                cx<T>* res = h.conv.block ? conv_passes(spec.base, h.conv, in, ker, tmp)
                                          : conv_passes(spec.base, h.conv, in, in == tmp ? ker : tmp, in);
                if (res != ker) std::memcpy(static_cast<void*>(ker), res, size_t(K) * sizeof(cx<T>));
            }
            work = 2 * K * cxb;
        }
    }

    out.spec = spec.used;
    out.init = init.used;
    out.work = round64(work);
    if (out.spec > 0) out.spec += 64;
    if (out.init > 0) out.init += 64;
    if (out.work > 0) out.work += 64;
    if (out.spec > INT32_MAX || out.init > INT32_MAX || out.work > INT32_MAX)
        return is_pow2(n) ? krn_err_order : krn_err_size;
    if (spec_area) std::memcpy(spec_area, &h, sizeof h);
    return krn_ok;
}

// The checks that the size query and the initialisation share, after their pointer checks.
int check_length(int n, int flag, const limits& lim) {
    if (n < 1) return krn_err_size;
    if (flag != 8 && flag != 1 && flag != 2 && flag != 4) return krn_err_flag;
    if (!is_pow2(n) && n >= lim.non_pow2_limit) return krn_err_size;
    if (is_pow2(n) && n > lim.largest_pow2) return krn_err_order;
    return krn_ok;
}

uint8_t* align64(uint8_t* p) {
    return reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(p) + 63) & ~uintptr_t(63));
}

template <class T>
int get_size(int n, int flag, int hint, int* spec_size, int* init_size, int* work_size, const limits& lim) {
    if (!spec_size || !init_size || !work_size) return krn_err_null;
    if (int st = check_length(n, flag, lim)) return st;
    sizes sz{};
    if (int st = build<T>(n, flag, hint, lim, nullptr, nullptr, sz)) return st;
    *spec_size = int(sz.spec);
    *init_size = int(sz.init);
    *work_size = int(sz.work);
    return krn_ok;
}

template <class T>
int init(int n, int flag, int hint, uint8_t* spec_area, uint8_t* init_area, const limits& lim) {
    if (!spec_area) return krn_err_null;
    if (int st = check_length(n, flag, lim)) return st;
    if (n > 16 && !is_pow2(n) && !init_area) return krn_err_null;
    sizes sz{};
    // Size first, so a length the plan refuses leaves the area untouched.
    if (int st = build<T>(n, flag, hint, lim, nullptr, nullptr, sz)) return st;
    uint8_t* spec = align64(spec_area);
    std::memset(spec, 0, size_t(lim.header_bytes));
    return build<T>(n, flag, hint, lim, spec, init_area ? align64(init_area) : nullptr, sz);
}

}  // namespace

int krn_dft_real_get_size_32f(int n, int flag, int hint, int* spec_size, int* init_size, int* work_size) {
    return get_size<float>(n, flag, hint, spec_size, init_size, work_size, limits_32f);
}
int krn_dft_real_get_size_64f(int n, int flag, int hint, int* spec_size, int* init_size, int* work_size) {
    return get_size<double>(n, flag, hint, spec_size, init_size, work_size, limits_64f);
}
int krn_dft_real_init_32f(int n, int flag, int hint, uint8_t* spec_area, uint8_t* init_area) {
    return init<float>(n, flag, hint, spec_area, init_area, limits_32f);
}
int krn_dft_real_init_64f(int n, int flag, int hint, uint8_t* spec_area, uint8_t* init_area) {
    return init<double>(n, flag, hint, spec_area, init_area, limits_64f);
}

}  // namespace qor::krn::base
