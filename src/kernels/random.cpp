// Random generators: a uniform and three Gaussian (polar method) kernels over one integer core.
// The sequence of a seed is fixed bit for bit, and every level computes it with the same
// separately rounded operations (no fused multiply-add), so a seed means the same array on
// every machine. Speed comes from batching: the subtract-with-borrow chain runs alone in a tight
// scalar loop, the linear congruential words are produced four chains at a time by jump-ahead,
// and the logarithms and square roots of the accepted pairs go through vector code.
#include <cstdint>
#include <cstring>
#include <immintrin.h>

#include "kernels/level.hpp"
#include "kernels/random_state.hpp"
#include "kernels/runtime/status.hpp"

namespace qor::krn::QOR_LEVEL_NS {
namespace {

#include "kernels/random_ln.hpp"

#if QOR_LEVEL >= 5
constexpr int lanes = 8;
#elif QOR_LEVEL >= 3
constexpr int lanes = 4;
#else
constexpr int lanes = 2;
#endif
typedef double vd __attribute__((vector_size(8 * lanes)));
typedef uint64_t vu __attribute__((vector_size(8 * lanes)));
typedef int64_t vi __attribute__((vector_size(8 * lanes)));
typedef int32_t vi32 __attribute__((vector_size(4 * lanes)));
typedef float vf __attribute__((vector_size(4 * lanes)));

// Correctly rounded square roots of a vector, at the level's width.
inline vd sqrt_vector(vd v) {
#if QOR_LEVEL >= 5
    const __m512d x = reinterpret_cast<__m512d>(v);
    return reinterpret_cast<vd>(_mm512_mask_sqrt_pd(x, 0xFF, x));  // the unmasked form trips -Wmaybe-uninitialized
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
constexpr lcg_jump lcg_by4 = lcg_power(4);

struct core {
    uint32_t lcg, r1, r2, r3, c;
};

// Fills out[0..n) with the next n core outputs u = x + L (as signed 32-bit values).
void core_fill(core& k, int32_t* out, int n) {
    uint32_t r1 = k.r1, r2 = k.r2, r3 = k.r3, c = k.c;
    // Four independent congruence chains, each four steps apart, keep the multiply latency off
    // the borrow chain, which is then the only serial dependency.
    uint32_t l0 = k.lcg * core_multiplier + core_increment;
    uint32_t l1 = l0 * core_multiplier + core_increment;
    uint32_t l2 = l1 * core_multiplier + core_increment;
    uint32_t l3 = l2 * core_multiplier + core_increment;
    uint32_t last = k.lcg;
    auto swb = [&]() {
        const uint32_t d = r2 - r3 + c;
        const uint32_t neg = static_cast<uint32_t>(static_cast<int32_t>(d) >> 31);
        const uint32_t x = d - (neg & 18u);  // the sign test is on d, before the 18 comes off
        c = neg;
        r3 = r2;
        r2 = r1;
        r1 = x;
        return x;
    };
    int j = 0;
    for (; j + 4 <= n; j += 4) {
        out[j] = static_cast<int32_t>(swb() + l0);
        out[j + 1] = static_cast<int32_t>(swb() + l1);
        out[j + 2] = static_cast<int32_t>(swb() + l2);
        out[j + 3] = static_cast<int32_t>(swb() + l3);
        last = l3;
        l0 = l0 * lcg_by4.a + lcg_by4.c;
        l1 = l1 * lcg_by4.a + lcg_by4.c;
        l2 = l2 * lcg_by4.a + lcg_by4.c;
        l3 = l3 * lcg_by4.a + lcg_by4.c;
    }
    const uint32_t rest[3] = {l0, l1, l2};
    for (int i = 0; j < n; ++j, ++i) {
        out[j] = static_cast<int32_t>(swb() + rest[i]);
        last = rest[i];
    }
    k = {last, r1, r2, r3, c};
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

// Element conversions of the Gaussian kernels, scalar and one vector of doubles at a time.
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
    // Limited first, then rounded to nearest even by the 1.5 * 2^52 bias (in the caller's rounding
    // mode, as the conversion instruction would): the same as rounding, then limiting.
    static int16_t one(double v) {
        v = v < -32768.0 ? -32768.0 : (v > 32767.0 ? 32767.0 : v);
        return static_cast<int16_t>(static_cast<int32_t>((v + 0x1.8p52) - 0x1.8p52));
    }
    static void put(int16_t* dst, vd v) {
        for (int l = 0; l < lanes; ++l) dst[l] = one(v[l]);
    }
};

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
        int accepted = 0;
        for (int p = 0; p < pairs; ++p) {
            const double a = static_cast<double>(u[2 * p]) * 0x1p-31;
            const double b = static_cast<double>(u[2 * p + 1]) * 0x1p-31;
            const double sum = a * a + b * b;
            w1[accepted] = a;
            w2[accepted] = b;
            s[accepted] = sum;
            accepted += (sum < 1.0) & (sum != 0.0);
        }
        if (accepted == 0) continue;
        for (int q = accepted; q % lanes; ++q) s[q] = 0.5;  // harmless lanes for the last vector
        for (int q = 0; q < accepted; q += lanes) {
            const vd sv = load<vd>(s + q);
            store(factor + q, sqrt_vector(ln_vector<vd, vu, vi>(sv) * -2.0 / sv));
        }
        // Whole pairs: the second uniform of a pair gives the first element.
        int q = 0;
        for (; q < accepted && len - written >= 2; ++q, written += 2) {
            dst[written] = Out::one((w2[q] * sigma) * factor[q] + mu);
            dst[written + 1] = Out::one((w1[q] * sigma) * factor[q] + mu);
        }
        if (q < accepted) {  // the odd remainder: one element now, the other kept as the spare
            dst[written++] = Out::one((sigma * w2[q]) * factor[q] + mu);
            run.no_spare = 0;
            ++q;
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
    alignas(64) int32_t u[batch];
    for (int done = 0; done < len;) {
        const int n = len - done < batch ? len - done : batch;
        core_fill(k, u, n);
        float* out = dst + done;
        int j = 0;
        for (; j + lanes <= n; j += lanes) {
            const vd v = __builtin_convertvector(load<vi32>(u + j), vd) * scale + mid;
            store(out + j, __builtin_convertvector(v, vf));
        }
        for (; j < n; ++j) out[j] = static_cast<float>(static_cast<double>(u[j]) * scale + mid);
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
