// Random generators: a uniform and three Gaussian (polar method) kernels over one integer core.
// The sequence of a seed is fixed bit for bit, and every level computes it with the same
// separately rounded operations (no fused multiply-add), so a seed means the same array on
// every machine. Speed comes from batching: the subtract-with-borrow chain runs alone in a tight
// scalar loop, the linear congruential words follow a vector at a time by jump-ahead, and the
// pairs are accepted, and their logarithms and square roots taken, in vector code.
#include <cstdint>
#include <cstring>
// GCC 12's AVX-512 intrinsics fill their don't-care operands from self-initialised variables,
// which -Wmaybe-uninitialized reports at the header's lines.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop

#include "kernels/level.hpp"
#include "kernels/random_state.hpp"
#include "kernels/runtime/status.hpp"

// Vectors wider than the level's registers are passed between our own internal functions only.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace qor::krn::QOR_LEVEL_NS {
namespace {

#include "kernels/random_ln.hpp"

constexpr int lanes = QOR_FLOAT_VECTOR_BYTES / 8;
typedef double vd __attribute__((vector_size(8 * lanes)));
typedef uint64_t vu __attribute__((vector_size(8 * lanes)));
typedef int64_t vi __attribute__((vector_size(8 * lanes)));
typedef int32_t vi32 __attribute__((vector_size(4 * lanes)));
typedef float vf __attribute__((vector_size(4 * lanes)));

// Correctly rounded square roots of a vector, at the level's width.
inline vd sqrt_vector(vd v) {
#if QOR_LEVEL >= 5
    return reinterpret_cast<vd>(_mm512_sqrt_pd(reinterpret_cast<__m512d>(v)));
#elif QOR_LEVEL >= 3
    return reinterpret_cast<vd>(_mm256_sqrt_pd(reinterpret_cast<__m256d>(v)));
#else
    return reinterpret_cast<vd>(_mm_sqrt_pd(reinterpret_cast<__m128d>(v)));
#endif
}

// The linear congruence advanced by j steps at once: L -> a * L + c (mod 2^32).
struct lcg_jump {
    uint32_t a, c;
};
constexpr lcg_jump lcg_power(int steps) {
    lcg_jump j{1u, 0u};
    for (int i = 0; i < steps; ++i) j = {j.a * core_multiplier, j.c * core_multiplier + core_increment};
    return j;
}

struct core {
    uint32_t lcg, r1, r2, r3, c;
};

// Fills x[0..n) with the next n lagged subtract-with-borrow words.
void swb_fill(core& k, uint32_t* x, int n) {
    // The borrow is the serial dependency: d(n) = y(n) + c(n-1) and c(n) = the sign of d(n), two
    // instructions per step, provided y(n) = x(n-2) - x(n-3) is ready in time. It is formed as
    // (d(n-2) - x(n-3)) - (c(n-2) & 18), whose first part does not wait for the borrow. The empty
    // asm statements keep the compiler from reassociating the sums back onto the chain; the
    // loop is unrolled by two so that no register has to rotate.
    uint32_t prev = k.r1, c = k.c;
    uint32_t y0 = k.r2 - k.r3, y1 = k.r1 - k.r2;
    auto step = [&](uint32_t& y, uint32_t* out) {
        const uint32_t d = y + c;
        c = static_cast<uint32_t>(static_cast<int32_t>(d) >> 31);
        const uint32_t minus = c & 18u;  // the sign test is on d, before the 18 comes off
        uint32_t early = d - prev;
        __asm__("" : "+r"(early));
        prev = d - minus;
        *out = prev;
        y = early - minus;
        __asm__("" : "+r"(y));
    };
    int j = 0;
    for (; j + 2 <= n; j += 2) {
        step(y0, x + j);
        step(y1, x + j + 1);
    }
    if (j < n) step(y0, x + j);
    const uint32_t older[3] = {k.r3, k.r2, k.r1};
    auto word = [&](int i) { return i >= 0 ? x[i] : older[3 + i]; };
    k.r1 = word(n - 1);
    k.r2 = word(n - 2);
    k.r3 = word(n - 3);
    k.c = c;
}

// Adds the next n congruence words to x[0..n), a vector of them at a time: lane l holds the
// word l + 1 steps ahead, and the whole vector jumps by its width.
constexpr int lcg_lanes = 2 * lanes;  // one register of 32-bit lanes
typedef uint32_t vl __attribute__((vector_size(4 * lcg_lanes)));
constexpr struct lcg_table {
    uint32_t a[lcg_lanes], c[lcg_lanes];
    constexpr lcg_table() : a{}, c{} {
        for (int l = 0; l < lcg_lanes; ++l) a[l] = lcg_power(l + 1).a, c[l] = lcg_power(l + 1).c;
    }
} lcg_steps;
constexpr lcg_jump lcg_by_width = lcg_power(lcg_lanes);

// Runs over the next n congruence words: each(j, words) for every whole vector (lane l holds
// the word of element j + l), then tail(j, word) one by one.
template <class Each, class Tail>
void lcg_walk(core& k, int n, Each each, Tail tail) {
    uint32_t last = k.lcg;
    int j = 0;
    if (n >= lcg_lanes) {
        vl a, c;
        std::memcpy(&a, lcg_steps.a, sizeof a);
        std::memcpy(&c, lcg_steps.c, sizeof c);
        vl words = a * last + c;
        for (; j + lcg_lanes <= n; j += lcg_lanes) {
            each(j, words);
            last = words[lcg_lanes - 1];
            words = words * lcg_by_width.a + lcg_by_width.c;
        }
    }
    for (; j < n; ++j) {
        last = last * core_multiplier + core_increment;
        tail(j, last);
    }
    k.lcg = last;
}

void lcg_add(core& k, uint32_t* x, int n) {
    lcg_walk(
        k, n,
        [x](int j, vl words) {
            vl v;
            std::memcpy(&v, x + j, sizeof v);
            v += words;
            std::memcpy(x + j, &v, sizeof v);
        },
        [x](int j, uint32_t word) { x[j] += word; });
}

// The next n core outputs u = x + L, as signed 32-bit values.
void core_fill(core& k, int32_t* out, int n) {
    uint32_t* x = reinterpret_cast<uint32_t*>(out);
    swb_fill(k, x, n);
    lcg_add(k, x, n);
}

template <class T>
inline T load(const void* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class T>
inline void store(void* p, T v) {
    std::memcpy(p, &v, sizeof v);
}

// Pairs per batch: the buffers stay in the first-level cache.
constexpr int batch_pairs = 256;

// Table columns into vector lanes.
struct table_gather {
    vd operator()(const double* column, vu index) const {
#if QOR_LEVEL >= 5
        return reinterpret_cast<vd>(_mm512_i64gather_pd(reinterpret_cast<__m512i>(index), column, 8));
#elif QOR_LEVEL >= 4
        return reinterpret_cast<vd>(_mm256_i64gather_pd(column, reinterpret_cast<__m256i>(index), 8));
#else
        vd v;
        for (int l = 0; l < lanes; ++l) v[l] = column[index[l]];
        return v;
#endif
    }
};

// Scales a pair's uniforms to [-1, 1) and keeps the accepted pairs (0 < s < 1) packed in w1,
// w2 and s, in order; returns how many. The buffers have room for one vector past the count.
int accept_pairs(const int32_t* u, int pairs, double* w1, double* w2, double* s) {
    int accepted = 0, p = 0;
#if QOR_LEVEL >= 5
    const __m512d unit = _mm512_set1_pd(0x1p-31), one = _mm512_set1_pd(1.0), zero = _mm512_setzero_pd();
    for (; p + 8 <= pairs; p += 8) {
        const __m512i both = _mm512_loadu_si512(u + 2 * p);
        const __m512d a = _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_cvtepi64_epi32(both)), unit);
        const __m512d b = _mm512_mul_pd(_mm512_cvtepi32_pd(_mm512_cvtepi64_epi32(_mm512_srli_epi64(both, 32))), unit);
        const __m512d sum = _mm512_add_pd(_mm512_mul_pd(a, a), _mm512_mul_pd(b, b));
        const __mmask8 keep = _mm512_cmp_pd_mask(sum, one, _CMP_LT_OQ) & _mm512_cmp_pd_mask(sum, zero, _CMP_NEQ_OQ);
        _mm512_storeu_pd(w1 + accepted, _mm512_maskz_compress_pd(keep, a));
        _mm512_storeu_pd(w2 + accepted, _mm512_maskz_compress_pd(keep, b));
        _mm512_storeu_pd(s + accepted, _mm512_maskz_compress_pd(keep, sum));
        unsigned bits = keep;
        bits = bits - ((bits >> 1) & 0x55u);
        bits = (bits & 0x33u) + ((bits >> 2) & 0x33u);
        accepted += static_cast<int>((bits + (bits >> 4)) & 0x0Fu);
    }
#elif QOR_LEVEL >= 4
    // Left-packing by a permutation per 4-bit mask (double lanes as pairs of 32-bit lanes).
    static constexpr struct pack_table {
        int32_t idx[16][8];
        int8_t count[16];
        constexpr pack_table() : idx{}, count{} {
            for (int m = 0; m < 16; ++m) {
                int n = 0;
                for (int l = 0; l < 4; ++l)
                    if (m & (1 << l)) idx[m][2 * n] = 2 * l, idx[m][2 * n + 1] = 2 * l + 1, ++n;
                count[m] = static_cast<int8_t>(n);
            }
        }
    } pack;
    const __m256d unit = _mm256_set1_pd(0x1p-31), one = _mm256_set1_pd(1.0), zero = _mm256_setzero_pd();
    const __m256i evens_odds = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    for (; p + 4 <= pairs; p += 4) {
        const __m256i both = _mm256_permutevar8x32_epi32(
            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(u + 2 * p)), evens_odds);
        const __m256d a = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(both)), unit);
        const __m256d b = _mm256_mul_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(both, 1)), unit);
        const __m256d sum = _mm256_add_pd(_mm256_mul_pd(a, a), _mm256_mul_pd(b, b));
        const int keep = _mm256_movemask_pd(
            _mm256_and_pd(_mm256_cmp_pd(sum, one, _CMP_LT_OQ), _mm256_cmp_pd(sum, zero, _CMP_NEQ_OQ)));
        const __m256i perm = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(pack.idx[keep]));
        _mm256_storeu_pd(w1 + accepted, _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(a), perm)));
        _mm256_storeu_pd(w2 + accepted, _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(b), perm)));
        _mm256_storeu_pd(s + accepted, _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(sum), perm)));
        accepted += pack.count[keep];
    }
#endif
    for (; p < pairs; ++p) {
        const double a = static_cast<double>(u[2 * p]) * 0x1p-31;
        const double b = static_cast<double>(u[2 * p + 1]) * 0x1p-31;
        const double sum = a * a + b * b;
        w1[accepted] = a;
        w2[accepted] = b;
        s[accepted] = sum;
        accepted += (sum < 1.0) & (sum != 0.0);
    }
    return accepted;
}

// Element conversions of the Gaussian kernels, one double and one vector of doubles at a time.
struct out_64f {
    using type = double;
    static double one(double v) { return v; }
    static void put(double* dst, vd v) { store(dst, v); }
};
struct out_32f {
    using type = float;
    static float one(double v) { return static_cast<float>(v); }
    static void put(float* dst, vd v) { store(dst, __builtin_convertvector(v, vf)); }
};
struct out_16s {
    using type = int16_t;
    typedef int16_t vs __attribute__((vector_size(2 * lanes)));
    // Limited first, then rounded to nearest even by the 1.5 * 2^52 bias (in the caller's rounding
    // mode, as a conversion instruction would): the same as rounding, then limiting.
    static int16_t one(double v) {
        v = v < -32768.0 ? -32768.0 : (v > 32767.0 ? 32767.0 : v);
        return static_cast<int16_t>(static_cast<int32_t>((v + 0x1.8p52) - 0x1.8p52));
    }
    static void put(int16_t* dst, vd v) {
        v = v < -32768.0 ? -32768.0 : v;
        v = v > 32767.0 ? 32767.0 : v;
        v = (v + 0x1.8p52) - 0x1.8p52;  // now integral: the conversion's truncation is exact
        store(dst, __builtin_convertvector(__builtin_convertvector(v, vi32), vs));
    }
};

// Writes the elements of accepted pairs 0..count) to out: (w2 sigma) factor + mu, then
// (w1 sigma) factor + mu for each.
template <class Out>
void put_pairs(typename Out::type* out, const double* w1, const double* w2, const double* factor, int count,
               double sigma, double mu) {
    int q = 0;
#if QOR_LEVEL >= 3
    {
        for (; q + lanes <= count; q += lanes) {
            const vd f = load<vd>(factor + q);
            const vd first = (load<vd>(w2 + q) * sigma) * f + mu;
            const vd second = (load<vd>(w1 + q) * sigma) * f + mu;
            // Interleave the pairs: first[0], second[0], first[1], second[1], ...
#if QOR_LEVEL >= 5
            Out::put(out + 2 * q, __builtin_shufflevector(first, second, 0, 8, 1, 9, 2, 10, 3, 11));
            Out::put(out + 2 * q + lanes, __builtin_shufflevector(first, second, 4, 12, 5, 13, 6, 14, 7, 15));
#else
            Out::put(out + 2 * q, __builtin_shufflevector(first, second, 0, 4, 1, 5));
            Out::put(out + 2 * q + lanes, __builtin_shufflevector(first, second, 2, 6, 3, 7));
#endif
        }
    }
#endif
    for (; q < count; ++q) {
        out[2 * q] = Out::one((w2[q] * sigma) * factor[q] + mu);
        out[2 * q + 1] = Out::one((w1[q] * sigma) * factor[q] + mu);
    }
}

template <class Out, class State>
int gauss(typename Out::type* dst, int len, State* state, int32_t id) {
    if (!dst || !state) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (state->id != id) return krn_err_context;
    const double sigma = static_cast<double>(state->stdev);
    const double mu = static_cast<double>(state->mean);
    rand_gauss_run& run = state->run;
    int64_t written = 0;
    if (run.no_spare == 0) {
        dst[written++] = Out::one((run.w1 * run.factor) * sigma + mu);
        run.no_spare = 1;
    }
    core k{state->lcg, run.r1, run.r2, run.r3, run.c};
    alignas(64) int32_t u[2 * batch_pairs];
    alignas(64) double w1[batch_pairs + lanes], w2[batch_pairs + lanes], s[batch_pairs + lanes];
    alignas(64) double factor[batch_pairs + lanes];
    // Each batch draws at most as many pairs as elements still need, so no step is drawn that
    // the sequence would not have drawn.
    while (written < len) {
        const int64_t need = (len - written + 1) / 2;
        const int pairs = need < batch_pairs ? static_cast<int>(need) : batch_pairs;
        core_fill(k, u, 2 * pairs);
        const int accepted = accept_pairs(u, pairs, w1, w2, s);
        if (accepted == 0) continue;
        for (int q = accepted; q % lanes; ++q) s[q] = 0.5;  // harmless lanes for the last vector
        for (int q = 0; q < accepted; q += lanes) {
            const vd sv = load<vd>(s + q);
            store(factor + q, sqrt_vector(ln_vector<vd, vu, vi>(sv, table_gather{}) * -2.0 / sv));
        }
        // Whole pairs, then at most one odd remainder: its w2 element now, the other as the spare.
        const int64_t whole = (len - written) / 2;
        const int full = whole < accepted ? static_cast<int>(whole) : accepted;
        put_pairs<Out>(dst + written, w1, w2, factor, full, sigma, mu);
        written += 2 * int64_t{full};
        if (full < accepted) {
            dst[written++] = Out::one((sigma * w2[full]) * factor[full] + mu);
            run.no_spare = 0;
        }
        run.factor = factor[accepted - 1];
        run.w1 = w1[accepted - 1];
        run.w2 = w2[accepted - 1];
    }
    state->lcg = k.lcg;
    run.r1 = k.r1;
    run.r2 = k.r2;
    run.r3 = k.r3;
    run.c = k.c;
    return krn_ok;
}

}  // namespace

int krn_rand_uniform_32f(float* dst, int len, krn_rand_uniform_state_32f* state) {
    if (!dst || !state) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (state->id != rand_uniform_id_32f) return krn_err_context;
    const double scale = state->scale, mid = state->mid;
    core k{state->lcg, state->r1, state->r2, state->r3, state->c};
    constexpr int batch = 512;
    alignas(64) uint32_t x[batch];
    typedef int32_t vli __attribute__((vector_size(4 * lcg_lanes)));
    typedef double vld __attribute__((vector_size(8 * lcg_lanes)));
    typedef float vlf __attribute__((vector_size(4 * lcg_lanes)));
    for (int done = 0; done < len;) {
        const int n = len - done < batch ? len - done : batch;
        swb_fill(k, x, n);
        float* out = dst + done;
        lcg_walk(
            k, n,
            [&](int j, vl words) {
                const vl u = load<vl>(x + j) + words;
                const vld v = __builtin_convertvector(reinterpret_cast<vli>(u), vld) * scale + mid;
                store(out + j, __builtin_convertvector(v, vlf));
            },
            [&](int j, uint32_t word) {
                const int32_t u = static_cast<int32_t>(x[j] + word);
                out[j] = static_cast<float>(static_cast<double>(u) * scale + mid);
            });
        done += n;
    }
    state->lcg = k.lcg;
    state->r1 = k.r1;
    state->r2 = k.r2;
    state->r3 = k.r3;
    state->c = k.c;
    return krn_ok;
}

int krn_rand_gauss_32f(float* dst, int len, krn_rand_gauss_state_32f* state) {
    return gauss<out_32f>(dst, len, state, rand_gauss_id_32f);
}
int krn_rand_gauss_64f(double* dst, int len, krn_rand_gauss_state_64f* state) {
    return gauss<out_64f>(dst, len, state, rand_gauss_id_64f);
}
int krn_rand_gauss_16s(int16_t* dst, int len, krn_rand_gauss_state_16s* state) {
    return gauss<out_16s>(dst, len, state, rand_gauss_id_16s);
}

}  // namespace qor::krn::QOR_LEVEL_NS
