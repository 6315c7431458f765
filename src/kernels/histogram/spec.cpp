// Histogram specifications: the size query and the build of the level tables. Plain data (the
// levels pointer only points into the record itself), so any level's counting kernel reads it.
#include <emmintrin.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "kernels/kernels.hpp"

namespace qor::krn::base {

#include "kernels/histogram_detail.hpp"

namespace {

template <class T>
void put(uint8_t* spec, int64_t offset, T value) {
    std::memcpy(spec + offset, &value, sizeof value);
}

// Truncation toward zero, saturating at the 32-bit range (a NaN takes the lowest value, as the
// processor's own conversion does).
int32_t truncate_level(double x) {
    if (!(x > -2147483649.0)) return std::numeric_limits<int32_t>::min();
    if (x >= 2147483648.0) return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(x);
}

// lower + k * step for k and k + 1. Specifications are rebuilt on every call, so the loop must
// not chain one level's conversions to the next (a scalar int-to-double conversion does).
inline __m128d level_pair(double lo, double step, int k) {
    const __m128d index = _mm_cvtepi32_pd(_mm_setr_epi32(k, k + 1, 0, 0));
    return _mm_add_pd(_mm_set1_pd(lo), _mm_mul_pd(index, _mm_set1_pd(step)));
}

bool known_type(int type) {
    return type == hist::type_8u || type == hist::type_16u || type == hist::type_16s || type == hist::type_32f;
}

// 80 bytes of header and 4 per level, or -1 when a count is below 2 or the sum leaves 32 bits.
int64_t spec_bytes(const int* nLevels, int channels) {
    int64_t total = hist::off_levels;
    for (int c = 0; c < channels; ++c) {
        if (nLevels[c] < 2) return -1;
        total += 4 * int64_t{nLevels[c]};
    }
    return total > std::numeric_limits<int32_t>::max() ? -1 : total;
}

}  // namespace

int krn_histogram_get_size(int type, krn_size roi, const int* nLevels, int channels, int /*flag*/, int* specSize,
                           int* workSize) {
    if (!nLevels || !specSize || !workSize) return krn_err_null;
    if (roi.width < 1 || roi.height < 1) return krn_err_size;
    if (!hist::valid_channels(channels)) return krn_err_channels;
    const int64_t bytes = spec_bytes(nLevels, channels);
    if (bytes < 0) return krn_err_levels;
    *specSize = static_cast<int>(bytes);
    switch (type) {
        case hist::type_8u:
            *workSize = 1024 * channels;
            return krn_ok;
        case hist::type_16u:
        case hist::type_16s:
            *workSize = 4 * hist::table_counters * channels;
            return krn_ok;
        case hist::type_32f:
            *workSize = 0;
            return krn_ok;
        default:
            *workSize = 0;
            return krn_err_data_type;
    }
}

int krn_histogram_init_uniform(int type, const float* lower, const float* upper, const int* nLevels, int channels,
                               uint8_t* spec) {
    if (!known_type(type)) return krn_err_data_type;
    if (!lower || !upper || !nLevels || !spec) return krn_err_null;
    if (!hist::valid_channels(channels)) return krn_err_channels;
    for (int c = 0; c < channels; ++c) {
        if (nLevels[c] < 2) return krn_err_levels;
        if (!(lower[c] < upper[c])) return krn_err_level_range;
    }
    if (spec_bytes(nLevels, channels) < 0) return krn_err_levels;

    put<int32_t>(spec, hist::off_type, type);
    put<int32_t>(spec, hist::off_channels, channels);
    put<int32_t>(spec, hist::off_even, 1);
    std::memcpy(spec + hist::off_tag, hist::tag, 4);
    int status = krn_ok;
    int64_t offset = hist::off_levels;
    for (int c = 0; c < channels; ++c) {
        const int n = nLevels[c];
        const int bins = n - 1;
        const double lo = lower[c], hi = upper[c];
        const double step = (hi - lo) / bins;
        put<int32_t>(spec, hist::off_level_counts + 4 * c, n);
        put<float>(spec, hist::off_steps + 4 * c, static_cast<float>(step));
        put<uint8_t*>(spec, hist::off_level_ptrs + 8 * c, spec + offset);
        // Pairs of inner levels (the last pair may write L[bins], which is put right after).
        if (type == hist::type_32f) {
            // The end levels are the bounds themselves; the others are rounded once, from double.
            put<float>(spec, offset, lower[c]);
            int k = 1;
            for (; k + 3 < bins; k += 4)
                _mm_storeu_ps(
                    reinterpret_cast<float*>(spec + offset + 4 * int64_t{k}),
                    _mm_movelh_ps(_mm_cvtpd_ps(level_pair(lo, step, k)), _mm_cvtpd_ps(level_pair(lo, step, k + 2))));
            for (; k < bins; k += 2)
                _mm_storel_epi64(reinterpret_cast<__m128i*>(spec + offset + 4 * int64_t{k}),
                                 _mm_castps_si128(_mm_cvtpd_ps(level_pair(lo, step, k))));
            put<float>(spec, offset + 4 * int64_t{bins}, upper[c]);
        } else {
            put<int32_t>(spec, offset, truncate_level(lo));
            for (int k = 1; k < bins; k += 2) {
                const __m128d x = level_pair(lo, step, k);
                put<int32_t>(spec, offset + 4 * int64_t{k}, truncate_level(_mm_cvtsd_f64(x)));
                put<int32_t>(spec, offset + 4 * int64_t{k + 1}, truncate_level(_mm_cvtsd_f64(_mm_unpackhi_pd(x, x))));
            }
            put<int32_t>(spec, offset + 4 * int64_t{bins}, truncate_level(hi));
            if (step < 1.0) status = krn_warn_level_step;
        }
        offset += 4 * int64_t{n};
    }
    return status;
}

}  // namespace qor::krn::base
