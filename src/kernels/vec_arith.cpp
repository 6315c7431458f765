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
    // Element i of each whole block of 32 goes to accumulator i mod 32, held as registers of the
    // level's width; the two halves are then folded lane by lane, the tail goes to accumulator
    // i mod 16, and a fixed tree finishes. The order is the same at every width.
    constexpr int block = 2 * mean_lanes;
    constexpr int regs = block / dlanes;
    vd acc[regs] = {};
    int i = 0;
    for (; i + block <= len; i += block) {
#pragma GCC unroll 16
        for (int k = 0; k < regs; ++k) acc[k] += __builtin_convertvector(simd::load<vfh>(src + i + k * dlanes), vd);
    }
    double sums[block];
    std::memcpy(sums, acc, sizeof sums);
    for (int l = 0; l < mean_lanes; ++l) sums[l] += sums[l + mean_lanes];
    for (; i < len; ++i) sums[i % mean_lanes] += static_cast<double>(src[i]);
    for (int half = mean_lanes / 2; half >= 1; half /= 2)
        for (int l = 0; l < half; ++l) sums[l] += sums[l + half];
    const float sum = static_cast<float>(sums[0]);
    *mean = static_cast<float>(static_cast<double>(sum) / static_cast<double>(len));
    return krn_ok;
}

}  // namespace qor::krn::QOR_LEVEL_NS
