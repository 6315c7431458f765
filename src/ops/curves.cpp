// Sine, quadratic and Gaussian curves: fixed chains of whole-vector kernels over temporaries of
// the destination's length. The order of the chain fixes every element's rounding.
#include "ops/curves.hpp"

#include <cmath>
#include <cstdint>

#include "frame/registry.hpp"
#include "frame/worker.hpp"
#include "kernels/kernels.hpp"

namespace qor::ops {
namespace {

using frame::elements;
using frame::report_kernel;

// Offsets and phases at or below this magnitude (and NaN) are left out of the chain.
constexpr float negligible = 1e-7f;

// The kernel length of a temporary: the low 32 bits of the destination's length, as signed.
int kernel_length(const ary& dst) { return static_cast<int32_t>(static_cast<uint32_t>(dst.size)); }

// An owning array like dst; without a buffer when it cannot be allocated, so the first kernel
// given it fails. Each chain's first kernel on a temporary writes all of it: no zero fill needed.
void make_temporary(ary& t, const ary& dst) { frame::init_scratch(t, kernel_length(dst), dst.data_type); }

float* buffer_of(const ary& a) { return elements<float>(a); }

// What the coefficient curves share before their chains: the checks in their order, the two
// temporaries (made before the destination's format is looked at), then that format.
qor_status prepare_coefficient_curve(const ary& dst, const ary& coef, ary& t1, ary& t2) {
    if (frame::check_operands(dst)) return qor_err_invalid;
    if (frame::check_operands(coef)) return qor_err_invalid;
    if (coef.size <= 3) return qor_err_length;
    if (coef.data_type != qor_fmt_32f) return qor_err_format;
    make_temporary(t1, dst);
    make_temporary(t2, dst);
    return dst.data_type == qor_fmt_32f ? qor_ok : qor_err_format;
}

}  // namespace

void make_coefficients(ary& coef, float a, float b, float c) {
    if (coef.init(4, qor_fmt_32f, 32) != qor_ok) return;
    float* p = buffer_of(coef);
    p[0] = a;
    p[1] = b;
    p[2] = c;
}

qor_status quadratic_curve(ary& dst, const ary& coef, float x0, float dx) {
    ary t1, t2;
    if (qor_status st = prepare_coefficient_curve(dst, coef, t1, t2)) return st;
    const float a = buffer_of(coef)[0], b = buffer_of(coef)[1], c = buffer_of(coef)[2];
    const int len = kernel_length(dst);
    float *x = buffer_of(t1), *ax = buffer_of(t2), *out = buffer_of(dst);
    qor_status st;
    if ((st = report_kernel(krn::krn_vector_slope_32f(x, len, x0, dx)))) return st;
    if ((st = report_kernel(krn::krn_mul_const_32f(x, a, ax, len)))) return st;
    if ((st = report_kernel(krn::krn_add_const_32f(ax, b, out, len)))) return st;
    if ((st = report_kernel(krn::krn_mul_32f(out, x, ax, len)))) return st;
    return report_kernel(krn::krn_add_const_32f(ax, c, out, len));
}

qor_status gaussian_curve(ary& dst, const ary& coef, float x0, float dx) {
    ary t1, t2;
    if (qor_status st = prepare_coefficient_curve(dst, coef, t1, t2)) return st;
    const float centre = buffer_of(coef)[0], width = buffer_of(coef)[1], height = buffer_of(coef)[2];
    const float k = -0.5f / (width * width);
    const int len = kernel_length(dst);
    float *u = buffer_of(t1), *x = buffer_of(t2), *out = buffer_of(dst);
    qor_status st;
    if ((st = report_kernel(krn::krn_vector_slope_32f(x, len, x0, dx)))) return st;
    if ((st = report_kernel(krn::krn_sub_const_32f(x, centre, u, len)))) return st;
    if ((st = report_kernel(krn::krn_mul_32f(u, u, out, len)))) return st;
    if ((st = report_kernel(krn::krn_mul_const_32f(out, k, u, len)))) return st;
    if ((st = report_kernel(krn::krn_exp_32f(u, out, len)))) return st;  // underflow only warns
    return report_kernel(krn::krn_mul_const_32f_ip(height, out, len));
}

qor_status sin_curve(ary& dst, float frequency, float amplitude, float offset, float phase) {
    if (frame::check_operands(dst)) return qor_err_invalid;
    if (dst.data_type != qor_fmt_32f) return qor_err_format;
    const float w = frequency * 6.2831855f;
    const float phi = (phase / 180.0f) * 3.1415927f;
    ary t;
    make_temporary(t, dst);
    const int len = kernel_length(dst);
    float *tmp = buffer_of(t), *out = buffer_of(dst);
    qor_status st;
    if ((st = report_kernel(krn::krn_vector_slope_32f(tmp, len, 0.0f, 1.0f)))) return st;
    if ((st = report_kernel(krn::krn_mul_const_32f(tmp, w, out, len)))) return st;
    // The phase shift cannot fail once the product succeeded on the same buffer: not examined.
    if (std::fabs(phi) > negligible) krn::krn_add_const_32f_ip(phi, out, len);
    if ((st = report_kernel(krn::krn_sin_32f(out, tmp, len)))) return st;
    if ((st = report_kernel(krn::krn_mul_const_32f(tmp, amplitude, out, len)))) return st;
    if (std::fabs(offset) > negligible) return report_kernel(krn::krn_add_const_32f_ip(offset, out, len));
    return qor_ok;
}

}  // namespace qor::ops

extern "C" QOR_API qor_status qor_sin_plot(qor_handle handle, float frequency, float amplitude, float offset,
                                           float phase) {
    auto [st, a] = qor::frame::resolve(handle);
    if (st) return st;
    return qor::ops::sin_curve(*a[0], frequency, amplitude, offset, phase);
}

extern "C" QOR_API qor_status qor_quadratic_plot(qor_handle handle, float a, float b, float c, float x0, float dx) {
    auto [st, arrays] = qor::frame::resolve(handle);
    if (st) return st;
    ary coef;
    qor::ops::make_coefficients(coef, a, b, c);
    return qor::ops::quadratic_curve(*arrays[0], coef, x0, dx);
}

extern "C" QOR_API qor_status qor_gaussian_plot(qor_handle handle, float centre, float width, float height, float x0,
                                                float dx) {
    auto [st, arrays] = qor::frame::resolve(handle);
    if (st) return st;
    ary coef;
    qor::ops::make_coefficients(coef, centre, width, height);
    return qor::ops::gaussian_curve(*arrays[0], coef, x0, dx);
}
