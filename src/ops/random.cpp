// Gaussian random arrays and the noisy quadratic test signal. Each call owns one generator
// state for one kernel call over the whole array, so equal arguments give equal arrays.
#include <cstdint>

#include "frame/registry.hpp"
#include "frame/worker.hpp"
#include "kernels/kernels.hpp"
#include "kernels/runtime/memory.hpp"
#include "ops/curves.hpp"
#include "qor_lib.h"

namespace qor::ops {
namespace {

using frame::report_kernel;

// The generator states come from the 32-byte allocator and go back to its own release.
krn::work_area hold_state(int32_t bytes) {
    return krn::work_area(krn::krn_aligned_malloc32(bytes), [](void* p) { krn::krn_aligned_free(p); });
}

// Kernel lengths are the low 32 bits of the array's length: longer arrays are not split.
int kernel_length(const ary& a) { return static_cast<int>(static_cast<uint32_t>(a.size)); }

// A float parameter for a 16-bit kernel: truncated toward zero to 32 bits (0 outside that range
// or for NaN), of which the low 16 bits are kept.
int16_t to_16s(float v) {
    const double d = v;
    const int32_t i = (d > -2147483649.0 && d < 2147483648.0) ? static_cast<int32_t>(d) : 0;
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(i)));
}

// Size query, state block, init and one generating call, each status reported as it comes.
template <class State, class T, class Init>
qor_status generate(int (*size_query)(int32_t*), Init init, int (*gen)(T*, int, State*), ary& a) {
    int32_t bytes = 0;
    if (qor_status st = report_kernel(size_query(&bytes))) return st;
    krn::work_area block = hold_state(bytes);
    State* state = static_cast<State*>(block.get());
    if (qor_status st = report_kernel(init(state))) return st;
    return report_kernel(gen(frame::elements<T>(a), kernel_length(a), state));
}

}  // namespace

qor_status gaussian_rand_worker(ary& a, float mean, float stdev, uint32_t seed) {
    if (qor_status st = frame::check_operands(a)) return st;
    switch (a.data_type) {
    case qor_fmt_32f:
        return generate(krn::krn_rand_gauss_get_size_32f,
                        [&](krn::krn_rand_gauss_state_32f* s) { return krn::krn_rand_gauss_init_32f(s, mean, stdev, seed); },
                        krn::krn_rand_gauss_32f, a);
    case qor_fmt_64f:
        return generate(krn::krn_rand_gauss_get_size_64f,
                        [&](krn::krn_rand_gauss_state_64f* s) {
                            return krn::krn_rand_gauss_init_64f(s, static_cast<double>(mean), static_cast<double>(stdev), seed);
                        },
                        krn::krn_rand_gauss_64f, a);
    case qor_fmt_16s:
        return generate(krn::krn_rand_gauss_get_size_16s,
                        [&](krn::krn_rand_gauss_state_16s* s) {
                            return krn::krn_rand_gauss_init_16s(s, to_16s(mean), to_16s(stdev), seed);
                        },
                        krn::krn_rand_gauss_16s, a);
    default:
        return qor_err_format;
    }
}

// target = uniform noise in [low, high] from the fixed seed, plus the quadratic of coef over the
// grid x0 + dx i.
qor_status test_rand_worker(ary& target, const ary& coef, float low, float high, float x0, float dx) {
    if (qor_status st = frame::check_operands(target)) return st;
    if (qor_status st = frame::check_operands(coef)) return st;
    ary curve;
    curve.init(target.size, target.data_type);
    if (target.data_type != qor_fmt_32f) return qor_err_format;
    constexpr uint32_t noise_seed = 60138;
    int32_t bytes = 0;
    if (qor_status st = report_kernel(krn::krn_rand_gauss_get_size_32f(&bytes))) return st;
    krn::work_area block = hold_state(bytes);
    auto* state = static_cast<krn::krn_rand_uniform_state_32f*>(block.get());
    if (qor_status st = report_kernel(krn::krn_rand_uniform_init_32f(state, low, high, noise_seed))) return st;
    const int len = kernel_length(target);
    if (qor_status st = report_kernel(krn::krn_rand_uniform_32f(frame::elements<float>(target), len, state))) return st;
    (void)quadratic_curve(curve, coef, x0, dx);  // a failure shows up as a null source below
    return report_kernel(krn::krn_add_32f_ip(frame::elements<float>(curve), frame::elements<float>(target), len));
}

}  // namespace qor::ops

extern "C" QOR_API qor_status qor_test_rand(qor_handle handle, float a, float b, float c) {
    auto [st, target] = qor::frame::resolve(handle);
    if (st) return st;
    ary coef;
    qor::ops::make_coefficients(coef, a, b, c);
    return qor::ops::test_rand_worker(*target[0], coef, -5.0f, 5.0f, 0.0f, 1.0f);
}

extern "C" QOR_API qor_status qor_gaussian_rand(qor_handle handle, float mean, float stdev, uint32_t seed) {
    auto [st, a] = qor::frame::resolve(handle);
    if (st) return st;
    return qor::ops::gaussian_rand_worker(*a[0], mean, stdev, seed);
}
