// Plain loops a user would write for the histogram's definition (compiled -O3 -march=native).
#pragma once
#include <cstdint>

namespace qor::bench {

// Exact: largest k with L[k] <= v by binary search, or by a scan from the first bin.
void peer_binary_search(const float* x, int64_t n, const float* L, int bins, uint32_t* counts);
void peer_linear_scan(const float* x, int64_t n, const float* L, int bins, uint32_t* counts);
// Fast but not exact next to the levels: (v - lower) * bins / span, truncated.
void peer_scaled_index(const float* x, int64_t n, float lower, float upper, int bins, uint32_t* counts);
// 16-bit: one counter per value (table of 65,536), then summed per bin over the clamped levels.
void peer_table(const int16_t* x, int64_t n, const int32_t* L, int bins, uint32_t* table, uint32_t* counts);

}  // namespace qor::bench
