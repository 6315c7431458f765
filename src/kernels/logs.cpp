// Logarithm kernels: ln, log10 and ln(1 + x) in single and double precision.
//
// The main loop computes whole vectors and flags the lanes that are not positive normal finite
// values (or, for log1p, not above -1); those lanes are redone one by one in index order, which
// also yields the report of the last out-of-domain element. The tail runs through the same
// vector code on a padded copy, so every element of every level takes the same operations.
#include <cstdint>
#include <cstring>
#include <immintrin.h>

#include "kernels/level.hpp"
#include "kernels/runtime/status.hpp"

namespace qor::krn::QOR_LEVEL_NS {
namespace {

#include "kernels/logs_detail.hpp"

// ---- single precision: the reference reduction around 2/3 and 4/3 ----------------------------

struct ln32_reduced {
    vf r, e;
};

inline ln32_reduced reduce32(vi b) {
    const vi d = b - 0x3F2AAAAB;  // the bits of 2/3
    const vi e = d >> 23;
    const vf m = bits_as<vf>((d & 0x007FFFFF) + 0x3F2AAAAB);
    return {m - 1.0f, __builtin_convertvector(e, vf)};
}

inline vf ln32_main(vi b) {
    const ln32_reduced a = reduce32(b);
    const vf r = a.r;
    vf p = vf{} - 0.151772052f;
    p = p * r + 0.169648811f;
    p = p * r + -0.164624572f;
    p = p * r + 0.198225036f;
    p = p * r + -0.250046641f;
    p = p * r + 0.333365649f;
    p = p * r + -0.5f;
    return (r + (p * r) * r) + a.e * 0.693147182f;
}

inline vf log10_32_main(vi b) {
    const ln32_reduced a = reduce32(b);
    const vf r = a.r;
    vf p = vf{} + 0.100466065f;
    p = p * r + -0.119593509f;
    p = p * r + 0.144034356f;
    p = p * r + -0.216831714f;
    p = p * r + 0.43430084f;
    return a.e * 0.30103001f + r * p;
}

// Lanes that are not positive normal finite (negative patterns, zeros, subnormals, inf, NaN):
// b - min_normal, unsigned, above the span of positive normals; as a signed compare after
// flipping the sign bit, since only AVX-512 compares unsigned.
// The addition wraps, so it is done on unsigned lanes.
inline vi not_positive_normal(vi b) {
    return bits_as<vi>(bits_as<lanes<f32_lanes>::ui>(b) + 0x7F800000u) > -0x01000001;
}
inline vl not_positive_normal(vl b) {
    return bits_as<vl>(bits_as<lanes<f64_lanes>::ul>(b) + 0x7FF0000000000000ull) > -0x0020000000000001ll;
}

// The table shared by ln and log10 for every input off the main path; subnormals get the
// finite logarithm through the double cores.
template <class T, class Finite>
inline T log_special(T x, int& report, Finite finite) {
    if (x != x) return quiet(x);
    if (x == T(0)) {
        report = report_pole;
        return -__builtin_inf();
    }
    if (x < T(0)) {
        report = report_below;
        return sizeof(T) == 4 ? T(default_nan_f) : T(default_nan_d);
    }
    if (x > T(1)) return x;  // +inf
    return finite(x);
}

template <class T>
inline T log1p_special(T x, int& report) {
    if (x != x) return quiet(x);
    if (x == T(-1)) {
        report = report_pole;
        return -__builtin_inf();
    }
    if (x < T(-1)) {
        report = report_below;
        return sizeof(T) == 4 ? T(default_nan_f) : T(default_nan_d);
    }
    return x;  // +inf and both zeros
}

// Walks the array a vector at a time; the tail is padded with `pad` and stored partially.
// `main` maps a vector of inputs to results, `fix` recomputes one flagged lane.
template <class V, class Main, class Flag, class Fix>
inline int walk(const void* src, void* dst, int len, V pad, Main main, Flag flag, Fix fix) {
    constexpr int n_lanes = int(sizeof(V) / sizeof(pad[0]));
    using elem = decltype(pad[0] + pad[0]);
    int report = 0;
    const auto* in = static_cast<const elem*>(src);
    auto* out = static_cast<elem*>(dst);
    // Flagged lanes are redone from the source elements, which a block has not yet overwritten.
    auto block = [&](V x, const elem* orig, unsigned live) {
        V y = main(x);
        unsigned special = lane_bits(flag(x)) & live;
        if (__builtin_expect(special != 0, 0)) {
            do {
                const int j = __builtin_ctz(special);
                special &= special - 1;
                y[j] = fix(orig[j], report);
            } while (special);
        }
        return y;
    };
    constexpr unsigned all = n_lanes == 32 ? ~0u : (1u << n_lanes) - 1;
    int i = 0;
    for (; i + n_lanes <= len; i += n_lanes) {
        V x;
        std::memcpy(&x, in + i, sizeof x);
        const V y = block(x, in + i, all);
        std::memcpy(out + i, &y, sizeof y);
    }
    if (const int n = len - i) {
        V x = pad;
        for (int j = 0; j < n; ++j) x[j] = in[i + j];
        const V y = block(x, in + i, (1u << n) - 1);
        for (int j = 0; j < n; ++j) out[i + j] = y[j];
    }
    return report;
}

// The natural-log kernels' status: a pole reported last is a singularity; otherwise any negative
// element (each reports 19) makes it a domain warning.
struct ln_status {
    int last = 0;
    bool below = false;
    int status() const {
        if (last == report_pole) return krn_warn_singularity;
        return below ? krn_warn_domain : krn_ok;
    }
};

// --- 32-bit -------------------------------------------------------------------------------

float ln32_subnormal(float x) { return float(ln_scalar(double(x))); }
float log10_32_subnormal(float x) { return float(log10_scalar(double(x))); }

[[gnu::noinline]] int ln32_run(const float* src, float* dst, int len) {
    ln_status st;
    st.last = walk(
        src, dst, len, vf{} + 1.0f, [](vf x) { return ln32_main(bits_as<vi>(x)); },
        [](vf x) { return not_positive_normal(bits_as<vi>(x)); },
        [&](float x, int& report) {
            const float y = log_special(x, report, ln32_subnormal);
            st.below |= report == report_below;
            return y;
        });
    return st.status();
}

[[gnu::noinline]] int log10_32_run(const float* src, float* dst, int len) {
    return walk(
        src, dst, len, vf{} + 1.0f, [](vf x) { return log10_32_main(bits_as<vi>(x)); },
        [](vf x) { return not_positive_normal(bits_as<vi>(x)); },
        [](float x, int& report) { return log_special(x, report, log10_32_subnormal); });
}

// Lanes that log1p takes off the main path: x <= -1 (sign set, magnitude at least 1, -inf and
// negative NaNs included), inf and NaN, and both zeros (which keep their sign).
inline vi log1p_flag(vi b) {
    const vi mag = b & 0x7FFFFFFF;
    return ((b < 0) & (mag >= 0x3F800000)) | (mag >= 0x7F800000) | (mag == 0);
}
inline vl log1p_flag(vl b) {
    const vl mag = b & 0x7FFFFFFFFFFFFFFFll;
    return ((b < 0) & (mag >= 0x3FF0000000000000ll)) | (mag >= 0x7FF0000000000000ll) | (mag == 0);
}

// ln(1 + x) of a float vector: both halves widened to double, rounded once to single.
inline vf log1p32_main(vf x) {
    using half = lanes<f32_lanes / 2>;
    using halff = typename half::f;
    halff lo_in, hi_in;
    std::memcpy(&lo_in, &x, sizeof lo_in);
    std::memcpy(&hi_in, reinterpret_cast<const char*>(&x) + sizeof lo_in, sizeof hi_in);
    const halff lo_out = __builtin_convertvector(log1p_core<f32_lanes / 2>(__builtin_convertvector(lo_in, vd)), halff);
    const halff hi_out = __builtin_convertvector(log1p_core<f32_lanes / 2>(__builtin_convertvector(hi_in, vd)), halff);
    vf y;
    std::memcpy(&y, &lo_out, sizeof lo_out);
    std::memcpy(reinterpret_cast<char*>(&y) + sizeof lo_out, &hi_out, sizeof hi_out);
    return y;
}

[[gnu::noinline]] int log1p32_run(const float* src, float* dst, int len) {
    return walk(src, dst, len, vf{}, log1p32_main, [](vf x) { return log1p_flag(bits_as<vi>(x)); },
                [](float x, int& report) { return log1p_special(x, report); });
}

// --- 64-bit -------------------------------------------------------------------------------

double ln64_subnormal(double x) { return ln_scalar(x * 0x1p54, -54.0); }
double log10_64_subnormal(double x) { return log10_scalar(x * 0x1p54, -54.0); }

[[gnu::noinline]] int ln64_run(const double* src, double* dst, int len) {
    ln_status st;
    st.last = walk(
        src, dst, len, vd{} + 1.0, [](vd x) { return ln_core<f64_lanes>(bits_as<vl>(x), vd{}, vd{}); },
        [](vd x) { return not_positive_normal(bits_as<vl>(x)); },
        [&](double x, int& report) {
            const double y = log_special(x, report, ln64_subnormal);
            st.below |= report == report_below;
            return y;
        });
    return st.status();
}

[[gnu::noinline]] int log10_64_run(const double* src, double* dst, int len) {
    return walk(
        src, dst, len, vd{} + 1.0, [](vd x) { return log10_core<f64_lanes>(bits_as<vl>(x), vd{}); },
        [](vd x) { return not_positive_normal(bits_as<vl>(x)); },
        [](double x, int& report) { return log_special(x, report, log10_64_subnormal); });
}

[[gnu::noinline]] int log1p64_run(const double* src, double* dst, int len) {
    return walk(src, dst, len, vd{}, [](vd x) { return log1p_core<f64_lanes>(x); },
                [](vd x) { return log1p_flag(bits_as<vl>(x)); },
                [](double x, int& report) { return log1p_special(x, report); });
}

}  // namespace

int krn_ln_32f(const float* src, float* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    const fp_saved fp = enter_exact_fp();
    const int st = ln32_run(src, dst, len);
    leave_exact_fp(fp);
    return st;
}

int krn_ln_32f_ip(float* buf, int len) {
    if (!buf) return krn_err_null;
    if (len < 1) return krn_err_size;
    const fp_saved fp = enter_exact_fp();
    const int st = ln32_run(buf, buf, len);
    leave_exact_fp(fp);
    return st;
}

int krn_ln_64f(const double* src, double* dst, int len) {
    if (!src || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    const fp_saved fp = enter_exact_fp();
    const int st = ln64_run(src, dst, len);
    leave_exact_fp(fp);
    return st;
}

int krn_ln_64f_ip(double* buf, int len) {
    if (!buf) return krn_err_null;
    if (len < 1) return krn_err_size;
    const fp_saved fp = enter_exact_fp();
    const int st = ln64_run(buf, buf, len);
    leave_exact_fp(fp);
    return st;
}

int krn_log10_32f(const float* src, float* dst, int len) {
    if (len < 1) return krn_err_size;
    if (!src || !dst) return krn_err_null;
    const fp_saved fp = enter_exact_fp();
    const int st = log10_32_run(src, dst, len);
    leave_exact_fp(fp);
    return st;
}

int krn_log10_64f(const double* src, double* dst, int len) {
    if (len < 1) return krn_err_size;
    if (!src || !dst) return krn_err_null;
    const fp_saved fp = enter_exact_fp();
    const int st = log10_64_run(src, dst, len);
    leave_exact_fp(fp);
    return st;
}

int krn_log1p_32f(const float* src, float* dst, int len) {
    if (len < 1) return krn_err_size;
    if (!src || !dst) return krn_err_null;
    const fp_saved fp = enter_masked_fp();
    const int st = log1p32_run(src, dst, len);
    leave_masked_fp(fp);
    return st;
}

int krn_log1p_64f(const double* src, double* dst, int len) {
    if (len < 1) return krn_err_size;
    if (!src || !dst) return krn_err_null;
    const fp_saved fp = enter_masked_fp();
    const int st = log1p64_run(src, dst, len);
    leave_masked_fp(fp);
    return st;
}

}  // namespace qor::krn::QOR_LEVEL_NS
