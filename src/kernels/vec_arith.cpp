// Two-vector arithmetic and the mean, for the fits and the test signal. Element-wise results are
// single IEEE operations; the mean adds in a fixed order (sixteen double accumulators, element i
// into accumulator i mod 16, then a fixed tree), so it too gives the same bits at every level.
#include <algorithm>
#include <cstdint>
#include <cstring>
// GCC 12's AVX-512 intrinsics fill their don't-care operands from self-initialised variables,
// which -Wmaybe-uninitialized reports at the header's lines.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#include <immintrin.h>
#pragma GCC diagnostic pop
#include <type_traits>
#include <utility>

#include "kernels/level.hpp"
#include "kernels/runtime/cpu.hpp"
#include "kernels/runtime/status.hpp"

namespace qor::krn::QOR_LEVEL_NS {

#include "kernels/simd.hpp"

// The constant-arithmetic sibling at this level.
int krn_mul_const_32f_ip(float val, float* buf, int len);

namespace {

#include "kernels/ramp_detail.hpp"

using vf = simd::vec<float>;
constexpr int width = simd::lanes<float>;

// dst[i] = op(a[i], b[i]), two vectors per pass, then one by one.
template <class Op>
int binary(const float* a, const float* b, float* dst, int len, Op op) {
    if (!a || !b || !dst) return krn_err_null;
    if (len < 1) return krn_err_size;
    int i = 0;
    for (; i + 2 * width <= len; i += 2 * width) {
        const vf x0 = simd::load<vf>(a + i), x1 = simd::load<vf>(a + i + width);
        const vf y0 = simd::load<vf>(b + i), y1 = simd::load<vf>(b + i + width);
        simd::store(dst + i, op(x0, y0));
        simd::store(dst + i + width, op(x1, y1));
    }
    for (; i < len; ++i) dst[i] = op(a[i], b[i]);
    return krn_ok;
}

constexpr int mean_lanes = 16;
using vd = simd::vec<double>;

// The two halves of a float vector, widened to double (exact). Intrinsics: the generic vector
// conversion goes through the stack in pieces at the wider levels.
#if QOR_LEVEL >= 5
inline vd low_to_double(vf v) { return vd(_mm512_cvtps_pd(_mm512_castps512_ps256(__m512(v)))); }
inline vd high_to_double(vf v) { return vd(_mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(__m512(v)), 1)))); }
#elif QOR_LEVEL >= 3
inline vd low_to_double(vf v) { return vd(_mm256_cvtps_pd(_mm256_castps256_ps128(__m256(v)))); }
inline vd high_to_double(vf v) { return vd(_mm256_cvtps_pd(_mm256_extractf128_ps(__m256(v), 1))); }
#else
inline vd low_to_double(vf v) { return vd(_mm_cvtps_pd(__m128(v))); }
inline vd high_to_double(vf v) { return vd(_mm_cvtps_pd(_mm_movehl_ps(__m128(v), __m128(v)))); }
#endif

// The mean of len values, given a float vector at a time by block(i) and one at a time by one(i).
// Element i of each whole block of 32 goes to accumulator i mod 32, held as registers of the
// level's width; the two halves are then folded lane by lane, the tail goes to accumulator
// i mod 16, and a fixed tree finishes. The order is the same at every width.
template <class Block, class One>
float mean_of(int len, Block block, One one) {
    constexpr int span = 2 * mean_lanes;
    constexpr int regs = span / width;
    vd acc[2 * regs] = {};
    int i = 0;
    for (; i + span <= len; i += span) {
#pragma GCC unroll 8
        for (int k = 0; k < regs; ++k) {
            const vf v = block(i + k * width);
            acc[2 * k] += low_to_double(v);
            acc[2 * k + 1] += high_to_double(v);
        }
    }
    double sums[span];
    std::memcpy(sums, acc, sizeof sums);
    for (int l = 0; l < mean_lanes; ++l) sums[l] += sums[l + mean_lanes];
    for (; i < len; ++i) sums[i % mean_lanes] += static_cast<double>(one(i));
    for (int half = mean_lanes / 2; half >= 1; half /= 2)
        for (int l = 0; l < half; ++l) sums[l] += sums[l + half];
    const float sum = static_cast<float>(sums[0]);
    return static_cast<float>(static_cast<double>(sum) / static_cast<double>(len));
}

// x times a constant as the constant-multiply kernels give it: 1 leaves x alone, 0 gives +0 even
// for infinities and NaNs, anything else is one IEEE multiplication. The case is chosen once per
// call: with_product(c, f) calls f with the matching operation.
struct times_one {
    template <class V> V operator()(V x) const { return x; }
};
struct times_zero {
    template <class V> V operator()(V) const { return V{}; }
};
struct times_any {
    float c;
    template <class V> V operator()(V x) const { return x * c; }
};
template <class F>
auto with_product(float c, F f) {
    if (c == 1.0f) return f(times_one{});
    if (c == 0.0f) return f(times_zero{});
    return f(times_any{c});
}
// x plus a constant as the constant-add kernels give it: 0 (either sign) leaves x alone, -0 included.
struct plus_zero {
    template <class V> V operator()(V x) const { return x; }
};
struct plus_any {
    float c;
    template <class V> V operator()(V x) const { return x + c; }
};
template <class F>
auto with_sum(float c, F f) {
    return c == 0.0f ? f(plus_zero{}) : f(plus_any{c});
}

// The ramp krn_vector_slope_32f would write at `at`, handed out window by window as a mean's pass
// moves forward (its blocks of 32 never straddle two windows), so it is never stored whole.
class ramp_window {
public:
    ramp_window(int64_t n, float b, float s, const float* at) : stream_(n, b, s, ramp_stream::head_of(at, n)), n_(n) {}
    [[gnu::always_inline]] const float* from(int64_t i) {
        if (i >= end_) next_window();
        return values_ + (i - base_);
    }

private:
    [[gnu::noinline]] void next_window() {
        base_ = end_;
        end_ = std::min<int64_t>(n_, base_ + size);
        stream_.emit(values_, end_ - base_, [](float* p, float v) { *p = v; },
                     [](float* p, const block16& v) { std::memcpy(p, v.r, sizeof v.r); });
    }

    static constexpr int size = 1024;  // a multiple of the mean's block of 32
    ramp_stream stream_;
    int64_t n_, base_ = 0, end_ = 0;
    alignas(64) float values_[size];
};


}  // namespace

int krn_add_32f_ip(const float* src, float* srcdst, int len) {
    return binary(srcdst, src, srcdst, len, [](auto d, auto s) { return d + s; });
}
int krn_sub_32f(const float* src1, const float* src2, float* dst, int len) {
    return binary(src1, src2, dst, len, [](auto a, auto b) { return b - a; });
}
int krn_add_32f(const float* src1, const float* src2, float* dst, int len) {
    return binary(src1, src2, dst, len, [](auto a, auto b) { return a + b; });
}
int krn_sub_32f_ip(const float* src, float* srcdst, int len) {
    return binary(srcdst, src, srcdst, len, [](auto d, auto s) { return d - s; });
}
int krn_mul_32f_ip(const float* src, float* srcdst, int len) {
    return binary(srcdst, src, srcdst, len, [](auto d, auto s) { return d * s; });
}

int krn_div_const_32f_ip(float val, float* buf, int len) {
    if (!buf) return krn_err_null;
    if (len < 1) return krn_err_size;
    if (val == 0.0f) return krn_err_zero_divisor;
    return krn_mul_const_32f_ip(1.0f / val, buf, len);
}

int krn_mean_32f(const float* src, int len, float* mean, int /*hint: one order serves all*/) {
    if (!src || !mean) return krn_err_null;
    if (len < 1) return krn_err_size;
    *mean = mean_of(len, [&](int i) { return simd::load<vf>(src + i); }, [&](int i) { return src[i]; });
    return krn_ok;
}

// The fused chains of the quadratic fit. Each gives, bit for bit, the mean of what the fit's chain
// of whole-vector kernels would leave in its scratch array, in one pass over the samples instead
// of four to six, without the scratch: the element values are computed with the same IEEE
// operations (the constant kernels' shortcuts included) and summed in the mean's order.
int krn_mean_second_difference_32f(const float* y, int m, float* mean) {
    if (!y || !mean) return krn_err_null;
    if (m < 1) return krn_err_size;
    const float *y0 = y, *y1 = y + m, *y2 = y + 2 * m;
    *mean = mean_of(
        m,
        [&](int i) {
            const vf a = simd::load<vf>(y0 + i), b = simd::load<vf>(y1 + i), c = simd::load<vf>(y2 + i);
            return (c - b) - (b - a);
        },
        [&](int i) { return (y2[i] - y1[i]) - (y1[i] - y0[i]); });
    return krn_ok;
}

int krn_mean_outer_difference_32f(const float* y, int m, float scale, float factor, float x0, float dx,
                                  const float* at, float* mean) {
    if (!y || !at || !mean) return krn_err_null;
    if (m < 1) return krn_err_size;
    const float *y0 = y, *y1 = y + m, *y2 = y + 2 * m;
    ramp_window ramp(m, x0, dx, at);
    *mean = with_product(scale, [&](auto by_scale) {
        return with_product(factor, [&](auto by_factor) {
            return mean_of(
                m,
                [&](int i) {
                    const vf a = simd::load<vf>(y0 + i), b = simd::load<vf>(y1 + i), c = simd::load<vf>(y2 + i);
                    return by_scale((b - a) + (c - b)) - by_factor(simd::load<vf>(ramp.from(i)));
                },
                [&](int i) { return by_scale((y1[i] - y0[i]) + (y2[i] - y1[i])) - by_factor(*ramp.from(i)); });
        });
    });
    return krn_ok;
}

int krn_mean_quadratic_residual_32f(const float* y, int n, float a, float b, float x0, float dx, const float* at,
                                    float* mean) {
    if (!y || !at || !mean) return krn_err_null;
    if (n < 1) return krn_err_size;
    ramp_window ramp(n, x0, dx, at);
    *mean = with_product(a, [&](auto times_a) {
        return with_sum(b, [&](auto plus_b) {
            return mean_of(
                n,
                [&](int i) {
                    const vf x = simd::load<vf>(ramp.from(i));
                    return simd::load<vf>(y + i) - plus_b(times_a(x)) * x;
                },
                [&](int i) {
                    const float x = *ramp.from(i);
                    return y[i] - plus_b(times_a(x)) * x;
                });
        });
    });
    return krn_ok;
}

}  // namespace qor::krn::QOR_LEVEL_NS
