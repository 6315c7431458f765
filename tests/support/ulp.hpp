// Distance of a single-precision result from a reference, in units in the last place of the float
// nearest the reference; and sine and cosine references that are precise on every platform.
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

// Arguments the references below reduce precisely.
inline bool has_reference(double x) { return std::fabs(x) < 0x1p31; }

// x = k pi/2 + r in long double with pi/2 in three parts (k * part exact for |k| < 2^31), then the
// library's sin or cos of |r| <= pi/4, where every C library is accurate. Some C libraries reduce
// large arguments with a short pi, so their sin and cos cannot serve as references directly.
inline long double reference_sin_cos(double x, bool cosine) {
    const long double p1 = 0xc90fdaa2p-31L, p2 = 0x85a308d3p-65L, p3 = 0x98cc51701b839a25p-132L;
    const long double k = std::nearbyint((long double)x * 0xa2f9836e4e44152ap-64L);
    const long double r = (((long double)x - k * p1) - k * p2) - k * p3;
    const int q = (int(std::fmod(k, 4.0L)) + 4 + (cosine ? 1 : 0)) % 4;  // cos x = sin(x + pi/2)
    switch (q) {
        case 0: return std::sin(r);
        case 1: return std::cos(r);
        case 2: return -std::sin(r);
        default: return -std::cos(r);
    }
}
inline long double reference_sin(double x) { return reference_sin_cos(x, false); }
inline long double reference_cos(double x) { return reference_sin_cos(x, true); }

}  // namespace qor::test
