// The bit patterns of floating-point values, for comparisons that tell -0 from +0 and NaN payloads apart.
#pragma once
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>

namespace qor::test {

template <class T>
using bits_t = std::conditional_t<sizeof(T) == 4, uint32_t, uint64_t>;
// The top fraction bit: set in a quiet NaN, clear in a signalling one.
template <class T>
constexpr bits_t<T> quiet_bit = bits_t<T>{1} << (std::numeric_limits<T>::digits - 2);

template <class T>
bits_t<T> bits_of(T x) {
    bits_t<T> b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}
template <class T = float>
T from_bits(bits_t<T> b) {
    T x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

}  // namespace qor::test
