// Distance of a single-precision result from a double-precision reference, in units in the last
// place of the float nearest the reference.
#pragma once
#include <algorithm>
#include <cmath>

namespace qor::test {

inline double ulp_error(float got, double ref) {
    if (std::isnan(ref)) return std::isnan(got) ? 0.0 : INFINITY;
    // At or beyond the largest float plus half an ulp, the float result is infinite.
    if (std::fabs(ref) >= 0x1.ffffffp127) return std::isinf(got) && (got > 0) == (ref > 0) ? 0.0 : INFINITY;
    if (std::isinf(got)) return INFINITY;
    int e;
    std::frexp(ref, &e);
    const double ulp = std::ldexp(1.0, std::max(e - 1, -126) - 23);
    return std::fabs(double(got) - ref) / ulp;
}

}  // namespace qor::test
