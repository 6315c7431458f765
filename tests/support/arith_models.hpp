// Exact scalar models and special inputs for the arith and convert families, written apart from
// the kernels (wider arithmetic, explicit rounding) so they cannot share a mistake.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace qor::test {

template <class To, class From>
To bit_cast_to(From f) {
    static_assert(sizeof(To) == sizeof(From));
    To t;
    std::memcpy(&t, &f, sizeof t);
    return t;
}
inline uint32_t bits_of(float f) { return bit_cast_to<uint32_t>(f); }
inline uint64_t bits_of(double d) { return bit_cast_to<uint64_t>(d); }
inline float float_of(uint32_t b) { return bit_cast_to<float>(b); }
inline double double_of(uint64_t b) { return bit_cast_to<double>(b); }

// Values that take every special path: zeros, infinities, NaNs with payloads and both signs
// (quiet and signalling), subnormals, the extremes of the normal range, ordinary numbers.
template <class T>
std::vector<T> special_values() {
    using L = std::numeric_limits<T>;
    std::vector<T> v = {T(0), -T(0), L::infinity(), -L::infinity(), L::quiet_NaN(), -L::quiet_NaN(),
                        L::denorm_min(), -L::denorm_min(), L::min(), -L::min(), L::min() / 3, L::max(), -L::max(),
                        T(1), T(-1), T(3), T(-7.5), T(0.1), T(1e-30), T(1e30), L::epsilon()};
    if constexpr (sizeof(T) == 4) {
        v.push_back(float_of(0x7F800001u));  // signalling, payload 1
        v.push_back(float_of(0xFFA00005u));
        v.push_back(float_of(0x7FC12345u));
    } else {
        v.push_back(double_of(0x7FF0000000000001ull));
        v.push_back(double_of(0xFFF4000000000005ull));
        v.push_back(double_of(0x7FF8000012345678ull));
    }
    return v;
}

// Mostly ordinary values of many magnitudes, some special ones mixed in.
template <class T>
std::vector<T> mixed_values(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    const std::vector<T> specials = special_values<T>();
    std::uniform_real_distribution<double> mant(-2, 2);
    std::uniform_int_distribution<int> expo(sizeof(T) == 4 ? -140 : -1060, sizeof(T) == 4 ? 127 : 1020);
    std::vector<T> v(n);
    for (auto& x : v)
        x = gen() % 8 == 0 ? specials[gen() % specials.size()] : T(std::ldexp(mant(gen), expo(gen)));
    return v;
}

// The quiet form of a NaN, as a product of it gives.
template <class T>
T quieted(T x) {
    if constexpr (sizeof(T) == 4)
        return float_of(bits_of(x) | 0x00400000u);
    else
        return double_of(bits_of(x) | 0x0008000000000000ull);
}

// The element rule of division: a correctly rounded quotient (for floats through a double
// quotient, which rounds twice without harm; for doubles the scalar IEEE division), and one
// quiet NaN for every NaN quotient.
template <class T>
T div_model(T d, T x) {
    using L = std::numeric_limits<T>;
    if (d == 0) {
        if (x == 0 || std::isnan(x)) return L::quiet_NaN();
        return (std::signbit(x) != std::signbit(d)) ? -L::infinity() : L::infinity();
    }
    if (std::isnan(x) || std::isnan(d) || (std::isinf(x) && std::isinf(d))) return L::quiet_NaN();
    if constexpr (sizeof(T) == 4)
        return float(double(x) / double(d));
    else
        return x / d;
}

// The 16-bit square scaled by 2^-sf with ties to even, by long division.
inline uint16_t scaled_square_model(uint32_t x, int sf) {
    const uint64_t r = uint64_t(x) * x;
    uint64_t q;
    if (sf <= 0) {
        q = r;
        for (int i = 0; i < -sf && q <= 65535; ++i) q *= 2;
    } else if (sf >= 40) {
        q = 0;
    } else {
        q = r / (uint64_t(1) << sf);
        const uint64_t rem = r % (uint64_t(1) << sf), half = uint64_t(1) << (sf - 1);
        if (rem > half || (rem == half && q % 2 == 1)) ++q;
    }
    return uint16_t(q > 65535 ? 65535 : q);
}

// Float to 16-bit: scale by the exact power of two, then NaN and below 0 give 0, 65535 and above
// give 65535; mode 0 truncates, 1 rounds to even, anything else rounds halves upward.
inline uint16_t float_to_16u_model(float x, int mode, int sf) {
    const float y = x * std::ldexp(1.0f, -sf);
    if (std::isnan(y) || y <= 0) return 0;
    if (y >= 65535) return 65535;
    double r = std::floor(double(y));
    const double frac = double(y) - r;
    if (mode == 1) {
        if (frac > 0.5 || (frac == 0.5 && std::fmod(r, 2) == 1)) r += 1;
    } else if (mode != 0) {
        if (frac >= 0.5) r += 1;
    }
    return uint16_t(r > 65535 ? 65535 : r);
}

// Extremes of floats: NaNs ignored, -0 below +0; all NaN gives the quiet NaN for both.
inline void min_max_model(const float* v, int n, float* mn, float* mx) {
    auto below = [](float a, float b) { return a < b || (a == 0 && b == 0 && std::signbit(a) && !std::signbit(b)); };
    bool any = false;
    for (int i = 0; i < n; ++i) {
        if (std::isnan(v[i])) continue;
        if (!any) {
            *mn = *mx = v[i];
            any = true;
        }
        if (below(v[i], *mn)) *mn = v[i];
        if (below(*mx, v[i])) *mx = v[i];
    }
    if (!any) *mn = *mx = std::numeric_limits<float>::quiet_NaN();
}

}  // namespace qor::test
