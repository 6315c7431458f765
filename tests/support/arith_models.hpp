// Exact scalar models of the arithmetic and conversion kernels, written apart from the kernels
// (wider arithmetic, explicit rounding) so they cannot share a mistake.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "support/bits.hpp"

namespace qor::test {

// Division: the correctly rounded quotient (floats through a double quotient, which rounds twice
// without harm), IEEE infinities for a zero divisor, one positive quiet NaN for every NaN.
template <class T>
T div_model(T d, T x) {
    using L = std::numeric_limits<T>;
    if (std::isnan(x) || std::isnan(d) || (x == 0 && d == 0) || (std::isinf(x) && std::isinf(d))) return L::quiet_NaN();
    if (d == 0) return std::signbit(x) != std::signbit(d) ? -L::infinity() : L::infinity();
    if constexpr (sizeof(T) == 4) return float(double(x) / double(d));
    return x / d;
}

// Float to 16-bit: scaled by the exact power of two; NaN and below 0 give 0, from 65535 up 65535;
// mode 0 truncates, 1 rounds to even, any other rounds halves upward.
inline uint16_t float_to_16u_model(float x, int mode, int sf) {
    const float y = x * std::ldexp(1.0f, -sf);
    if (!(y > 0)) return 0;
    if (y >= 65535) return 65535;
    double r = std::floor(double(y));
    const double frac = double(y) - r;
    if ((mode == 1 && (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2) == 1))) || (mode != 0 && mode != 1 && frac >= 0.5))
        r += 1;
    return uint16_t(r);
}

// Float extremes: NaNs ignored, -0 below +0; all NaN gives the quiet NaN for both.
inline void min_max_model(const float* v, int n, float* mn, float* mx) {
    auto below = [](float a, float b) { return a < b || (a == 0 && b == 0 && std::signbit(a) > std::signbit(b)); };
    *mn = *mx = std::numeric_limits<float>::quiet_NaN();
    for (int i = 0; i < n; ++i) {
        if (std::isnan(v[i])) continue;
        if (std::isnan(*mn) || below(v[i], *mn)) *mn = v[i];
        if (std::isnan(*mx) || below(*mx, v[i])) *mx = v[i];
    }
}

template <class T>
T quieted(T nan) {
    return from_bits<T>(bits_of(nan) | quiet_bit<T>);
}

// A neutral constant copies bit for bit, a zero constant gives +0 whatever the element; otherwise
// one IEEE operation, where with two NaN operands the element's payload wins.
template <class T>
T model_mul(T x, T val) {
    if (val == T(1)) return x;
    if (val == T(0)) return T(0);
    if (x != x) return quieted(x);
    if (val != val) return quieted(val);
    return x * val;
}
template <class T>
T model_add(T x, T val) {
    if (val == T(0)) return x;
    if (x != x) return quieted(x);
    if (val != val) return quieted(val);
    return x + val;
}

// The 16-bit rule: r * 2^-sf rounded to nearest with ties to even, saturated to 0..65535.
inline uint16_t model_scale_16u(uint64_t r, int sf) {
    if (sf > 0) {
        if (sf >= 63) return 0;  // r < 2^33
        r = (r + (uint64_t{1} << (sf - 1)) - 1 + ((r >> sf) & 1)) >> sf;
    } else if (sf < 0) {
        for (int k = 0; k < -sf && r <= 65535; ++k) r *= 2;
    }
    return r > 65535 ? 65535 : uint16_t(r);
}

}  // namespace qor::test
