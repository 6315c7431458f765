// Ramps and tones over a whole array in one kernel call.
#include <cmath>
#include <cstdint>

#include "ops/curves.hpp"

#include "frame/registry.hpp"
#include "frame/worker.hpp"
#include "kernels/kernels.hpp"

namespace qor::ops {
namespace {

using frame::elements;
using frame::report_kernel;

// The generators take one kernel call: the length must fit a kernel length.
constexpr int64_t longest = 2147483646;

qor_status check_generator_target(const ary& dst) {
    if (frame::check_operands(dst)) return qor_err_invalid;
    if (dst.size > longest) return qor_err_length;
    return qor_ok;
}

// A float parameter for a 16-bit kernel: truncated toward zero to 32 bits (out of range: the
// processor's integer indefinite, 0x80000000), of which the kernel keeps the low 16.
int16_t to_kernel_16s(float v) {
    const int32_t t = std::fabs(v) < 2147483648.0f ? static_cast<int32_t>(v) : INT32_MIN;
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(t)));
}

}  // namespace

qor_status vector_slope(ary& dst, float offset, float slope) {
    if (qor_status st = check_generator_target(dst)) return st;
    const int len = static_cast<int>(dst.size);
    switch (dst.data_type) {
        case qor_fmt_16u: return report_kernel(krn::krn_vector_slope_16u(elements<uint16_t>(dst), len, offset, slope));
        case qor_fmt_32f: return report_kernel(krn::krn_vector_slope_32f(elements<float>(dst), len, offset, slope));
        default: return qor_err_format;
    }
}

qor_status vector_tone(ary& dst, float magnitude, float rfreq, float phase) {
    if (qor_status st = check_generator_target(dst)) return st;
    const int len = static_cast<int>(dst.size);
    // The phase goes through a local: the kernel's update of it is not passed on.
    switch (dst.data_type) {
        case qor_fmt_16s: {
            float ph = phase;
            return report_kernel(krn::krn_tone_16s(elements<int16_t>(dst), len, to_kernel_16s(magnitude), rfreq, &ph, 1));
        }
        case qor_fmt_32f: {
            float ph = phase;
            return report_kernel(krn::krn_tone_32f(elements<float>(dst), len, magnitude, rfreq, &ph, 1));
        }
        case qor_fmt_64f: {
            double ph = phase;
            return report_kernel(krn::krn_tone_64f(elements<double>(dst), len, magnitude, rfreq, &ph, 1));
        }
        default: return qor_err_format;
    }
}

}  // namespace qor::ops

extern "C" QOR_API qor_status qor_vector_slope(qor_handle handle, float offset, float slope) {
    auto [st, a] = qor::frame::resolve(handle);
    if (st) return st;
    return qor::ops::vector_slope(*a[0], offset, slope);
}

extern "C" QOR_API qor_status qor_vector_tone(qor_handle handle, float magnitude, float rfreq, float phase) {
    auto [st, a] = qor::frame::resolve(handle);
    if (st) return st;
    return qor::ops::vector_tone(*a[0], magnitude, rfreq, phase);
}
