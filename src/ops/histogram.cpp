// qor_histogram: counts a 16-bit signed or 32-bit float array into equal bins. The array is viewed
// as a region of contiguous rows whose sample count fits a kernel length; the samples the region
// leaves over are counted by a second kernel call and added, so every sample is counted.
#include "ops/histogram.hpp"

#include <cstring>

#include "frame/registry.hpp"
#include "frame/worker.hpp"
#include "kernels/kernels.hpp"
#include "kernels/runtime/memory.hpp"

namespace qor::ops {
namespace {

// Kernel type codes by format; -1 outside the formats that have one.
int kernel_type(qor_data_format format) {
    static constexpr int codes[10] = {-1, 1, 5, 7, 13, 9, 11, 19, 15, 17};
    const auto f = static_cast<uint32_t>(format);
    return f >= 1 && f <= 9 ? codes[f] : -1;
}

// Width a power of two, height the count halved as often: W * H <= n, and H fits the limit.
krn::krn_size region_of(int64_t n, int64_t limit) {
    int64_t width = 1, height = n;
    while (height > limit) {
        height >>= 1;
        width <<= 1;
    }
    return {static_cast<int32_t>(width), static_cast<int32_t>(height)};
}

}  // namespace

qor_status histogram_worker(const ary* array, uint32_t* counts, int32_t nBins, float lower, float upper,
                            int64_t region_limit) {
    if (!array || frame::check_operands(*array)) return qor_err_invalid;
    const int64_t n = array->size;
    const krn::krn_size roi = region_of(n, region_limit);
    const int32_t nLevels = static_cast<int32_t>(static_cast<uint32_t>(nBins) + 1u);  // wraps into a refusal
    const int type = kernel_type(array->data_type);

    int spec_size = 0, work_size = 0;
    if (qor_status st =
            frame::report_kernel(krn::krn_histogram_get_size(type, roi, &nLevels, 1, 1, &spec_size, &work_size)))
        return st;
    const krn::work_area spec = krn::hold_work_area(krn::krn_malloc_8u(spec_size));
    const krn::work_area work = krn::hold_work_area(work_size > 0 ? krn::krn_malloc_8u(work_size) : nullptr);
    auto* spec_bytes = static_cast<uint8_t*>(spec.get());
    auto* work_bytes = static_cast<uint8_t*>(work.get());
    if (qor_status st =
            frame::report_kernel(krn::krn_histogram_init_uniform(type, &lower, &upper, &nLevels, 1, spec_bytes)))
        return st;

    int element = 0;
    auto kernel = [&](const char* src, int step, krn::krn_size r, uint32_t* into) {
        if (array->data_type == qor_fmt_16s)
            return krn::krn_histogram_16s(reinterpret_cast<const int16_t*>(src), step, r, into, spec_bytes, work_bytes);
        return krn::krn_histogram_32f(reinterpret_cast<const float*>(src), step, r, into, spec_bytes, work_bytes);
    };
    switch (array->data_type) {
        case qor_fmt_16s:
            element = 2;
            break;
        case qor_fmt_32f:
            element = 4;
            break;
        default:
            return qor_err_format;
    }
    const char* buf = static_cast<const char*>(array->frame_buf);
    if (qor_status st = frame::report_kernel(kernel(buf, element * roi.width, roi, counts))) return st;

    const int64_t counted = int64_t{roi.width} * roi.height;
    const int64_t tail = n - counted;
    if (tail <= 0) return qor_ok;
    // The tail's counts, added. The 16-bit kernel switches method below 65,536 samples; a short
    // tail after a long region is counted as (tail + 65,536 before it) minus (those 65,536), so
    // both calls use the method the region used.
    const krn::work_area part = krn::make_work_area(4 * int64_t{nBins});
    auto* part_counts = static_cast<uint32_t*>(part.get());
    auto count_span = [&](int64_t from, int64_t len, int sign) -> qor_status {
        const int32_t len32 = static_cast<int32_t>(len);
        if (qor_status st =
                frame::report_kernel(kernel(buf + from * element, element * len32, {len32, 1}, part_counts)))
            return st;
        for (int32_t k = 0; k < nBins; ++k) counts[k] += sign > 0 ? part_counts[k] : 0u - part_counts[k];
        return qor_ok;
    };
    constexpr int64_t table_threshold = 65536;
    if (array->data_type == qor_fmt_16s && counted >= table_threshold && tail < table_threshold) {
        if (qor_status st = count_span(counted - table_threshold, table_threshold + tail, +1)) return st;
        return count_span(counted - table_threshold, table_threshold, -1);
    }
    return count_span(counted, tail, +1);
}

}  // namespace qor::ops

extern "C" QOR_API qor_status qor_histogram(qor_handle handle, uint32_t* counts, int32_t nBins, float lower,
                                            float upper) {
    auto [st, a] = qor::frame::resolve(handle);
    if (st) return st;
    return qor::ops::histogram_worker(a[0], counts, nBins, lower, upper);
}
