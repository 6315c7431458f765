// The DFT specification as data: the header that the baseline planner writes and every level's
// transform reads. Plain records and constants only (no functions), so it may be included outside
// the level namespaces. Tables live behind the header and are named by byte offsets from the
// header's start, so a plan never holds code and any level runs any level's plan.
#pragma once
#include <cstdint>

namespace qor::krn::dft {

constexpr int max_stages = 24;

enum plan_kind : int32_t {
    plan_small = 0,  // N up to 16: straight-line kernels, no tables
    plan_split = 1,  // even N: complex transform of N/2 points, then the split step
    plan_odd = 2,    // odd N: complex transform of N points on the real samples
};

enum complex_kind : int32_t {
    complex_passes = 1,  // mixed-radix stages over a factor list
    complex_direct = 2,  // O(L^2) from a table of L roots
    complex_chirp = 3,   // chirp-z: L chirp factors and a convolution of length conv_len
};

// One complex transform of length len.
struct complex_plan {
    int32_t kind;
    int32_t len;
    int32_t stages;
    int32_t conv_len;               // chirp-z: K
    int32_t factor[max_stages];
    int32_t twiddles[max_stages];   // stage s: (factor-1)*ido twiddles, then factor roots of unity
    int32_t table;                  // direct: len roots; chirp-z: len chirp factors
    int32_t kernel;                 // chirp-z: transform of the conjugate chirp (not divided by K)
    // Blocked transforms (block above 0: the long convolutions): stages [0, top_stages) run in
    // place over the whole array, the rest on each run of `block` values on its own; the result
    // is left in the scrambled order the transform describes.
    int32_t block;
    int32_t top_stages;
};

struct header {
    int32_t id;
    int32_t n;
    int32_t forward_scaled;
    int32_t inverse_scaled;
    double scale64;
    float scale32;
    int32_t hint;
    int32_t kind;
    int32_t split;  // two tables of ceil(N/4) split coefficients
    complex_plan main;
    complex_plan conv;  // the length-K transform of the chirp-z method
};

constexpr int32_t id_32f = 17;
constexpr int32_t id_64f = 20;
constexpr int header_bytes_32f = 768;
constexpr int header_bytes_64f = 832;
static_assert(sizeof(header) <= header_bytes_32f, "the header must fit its reserved bytes");

}  // namespace qor::krn::dft
