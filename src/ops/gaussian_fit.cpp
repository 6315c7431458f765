// Gaussian fit: a parabola through ln(1 + y) on the grid x0 + dx*i, turned into the centre, width
// and peak of the Gaussian whose logarithm it is. All arithmetic is single precision.
#include "ops/gaussian_fit.hpp"

#include <cmath>

#include "frame/registry.hpp"
#include "frame/worker.hpp"
#include "ops/quadratic_fit.hpp"

namespace qor::ops {

using frame::elements;
using frame::report_kernel;

qor_status gaussian_fit_worker(const ary& src, ary& dst, float x0, float dx, const gaussian_fit_kernels& k) {
    if (src.is_valid()) return qor_err_invalid;
    if (dst.is_valid()) return qor_err_invalid;
    if (dst.size < 4) return qor_err_length;
    if (dst.data_type != qor_fmt_32f) return qor_err_format;
    const int n = static_cast<int>(src.size);
    // Scratch: the coefficients and the logarithms (a failed allocation leaves a null buffer, which
    // the first kernel that meets it reports). The logarithms, like the converted samples below,
    // are written whole before they are read: they skip the zero fill.
    ary q, logs;
    q.init(4, qor_fmt_32f);
    frame::init_scratch(logs, n, qor_fmt_32f);
    switch (src.data_type) {
    case qor_fmt_32f:
        if (qor_status st = report_kernel(k.log1p(elements<float>(src), elements<float>(logs), n))) return st;
        break;
    case qor_fmt_32u:
    case qor_fmt_32s: {
        // Both integer formats pass through the signed conversion.
        ary converted;
        frame::init_scratch(converted, n, qor_fmt_32f);
        if (qor_status st = report_kernel(k.convert(elements<int32_t>(src), elements<float>(converted), n))) return st;
        if (qor_status st = report_kernel(k.log1p(elements<float>(converted), elements<float>(logs), n))) return st;
        break;
    }
    default:
        return qor_err_format;
    }
    if (qor_status st = quadratic_fit(&logs, &q, x0, dx)) return st;

    const float a = elements<float>(q)[0], b = elements<float>(q)[1], c = elements<float>(q)[2];
    const float s = -1.0f / (a * 2.0f);  // sigma^2
    const float mu = s * b;
    const float peak = std::exp((mu * mu) / (s + s) + c);
    const float sigma = std::sqrt(s);  // NaN for a parabola opening upward
    float* out = elements<float>(dst);
    out[0] = mu;
    out[1] = sigma;
    out[2] = peak;
    return qor_ok;
}

}  // namespace qor::ops

extern "C" QOR_API qor_status qor_gaussian_fit(qor_handle handle, float x0, float dx, float* centre, float* sigma,
                                                float* amplitude) {
    auto [st, arrays] = qor::frame::resolve(handle);
    if (st) return st;
    // The result record: four zero-filled floats, or empty when its buffer cannot be had (the
    // worker then answers -32 and nothing is written).
    ary record;
    record.init(4, qor_fmt_32f);
    const qor_status result = qor::ops::gaussian_fit_worker(*arrays[0], record, x0, dx);
    if (record.data_type == qor_fmt_32f) {
        const float* r = qor::frame::elements<float>(record);
        *centre = r[0];
        *sigma = r[1];
        *amplitude = r[2];
    }
    return result;
}
