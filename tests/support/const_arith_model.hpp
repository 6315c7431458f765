// Exact scalar models of the constant-arithmetic kernels, and the special values they are tried on.
#pragma once
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <vector>

#include "support/bits.hpp"

namespace qor::test {

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

// Values that exercise every branch of IEEE arithmetic, NaN payloads of both kinds included.
template <class T>
std::vector<T> special_values() {
    using lim = std::numeric_limits<T>;
    using B = bits_t<T>;
    const B sign = B{1} << (sizeof(B) * 8 - 1);
    const B quiet_nan = bits_of(lim::quiet_NaN());
    std::vector<T> v = {T(0), -T(0), T(1), -T(1), T(2), T(0.5), T(3.25), -T(1e3), T(0.1),
                        lim::infinity(), -lim::infinity(), lim::max(), -lim::max(), lim::min(), -lim::min(),
                        lim::denorm_min(), -lim::denorm_min(), lim::min() - lim::denorm_min(), lim::min() / 3,
                        from_bits<T>(quiet_nan | 0x123), from_bits<T>(sign | quiet_nan | 0x77),
                        from_bits<T>((quiet_nan & ~quiet_bit<T>) | 0x5),  // signalling
                        lim::quiet_NaN(), from_bits<T>(sign | quiet_nan)};
    return v;
}

}  // namespace qor::test
