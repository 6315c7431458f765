// The histogram as its definition states it, written for clarity, not speed: levels from the
// double-precision formula, and each sample in the largest bin whose lower level is <= it.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace qor::test {

inline std::vector<float> model_float_levels(float lower, float upper, int bins) {
    const double step = (double(upper) - double(lower)) / bins;
    std::vector<float> L(size_t(bins) + 1);
    L[0] = lower;
    for (int k = 1; k < bins; ++k) L[size_t(k)] = float(double(lower) + double(k) * step);
    L[size_t(bins)] = upper;
    return L;
}

inline int32_t model_truncate(double x) {
    if (std::isnan(x) || x <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    if (x >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    return int32_t(std::trunc(x));
}

inline std::vector<int32_t> model_int_levels(float lower, float upper, int bins) {
    const double step = (double(upper) - double(lower)) / bins;
    std::vector<int32_t> L(size_t(bins) + 1);
    L[0] = model_truncate(lower);
    for (int k = 1; k < bins; ++k) L[size_t(k)] = model_truncate(double(lower) + double(k) * step);
    L[size_t(bins)] = model_truncate(upper);
    return L;
}

// Largest k < bins with L[k] <= v, or -1 when v is outside [L[0], L[bins]) or NaN. Levels in
// order (no NaN) let the standard upper bound find that k; otherwise every level is tried.
template <class Level, class Value>
int model_bin(const std::vector<Level>& L, bool ordered, Value v) {
    const int bins = int(L.size()) - 1;
    if (!(v >= L[0] && v < L[size_t(bins)])) return -1;
    if (ordered) return int(std::upper_bound(L.begin(), L.end() - 1, v) - L.begin()) - 1;
    for (int k = bins - 1; k >= 0; --k)
        if (L[size_t(k)] <= v) return k;
    return -1;
}

template <class Level, class Value>
std::vector<uint32_t> model_counts(const std::vector<Level>& L, const std::vector<Value>& samples) {
    bool ordered = true;
    for (size_t k = 0; k + 1 < L.size(); ++k) ordered = ordered && L[k] <= L[k + 1];
    std::vector<uint32_t> counts(L.size() - 1, 0);
    for (Value v : samples)
        if (int k = model_bin(L, ordered, v); k >= 0) ++counts[size_t(k)];
    return counts;
}

// 16-bit samples: short inputs with evenly divisible end levels use equal bins from L[0] and
// ignore the levels in between; everything else follows the levels.
inline std::vector<uint32_t> model_counts_16s(const std::vector<int32_t>& L, const std::vector<int16_t>& samples) {
    const int64_t bins = int64_t(L.size()) - 1, first = L.front(), last = L.back();
    if ((last - first) % bins == 0 && samples.size() < 65536) {
        std::vector<uint32_t> counts(size_t(bins), 0);
        const int64_t width = (last - first) / bins;
        for (int16_t v : samples)
            if (v >= first && v < last) ++counts[size_t((v - first) / width)];
        return counts;
    }
    return model_counts(L, samples);
}

}  // namespace qor::test
