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

}  // namespace qor::krn

namespace qor::krn {

// Random generator state records (layouts in kernels/random_state.hpp; callers only size,
// allocate and pass them).
struct krn_rand_uniform_state_32f;
struct krn_rand_gauss_state_32f;
struct krn_rand_gauss_state_64f;
struct krn_rand_gauss_state_16s;

}  // namespace qor::krn
