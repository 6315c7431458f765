// Exact scalar models and special inputs for the arith and convert families, written apart from
// the kernels (wider arithmetic, explicit rounding) so they cannot share a mistake.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "support/bits.hpp"

namespace qor::test {

// Zeros, infinities, quiet and signalling NaNs of both signs, subnormals, range ends, ordinary values.
template <class T>
std::vector<T> arith_special_values() {
    using L = std::numeric_limits<T>;
    return {T(0),
            -T(0),
            L::infinity(),
            -L::infinity(),
            L::quiet_NaN(),
            -L::quiet_NaN(),
            L::signaling_NaN(),
            L::denorm_min(),
            -L::denorm_min(),
            L::min(),
            L::min() / 3,
            L::max(),
            -L::max(),
            T(1),
            T(-7.5),
            T(0.1)};
}

// Mostly ordinary values of every magnitude, with special ones mixed in.
template <class T>
std::vector<T> mixed_values(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    const std::vector<T> sp = arith_special_values<T>();
    std::uniform_real_distribution<double> mant(-2, 2);
    std::uniform_int_distribution<int> expo(std::numeric_limits<T>::min_exponent - 24,
                                            std::numeric_limits<T>::max_exponent);
    std::vector<T> v(n);
    for (auto& x : v) x = gen() % 8 == 0 ? sp[gen() % sp.size()] : T(std::ldexp(mant(gen), expo(gen)));
    return v;
}

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

// The 16-bit square scaled by 2^-sf with ties to even, by long division.
inline uint16_t scaled_square_model(uint32_t x, int sf) {
    uint64_t q = uint64_t(x) * x;
    if (sf <= 0) {
        for (int i = 0; i < -sf && q <= 65535; ++i) q *= 2;
    } else {
        const uint64_t r = q, div = sf >= 40 ? uint64_t(1) << 40 : uint64_t(1) << sf;
        q = r / div;
        const uint64_t rem = r % div;
        if (rem > div / 2 || (rem == div / 2 && q % 2 == 1)) ++q;
    }
    return uint16_t(q > 65535 ? 65535 : q);
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

}  // namespace qor::test
