// Plain types that kernel signatures use. Included outside any level namespace.
#pragma once
#include <cstdint>

namespace qor::krn {

struct krn_32fc {
    float re, im;
};
struct krn_64fc {
    double re, im;
};
// The size of a region of rows: elements per row, then rows. Passed by value.
struct krn_size {
    int32_t width, height;
};

// How a float becomes an integer in the conversion kernels.
enum krn_round_mode : int32_t {
    krn_round_truncate = 0,  // toward zero, whatever the processor's rounding control
    krn_round_nearest = 1,   // to nearest, ties to even
    // any other value: to nearest, halves upward
};

// Random generator state records (layouts in kernels/random_state.hpp; callers only size,
// allocate and pass them).
struct krn_rand_uniform_state_32f;
struct krn_rand_gauss_state_32f;
struct krn_rand_gauss_state_64f;
struct krn_rand_gauss_state_16s;

}  // namespace qor::krn
