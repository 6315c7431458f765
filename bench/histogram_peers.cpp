#include "histogram_peers.hpp"

#include <algorithm>
#include <cstring>

namespace qor::bench {

void peer_binary_search(const float* x, int64_t n, const float* L, int bins, uint32_t* counts) {
    std::memset(counts, 0, sizeof(uint32_t) * size_t(bins));
    for (int64_t i = 0; i < n; ++i) {
        const float v = x[i];
        if (!(v >= L[0] && v < L[bins])) continue;
        ++counts[std::upper_bound(L, L + bins, v) - L - 1];
    }
}

void peer_linear_scan(const float* x, int64_t n, const float* L, int bins, uint32_t* counts) {
    std::memset(counts, 0, sizeof(uint32_t) * size_t(bins));
    for (int64_t i = 0; i < n; ++i) {
        const float v = x[i];
        if (!(v >= L[0] && v < L[bins])) continue;
        int k = 0;
        while (L[k + 1] <= v) ++k;
        ++counts[k];
    }
}

void peer_scaled_index(const float* x, int64_t n, float lower, float upper, int bins, uint32_t* counts) {
    std::memset(counts, 0, sizeof(uint32_t) * size_t(bins));
    const float scale = float(bins / (double(upper) - lower));
    for (int64_t i = 0; i < n; ++i) {
        const float v = x[i];
        if (!(v >= lower && v < upper)) continue;
        ++counts[std::min(int((v - lower) * scale), bins - 1)];
    }
}

void peer_table(const int16_t* x, int64_t n, const int32_t* L, int bins, uint32_t* table, uint32_t* counts) {
    std::memset(table, 0, sizeof(uint32_t) * 65536);
    for (int64_t i = 0; i < n; ++i) ++table[x[i] + 32768];
    for (int k = 0; k < bins; ++k) {
        uint32_t s = 0;
        for (int32_t v = std::max(L[k], -32768); v < std::min(L[k + 1], 32768); ++v) s += table[v + 32768];
        counts[k] = s;
    }
}

}  // namespace qor::bench
