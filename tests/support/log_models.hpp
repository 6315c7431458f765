// Reference models of the single-precision logarithms (the reduction around 2/3 and the
// coefficient chains, one rounding per operation) and ulp measures against long double.
#pragma once
#include <bit>
#include <cmath>
#include <cstdint>

namespace qor::test {

inline float ln32_model_reduced(float x, float& r, float& e) {
    const int32_t d = std::bit_cast<int32_t>(x) - 0x3F2AAAAB;
    e = float(d >> 23);
    r = std::bit_cast<float>((d & 0x007FFFFF) + 0x3F2AAAAB) - 1.0f;
    return r;
}

// Valid for positive normal finite x.
inline float ln32_model(float x) {
    float r, e;
    ln32_model_reduced(x, r, e);
    float p = -0.151772052f;
    for (float c : {0.169648811f, -0.164624572f, 0.198225036f, -0.250046641f, 0.333365649f, -0.5f}) p = p * r + c;
    const float sq = (p * r) * r;
    return (r + sq) + e * 0.693147182f;
}

inline float log10_32_model(float x) {
    float r, e;
    ln32_model_reduced(x, r, e);
    float p = 0.100466065f;
    for (float c : {-0.119593509f, 0.144034356f, -0.216831714f, 0.43430084f}) p = p * r + c;
    const float head = e * 0.30103001f;
    return head + r * p;
}

// Distance from the exact value ref in units of the last place of T at ref.
template <class T>
double ulp_error(T got, long double ref) {
    const T near = T(ref);
    const int ex = std::ilogb(near == 0 ? std::numeric_limits<T>::min() : near);
    const int lowest = std::numeric_limits<T>::min_exponent - 1;
    const long double ulp = std::ldexp(1.0L, std::max(ex, lowest) - (std::numeric_limits<T>::digits - 1));
    return double(std::fabs((long double)got - ref) / ulp);
}

}  // namespace qor::test
