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
// The size of a region of rows: elements per row, then rows.
struct krn_size {
    int32_t width, height;
};

}  // namespace qor::krn
