// Scaling by a factor and an offset: a multiply kernel for the factor, then an add kernel for the
// offset, each skipped when its constant is neutral. Neutrality is judged on the float arguments,
// before any conversion, so a 16-bit factor of 1.5 still runs the (copying) multiply kernel.
// When both steps run, one kernel does both in a single pass over the data: it gives the same bits
// and the same status as the two calls, and halves the memory traffic.
#include "ops/scale.hpp"

#include <cstring>

#include "frame/registry.hpp"
#include "kernels/kernels.hpp"

namespace qor::ops {

uint16_t constant_16u(float x) {
    // The float range of int32 is [-2^31, 2^31); the comparison is false for NaN.
    if (!(x >= -2147483648.0f && x < 2147483648.0f)) return uint16_t(uint32_t(INT32_MIN));
    return uint16_t(uint32_t(int32_t(x)));
}

namespace {

// Per format: the element type, the constant as its kernels take it, and the three kernels used.
struct format_32f {
    using T = float;
    static T constant(float x) { return x; }
    static int mul(const T* s, T v, T* d, int n) { return krn::krn_mul_const_32f(s, v, d, n); }
    static int add(const T* s, T v, T* d, int n) { return krn::krn_add_const_32f(s, v, d, n); }
    static int mul_ip(T v, T* b, int n) { return krn::krn_mul_const_32f_ip(v, b, n); }
    static int add_ip(T v, T* b, int n) { return krn::krn_add_const_32f_ip(v, b, n); }
    static int mul_add(const T* s, T m, T a, T* d, int n) { return krn::krn_mul_add_const_32f(s, m, a, d, n); }
};
struct format_64f {
    using T = double;
    static T constant(float x) { return x; }  // exact: a 64-bit array is scaled by the float's value
    static int mul(const T* s, T v, T* d, int n) { return krn::krn_mul_const_64f(s, v, d, n); }
    static int add(const T* s, T v, T* d, int n) { return krn::krn_add_const_64f(s, v, d, n); }
    static int mul_ip(T v, T* b, int n) { return krn::krn_mul_const_64f_ip(v, b, n); }
    static int add_ip(T v, T* b, int n) { return krn::krn_add_const_64f_ip(v, b, n); }
    static int mul_add(const T* s, T m, T a, T* d, int n) { return krn::krn_mul_add_const_64f(s, m, a, d, n); }
};
// Scale factor 0: results saturate at 65535 and are never rounded.
struct format_16u {
    using T = uint16_t;
    static T constant(float x) { return constant_16u(x); }
    static int mul(const T* s, T v, T* d, int n) { return krn::krn_mul_const_scaled_16u(s, v, d, n, 0); }
    static int add(const T* s, T v, T* d, int n) { return krn::krn_add_const_scaled_16u(s, v, d, n, 0); }
    static int mul_ip(T v, T* b, int n) { return krn::krn_mul_const_scaled_16u_ip(v, b, n, 0); }
    static int add_ip(T v, T* b, int n) { return krn::krn_add_const_scaled_16u_ip(v, b, n, 0); }
    static int mul_add(const T* s, T m, T a, T* d, int n) {
        return krn::krn_mul_add_const_scaled_16u(s, m, a, d, n, 0);
    }
};

// One chunk from src into dst (possibly the same buffer).
template <class F>
qor_status scale_chunk(const ary& src, ary& dst, int64_t offset, int n, float factor, float add) {
    using T = typename F::T;
    const T* s = frame::elements<T>(src, offset);
    T* d = frame::elements<T>(dst, offset);
    if (factor == 1.0f) {
        if (add == 0.0f) {
            if (s != d) std::memcpy(d, s, size_t(n) * sizeof(T));
            return qor_ok;
        }
        return frame::report_kernel(F::add(s, F::constant(add), d, n));
    }
    if (add == 0.0f) return frame::report_kernel(F::mul(s, F::constant(factor), d, n));
    return frame::report_kernel(F::mul_add(s, F::constant(factor), F::constant(add), d, n));
}

template <class F>
qor_status scale_chunk_in_place(ary& a, int64_t offset, int n, float factor, float add) {
    using T = typename F::T;
    T* b = frame::elements<T>(a, offset);
    if (factor != 1.0f && add != 0.0f) return frame::report_kernel(F::mul_add(b, F::constant(factor), F::constant(add), b, n));
    if (factor != 1.0f) return frame::report_kernel(F::mul_ip(F::constant(factor), b, n));
    if (add != 0.0f) return frame::report_kernel(F::add_ip(F::constant(add), b, n));
    return qor_ok;
}

}  // namespace

qor_status scale_worker(const ary& src, ary& dst, float factor, float offset, int64_t chunk_limit) {
    if (qor_status st = frame::check_operands(src, dst)) return st;
    return frame::for_each_chunk(
        src.size, chunk_limit,
        [](int64_t at, int n, const ary* s, ary* d, float f, float o) -> qor_status {
            switch (s->data_type) {
                case qor_fmt_32f: return scale_chunk<format_32f>(*s, *d, at, n, f, o);
                case qor_fmt_64f: return scale_chunk<format_64f>(*s, *d, at, n, f, o);
                case qor_fmt_16u: return scale_chunk<format_16u>(*s, *d, at, n, f, o);
                default: return qor_err_format;
            }
        },
        &src, &dst, factor, offset);
}

qor_status scale_in_place_worker(ary& a, float factor, float offset, int64_t chunk_limit) {
    if (qor_status st = frame::check_operands(a)) return st;
    return frame::for_each_chunk(
        a.size, chunk_limit,
        [](int64_t at, int n, ary* b, float f, float o) -> qor_status {
            switch (b->data_type) {
                case qor_fmt_32f: return scale_chunk_in_place<format_32f>(*b, at, n, f, o);
                case qor_fmt_64f: return scale_chunk_in_place<format_64f>(*b, at, n, f, o);
                case qor_fmt_16u: return scale_chunk_in_place<format_16u>(*b, at, n, f, o);
                default: return qor_err_format;
            }
        },
        &a, factor, offset);
}

}  // namespace qor::ops

extern "C" {

QOR_API qor_status qor_scaleC(qor_handle src, qor_handle dst, float factor, float offset) {
    auto [st, a] = qor::frame::resolve(src, dst);
    if (st) return st;
    return qor::ops::scale_worker(*a[0], *a[1], factor, offset);
}

QOR_API qor_status qor_scaleCI(qor_handle handle, float factor, float offset) {
    auto [st, a] = qor::frame::resolve(handle);
    if (st) return st;
    return qor::ops::scale_in_place_worker(*a[0], factor, offset);
}

}  // extern "C"
