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
