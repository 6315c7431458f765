// The quadratic fit: a from the mean second difference across three blocks of the samples, b from
// the mean outer difference with a's part removed, c from the mean residual. Each step is one
// vector kernel over whole blocks, in single precision; only the means add in double.
// When every operand is in place, fused kernels compute each mean in one pass with the chain's
// exact bits; the chain itself runs whenever one of its kernels would fail, so that the failing
// kernel is the one reported.
#include "ops/quadratic_fit.hpp"

#include "frame/registry.hpp"
#include "frame/worker.hpp"
#include "kernels/kernels.hpp"

namespace qor::ops {

qor_status quadratic_fit(const ary* source, ary* destination, float x0, float dx) {
    using namespace qor::krn;
    using frame::report_kernel;
    if (!source || source->is_valid()) return qor_err_invalid;
    if (!destination || destination->is_valid()) return qor_err_invalid;
    if (destination->size < 4) return qor_err_length;
    if (destination->data_type != qor_fmt_32f) return qor_err_format;
    // Scratch arrays of the source's shape; a failed allocation leaves a null buffer, which the
    // first kernel to use it reports. Released in reverse order on every path.
    ary t1, t2;
    frame::init_scratch(t1, source->size, source->data_type);
    frame::init_scratch(t2, source->size, source->data_type);
    if (source->data_type != qor_fmt_32f) return qor_err_format;

    const float* y = frame::elements<float>(*source);
    float* coef = frame::elements<float>(*destination);
    float* T1 = frame::elements<float>(t1);
    float* T2 = frame::elements<float>(t2);
    const int n = static_cast<int>(source->size);
    const int m = n / 3;
    const float h = static_cast<float>(m) * dx;
    // Block views: D1, D2 and F in T1; Y0, Y1, Y2 in the samples.
    float* D1 = T1;
    float* D2 = T1 ? T1 + m : nullptr;
    float* F = T1 ? T1 + 2 * m : nullptr;
    const float* Y1 = y ? y + m : nullptr;
    const float* Y2 = y ? y + 2 * m : nullptr;
#define QOR_STEP(call) \
    if (qor_status st = report_kernel(call)) return st
    if (y && T1 && T2 && m >= 1 && h + h != 0.0f) {
        float a = 0.0f, b = 0.0f, c = 0.0f;
        QOR_STEP(krn_mean_second_difference_32f(y, m, &a));
        a = (a * 0.5f) / (h * h);
        coef[0] = a;
        // The ramps are generated inside the passes, exactly as the ramp kernel would write them
        // into F and T1: the scratch is never touched.
        QOR_STEP(krn_mean_outer_difference_32f(y, m, 1.0f / (h + h), a * 0.5f, (x0 + h) * 4.0f, dx * 4.0f, F, &b));
        coef[1] = b;
        QOR_STEP(krn_mean_quadratic_residual_32f(y, n, a, b, x0, dx, T1, &c));
        coef[2] = c;
        return qor_ok;
    }
    QOR_STEP(krn_sub_32f(y, Y1, D1, m));   // D1 = Y1 - Y0
    QOR_STEP(krn_sub_32f(Y1, Y2, D2, m));  // D2 = Y2 - Y1
    QOR_STEP(krn_sub_32f(D1, D2, F, m));   // F = D2 - D1: the second differences
    float s = 0.0f;
    QOR_STEP(krn_mean_32f(F, m, &s, 1));
    const float a = (s * 0.5f) / (h * h);
    coef[0] = a;
    QOR_STEP(krn_vector_slope_32f(F, m, (x0 + h) * 4.0f, dx * 4.0f));  // F = 4 (x + h)
    QOR_STEP(krn_mul_const_32f_ip(a * 0.5f, F, m));                     // F = 2a (x + h)
    QOR_STEP(krn_add_32f(D1, D2, T2, m));                               // T2 = Y2 - Y0
    QOR_STEP(krn_div_const_32f_ip(h + h, T2, m));
    QOR_STEP(krn_sub_32f_ip(F, T2, m));
    float b = 0.0f;
    QOR_STEP(krn_mean_32f(T2, m, &b, 1));
    coef[1] = b;
    QOR_STEP(krn_vector_slope_32f(T1, n, x0, dx));  // T1 = x
    QOR_STEP(krn_mul_const_32f(T1, a, T2, n));      // T2 = a x
    QOR_STEP(krn_add_const_32f_ip(b, T2, n));       // T2 = a x + b
    QOR_STEP(krn_mul_32f_ip(T1, T2, n));            // T2 = (a x + b) x
    QOR_STEP(krn_sub_32f(T2, y, T1, n));            // T1 = y - T2: the residuals
    float c = 0.0f;
    QOR_STEP(krn_mean_32f(T1, n, &c, 1));
    coef[2] = c;
#undef QOR_STEP
    return qor_ok;
}

}  // namespace qor::ops

extern "C" QOR_API qor_status qor_quadratic_fit(qor_handle source, qor_handle destination) {
    auto [st, a] = qor::frame::resolve(source, destination);
    if (st) return st;
    return qor::ops::quadratic_fit(a[0], a[1], 0.0f, 1.0f);
}
