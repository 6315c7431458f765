// Two-vector arithmetic and the mean, for the fits and the test signal. Element-wise results are
// single IEEE operations; the mean adds in a fixed order (sixteen double accumulators, element i
// into accumulator i mod 16, then a fixed tree), so it too gives the same bits at every level.
#include <cstdint>
#include <cstring>
#include <immintrin.h>
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
constexpr int dlanes = simd::lanes<double>;
typedef float vfh __attribute__((vector_size(4 * dlanes)));  // the floats that widen to one vd

// The mean of len values, given dlanes at a time by block(i, tag) and one at a time by one(i).
// Element i of each whole block of 32 goes to accumulator i mod 32, held as registers of the
// level's width; the two halves are then folded lane by lane, the tail goes to accumulator
// i mod 16, and a fixed tree finishes. The order is the same at every width.
template <class Block, class One>
float mean_of(int len, Block block, One one) {
    constexpr int span = 2 * mean_lanes;
    constexpr int regs = span / dlanes;
    vd acc[regs] = {};
    int i = 0;
    for (; i + span <= len; i += span) {
#pragma GCC unroll 16
        for (int k = 0; k < regs; ++k) acc[k] += __builtin_convertvector(block(i + k * dlanes, k), vd);
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
// for infinities and NaNs, anything else is one IEEE multiplication.
struct const_product {
    float c;
    template <class V>
    V operator()(V x) const {
        if (c == 1.0f) return x;
        if (c == 0.0f) return V{};  // +0 in every lane
        return x * c;
    }
};
// x plus a constant as the constant-add kernels give it: 0 (either sign) leaves x alone, -0 included.
struct const_sum {
    float c;
    template <class V>
    V operator()(V x) const { return c == 0.0f ? x : x + c; }
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
    *mean = mean_of(len, [&](int i, auto) { return simd::load<vfh>(src + i); }, [&](int i) { return src[i]; });
    return krn_ok;
}

// The fused chains of the quadratic fit. Each gives, bit for bit, the mean of what the fit's chain
// of whole-vector kernels would leave in its scratch array, in one pass over the samples instead
// of four to six: the element values are computed with the same IEEE operations (the constant
// kernels' shortcuts included) and summed in the mean's order.
int krn_mean_second_difference_32f(const float* y, int m, float* mean) {
    if (!y || !mean) return krn_err_null;
    if (m < 1) return krn_err_size;
    const float *y0 = y, *y1 = y + m, *y2 = y + 2 * m;
    *mean = mean_of(
        m,
        [&](int i, auto) {
            const vfh a = simd::load<vfh>(y0 + i), b = simd::load<vfh>(y1 + i), c = simd::load<vfh>(y2 + i);
            return (c - b) - (b - a);
        },
        [&](int i) { return (y2[i] - y1[i]) - (y1[i] - y0[i]); });
    return krn_ok;
}

int krn_mean_outer_difference_32f(const float* y, const float* ramp, int m, float scale, float ramp_factor,
                                  float* mean) {
    if (!y || !ramp || !mean) return krn_err_null;
    if (m < 1) return krn_err_size;
    const float *y0 = y, *y1 = y + m, *y2 = y + 2 * m;
    const const_product by_scale{scale}, by_factor{ramp_factor};
    *mean = mean_of(
        m,
        [&](int i, auto) {
            const vfh a = simd::load<vfh>(y0 + i), b = simd::load<vfh>(y1 + i), c = simd::load<vfh>(y2 + i);
            return by_scale((b - a) + (c - b)) - by_factor(simd::load<vfh>(ramp + i));
        },
        [&](int i) { return by_scale((y1[i] - y0[i]) + (y2[i] - y1[i])) - by_factor(ramp[i]); });
    return krn_ok;
}

int krn_mean_quadratic_residual_32f(const float* y, const float* x, int n, float a, float b, float* mean) {
    if (!y || !x || !mean) return krn_err_null;
    if (n < 1) return krn_err_size;
    const const_product times_a{a};
    const const_sum plus_b{b};
    *mean = mean_of(
        n,
        [&](int i, auto) {
            const vfh xv = simd::load<vfh>(x + i);
            return simd::load<vfh>(y + i) - plus_b(times_a(xv)) * xv;
        },
        [&](int i) { return y[i] - plus_b(times_a(x[i])) * x[i]; });
    return krn_ok;
}

}  // namespace qor::krn::QOR_LEVEL_NS
