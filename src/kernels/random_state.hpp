// The generator state records. Each starts with an identifier that the generating kernels check,
// so a record of another generator is refused rather than misread. Plain data only: this header
// is shared by the baseline init kernels, the per-level generators and the tests.
#pragma once
#include <cstddef>
#include <cstdint>

#include "kernels/types.hpp"

namespace qor::krn {

constexpr int32_t rand_uniform_id_32f = 39;
constexpr int32_t rand_gauss_id_16s = 42;
constexpr int32_t rand_gauss_id_32f = 43;
constexpr int32_t rand_gauss_id_64f = 44;

// The integer core: a linear congruential word plus a lag-3 subtract-with-borrow generator.
constexpr uint32_t core_multiplier = 69069u;
constexpr uint32_t core_increment = 1013904243u;
constexpr uint32_t core_initial_lcg = 0x436CBAE9u;  // the same for every seed
constexpr uint32_t core_initial_borrow = 0xFFFFFFFFu;

// The lagged words and borrow of the polar method's running state, with the pending spare.
struct rand_gauss_run {
    uint32_t r1, r2, r3, c;
    int32_t no_spare;  // 1: nothing pending; 0: w1 * factor is the next element
    double factor, w1, w2;
};

struct krn_rand_uniform_state_32f {
    int32_t id;
    uint32_t seed;
    float low, high;
    double mid, scale;
    uint32_t lcg, r1, r2, r3, c;
};

struct krn_rand_gauss_state_32f {
    int32_t id;
    uint32_t seed;
    float mean, stdev;
    uint32_t lcg;
    rand_gauss_run run;
};

struct krn_rand_gauss_state_64f {
    int32_t id;
    uint32_t seed;
    double mean, stdev;
    uint32_t lcg;
    rand_gauss_run run;
};

struct krn_rand_gauss_state_16s {
    int32_t id;
    uint32_t seed;
    int16_t mean, stdev;
    uint32_t lcg;
    rand_gauss_run run;
};

static_assert(sizeof(krn_rand_gauss_state_32f) == 72 && sizeof(krn_rand_gauss_state_64f) == 80 &&
                  sizeof(krn_rand_gauss_state_16s) == 64,
              "record sizes are part of the kernels' contract");
// Callers size the uniform record with the 32-bit Gaussian query.
static_assert(sizeof(krn_rand_uniform_state_32f) <= sizeof(krn_rand_gauss_state_32f));

}  // namespace qor::krn
