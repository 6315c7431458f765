// The amplitude spectrum: a forward real DFT (planned afresh on every call), its expansion to the
// full spectrum, magnitudes, and the scale 2/N (1/N for the mean).
#include <cstdint>

#include "frame/registry.hpp"
#include "frame/worker.hpp"
#include "kernels/kernels.hpp"
#include "kernels/runtime/memory.hpp"
#include "qor_lib.h"

namespace qor::ops {
namespace {

using krn::work_area;

struct dft_32f {
    using real = float;
    using complex = krn::krn_32fc;
    static int size(int n, int* s, int* i, int* w) { return krn::krn_dft_real_get_size_32f(n, 8, 0, s, i, w); }
    static int init(int n, uint8_t* s, uint8_t* i) { return krn::krn_dft_real_init_32f(n, 8, 0, s, i); }
    static int fwd(const real* x, real* y, const uint8_t* s, uint8_t* w) { return krn::krn_dft_real_fwd_32f(x, y, s, w); }
    static real* packed(int n) { return krn::krn_malloc_32f(n); }
    static complex* full(int n) { return reinterpret_cast<complex*>(krn::krn_malloc_64f(n)); }
    static int expand(const real* p, complex* f, int n) { return krn::krn_pack_to_complex_32f(p, f, n); }
    static int magnitude(const complex* f, real* d, int n) { return krn::krn_magnitude_32fc(f, d, n); }
    static int scale(real* d, int n) { return krn::krn_mul_const_32f_ip(2.0f / float(n), d, n); }
};

struct dft_64f {
    using real = double;
    using complex = krn::krn_64fc;
    static int size(int n, int* s, int* i, int* w) { return krn::krn_dft_real_get_size_64f(n, 8, 0, s, i, w); }
    static int init(int n, uint8_t* s, uint8_t* i) { return krn::krn_dft_real_init_64f(n, 8, 0, s, i); }
    static int fwd(const real* x, real* y, const uint8_t* s, uint8_t* w) { return krn::krn_dft_real_fwd_64f(x, y, s, w); }
    static real* packed(int n) { return krn::krn_malloc_64f(n); }
    static complex* full(int n) { return krn::krn_malloc_64fc(n); }
    static int expand(const real* p, complex* f, int n) { return krn::krn_pack_to_complex_64f(p, f, n); }
    static int magnitude(const complex* f, real* d, int n) { return krn::krn_magnitude_64fc(f, d, n); }
    static int scale(real* d, int n) { return krn::krn_mul_const_64f_ip(2.0 / double(n), d, n); }
};

template <class E>
qor_status amplitude(const ary& src, const ary& dst) {
    using real = typename E::real;
    const int n = static_cast<int>(src.size);
    int spec_size = 0, init_size = 0, work_size = 0;
    if (qor_status st = frame::report_kernel(E::size(n, &spec_size, &init_size, &work_size))) return st;

    // Released in reverse order of acquisition on every path.
    work_area spec(krn::krn_aligned_malloc32(spec_size), [](void* p) { krn::krn_aligned_free(p); });
    work_area init = krn::hold_work_area(init_size > 0 ? krn::krn_malloc_8u(init_size) : nullptr);
    work_area work = krn::hold_work_area(work_size > 0 ? krn::krn_malloc_8u(work_size) : nullptr);
    auto* spec_p = static_cast<uint8_t*>(spec.get());
    if (qor_status st = frame::report_kernel(E::init(n, spec_p, static_cast<uint8_t*>(init.get())))) return st;

    work_area packed = krn::hold_work_area(E::packed(n));
    auto* packed_p = static_cast<real*>(packed.get());
    const auto* x = frame::elements<const real>(src);
    if (qor_status st = frame::report_kernel(E::fwd(x, packed_p, spec_p, static_cast<uint8_t*>(work.get()))))
        return st;

    work_area full = krn::hold_work_area(E::full(n));
    auto* full_p = static_cast<typename E::complex*>(full.get());
    if (qor_status st = frame::report_kernel(E::expand(packed_p, full_p, n))) return st;

    real* y = frame::elements<real>(dst);
    if (qor_status st = frame::report_kernel(E::magnitude(full_p, y, n))) return st;
    if (qor_status st = frame::report_kernel(E::scale(y, n))) return st;
    y[0] = y[0] * real(0.5);
    return qor_ok;
}

qor_status dft_worker(const ary* src, const ary* dst) {
    if (!src || src->is_valid()) return qor_err_invalid;
    if (!dst || dst->is_valid()) return qor_err_invalid;
    if (src->data_type != dst->data_type) return qor_err_format_mismatch;
    if (src->data_type != qor_fmt_32f && src->data_type != qor_fmt_64f) return qor_err_format;
    // N must be a kernel length, and the destination must hold N amplitudes.
    if (src->size > INT32_MAX || dst->size < src->size) return qor_err_length;
    return src->data_type == qor_fmt_32f ? amplitude<dft_32f>(*src, *dst) : amplitude<dft_64f>(*src, *dst);
}

}  // namespace
}  // namespace qor::ops

extern "C" QOR_API qor_status qor_dft_fwd(qor_handle src, qor_handle dst) {
    auto [st, a] = qor::frame::resolve(src, dst);
    if (st) return st;
    return qor::ops::dft_worker(a[0], a[1]);
}

extern "C" QOR_API qor_status qor_dft_fwdI(qor_handle src_dst) {
    auto [st, a] = qor::frame::resolve(src_dst);
    if (st) return st;
    return qor::ops::dft_worker(a[0], a[0]);
}
